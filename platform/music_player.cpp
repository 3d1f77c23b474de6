// Music playback: libopenmpt modules rendered into one float stereo stream,
// pulled by the platform's audio device or, with no device (or while the
// device takes no sound), by a silent real-time thread; the heard position
// is looked up from marks left per rendered chunk. A device that stalls or
// is lost hands the song to the silent clock, and the music re-joins the
// show where it stands when a device plays again.
//
// Two locks: g_moduleMutex guards the libopenmpt objects (only one thread
// ever uses a module at a time: the renderer, or the main thread loading,
// freeing or rewinding); g_positionMutex guards the position marks and the
// stream clock, held only briefly by the renderer and by position queries,
// which never touch a module.
#include "platform/music_player.h"

#include "platform/audio_output.h"
#include "platform/system.h"

#include "common/data_report.h"

#include <libopenmpt/libopenmpt.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kMaxModules = 4;
// Frames per rendered chunk: the granularity of the heard position (1.5 ms).
// A chunk's mark is the position at its end, so a row that starts inside a
// chunk is reported up to one chunk early.
constexpr int kChunkFrames = 64;
// Marks kept per module: 8192 chunks, about 12 s of audio, above the
// deepest schedule of any device (a hidden page's, at most 8 s). A heard
// frame older than the oldest mark would be given that mark's position,
// ahead of what is heard.
constexpr int kMarkCount = 8192;
// A device that has pulled nothing for this long past the latency it last
// reported (what it still had to play) has stopped taking sound; the
// silent clock takes over.
constexpr int64_t kDeviceStallMicros = 1000000;
// The music fades in over this many frames when it re-joins (5 ms), so the
// first sound after a silence does not click.
constexpr int kFadeInFrames = 220;
// At most this much of the stream (5 s) is skipped in one re-join; only a
// silent player starved for longer leaves more, which then plays late.
constexpr int64_t kLongestSkipFrames = 5 * kMusicSampleRate;
// How far the silent player renders ahead of the listener's time (23 ms),
// beyond the position lead, which must never be cut short.
constexpr int64_t kSilentLeadFrames = 1024;

struct PositionMark {
  int64_t endFrame;  // stream frame just after the chunk
  uint32_t position;
};

// What the renderer owns (under g_moduleMutex).
struct ModuleSlot {
  openmpt_module* module;
  uint32_t handle;
  bool playing;
  bool ended;
};

// What position queries read (under g_positionMutex).
struct PositionTrack {
  uint32_t handle;
  bool playing;
  int64_t playStartFrame;
  uint32_t startPosition;
  PositionMark marks[kMarkCount];
  int markCount;
  int markHead;  // index of the oldest mark
};

std::mutex g_moduleMutex;
std::mutex g_positionMutex;

ModuleSlot g_slots[kMaxModules];
PositionTrack g_tracks[kMaxModules];
uint32_t g_nextHandle = 1;

// Stream clock (under g_positionMutex): frames rendered so far, and the
// reference point from which the heard frame is extrapolated.
int64_t g_renderedFrames = 0;
int64_t g_clockRefFrame = 0;
int64_t g_clockRefMicros = 0;
int64_t g_latencyFrames = 0;
// How far the heard frame may be extrapolated past the reference: one device
// buffer (the next callback moves the reference on); unbounded for the
// silent player, whose reference is its start.
int64_t g_extrapolationLimit = 0;
// The last heard frame reported: the estimate never goes back.
int64_t g_lastHeardFrame = 0;
// How far ahead of now the reported position is taken (microseconds): the
// time a frame drawn now takes to reach the screen. Main thread writes.
std::atomic<int64_t> g_positionLeadMicros{0};
bool g_clockRunning = false;

int g_sampleRate = kMusicSampleRate;
bool g_outputOpen = false;

