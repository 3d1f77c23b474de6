// The audio device on Windows: winmm's waveOut with 16-bit stereo PCM (which
// every output takes), fed by its own thread that pulls the music player's
// stream into a ring of buffers as the device finishes them.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/audio_output.h"
#include "platform/system.h"

namespace {

// Buffers in the ring and frames per buffer: 4 x 1024 frames is 93 ms at
// 44100 Hz, deep enough that a busy main thread does not starve the device.
constexpr int kBufferCount = 4;
constexpr int kBufferFrames = 1024;

HWAVEOUT g_waveOut = nullptr;
// Signalled by waveOut whenever a buffer is done (and at open and close).
HANDLE g_bufferDone = nullptr;
WAVEHDR g_headers[kBufferCount];
short g_samples[kBufferCount][kBufferFrames * 2];
float g_mix[kBufferFrames * 2];  // the feeder thread's render space
std::thread g_feeder;
std::atomic<bool> g_stopFeeder{false};

short ToSample(float value) {
  float scaled = value * 32767.0f;
  if (scaled > 32767.0f) scaled = 32767.0f;
  if (scaled < -32768.0f) scaled = -32768.0f;
  return static_cast<short>(std::lrint(scaled));
}

// Renders the next stretch of the stream into one buffer and queues it.
void FillAndQueue(int index) {
  RenderMusicForDevice(g_mix, kBufferFrames);
  for (int i = 0; i < kBufferFrames * 2; ++i) g_samples[index][i] = ToSample(g_mix[i]);
  g_headers[index].dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
  waveOutWrite(g_waveOut, &g_headers[index], sizeof(WAVEHDR));
}

// Fills the whole ring, then refills each buffer, in ring order, as soon as
// the device is done with it.
void Feeder() {
  NameCurrentThread("lantern-audio");
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  int next = 0;
  for (int i = 0; i < kBufferCount; ++i) FillAndQueue(i);
  while (!g_stopFeeder.load(std::memory_order_relaxed)) {
    WaitForSingleObject(g_bufferDone, 100);
    while (!g_stopFeeder.load(std::memory_order_relaxed) &&
           (g_headers[next].dwFlags & WHDR_DONE) != 0) {
      FillAndQueue(next);
      next = (next + 1) % kBufferCount;
    }
  }
}

void ReleaseDevice() {
  for (int i = 0; i < kBufferCount; ++i) {
    if ((g_headers[i].dwFlags & WHDR_PREPARED) != 0) {
      waveOutUnprepareHeader(g_waveOut, &g_headers[i], sizeof(WAVEHDR));
    }
  }
  waveOutClose(g_waveOut);
  g_waveOut = nullptr;
  CloseHandle(g_bufferDone);
  g_bufferDone = nullptr;
}

}  // namespace

bool OpenAudioDevice(int frequency, AudioDeviceTiming* timing, char* reason, size_t reasonSize) {
  if (g_waveOut != nullptr) return true;
  g_bufferDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (g_bufferDone == nullptr) {
    std::snprintf(reason, reasonSize, "cannot create an event (error %lu)", GetLastError());
    return false;
  }
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = static_cast<DWORD>(frequency);
  format.wBitsPerSample = 16;
  format.nBlockAlign = format.nChannels * format.wBitsPerSample / 8;
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  format.cbSize = 0;
  MMRESULT result = waveOutOpen(&g_waveOut, WAVE_MAPPER, &format,
                                reinterpret_cast<DWORD_PTR>(g_bufferDone), 0, CALLBACK_EVENT);
  if (result != MMSYSERR_NOERROR) {
    char text[MAXERRORLENGTH] = "";
    waveOutGetErrorTextA(result, text, sizeof text);
    std::snprintf(reason, reasonSize, "waveOut: %s", text[0] != '\0' ? text : "cannot open");
    g_waveOut = nullptr;
    CloseHandle(g_bufferDone);
    g_bufferDone = nullptr;
    return false;
  }
  for (int i = 0; i < kBufferCount; ++i) {
    std::memset(&g_headers[i], 0, sizeof(WAVEHDR));
    g_headers[i].lpData = reinterpret_cast<LPSTR>(g_samples[i]);
    g_headers[i].dwBufferLength = sizeof g_samples[i];
    result = waveOutPrepareHeader(g_waveOut, &g_headers[i], sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
      std::snprintf(reason, reasonSize, "waveOut: cannot prepare a buffer (error %u)",
                    static_cast<unsigned>(result));
      ReleaseDevice();
      return false;
    }
  }
  // A buffer handed over now is heard once the ones queued before it have
  // played: with the ring full, the whole ring trails the hand-over.
  timing->latencyFrames = static_cast<int64_t>(kBufferCount) * kBufferFrames;
  timing->extrapolationLimitFrames = kBufferFrames;
  return true;
}

void ResumeAudioDevice() {
  if (g_waveOut == nullptr || g_feeder.joinable()) return;
  g_stopFeeder.store(false, std::memory_order_relaxed);
  g_feeder = std::thread(Feeder);
}

void CloseAudioDevice() {
  if (g_waveOut == nullptr) return;
  if (g_feeder.joinable()) {
    g_stopFeeder.store(true, std::memory_order_relaxed);
    SetEvent(g_bufferDone);
    g_feeder.join();
  }
  waveOutReset(g_waveOut);
  ReleaseDevice();
}
