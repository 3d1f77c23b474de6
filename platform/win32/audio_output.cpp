// The audio device on Windows: winmm's waveOut with 16-bit stereo PCM (which
// every output takes), fed by its own thread that pulls the music player's
// stream into a ring of buffers as the device finishes them, and tells the
// player how far the device's own played position trails what it was given.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/audio_output.h"
#include "platform/system.h"

namespace {

// Buffers in the ring and frames per buffer: 4 x 1024 frames is 93 ms at
// 44100 Hz, deep enough that a busy main thread does not starve the device.
constexpr int kBufferCount = 4;
constexpr int kBufferFrames = 1024;
// The feeder's longest sleep between two looks at the ring, the device's
// position and the stop flag.
constexpr DWORD kFeederWaitMs = 10;
// How long closing waits for the feeder to stop and for the device to let
// go; one that hangs (a driver that no longer answers) is left to the end
// of the process.
constexpr DWORD kCloseWaitMs = 1000;
// How far past the end of the buffers it has returned a device may have
// played (see ReportLatency): under Wine, whose winmm returns a buffer at
// the first tick of its audio client's 10 ms timer after the sound server
// has played it (docs/windows.md). A device that returns buffers before
// playing them, as Windows' does, never comes near.
constexpr int64_t kReturnLagMicros = 10000;
// A device that has returned no buffer for this long is not asked to reset
// or close: it would not answer either (a sound server that stopped holds
// waveOutReset for as long as its client library waits, 30 s or more).
constexpr ULONGLONG kStalledMs = 500;

HWAVEOUT g_waveOut = nullptr;
// Signalled by waveOut whenever a buffer is done (and at open and close).
HANDLE g_bufferDone = nullptr;
WAVEHDR g_headers[kBufferCount];
short g_samples[kBufferCount][kBufferFrames * 2];
float g_mix[kBufferFrames * 2];  // the feeder thread's render space
HANDLE g_feeder = nullptr;       // the feeder thread, null when none runs
std::atomic<bool> g_stopFeeder{false};
// When the device last returned a buffer (or started), in GetTickCount64
// milliseconds. Written by the feeder thread, read at close.
std::atomic<ULONGLONG> g_lastBufferTick{0};

// Frames handed to waveOutWrite since the device opened, and of those the
// frames in buffers the device has returned, the last return seen when
// (QueryPerformanceCounter ticks). Feeder thread only.
int64_t g_framesWritten = 0;
int64_t g_framesReturned = 0;
int64_t g_lastReturnTicks = 0;
// QueryPerformanceCounter ticks per second and the device's frames per
// second; set at open, before the feeder starts.
int64_t g_ticksPerSecond = 1;
int g_sampleRate = 44100;
// The device's played position: its last 32-bit sample count and the
// frames of earlier wraps (every 27 hours at 44100 Hz). Feeder thread only.
uint32_t g_lastPositionSamples = 0;
int64_t g_positionWraps = 0;

short ToSample(float value) {
  float scaled = value * 32767.0f;
  if (scaled > 32767.0f) scaled = 32767.0f;
  if (scaled < -32768.0f) scaled = -32768.0f;
  return static_cast<short>(std::lrint(scaled));
}

// Tells the player the device failed in call with result: the music goes
// on silently. The feeder stops touching the device.
void DeviceFailed(const char* call, MMRESULT result) {
  char text[MAXERRORLENGTH] = "";
  if (waveOutGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR) text[0] = '\0';
  char reason[MAXERRORLENGTH + 64];
  if (text[0] != '\0') {
    std::snprintf(reason, sizeof reason, "%s: %s", call, text);
  } else {
    std::snprintf(reason, sizeof reason, "%s: error %u", call, static_cast<unsigned>(result));
  }
  AudioDeviceLost(reason);
}

// Renders the next stretch of the stream into one buffer and queues it;
// false when the device refuses it.
bool FillAndQueue(int index) {
  RenderMusicForDevice(g_mix, kBufferFrames);
  for (int i = 0; i < kBufferFrames * 2; ++i) g_samples[index][i] = ToSample(g_mix[i]);
  g_headers[index].dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
  MMRESULT result = waveOutWrite(g_waveOut, &g_headers[index], sizeof(WAVEHDR));
  if (result != MMSYSERR_NOERROR) {
    DeviceFailed("waveOutWrite", result);
    return false;
  }
  g_framesWritten += kBufferFrames;
  return true;
}

int64_t NowTicks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// A buffer came back: the device has taken all of it.
void NoteReturn() {
  g_framesReturned += kBufferFrames;
  g_lastReturnTicks = NowTicks();
  g_lastBufferTick.store(GetTickCount64(), std::memory_order_relaxed);
}

// Tells the player how far what the device has played trails the end of
// everything handed over, now. The played position is the device's own
// (waveOutGetPosition in samples), bounded by the buffers it has returned:
// never more than kReturnLagMicros, and the time since the last came back
// (at most one buffer more), past their end. On Windows the device's
// position is the lower of the two. Wine's winmm counts what it copied on
// towards its sound server as played, which runs about the whole ring
// ahead of what is heard; there the bound is the estimate. False when the
// device fails to say.
bool ReportLatency() {
  MMTIME time = {};
  time.wType = TIME_SAMPLES;
  MMRESULT result = waveOutGetPosition(g_waveOut, &time, sizeof time);
  if (result != MMSYSERR_NOERROR) {
    DeviceFailed("waveOutGetPosition", result);
    return false;
  }
  uint32_t samples;
  if (time.wType == TIME_SAMPLES) {
    samples = time.u.sample;
  } else if (time.wType == TIME_BYTES) {
    samples = time.u.cb / 4;  // 16-bit stereo
  } else {
    return true;  // no position in a unit we read: the ring's latency stands
  }
  if (samples < g_lastPositionSamples) g_positionWraps += int64_t{1} << 32;
  g_lastPositionSamples = samples;
  int64_t played = g_positionWraps + samples;
  int64_t sinceReturn = (NowTicks() - g_lastReturnTicks) * g_sampleRate / g_ticksPerSecond;
  if (sinceReturn > kBufferFrames) sinceReturn = kBufferFrames;
  const int64_t bound = g_framesReturned + kReturnLagMicros * g_sampleRate / 1000000 + sinceReturn;
  if (played > bound) played = bound;
  int64_t latency = g_framesWritten - played;
  if (latency < 0) latency = 0;
  DeviceLatencyNow(latency);
  return true;
}

// Fills the whole ring, then refills each buffer, in ring order, as soon as
// the device is done with it. Every wait is bounded, so the thread sees the
// stop flag however the device behaves; after a failed call it leaves the
// device alone (the player has gone silent).
DWORD WINAPI Feeder(void*) {
  NameCurrentThread("lantern-audio");
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  g_lastBufferTick.store(GetTickCount64(), std::memory_order_relaxed);
  g_lastReturnTicks = NowTicks();
  // The whole ring is queued before the device starts, so that it never
  // starts with less than the ring to play (Wine's winepulse, started with
  // one buffer, runs dry at once and delays the rest by what it inserts).
  MMRESULT result = waveOutPause(g_waveOut);
  if (result != MMSYSERR_NOERROR) {
    DeviceFailed("waveOutPause", result);
    return 0;
  }
  for (int i = 0; i < kBufferCount; ++i) {
    if (!FillAndQueue(i)) return 0;
  }
  g_lastReturnTicks = NowTicks();
  result = waveOutRestart(g_waveOut);
  if (result != MMSYSERR_NOERROR) {
    DeviceFailed("waveOutRestart", result);
    return 0;
  }
  if (!ReportLatency()) return 0;
  int next = 0;
  while (!g_stopFeeder.load(std::memory_order_relaxed)) {
    WaitForSingleObject(g_bufferDone, kFeederWaitMs);
    while (!g_stopFeeder.load(std::memory_order_relaxed) &&
           (g_headers[next].dwFlags & WHDR_DONE) != 0) {
      NoteReturn();
      if (!FillAndQueue(next)) return 0;
      next = (next + 1) % kBufferCount;
    }
    if (!ReportLatency()) return 0;
  }
  return 0;
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

// Lets go of the device; on its own thread, since a driver that no longer
// answers can hold waveOutReset or waveOutClose.
DWORD WINAPI CloseDevice(void*) {
  waveOutReset(g_waveOut);
  ReleaseDevice();
  return 0;
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
  g_framesWritten = 0;
  g_framesReturned = 0;
  LARGE_INTEGER frequencyTicks;
  QueryPerformanceFrequency(&frequencyTicks);
  g_ticksPerSecond = frequencyTicks.QuadPart;
  g_sampleRate = frequency;
  g_lastPositionSamples = 0;
  g_positionWraps = 0;
  // Until the device reports its position: a buffer handed over now is
  // heard once the ones queued before it have played.
  timing->latencyFrames = static_cast<int64_t>(kBufferCount) * kBufferFrames;
  timing->extrapolationLimitFrames = kBufferFrames;
  return true;
}

void ResumeAudioDevice() {
  if (g_waveOut == nullptr || g_feeder != nullptr) return;
  g_stopFeeder.store(false, std::memory_order_relaxed);
  g_feeder = CreateThread(nullptr, 0, Feeder, nullptr, 0, nullptr);
  if (g_feeder == nullptr) AudioDeviceLost("cannot start the audio thread");
}

void CloseAudioDevice() {
  if (g_waveOut == nullptr) return;
  bool feederStopped = true;
  if (g_feeder != nullptr) {
    g_stopFeeder.store(true, std::memory_order_relaxed);
    SetEvent(g_bufferDone);
    feederStopped = WaitForSingleObject(g_feeder, kCloseWaitMs) == WAIT_OBJECT_0;
    CloseHandle(g_feeder);
    g_feeder = nullptr;
    // A device that stopped returning buffers is left as it is.
    if (GetTickCount64() - g_lastBufferTick.load(std::memory_order_relaxed) > kStalledMs) {
      feederStopped = false;
    }
  }
  if (!feederStopped) return;
  HANDLE closer = CreateThread(nullptr, 0, CloseDevice, nullptr, 0, nullptr);
  if (closer == nullptr) {
    CloseDevice(nullptr);
    return;
  }
  WaitForSingleObject(closer, kCloseWaitMs);
  CloseHandle(closer);
}