// Where the sound goes.
enum DeviceState : int {
  kNoDevice,       // none opened at start: the silent clock runs to the end
  kDevicePlaying,  // the device pulls the stream and the clock follows it
  kDeviceSilent,   // the device is open but takes no sound: the silent
                   // clock runs, and the device's next pull re-joins
  kDeviceLost,     // the device failed: the silent clock runs while the
                   // reopening thread opens the default output again
};
// Changed under g_positionMutex (read anywhere): by the main thread at
// open, the device's thread at a re-join, and whichever thread finds the
// device stalled or lost.
std::atomic<int> g_deviceState{kNoDevice};
// The device's own extrapolation limit, restored when the music re-joins
// (under g_positionMutex).
int64_t g_deviceExtrapolationLimit = 0;
// When the device last pulled (microseconds, steady clock), watched from
// when it was resumed. Written by the device's thread and at resume.
std::atomic<int64_t> g_lastPullMicros{0};
// The device was resumed (main thread).
bool g_deviceResumed = false;
// The stand-by thread: the silent player while the music is silent, the
// watch over a playing device otherwise.
std::thread g_standbyThread;
std::atomic<bool> g_standbyStop{false};
// The thread that opens the default output again after a loss; it ends
// once one opens. Started and joined by the stand-by thread (and at
// shutdown); g_reopening is set while it runs.
std::thread g_reopenThread;
std::atomic<bool> g_reopening{false};

// The silences, for the stderr lines (under g_positionMutex): how many,
// when the current one began (steady microseconds), and their total
// length; the first silence and the first return are said, later ones are
// counted and said in one line at shutdown.
int g_silenceCount = 0;
int g_returnCount = 0;
int64_t g_silenceSinceMicros = 0;
int64_t g_silenceTotalMicros = 0;
// Frames of the fade-in still to apply (device's thread).
int g_fadeFramesLeft = 0;

float g_chunk[kChunkFrames * 2];
float g_silentBuffer[kChunkFrames * 2];
// Where a re-join renders the stretch it skips (device's thread).
constexpr int kSkipBufferFrames = kChunkFrames * 16;
float g_skipBuffer[kSkipBufferFrames * 2];

int64_t NowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Stream frames in a span of microseconds (exact for years of running).
int64_t FramesIn(int64_t micros) { return micros * g_sampleRate / 1000000; }

uint32_t PositionWord(openmpt_module* module) {
  uint32_t order = static_cast<uint32_t>(openmpt_module_get_current_order(module)) & 0xFFFFu;
  uint32_t row = static_cast<uint32_t>(openmpt_module_get_current_row(module)) & 0xFFFFu;
  return order | (row << 16);
}

void AddMark(PositionTrack* track, int64_t endFrame, uint32_t position) {
  int index = (track->markHead + track->markCount) % kMarkCount;
  if (track->markCount == kMarkCount) {
    track->markHead = (track->markHead + 1) % kMarkCount;
  } else {
    ++track->markCount;
  }
  track->marks[index] = {endFrame, position};
}

// Renders frames of the mixed stream into out (interleaved stereo) in chunks,
// leaving one position mark per chunk for every module that played all of
// it. A short read is the song's end: the module stops, and its last mark
// (the last real row) stands, since libopenmpt already reports the
// wrapped-around start for that chunk. Caller holds g_moduleMutex.
void RenderStream(float* out, int frames) {
  std::memset(out, 0, sizeof(float) * 2 * static_cast<size_t>(frames));
  // The marks of a batch of chunks are stored under one short hold of
  // g_positionMutex, so that a position query holding it seldom makes the
  // device's thread wait.
  constexpr int kBatchChunks = 64;
  uint32_t positions[kBatchChunks][kMaxModules];
  bool marked[kBatchChunks][kMaxModules];
  int counts[kBatchChunks];
  for (int batchStart = 0; batchStart < frames; batchStart += kBatchChunks * kChunkFrames) {
    int chunks = 0;
    for (int offset = batchStart; offset < frames && chunks < kBatchChunks; offset += kChunkFrames, ++chunks) {
      const int count = frames - offset < kChunkFrames ? frames - offset : kChunkFrames;
      counts[chunks] = count;
      for (int i = 0; i < kMaxModules; ++i) {
        ModuleSlot& slot = g_slots[i];
        marked[chunks][i] = false;
        if (slot.module == nullptr || !slot.playing || slot.ended) continue;
        size_t got = openmpt_module_read_interleaved_float_stereo(
            slot.module, g_sampleRate, static_cast<size_t>(count), g_chunk);
        float* target = out + 2 * offset;
        for (size_t s = 0; s < 2 * got; ++s) target[s] += g_chunk[s];
        if (got < static_cast<size_t>(count)) {
          slot.ended = true;
        } else {
          positions[chunks][i] = PositionWord(slot.module);
          marked[chunks][i] = true;
        }
      }
    }
    std::lock_guard<std::mutex> lock(g_positionMutex);
    for (int c = 0; c < chunks; ++c) {
      const int64_t endFrame = g_renderedFrames + counts[c];
      for (int i = 0; i < kMaxModules; ++i) {
        if (marked[c][i] && g_tracks[i].handle == g_slots[i].handle) {
          AddMark(&g_tracks[i], endFrame, positions[c][i]);
        }
      }
      g_renderedFrames = endFrame;
    }
  }
}

