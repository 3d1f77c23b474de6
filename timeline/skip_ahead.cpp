// Skipping ahead in the show: the simulated clock and the frames drawn
// through a 1-pixel viewport, following the platform's song walk.
#include "timeline/skip_ahead.h"

#include <cstdio>
#include <vector>

#include "platform/gl.h"
#include "timeline/clock.h"
#include "timeline/sequencer.h"

namespace {

// What BeginUnseenFrames found, for EndUnseenFrames to put back.
GLint g_savedViewport[4];
GLint g_savedScissor[4];
GLboolean g_savedScissorTest = GL_FALSE;

bool ParseNumber(const char* begin, const char* end, int64_t limit, int32_t* value) {
  if (begin == end || end - begin > 10) return false;
  int64_t v = 0;
  for (const char* c = begin; c != end; ++c) {
    if (*c < '0' || *c > '9') return false;
    v = v * 10 + (*c - '0');
  }
  if (v > limit) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// Reads a whole file into bytes; false when it cannot be read or is empty.
bool ReadFileBytes(const char* fileName, std::vector<char>* bytes) {
  FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) return false;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
  const bool ok = std::ferror(file) == 0 && !bytes->empty();
  std::fclose(file);
  return ok;
}

// The walk shared by WalkSongTo and SkipAheadTo; draws when draw is set.
SkipOutcome Walk(SilentSong* song, const FrameRate& rate, const ShowPosition& target, bool draw,
                 float baseTicks, int64_t* frame) {
  if (song->module == nullptr) return kSkipNoMusic;
  if (draw) BeginUnseenFrames();
  SkipOutcome outcome = kSkipReached;
  for (int64_t k = *frame;; ++k) {
    const ShowPosition now = song->position;
    if (EndsShow(now)) {
      outcome = kSkipShowEnds;
    } else if (target <= now) {
      outcome = kSkipReached;
    } else if (song->ended) {
      outcome = kSkipSongEnds;
    } else {
      if (draw) {
        SetSimulatedClock(now, baseTicks + static_cast<float>(TicksAtFrame(rate, k)));
        DrawFrame();
        // Keep the rasteriser's queue short on frames nobody reads.
        glFlush();
      }
      const int64_t count = SamplesBeforeFrame(rate, song->sampleRate, k + 1) -
                            SamplesBeforeFrame(rate, song->sampleRate, k);
      AdvanceSilentSong(song, count, nullptr);
      continue;
    }
    *frame = k;
    break;
  }
  if (draw) EndUnseenFrames();
  return outcome;
}

}  // namespace

bool ParseShowPosition(const char* text, ShowPosition* position, bool* rowGiven) {
  if (text == nullptr) return false;
  const char* end = text;
  while (*end != '\0') ++end;
  const char* colon = text;
  while (colon != end && *colon != ':') ++colon;
  ShowPosition parsed = {0, 0};
  if (!ParseNumber(text, colon, 65535, &parsed.order)) return false;
  const bool withRow = colon != end;
  if (withRow && !ParseNumber(colon + 1, end, 2147483647, &parsed.row)) return false;
  *position = parsed;
  if (rowGiven != nullptr) *rowGiven = withRow;
  return true;
}

void SetSimulatedClock(const ShowPosition& position, float ticks) {
  g_order.store(position.order, std::memory_order_relaxed);
  g_row.store(position.row, std::memory_order_relaxed);
  g_ticks.store(ticks, std::memory_order_relaxed);
}

void BeginUnseenFrames() {
  glGetIntegerv(GL_VIEWPORT, g_savedViewport);
  glGetIntegerv(GL_SCISSOR_BOX, g_savedScissor);
  g_savedScissorTest = glIsEnabled(GL_SCISSOR_TEST);
  glViewport(0, 0, 1, 1);
  glScissor(0, 0, 1, 1);
  glEnable(GL_SCISSOR_TEST);
}

void EndUnseenFrames() {
  glViewport(g_savedViewport[0], g_savedViewport[1], g_savedViewport[2], g_savedViewport[3]);
  glScissor(g_savedScissor[0], g_savedScissor[1], g_savedScissor[2], g_savedScissor[3]);
  if (g_savedScissorTest) {
    glEnable(GL_SCISSOR_TEST);
  } else {
    glDisable(GL_SCISSOR_TEST);
  }
}

SkipOutcome WalkSongTo(SilentSong* song, const FrameRate& rate, const ShowPosition& target, int64_t* frame) {
  return Walk(song, rate, target, false, 0.0f, frame);
}

SkipOutcome SkipAheadTo(SilentSong* song, const FrameRate& rate, const ShowPosition& target, float baseTicks,
                        int64_t* frame) {
  return Walk(song, rate, target, true, baseTicks, frame);
}

SkipOutcome SkipShowTo(const char* moduleFile, const ShowPosition& target, ShowPosition* reached) {
  std::vector<char> bytes;
  if (!ReadFileBytes(moduleFile, &bytes)) return kSkipNoMusic;

  // First a walk alone: drawing frames towards a target that never comes
  // would leave the scenes in a state the show never has at its start.
  openmpt_module* module = OpenSongModule(bytes.data(), bytes.size());
  if (module == nullptr) return kSkipNoMusic;
  SilentSong song;
  StartSilentSong(&song, module, kSkipSampleRate, false);
  int64_t frame = 0;
  const SkipOutcome walked = WalkSongTo(&song, kSkipFrameRate, target, &frame);
  CloseSongModule(module);
  if (walked != kSkipReached) return walked;

  module = OpenSongModule(bytes.data(), bytes.size());
  if (module == nullptr) return kSkipNoMusic;
  StartSilentSong(&song, module, kSkipSampleRate, false);
  frame = 0;
  const SkipOutcome outcome =
      SkipAheadTo(&song, kSkipFrameRate, target, g_ticks.load(std::memory_order_relaxed), &frame);
  CloseSongModule(module);
  if (outcome == kSkipReached) *reached = song.position;
  return outcome;
}

const char* SkipOutcomeText(SkipOutcome outcome) {
  switch (outcome) {
    case kSkipReached:
      return "reached";
    case kSkipShowEnds:
      return "the show ends at order 30, row 63, before it or there";
    case kSkipSongEnds:
      return "the music ends before it";
    case kSkipNoMusic:
      return "the music cannot be read";
  }
  return "unknown";
}
