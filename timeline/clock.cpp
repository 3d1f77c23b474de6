// The music clock: the music start sequence, and the clock thread that
// publishes the heard order, row and a tick count every 14 ms.
#include "timeline/clock.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/music_player.h"
#include "platform/system.h"

std::atomic<int32_t> g_running{1};
std::atomic<uint32_t> g_music{0};
std::atomic<int32_t> g_order{0};
std::atomic<int32_t> g_row{0};
std::atomic<float> g_ticks{0.0f};
ShowPosition g_startFrom = {0, 0};

namespace {

std::thread g_clockThread;
// Asks the current clock thread to end so that a new one can take over.
std::atomic<bool> g_clockHandOver{false};
// Set by the clock thread once it has published its first position (or ended);
// release/acquire so that the starter then sees that position.
std::atomic<bool> g_clockSettled{false};
// Clock threads between entry and exit (for checks: never more than one).
std::atomic<int> g_clockThreadsAlive{0};

void JoinClockThread() {
  if (!g_clockThread.joinable()) return;
  g_clockHandOver.store(true, std::memory_order_relaxed);
  g_clockThread.join();
  g_clockHandOver.store(false, std::memory_order_relaxed);
}

}  // namespace

void StartMusic() {
  InitMusicOutput(kMusicSampleRate);
  StartMusicOutput();
  FreeMusic(g_music.load(std::memory_order_relaxed));
  ShowPosition from = {0, 0};
  if (ShowPosition{0, 0} < g_startFrom) {
    // The simulated frames set the clock themselves: the clock thread of
    // an earlier start must not write it meanwhile.
    JoinClockThread();
    const SkipOutcome outcome = SkipShowTo("TRK-MAIN.mo3", g_startFrom, &from);
    if (outcome != kSkipReached) {
      std::fprintf(stderr, "lantern: cannot start the show at order %d, row %d: %s; it starts from the beginning\n",
                   static_cast<int>(g_startFrom.order), static_cast<int>(g_startFrom.row),
                   SkipOutcomeText(outcome));
      g_startFrom = {0, 0};
      from = {0, 0};
    }
  }
  g_music.store(LoadMusicFile("TRK-MAIN.mo3"), std::memory_order_relaxed);
  PlayMusicFrom(g_music.load(std::memory_order_relaxed), from.order, from.row);
  StartClockThread();
}

void ClockPass() {
  uint32_t position = GetMusicPosition(g_music.load(std::memory_order_relaxed));
  g_order.store(static_cast<int32_t>(position & 0xFFFFu), std::memory_order_relaxed);
  g_row.store(static_cast<int32_t>(position) >> 16, std::memory_order_relaxed);
  g_ticks.store(g_ticks.load(std::memory_order_relaxed) + 1.0f, std::memory_order_relaxed);
}

void ClockThread() {
  // Named so that the one clock thread can be told apart from outside.
  NameCurrentThread("lantern-clock");
  g_clockThreadsAlive.fetch_add(1, std::memory_order_relaxed);
  for (;;) {
    if (g_running.load(std::memory_order_relaxed) == 0 ||
        g_clockHandOver.load(std::memory_order_relaxed)) {
      break;
    }
    ClockPass();
    g_clockSettled.store(true, std::memory_order_release);
    std::this_thread::sleep_for(std::chrono::milliseconds(kTickMilliseconds));
  }
  g_clockThreadsAlive.fetch_sub(1, std::memory_order_relaxed);
  g_clockSettled.store(true, std::memory_order_release);
}

// A repeated start replaces the running thread: the old one is told to end
// and joined (at most one pass) before the new one starts, so the clock
// fields never have two writers. Returns once the new thread has published
// its first position, so that the first frame after a (re)start never sees
// the position of a module that was just freed.
void StartClockThread() {
  JoinClockThread();
  if (!kPlatformHasThreads) {
    // No threads here: the first pass is made now, and the platform's 14 ms
    // timer makes the others while this clock counts as running.
    ClockPass();
    g_clockThreadsAlive.store(1, std::memory_order_relaxed);
    return;
  }
  g_clockSettled.store(false, std::memory_order_relaxed);
  g_clockThread = std::thread(ClockThread);
  while (!g_clockSettled.load(std::memory_order_acquire)) std::this_thread::yield();
}

void StopClockThread() {
  g_running.store(0, std::memory_order_relaxed);
  JoinClockThread();
  if (!kPlatformHasThreads) g_clockThreadsAlive.store(0, std::memory_order_relaxed);
}

void NoteFrameDuration(int64_t micros) {
  // A frame longer than 100 ms is a stall (a first frame's uploads, a
  // starved machine), not the time frames take to reach the screen: the
  // position heard never goes back, so counting it would keep the show
  // that far ahead.
  if (micros > 100000) micros = 100000;
  // Smoothed over about 16 frames: one slow frame does not move the lead.
  static int64_t smoothed = -1;
  smoothed = smoothed < 0 ? micros : smoothed + (micros - smoothed) / 16;
  SetMusicPositionLead(kTickMilliseconds * 1000 / 2 + smoothed * 3 / 2);
}

int ClockThreadsRunning() { return g_clockThreadsAlive.load(std::memory_order_relaxed); }