// The stream frame reaching the listener now. Caller holds g_positionMutex.
int64_t HeardFrameNow();

// The silent player's reference point: the listener's clock starts now,
// from the frame heard now (the stream's end when nothing was heard yet).
// Caller holds g_positionMutex.
void StartSilentClockLocked() {
  g_clockRefFrame = g_clockRunning ? HeardFrameNow() : g_renderedFrames;
  g_clockRefMicros = NowMicros();
  g_latencyFrames = 0;
  g_extrapolationLimit = INT64_MAX / 2;
  g_clockRunning = true;
}

void StartSilentClock() {
  std::lock_guard<std::mutex> lock(g_positionMutex);
  StartSilentClockLocked();
}

bool MusicIsSilent() { return g_deviceState.load(std::memory_order_relaxed) != kDevicePlaying; }

// The music falls silent: the silent clock takes the song over from the
// position heard. The first time is said on stderr; later ones are
// counted. lost: the device failed, and is to be opened again.
void GoSilent(const char* reason, bool lost) {
  bool say = false;
  {
    std::lock_guard<std::mutex> lock(g_positionMutex);
    const int state = g_deviceState.load(std::memory_order_relaxed);
    if (state == kNoDevice || state == kDeviceLost || (!lost && state == kDeviceSilent)) return;
    if (state == kDevicePlaying) {
      StartSilentClockLocked();
      g_silenceSinceMicros = NowMicros();
      say = ++g_silenceCount == 1;
    }
    g_deviceState.store(lost ? kDeviceLost : kDeviceSilent, std::memory_order_relaxed);
  }
  if (say) {
    std::fprintf(stderr, "lantern: the audio device stopped (%s); the music goes on silently %s\n", reason,
                 lost ? "and re-joins the show when a device opens again" : "and re-joins the show when the device is back");
  }
}

