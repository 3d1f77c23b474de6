// Skipping ahead in the show: frames simulated from the show's start on a
// fixed frame clock, each given the music position of a module walked
// without sound, each drawn through a 1-pixel viewport, so that every
// scene's state is what it would be had the show played to that point.
// Needs a current GL context with the scenes loaded, and the platform's
// song walk; no window, thread or audio device. The live program, the capture tool and
// the web page share it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/song_walk.h"

// The position that ends the show (scene 8 sets g_quit at the first frame
// of order 30 whose row is 63 or more).
constexpr int32_t kShowEndOrder = 30;
constexpr int32_t kShowEndRow = 63;

// True for a position at which the frame drawn ends the show.
inline bool EndsShow(const ShowPosition& p) {
  return p.order == kShowEndOrder && p.row >= kShowEndRow;
}

// "ORDER" or "ORDER:ROW" in decimal, order up to 65535. *rowGiven says
// whether a row was written (it is 0 when not). False, with *position
// unchanged, for anything else.
bool ParseShowPosition(const char* text, ShowPosition* position, bool* rowGiven);

// Frames per second as an exact fraction num / den.
struct FrameRate {
  int64_t num = 60;
  int64_t den = 1;
};

// The rate at which the live program and the web page simulate the show.
constexpr FrameRate kSkipFrameRate = {60, 1};

// Sample rate the skip-ahead walks the music at (the show's own rate, so
// that a walk gives each frame the same position as the capture does).
constexpr int kSkipSampleRate = 44100;

// Samples of music at sampleRate lying before frame k, whose time is
// k / fps: floor(k * sampleRate * den / num). The fraction is carried, so
// the frames never drift from the music.
inline int64_t SamplesBeforeFrame(const FrameRate& rate, int64_t sampleRate, int64_t frame) {
  return frame * sampleRate * rate.den / rate.num;
}

// Whole 14 ms ticks of the live clock in frame k's time:
// floor(k * 1000 * den / (num * 14)).
inline int64_t TicksAtFrame(const FrameRate& rate, int64_t frame) {
  return frame * 1000 * rate.den / (rate.num * 14);
}

// Stores the clock of a simulated frame as the live clock thread would
// have left it: order and row of the music position, and a tick count.
void SetSimulatedClock(const ShowPosition& position, float ticks);

// Frames nobody looks at: a 1-pixel viewport and scissor make them nearly
// free to rasterise while they still change every scene's state. Nothing
// carries between frames in the framebuffer (every scene clears it) and no
// scene sets the viewport or the scissor. EndUnseenFrames restores the
// viewport and scissor state that BeginUnseenFrames found.
void BeginUnseenFrames();
void EndUnseenFrames();

// How a walk towards a position stopped.
enum SkipOutcome {
  kSkipReached,   // the next frame stands at or after the target
  kSkipShowEnds,  // the next frame would end the show (at or before the target)
  kSkipSongEnds,  // the song ended before the target and the end of the show
  kSkipNoMusic,   // the module could not be read or played
};

// Walks the song frame by frame from frame *frame while the position lies
// before target, without drawing; stops at the first frame that would end
// the show, or stands at or after the target, or when the song has ended.
// *frame is then that frame's number and song->position its position.
SkipOutcome WalkSongTo(SilentSong* song, const FrameRate& rate, const ShowPosition& target,
                       int64_t* frame);

// The same walk, drawing every frame it passes with DrawFrame through the
// 1-pixel viewport, the clock set as the live clock would have it (ticks
// counted from baseTicks at frame 0). The frame it stops at is not drawn.
SkipOutcome SkipAheadTo(SilentSong* song, const FrameRate& rate, const ShowPosition& target,
                        float baseTicks, int64_t* frame);

// The whole skip of the live program and the web page, at kSkipFrameRate:
// reads the module file, walks it once to learn whether the target comes
// before the end of the show, and only then draws the show up to it (so a
// target that is never reached leaves every scene untouched). The ticks
// continue from g_ticks. On kSkipReached, *reached is the position the
// music must start from, and g_ticks holds the last frame drawn.
SkipOutcome SkipShowTo(const char* moduleFile, const ShowPosition& target, ShowPosition* reached);

// Why a skip did not reach its target, in words, for one-line messages:
// "the show ends at order 30, row 63, before it or there", and so on.
const char* SkipOutcomeText(SkipOutcome outcome);
