// The audio device on Linux: a PulseAudio stream when a server answers
// (its latency reported as it plays), else an SDL2 float stereo device
// (ALSA and SDL's other drivers) whose callback pulls the music player's
// stream. SDL_AUDIODRIVER set in the environment picks SDL's driver. An SDL
// device that is removed (unplugged, its driver's server gone) is reported
// lost, and the player opens the default output again.
#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/audio_output.h"
#include "platform/pulse/pulse_output.h"

namespace {

// Frames per device callback.
constexpr int kDeviceBufferFrames = 1024;

// After a PulseAudio stream was lost, opening tries only PulseAudio this
// many times (about ten seconds of the player's tries): a restarted server
// (PulseAudio's, PipeWire's) comes back at the same address, while SDL's
// ALSA would reach it, if at all, through a plugin with worse timing.
constexpr int kPulseOnlyOpens = 10;

// Read by the device's callback, written by whichever thread opens or
// closes (the main thread, the player's reopening thread).
std::atomic<SDL_AudioDeviceID> g_device{0};
bool g_pulse = false;
// The last device opened was a PulseAudio stream, and how many opens since
// found no server.
bool g_hadPulse = false;
int g_pulseMisses = 0;
// The SDL device was reported lost (device's thread; cleared at open).
std::atomic<bool> g_lostSaid{false};

void DeviceCallback(void*, Uint8* stream, int length) {
  // SDL goes on calling back at the device's pace after it lost the device,
  // and throws the sound away; it then reports the device stopped.
  if (!g_lostSaid.load(std::memory_order_relaxed) &&
      SDL_GetAudioDeviceStatus(g_device.load(std::memory_order_relaxed)) == SDL_AUDIO_STOPPED) {
    g_lostSaid.store(true, std::memory_order_relaxed);
    char reason[96];
    const char* driver = SDL_GetCurrentAudioDriver();
    std::snprintf(reason, sizeof reason, "SDL's %s driver lost the device", driver != nullptr ? driver : "audio");
    AudioDeviceLost(reason);
  }
  RenderMusicForDevice(reinterpret_cast<float*>(stream),
                       length / static_cast<int>(2 * sizeof(float)));
}

}  // namespace

bool OpenAudioDevice(int frequency, AudioDeviceTiming* timing, char* reason, size_t reasonSize) {
  const char* driver = std::getenv("SDL_AUDIODRIVER");
  if (driver == nullptr || driver[0] == '\0') {
    g_pulse = OpenPulseOutput(frequency, timing, reason, reasonSize);
    if (g_pulse) {
      g_hadPulse = true;
      g_pulseMisses = 0;
      return true;
    }
    if (g_hadPulse && ++g_pulseMisses < kPulseOnlyOpens) return false;
  }
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    std::snprintf(reason, reasonSize, "%s", SDL_GetError());
    return false;
  }
  SDL_AudioSpec wanted;
  SDL_AudioSpec obtained;
  std::memset(&wanted, 0, sizeof wanted);
  wanted.freq = frequency;
  wanted.format = AUDIO_F32SYS;
  wanted.channels = 2;
  wanted.samples = kDeviceBufferFrames;
  wanted.callback = DeviceCallback;
  g_lostSaid.store(false, std::memory_order_relaxed);
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  g_device.store(device, std::memory_order_relaxed);
  if (device == 0) {
    std::snprintf(reason, reasonSize, "%s", SDL_GetError());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  // Heard audio trails what is handed over by the buffer just filled and
  // the one playing before it.
  timing->latencyFrames = 2 * static_cast<int64_t>(obtained.samples);
  timing->extrapolationLimitFrames = obtained.samples;
  return true;
}

void ResumeAudioDevice() {
  if (g_pulse) ResumePulseOutput();
  const SDL_AudioDeviceID device = g_device.load(std::memory_order_relaxed);
  if (device != 0) SDL_PauseAudioDevice(device, 0);
}

void CloseAudioDevice() {
  if (g_pulse) {
    ClosePulseOutput();
    g_pulse = false;
  }
  const SDL_AudioDeviceID device = g_device.load(std::memory_order_relaxed);
  if (device == 0) return;
  SDL_CloseAudioDevice(device);
  g_device.store(0, std::memory_order_relaxed);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}