// Waits up to micros, in short steps, while the stand-by is not told to
// stop; false when it is.
bool WaitUnlessStopped(int64_t micros) {
  const int64_t until = NowMicros() + micros;
  while (NowMicros() < until) {
    if (g_standbyStop.load(std::memory_order_relaxed)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !g_standbyStop.load(std::memory_order_relaxed);
}

// After a loss: closes the device and opens the default output again until
// one opens (soon after the loss, every half second for two seconds, then
// every second, and every two and every four seconds as it stays away).
// The opened device starts silent, so that its first pull re-joins.
void ReopenThread() {
  NameCurrentThread("lantern-reopen");
  for (int attempt = 0;; ++attempt) {
    const int64_t delay = attempt == 0   ? 250000
                          : attempt < 5  ? 500000
                          : attempt < 15 ? 1000000
                          : attempt < 25 ? 2000000
                                         : 4000000;
    if (!WaitUnlessStopped(delay)) break;
    CloseAudioDevice();
    AudioDeviceTiming timing = {0, 0};
    char reason[256] = "";
    if (!OpenAudioDevice(g_sampleRate, &timing, reason, sizeof reason)) continue;
    {
      std::lock_guard<std::mutex> lock(g_positionMutex);
      g_latencyFrames = timing.latencyFrames;
      g_deviceExtrapolationLimit = timing.extrapolationLimitFrames;
      g_deviceState.store(kDeviceSilent, std::memory_order_relaxed);
    }
    g_lastPullMicros.store(NowMicros(), std::memory_order_relaxed);
    ResumeAudioDevice();
    break;
  }
  g_reopening.store(false, std::memory_order_relaxed);
}

// With a playing device: watches that it keeps pulling. While the music is
// silent: stands in for the device, rendering the stream at real time a
// little ahead of the listener's clock and throwing it away; after a loss
// it also starts the thread that looks for a device again.
void StandbyThread() {
  NameCurrentThread("lantern-standby");
  while (!g_standbyStop.load(std::memory_order_relaxed)) {
    const int state = g_deviceState.load(std::memory_order_relaxed);
    if (state == kDeviceLost && !g_reopening.load(std::memory_order_relaxed)) {
      if (g_reopenThread.joinable()) g_reopenThread.join();
      g_reopening.store(true, std::memory_order_relaxed);
      g_reopenThread = std::thread(ReopenThread);
    }
    if (state != kDevicePlaying) {
      PumpSilentPlayer();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    int64_t allowance;
    {
      std::lock_guard<std::mutex> lock(g_positionMutex);
      allowance = kDeviceStallMicros + g_latencyFrames * 1000000 / g_sampleRate;
    }
    const int64_t lastPull = g_lastPullMicros.load(std::memory_order_relaxed);
    if (NowMicros() - lastPull > allowance) {
      AudioDeviceStalled("it took no sound for a second past what it held");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The stream frame the listener's clock stands at now, whether or not it
// has been rendered yet. Caller holds g_positionMutex.
int64_t ClockFrameNow() {
  int64_t elapsed = FramesIn(NowMicros() - g_clockRefMicros);
  if (elapsed > g_extrapolationLimit) elapsed = g_extrapolationLimit;
  return g_clockRefFrame - g_latencyFrames + elapsed;
}

int64_t HeardFrameNow() {
  if (!g_clockRunning) return 0;
  const int64_t heard = ClockFrameNow();
  return heard < g_renderedFrames - 1 ? heard : g_renderedFrames - 1;
}

// While the music is silent, renders the stream up to the listener's clock
// where the silent player has fallen behind it (its thread kept off the CPU
// on a busy machine, or a browser's timer that comes once a second), so
// that a song started now starts at what is heard now rather than in the
// past, its first rows skipped. Caller holds g_moduleMutex.
void CatchUpSilentStream() {
  while (MusicIsSilent()) {
    int64_t behind;
    {
      std::lock_guard<std::mutex> lock(g_positionMutex);
      if (!g_clockRunning) return;
      behind = ClockFrameNow() - g_renderedFrames;
    }
    if (behind <= 0) return;
    RenderStream(g_skipBuffer, behind < kSkipBufferFrames ? static_cast<int>(behind) : kSkipBufferFrames);
  }
}

// The frame that will be heard when a frame drawn now reaches the screen,
// never before one reported earlier. Caller holds g_positionMutex.
int64_t HeardFrame() {
  if (!g_clockRunning) return 0;
  int64_t heard = HeardFrameNow() + FramesIn(g_positionLeadMicros.load(std::memory_order_relaxed));
  if (heard > g_renderedFrames - 1) heard = g_renderedFrames - 1;
  if (heard < g_lastHeardFrame) heard = g_lastHeardFrame;
  g_lastHeardFrame = heard;
  return heard;
}

int FindSlot(uint32_t handle) {
  if (handle == 0) return -1;
  for (int i = 0; i < kMaxModules; ++i) {
    if (g_slots[i].handle == handle) return i;
  }
  return -1;
}

// Reads a whole module file; false, with one line on stderr naming the
// file, when it cannot be opened or read or holds nothing.
bool ReadWholeFile(const char* fileName, std::vector<char>* data) {
  FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) {
    ReportDataFinding("cannot open music \"%s\"", fileName);
    return false;
  }
  // A directory opens too, and may claim any size: only a plain file is read.
  struct stat info;
  bool ok = fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) &&
            std::fseek(file, 0, SEEK_END) == 0;
  long size = ok ? std::ftell(file) : -1;
  ok = ok && size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
  if (ok && size > 0) {
    data->resize(static_cast<size_t>(size));
    ok = std::fread(data->data(), 1, data->size(), file) == data->size();
  }
  std::fclose(file);
  if (!ok) {
    ReportDataFinding("cannot read music \"%s\"", fileName);
  } else if (size == 0) {
    ReportDataFinding("music \"%s\" is empty", fileName);
    ok = false;
  }
  return ok;
}

}  // namespace

void PumpSilentPlayer() {
  int64_t target;
  {
    std::lock_guard<std::mutex> lock(g_positionMutex);
    target = g_clockRefFrame + FramesIn(NowMicros() - g_clockRefMicros) +
             FramesIn(g_positionLeadMicros.load(std::memory_order_relaxed)) + kSilentLeadFrames;
  }
  for (;;) {
    std::lock_guard<std::mutex> moduleLock(g_moduleMutex);
    // A device that re-joined meanwhile has the stream now.
    if (!MusicIsSilent()) break;
    int64_t rendered;
    {
      std::lock_guard<std::mutex> lock(g_positionMutex);
      rendered = g_renderedFrames;
    }
    if (rendered >= target) break;
    RenderStream(g_silentBuffer, kChunkFrames);
  }
}

void RenderMusicForDevice(float* out, int frames) { RenderMusicForDeviceQueued(out, frames, -1); }

void RenderMusicForDeviceQueued(float* out, int frames, int64_t queuedFrames) {
  const int state = g_deviceState.load(std::memory_order_relaxed);
  if (state == kDeviceLost || state == kNoDevice) {
    // A device given up on (or a stray pull): it leaves the stream alone.
    std::memset(out, 0, sizeof(float) * 2 * static_cast<size_t>(frames));
    return;
  }
  const int64_t pulledAt = NowMicros();
  g_lastPullMicros.store(pulledAt, std::memory_order_relaxed);
  std::lock_guard<std::mutex> moduleLock(g_moduleMutex);
  // Re-joining: these frames are heard queued frames from now, so the
  // stream skips to what the silent clock will be at then.
  bool rejoin = false;
  int64_t target = 0;
  if (state == kDeviceSilent) {
    std::lock_guard<std::mutex> lock(g_positionMutex);
    if (g_deviceState.load(std::memory_order_relaxed) == kDeviceSilent) {
      rejoin = true;
      const int64_t queued = queuedFrames >= 0 ? queuedFrames : g_latencyFrames - frames;
      target = HeardFrameNow() + (queued > 0 ? queued : 0);
      if (target - g_renderedFrames > kLongestSkipFrames) target = g_renderedFrames + kLongestSkipFrames;
    }
  }
  // Silence handed over before the stream, when the silent player has
  // rendered past the frame to be heard first (by its lead, a few tens of
  // ms): the device's own latency figures count it, so the clock stays true.
  int pad = 0;
  if (rejoin) {
    for (;;) {
      int64_t behind;
      {
        std::lock_guard<std::mutex> lock(g_positionMutex);
        behind = target - g_renderedFrames;
        if (behind < 0) pad = static_cast<int>(-behind < frames ? -behind : frames);
      }
      if (behind <= 0) break;
      RenderStream(g_skipBuffer, behind < kSkipBufferFrames ? static_cast<int>(behind) : kSkipBufferFrames);
    }
    g_fadeFramesLeft = kFadeInFrames;
  }
  std::memset(out, 0, sizeof(float) * 2 * static_cast<size_t>(pad));
  float* const music = out + 2 * pad;
  const int musicFrames = frames - pad;
  RenderStream(music, musicFrames);
  for (int i = 0; i < musicFrames && g_fadeFramesLeft > 0; ++i, --g_fadeFramesLeft) {
    const float gain = static_cast<float>(kFadeInFrames - g_fadeFramesLeft) / kFadeInFrames;
    music[2 * i] *= gain;
    music[2 * i + 1] *= gain;
  }
  bool sayBack = false;
  double silentSeconds = 0.0;
  uint32_t joinedAt = 0;
  {
    std::lock_guard<std::mutex> lock(g_positionMutex);
    if (rejoin && g_deviceState.load(std::memory_order_relaxed) == kDeviceSilent) {
      const int64_t now = NowMicros();
      g_silenceTotalMicros += now - g_silenceSinceMicros;
      silentSeconds = (now - g_silenceSinceMicros) / 1e6;
      sayBack = ++g_returnCount == 1;
      g_extrapolationLimit = g_deviceExtrapolationLimit;
      g_deviceState.store(kDevicePlaying, std::memory_order_relaxed);
      for (int i = 0; i < kMaxModules; ++i) {
        if (g_tracks[i].handle != 0 && g_tracks[i].playing && g_tracks[i].markCount > 0) {
          joinedAt = g_tracks[i].marks[(g_tracks[i].markHead + g_tracks[i].markCount - 1) % kMarkCount].position;
        }
      }
    }
    // Only a playing device moves the clock: one found stalled meanwhile
    // leaves it to the silent clock until its next pull.
    if (g_deviceState.load(std::memory_order_relaxed) == kDevicePlaying) {
      g_clockRefFrame = g_renderedFrames;
      g_clockRefMicros = NowMicros();
      g_clockRunning = true;
    }
  }
  if (sayBack) {
    std::fprintf(stderr,
                 "lantern: the audio device is back after %.1f s; the music re-joined the show at order %u, row %u\n",
                 silentSeconds, joinedAt & 0xFFFFu, joinedAt >> 16);
  }
}

void UpdateDeviceLatency(int64_t latencyFrames) {
  std::lock_guard<std::mutex> lock(g_positionMutex);
  if (g_deviceState.load(std::memory_order_relaxed) != kDevicePlaying) return;
  g_latencyFrames = latencyFrames;
}

void DeviceLatencyNow(int64_t latencyFrames) {
  std::lock_guard<std::mutex> lock(g_positionMutex);
  const int state = g_deviceState.load(std::memory_order_relaxed);
  if (state == kDeviceSilent) {
    g_latencyFrames = latencyFrames;  // kept for the re-join; the silent clock runs
    return;
  }
  if (state != kDevicePlaying) return;
  g_clockRefFrame = g_renderedFrames;
  g_clockRefMicros = NowMicros();
  g_latencyFrames = latencyFrames;
  g_clockRunning = true;
}

void AudioDeviceStalled(const char* reason) { GoSilent(reason, false); }

void AudioDeviceLost(const char* reason) { GoSilent(reason, true); }

void InitMusicOutput(int frequency) {
  if (g_outputOpen) return;
  g_sampleRate = frequency > 0 ? frequency : kMusicSampleRate;
  AudioDeviceTiming timing = {0, 0};
  char reason[256] = "";
  g_deviceResumed = false;
  const bool opened = OpenAudioDevice(g_sampleRate, &timing, reason, sizeof reason);
  {
    std::lock_guard<std::mutex> lock(g_positionMutex);
    g_deviceState.store(opened ? kDevicePlaying : kNoDevice, std::memory_order_relaxed);
    if (opened) {
      g_latencyFrames = timing.latencyFrames;
      g_extrapolationLimit = timing.extrapolationLimitFrames;
      g_deviceExtrapolationLimit = timing.extrapolationLimitFrames;
    }
  }
  if (!opened) std::fprintf(stderr, "lantern: no audio device (%s); the music plays silently\n", reason);
  g_outputOpen = true;
}

void StartMusicOutput() {
  if (!g_outputOpen) return;
  const bool silent = g_deviceState.load(std::memory_order_relaxed) == kNoDevice;
  if (!silent && !g_deviceResumed) {
    // The watch counts from now: a device need not pull before it runs.
    g_deviceResumed = true;
    g_lastPullMicros.store(NowMicros(), std::memory_order_relaxed);
    ResumeAudioDevice();
  }
  if (!kPlatformHasThreads) {
    if (!silent) return;
    // No thread to run it: the listener's clock starts now, and the
    // platform's timer calls PumpSilentPlayer.
    bool started;
    {
      std::lock_guard<std::mutex> lock(g_positionMutex);
      started = g_clockRunning;
    }
    if (!started) StartSilentClock();
  } else if (!g_standbyThread.joinable()) {
    if (silent) StartSilentClock();
    g_standbyStop.store(false, std::memory_order_relaxed);
    g_standbyThread = std::thread(StandbyThread);
  }
}

uint32_t LoadMusicFile(const char* fileName) {
  if (fileName == nullptr) return 0;
  std::vector<char> data;
  if (!ReadWholeFile(fileName, &data)) return 0;
  openmpt_module* module = openmpt_module_create_from_memory2(
      data.data(), data.size(), openmpt_log_func_silent, nullptr, openmpt_error_func_ignore,
      nullptr, nullptr, nullptr, nullptr);
  if (module == nullptr) {
    ReportDataFinding("music \"%s\" is not a module libopenmpt can play", fileName);
    return 0;
  }
  openmpt_module_set_repeat_count(module, 0);
  openmpt_module_ctl_set_text(module, "play.at_end", "stop");

  std::lock_guard<std::mutex> moduleLock(g_moduleMutex);
  int free = -1;
  for (int i = 0; i < kMaxModules && free < 0; ++i) {
    if (g_slots[i].module == nullptr) free = i;
  }
  if (free < 0) {
    openmpt_module_destroy(module);
    return 0;
  }
  uint32_t handle = g_nextHandle++;
  if (g_nextHandle == 0) g_nextHandle = 1;
  g_slots[free] = {module, handle, false, false};
  std::lock_guard<std::mutex> lock(g_positionMutex);
  PositionTrack& track = g_tracks[free];
  track.handle = handle;
  track.playing = false;
  track.playStartFrame = 0;
  track.startPosition = PositionWord(module);
  track.markCount = 0;
  track.markHead = 0;
  return handle;
}

void FreeMusic(uint32_t handle) {
  std::lock_guard<std::mutex> moduleLock(g_moduleMutex);
  int index = FindSlot(handle);
  if (index < 0) return;
  openmpt_module_destroy(g_slots[index].module);
  g_slots[index] = {nullptr, 0, false, false};
  std::lock_guard<std::mutex> lock(g_positionMutex);
  g_tracks[index].handle = 0;
  g_tracks[index].playing = false;
  g_tracks[index].markCount = 0;
}

void PlayMusic(uint32_t handle) { PlayMusicFrom(handle, 0, 0); }

void PlayMusicFrom(uint32_t handle, int order, int row) {
  std::lock_guard<std::mutex> moduleLock(g_moduleMutex);
  int index = FindSlot(handle);
  if (index < 0) return;
  ModuleSlot& slot = g_slots[index];
  openmpt_module_set_position_seconds(slot.module, 0.0);
  if (order != 0 || row != 0) {
    // Samples started before that row sound on from where they stand.
    openmpt_module_ctl_set_text(slot.module, "seek.sync_samples", "1");
    openmpt_module_set_position_order_row(slot.module, order, row);
    if (openmpt_module_get_current_order(slot.module) != order ||
        openmpt_module_get_current_row(slot.module) != row) {
      openmpt_module_set_position_seconds(slot.module, 0.0);
    }
  }
  const uint32_t start = PositionWord(slot.module);
  CatchUpSilentStream();
  slot.playing = true;
  slot.ended = false;
  std::lock_guard<std::mutex> lock(g_positionMutex);
  PositionTrack& track = g_tracks[index];
  track.playing = true;
  track.playStartFrame = g_renderedFrames;
  track.startPosition = start;
  track.markCount = 0;
  track.markHead = 0;
}

uint32_t GetMusicPosition(uint32_t handle) {
  if (handle == 0) return kNoMusicPosition;
  std::lock_guard<std::mutex> lock(g_positionMutex);
  const PositionTrack* track = nullptr;
  for (int i = 0; i < kMaxModules; ++i) {
    if (g_tracks[i].handle == handle) track = &g_tracks[i];
  }
  if (track == nullptr) return kNoMusicPosition;
  if (!track->playing || track->markCount == 0) return track->startPosition;
  int64_t heard = HeardFrame();
  if (heard < track->playStartFrame) return track->startPosition;
  // The chunk that holds the heard frame (the first mark ending after it,
  // by bisection: marks are in stream order); past the last mark (the song
  // has ended, or the renderer is behind) the last mark holds.
  auto markAt = [track](int n) -> const PositionMark& {
    return track->marks[(track->markHead + n) % kMarkCount];
  };
  int low = 0;
  int high = track->markCount - 1;
  if (markAt(high).endFrame <= heard) return markAt(high).position;
  while (low < high) {
    const int middle = (low + high) / 2;
    if (markAt(middle).endFrame > heard) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return markAt(low).position;
}

void ShutdownMusicOutput() {
  if (g_standbyThread.joinable()) {
    g_standbyStop.store(true, std::memory_order_relaxed);
    g_standbyThread.join();
  }
  if (g_reopenThread.joinable()) g_reopenThread.join();
  g_reopening.store(false, std::memory_order_relaxed);
  if (g_deviceState.load(std::memory_order_relaxed) != kNoDevice) CloseAudioDevice();
  {
    // Silences after the first are said here, in one line.
    std::lock_guard<std::mutex> lock(g_positionMutex);
    const int state = g_deviceState.load(std::memory_order_relaxed);
    const bool silentNow = state == kDeviceSilent || state == kDeviceLost;
    if (silentNow && g_silenceCount > 0) g_silenceTotalMicros += NowMicros() - g_silenceSinceMicros;
    if (g_silenceCount > 1) {
      std::fprintf(stderr, "lantern: the music fell silent %d more time%s, %.1f s of silence in all%s\n",
                   g_silenceCount - 1, g_silenceCount == 2 ? "" : "s", g_silenceTotalMicros / 1e6,
                   silentNow ? ", and was silent at the end" : "");
    }
    g_silenceCount = 0;
    g_returnCount = 0;
    g_silenceTotalMicros = 0;
    g_deviceState.store(kNoDevice, std::memory_order_relaxed);
  }
  g_fadeFramesLeft = 0;
  std::lock_guard<std::mutex> moduleLock(g_moduleMutex);
  for (int i = 0; i < kMaxModules; ++i) {
    if (g_slots[i].module != nullptr) openmpt_module_destroy(g_slots[i].module);
    g_slots[i] = {nullptr, 0, false, false};
  }
  std::lock_guard<std::mutex> lock(g_positionMutex);
  for (int i = 0; i < kMaxModules; ++i) {
    g_tracks[i].handle = 0;
    g_tracks[i].playing = false;
    g_tracks[i].markCount = 0;
  }
  g_renderedFrames = 0;
  g_clockRefFrame = 0;
  g_clockRefMicros = 0;
  g_latencyFrames = 0;
  g_extrapolationLimit = 0;
  g_deviceExtrapolationLimit = 0;
  g_lastHeardFrame = 0;
  g_positionLeadMicros.store(0, std::memory_order_relaxed);
  g_clockRunning = false;
  g_outputOpen = false;
  g_deviceResumed = false;
}

void SetMusicPositionLead(int64_t micros) {
  g_positionLeadMicros.store(micros > 0 ? micros : 0, std::memory_order_relaxed);
}

bool MusicOutputIsSilent() { return g_outputOpen && MusicIsSilent(); }
