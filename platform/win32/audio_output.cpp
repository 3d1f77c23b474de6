// The audio device on Windows: winmm's waveOut with 16-bit stereo PCM (which
// every output takes), fed by its own thread that pulls the music player's
// stream into a ring of buffers as the device finishes them, and tells the
// player how far the device's own played position trails what it was given.
// A device that stops returning buffers stalls the music, and once it
// returns one the stale ring is dropped and the music re-joins; a failed
// call, or a stall that lasts, loses the device, and the player opens
// WAVE_MAPPER again. No call into the driver can hold the show: opening and
// closing run on threads of their own that are waited for a bounded time.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/audio_output.h"
#include "platform/system.h"

namespace {

// Buffers in the ring and frames per buffer: 4 x 1024 frames is 93 ms at
// 44100 Hz, deep enough that a busy main thread does not starve the device.
constexpr int kBufferCount = 4;
constexpr int kBufferFrames = 1024;
constexpr int kRingFrames = kBufferCount * kBufferFrames;
// The feeder's longest sleep between two looks at the ring, the device's
// position and the stop flag.
constexpr DWORD kFeederWaitMs = 10;
// How long closing waits for the device to let go, and opening for the
// driver to answer; one that takes longer is left to finish on its own
// thread (a driver that no longer answers: under Wine, a sound server that
// stopped holds waveOutReset, waveOutClose and the next waveOutOpen for as
// long as its client library waits, 30 s or more).
constexpr DWORD kCloseWaitMs = 1000;
constexpr DWORD kOpenWaitMs = 3000;
// The first open also starts the system's audio (under Wine, winmm's
// device thread and the enumeration of mmdevapi's outputs, 2.4 s on this
// machine at load 15): it is given longer.
constexpr DWORD kFirstOpenWaitMs = 10000;
// How far past the end of the buffers it has returned a device may have
// played (see PlayedFrames): under Wine, whose winmm returns a buffer at
// the first tick of its audio client's 10 ms timer after the sound server
// has played it (docs/windows.md). A device that returns buffers before
// playing them, as Windows' does, never comes near.
constexpr int64_t kReturnLagMicros = 10000;
// A device that has returned no buffer for this long has played nothing
// for most of it (the ring is 93 ms): the music is stalled. Such a device
// is not waited for at close either: it would not answer.
constexpr ULONGLONG kStalledMs = 500;
// A stall this long is a device gone (under Wine, a sound server that went
// away fails no call: the buffers just stop coming back): it is given up
// and the player opens the default output again.
constexpr ULONGLONG kLostMs = 5000;

// One opened device and all its threads touch. It lives until the thread
// that closes it has had the driver let go of its buffers, which may be
// after CloseAudioDevice has given up waiting.
struct Device {
  HWAVEOUT waveOut = nullptr;
  // Signalled by waveOut whenever a buffer is done (and at open and close).
  HANDLE bufferDone = nullptr;
  HANDLE feeder = nullptr;  // null until resumed
  std::atomic<bool> stop{false};
  // When the device last returned a buffer (or started), in GetTickCount64
  // milliseconds. Written by the feeder, read at close.
  std::atomic<ULONGLONG> lastBufferTick{0};
  int sampleRate = 44100;
  int64_t ticksPerSecond = 1;  // QueryPerformanceCounter's
  WAVEHDR headers[kBufferCount] = {};
  short samples[kBufferCount][kBufferFrames * 2] = {};
  float mix[kRingFrames * 2] = {};  // the feeder's render space

