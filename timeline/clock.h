// The music clock: the music start sequence and the clock thread that
// samples the playing position every 14 ms.
#pragma once

#include <atomic>
#include <cstdint>

#include "timeline/skip_ahead.h"

// The clock thread runs while this is not 0. Written by the main thread.
extern std::atomic<int32_t> g_running;
// Handle of the loaded module (0: none). Written by the main thread (music start).
extern std::atomic<uint32_t> g_music;
// Low 16 bits of the last position read: the order. Written by the clock thread.
extern std::atomic<int32_t> g_order;
// Last position read shifted right by 16, sign kept: the row. Written by the clock thread.
extern std::atomic<int32_t> g_row;
// Passes of the clock loop (one per 14 ms), never reset. Written by the clock thread.
extern std::atomic<float> g_ticks;

// Where StartMusic starts the show: {0, 0} from its beginning, or a later
// order and row (LANTERN_FROM) up to which the show is first simulated,
// behind the loading screen. Main thread only.
extern ShowPosition g_startFrom;

// Milliseconds the clock thread sleeps per pass (one tick).
constexpr int kTickMilliseconds = 14;

// Audio initialisation, loading and playing "TRK-MAIN.mo3" from its
// beginning, then StartClockThread. Repeated at every window creation.
// With g_startFrom after the beginning, the show is first simulated up to
// it (SkipShowTo) and the music plays from the position reached; when the
// music never stands there before the show ends, one stderr line says so,
// g_startFrom goes back to the beginning and the show starts there.
void StartMusic();

// Starts the clock thread; a repeated start leaves exactly one thread writing.
void StartClockThread();

// One pass of the clock: read the heard position, store order and row,
// count one more tick.
void ClockPass();

// The clock thread's loop: until g_running is 0, one ClockPass, then a
// 14 ms sleep.
void ClockThread();

// Clears g_running and waits for the clock thread to end (at exit, so that
// nothing outlives main; and in tests).
void StopClockThread();

// How long the last frame took from its start to its swap (microseconds).
// The position the clock publishes is taken that much ahead, and more, so
// that the picture shows what is heard when it reaches the screen: a frame
// appears, on average, half a tick after the clock's last pass (the pass it
// reads is half a tick old), half a frame later (it starts at some moment
// of the frame before) and one frame later again (its own drawing).
// Main thread, once per presented frame.
void NoteFrameDuration(int64_t micros);

// Clock threads now running: 0 or 1. On a platform without threads, 1 from
// the first StartClockThread until StopClockThread: the platform's 14 ms
// timer then calls ClockPass while g_running is not 0.
int ClockThreadsRunning();