  // The feeder's own: frames handed to waveOutWrite since the device
  // started (or was reset), and of those the frames in buffers the device
  // has returned, the last return seen when (QueryPerformanceCounter
  // ticks); the device's last 32-bit sample count and the frames of
  // earlier wraps (every 27 hours at 44100 Hz); whether the stall was said.
  int64_t framesWritten = 0;
  int64_t framesReturned = 0;
  int64_t lastReturnTicks = 0;
  uint32_t lastPositionSamples = 0;
  int64_t positionWraps = 0;
  bool stalled = false;
};

// The open device: opened, resumed and closed by the main thread at start
// and exit, and by the music player's reopening thread in between, never
// by both at once.
std::atomic<Device*> g_device{nullptr};
// Opening threads that outlived their wait and are still in the driver; a
// new open is not tried beside one (under Wine all opens queue behind it).
std::atomic<int> g_openersInDriver{0};
// A device was opened before in this process (only the opening threads
// write it, one at a time).
std::atomic<bool> g_openedBefore{false};

void FreeDevice(Device* device) {
  if (device->bufferDone != nullptr) CloseHandle(device->bufferDone);
  delete device;
}

int64_t NowTicks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

short ToSample(float value) {
  float scaled = value * 32767.0f;
  if (scaled > 32767.0f) scaled = 32767.0f;
  if (scaled < -32768.0f) scaled = -32768.0f;
  return static_cast<short>(std::lrint(scaled));
}

// Tells the player the device failed in call with result: the music goes
// on silently and the default output is opened again. Not said by a feeder
// that was told to stop (its device is being closed already).
void DeviceFailed(Device* device, const char* call, MMRESULT result) {
  if (device->stop.load(std::memory_order_relaxed)) return;
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

// The frames the device has played since it started, into played: its own
// position (waveOutGetPosition in samples), bounded by the buffers it has
// returned: never more than kReturnLagMicros, and the time since the last
// came back (at most one buffer more), past their end. On Windows the
// device's position is the lower of the two. Wine's winmm counts what it
// copied on towards its sound server as played, which runs about the whole
// ring ahead of what is heard; there the bound is the estimate. False when
// the device fails to say (the loss is reported).
bool PlayedFrames(Device* device, int64_t* played) {
  MMTIME time = {};
  time.wType = TIME_SAMPLES;
  MMRESULT result = waveOutGetPosition(device->waveOut, &time, sizeof time);
  if (result != MMSYSERR_NOERROR) {
    DeviceFailed(device, "waveOutGetPosition", result);
    return false;
  }
  // With no position in a unit read here, the returned buffers stand.
  int64_t position = device->framesReturned;
  if (time.wType == TIME_SAMPLES || time.wType == TIME_BYTES) {
    const uint32_t samples = time.wType == TIME_SAMPLES ? time.u.sample : time.u.cb / 4;  // 16-bit stereo
    if (samples < device->lastPositionSamples) device->positionWraps += int64_t{1} << 32;
    device->lastPositionSamples = samples;
    position = device->positionWraps + samples;
  }
  int64_t sinceReturn = (NowTicks() - device->lastReturnTicks) * device->sampleRate / device->ticksPerSecond;
  if (sinceReturn > kBufferFrames) sinceReturn = kBufferFrames;
  const int64_t bound =
      device->framesReturned + kReturnLagMicros * device->sampleRate / 1000000 + sinceReturn;
  *played = position < bound ? position : bound;
  return true;
}

// Tells the player how far what the device has played trails the end of
// everything handed over, now.
bool ReportLatency(Device* device) {
  int64_t played;
  if (!PlayedFrames(device, &played)) return false;
  const int64_t latency = device->framesWritten - played;
  DeviceLatencyNow(latency > 0 ? latency : 0);
  return true;
}

void Convert(const float* mix, short* samples) {
  for (int i = 0; i < kBufferFrames * 2; ++i) samples[i] = ToSample(mix[i]);
}

// Queues buffer index, already filled; false when the device refuses it.
bool Queue(Device* device, int index) {
  device->headers[index].dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
  const MMRESULT result = waveOutWrite(device->waveOut, &device->headers[index], sizeof(WAVEHDR));
  if (result != MMSYSERR_NOERROR) {
    DeviceFailed(device, "waveOutWrite", result);
    return false;
  }
  device->framesWritten += kBufferFrames;
  return true;
}

// Fills the whole ring in one hand-over and starts the device on it, so
// that it never starts with less than the ring to play (Wine's winepulse,
// started with one buffer, runs dry at once and delays the rest by what it
// inserts). The device holds nothing before it: after a stall the player's
// music re-joins here, the ring heard from when the device starts.
bool Prime(Device* device) {
  MMRESULT result = waveOutPause(device->waveOut);
  if (result != MMSYSERR_NOERROR) {
    DeviceFailed(device, "waveOutPause", result);
    return false;
  }
  device->framesWritten = 0;
  device->framesReturned = 0;
  device->lastPositionSamples = 0;
  device->positionWraps = 0;
  RenderMusicForDeviceQueued(device->mix, kRingFrames, 0);
  for (int i = 0; i < kBufferCount; ++i) {
    Convert(device->mix + i * kBufferFrames * 2, device->samples[i]);
    if (!Queue(device, i)) return false;
  }
  device->lastReturnTicks = NowTicks();
  device->lastBufferTick.store(GetTickCount64(), std::memory_order_relaxed);
  device->stalled = false;
  result = waveOutRestart(device->waveOut);
  if (result != MMSYSERR_NOERROR) {
    DeviceFailed(device, "waveOutRestart", result);
    return false;
  }
  return ReportLatency(device);
}

// A buffer came back: the device has taken all of it. It is refilled with
// the next stretch of the stream, which the device plays after what it
// still holds.
bool Refill(Device* device, int index) {
  device->framesReturned += kBufferFrames;
  device->lastReturnTicks = NowTicks();
  device->lastBufferTick.store(GetTickCount64(), std::memory_order_relaxed);
  int64_t played;
  if (!PlayedFrames(device, &played)) return false;
  const int64_t held = device->framesWritten - played;
  RenderMusicForDeviceQueued(device->mix, kBufferFrames, held > 0 ? held : 0);
  Convert(device->mix, device->samples[index]);
  return Queue(device, index);
}

// Primes the ring, then refills each buffer, in ring order, as soon as the
// device is done with it. A device that returns nothing for kStalledMs
// stalls the music; the first buffer it returns after that drops the rest
// of the ring (stale music, from before the stall) and primes it again; one
// that stays stalled for kLostMs is lost. Every wait is bounded, so the
// thread sees the stop flag however the device behaves; after a failed call
// it leaves the device alone.
DWORD WINAPI Feeder(void* parameter) {
  Device* device = static_cast<Device*>(parameter);
  NameCurrentThread("lantern-audio");
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  if (!Prime(device)) return 0;
  int next = 0;
  while (!device->stop.load(std::memory_order_relaxed)) {
    WaitForSingleObject(device->bufferDone, kFeederWaitMs);
    while (!device->stop.load(std::memory_order_relaxed) && (device->headers[next].dwFlags & WHDR_DONE) != 0) {
      if (device->stalled) {
        DeviceLatencyNow(kRingFrames);  // what the re-join will find, once primed
        const MMRESULT result = waveOutReset(device->waveOut);
        if (result != MMSYSERR_NOERROR) {
          DeviceFailed(device, "waveOutReset", result);
          return 0;
        }
        if (!Prime(device)) return 0;
        next = 0;
        break;
      }
      if (!Refill(device, next)) return 0;
      next = (next + 1) % kBufferCount;
    }
    if (device->stop.load(std::memory_order_relaxed)) break;
    if (!ReportLatency(device)) return 0;
    const ULONGLONG quiet = GetTickCount64() - device->lastBufferTick.load(std::memory_order_relaxed);
    if ((!device->stalled && quiet > kStalledMs) || (device->stalled && quiet > kLostMs)) {
      char reason[64];
      std::snprintf(reason, sizeof reason, "waveOut returned no buffer for %.1f s", quiet / 1000.0);
      if (device->stalled) {
        AudioDeviceLost(reason);
        return 0;
      }
      device->stalled = true;
      AudioDeviceStalled(reason);
    }
  }
  return 0;
}

// Lets go of a device: once its feeder has ended, the queued buffers are
// taken back, the buffers unprepared and the device closed, and only then,
// with the driver done with them, the buffers freed. On its own thread,
// since a driver that no longer answers can hold any of these calls.
DWORD WINAPI Closer(void* parameter) {
  Device* device = static_cast<Device*>(parameter);
  if (device->feeder != nullptr) {
    WaitForSingleObject(device->feeder, INFINITE);
    CloseHandle(device->feeder);
    device->feeder = nullptr;
  }
  waveOutReset(device->waveOut);
  for (int i = 0; i < kBufferCount; ++i) {
    if ((device->headers[i].dwFlags & WHDR_PREPARED) != 0) {
      waveOutUnprepareHeader(device->waveOut, &device->headers[i], sizeof(WAVEHDR));
    }
  }
  // A device that will not close may still write to its buffers: they are
  // left to it.
  if (waveOutClose(device->waveOut) == MMSYSERR_NOERROR) FreeDevice(device);
  return 0;
}

// Stops the feeder and closes the device on a thread of its own, waited
// for at most waitMs.
void CloseInBackground(Device* device, DWORD waitMs) {
  device->stop.store(true, std::memory_order_relaxed);
  SetEvent(device->bufferDone);
  HANDLE closer = CreateThread(nullptr, 0, Closer, device, 0, nullptr);
  if (closer == nullptr) return;  // left as it is
  WaitForSingleObject(closer, waitMs);
  CloseHandle(closer);
}

// One waveOutOpen on a thread of its own. The thread that asked waits for
// it a bounded time; if it gives up first, the opener closes what it
// opened and frees it all itself.
enum OpenState : int { kOpenRunning, kOpenDone, kOpenAbandoned };
struct OpenAttempt {
  Device* device;
  WAVEFORMATEX format;
  MMRESULT result;
  std::atomic<int> state;
};

DWORD WINAPI Opener(void* parameter) {
  OpenAttempt* attempt = static_cast<OpenAttempt*>(parameter);
  Device* device = attempt->device;
  attempt->result = waveOutOpen(&device->waveOut, WAVE_MAPPER, &attempt->format,
                                reinterpret_cast<DWORD_PTR>(device->bufferDone), 0, CALLBACK_EVENT);
  if (attempt->state.exchange(kOpenDone, std::memory_order_relaxed) == kOpenAbandoned) {
    if (attempt->result != MMSYSERR_NOERROR || waveOutClose(device->waveOut) == MMSYSERR_NOERROR) {
      FreeDevice(device);
    }
    delete attempt;
  }
  g_openersInDriver.fetch_sub(1, std::memory_order_relaxed);
  return 0;
}

// Opens WAVE_MAPPER for device, waiting at most kOpenWaitMs; the driver's
// result, or MMSYSERR_ERROR with reason set when it did not answer in time
// (the device is then the opener's to free).
MMRESULT OpenBounded(Device* device, const WAVEFORMATEX& format, char* reason, size_t reasonSize) {
  OpenAttempt* attempt = new (std::nothrow) OpenAttempt{device, format, MMSYSERR_ERROR, {kOpenRunning}};
  if (attempt == nullptr) {
    std::snprintf(reason, reasonSize, "waveOut: out of memory");
    FreeDevice(device);
    return MMSYSERR_NOMEM;
  }
  g_openersInDriver.fetch_add(1, std::memory_order_relaxed);
  HANDLE thread = CreateThread(nullptr, 0, Opener, attempt, 0, nullptr);
  if (thread == nullptr) {
    g_openersInDriver.fetch_sub(1, std::memory_order_relaxed);
    std::snprintf(reason, reasonSize, "waveOut: cannot start a thread (error %lu)", GetLastError());
    delete attempt;
    FreeDevice(device);
    return MMSYSERR_ERROR;
  }
  const DWORD waitMs = g_openedBefore.load(std::memory_order_relaxed) ? kOpenWaitMs : kFirstOpenWaitMs;
  if (WaitForSingleObject(thread, waitMs) != WAIT_OBJECT_0 &&
      attempt->state.exchange(kOpenAbandoned, std::memory_order_relaxed) == kOpenRunning) {
    CloseHandle(thread);
    std::snprintf(reason, reasonSize, "waveOut: the driver did not answer within %lu s",
                  static_cast<unsigned long>(waitMs / 1000));
    return MMSYSERR_ERROR;
  }
  // Done, if only just: its result is ours once the thread has ended.
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  const MMRESULT result = attempt->result;
  delete attempt;
  if (result != MMSYSERR_NOERROR) {
    char text[MAXERRORLENGTH] = "";
    waveOutGetErrorTextA(result, text, sizeof text);
    std::snprintf(reason, reasonSize, "waveOut: %s", text[0] != '\0' ? text : "cannot open");
    FreeDevice(device);
  } else {
    g_openedBefore.store(true, std::memory_order_relaxed);
  }
  return result;
}

}  // namespace

bool OpenAudioDevice(int frequency, AudioDeviceTiming* timing, char* reason, size_t reasonSize) {
  if (g_device.load(std::memory_order_relaxed) != nullptr) return true;
  if (g_openersInDriver.load(std::memory_order_relaxed) > 0) {
    std::snprintf(reason, reasonSize, "waveOut: an earlier open still waits for the driver");
    return false;
  }
  Device* device = new (std::nothrow) Device;
  if (device == nullptr) {
    std::snprintf(reason, reasonSize, "waveOut: out of memory");
    return false;
  }
  device->bufferDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (device->bufferDone == nullptr) {
    std::snprintf(reason, reasonSize, "cannot create an event (error %lu)", GetLastError());
    FreeDevice(device);
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
  if (OpenBounded(device, format, reason, reasonSize) != MMSYSERR_NOERROR) return false;
  for (int i = 0; i < kBufferCount; ++i) {
    device->headers[i].lpData = reinterpret_cast<LPSTR>(device->samples[i]);
    device->headers[i].dwBufferLength = sizeof device->samples[i];
    const MMRESULT result = waveOutPrepareHeader(device->waveOut, &device->headers[i], sizeof(WAVEHDR));
    if (result != MMSYSERR_NOERROR) {
      std::snprintf(reason, reasonSize, "waveOut: cannot prepare a buffer (error %u)",
                    static_cast<unsigned>(result));
      CloseInBackground(device, kCloseWaitMs);
      return false;
    }
  }
  LARGE_INTEGER frequencyTicks;
  QueryPerformanceFrequency(&frequencyTicks);
  device->ticksPerSecond = frequencyTicks.QuadPart;
  device->sampleRate = frequency;
  device->lastBufferTick.store(GetTickCount64(), std::memory_order_relaxed);
  g_device.store(device, std::memory_order_relaxed);
  // Until the device reports its position: a buffer handed over now is
  // heard once the ones queued before it have played.
  timing->latencyFrames = kRingFrames;
  timing->extrapolationLimitFrames = kBufferFrames;
  return true;
}

void ResumeAudioDevice() {
  Device* device = g_device.load(std::memory_order_relaxed);
  if (device == nullptr || device->feeder != nullptr) return;
  device->feeder = CreateThread(nullptr, 0, Feeder, device, 0, nullptr);
  if (device->feeder == nullptr) AudioDeviceLost("cannot start the audio thread");
}

void CloseAudioDevice() {
  Device* device = g_device.exchange(nullptr, std::memory_order_relaxed);
  if (device == nullptr) return;
  // A device that stopped returning buffers is not waited for.
  const bool answering =
      GetTickCount64() - device->lastBufferTick.load(std::memory_order_relaxed) <= kStalledMs;
  CloseInBackground(device, answering ? kCloseWaitMs : 0);
}
