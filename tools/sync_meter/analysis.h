// The sync meter's analysis: where in the song the recorded sound stands
// (block by block, against the song rendered offline), the gaps in it, the
// chain's own bias from the markers, and the picture's offset from the
// sound at every change of the position code; the same figures over a
// window after an event (a device that stopped and came back), and when
// the music was heard again after it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/sync_meter/recording.h"

namespace syncmeter {

// The song as heard at the recording's rate, and the frame at which each
// (order, row) first sounds.
struct Reference {
  int rate = 48000;
  std::vector<float> mono;
  std::map<std::pair<int, int>, int64_t> rowStart;
};

bool RenderReference(const std::string& moduleFile, int rate, Reference* reference, std::string* why);

// Quantiles of a series: median and the 10 % and 90 % points.
struct Spread {
  int count = 0;
  double median = 0.0;
  double low = 0.0;
  double high = 0.0;
};

struct Report {
  // Picture minus sound at each change of the shown position, ms, with the
  // chain's bias taken off.
  Spread offset;
  std::vector<double> offsets;
  std::vector<int64_t> offsetNanos;  // when each was seen
  // The chain: how much later the recorder dates a picture than a sound
  // that happened at the same moment, ms (taken off the offsets).
  Spread bias;
  Spread soundDating;    // recorded sound's date minus when it played, ms
  Spread pictureDating;  // recorded picture's date minus when it was drawn, ms
  // The music.
  double recordedSeconds = 0.0;
  double soundingSeconds = 0.0;  // blocks with sound in them
  double matchedSeconds = 0.0;   // of those, found in the song
  int gaps = 0;
  double longestGapMs = 0.0;
  double insertedMs = 0.0;  // silence or repeats heard that the song does not have
  double lostMs = 0.0;      // song skipped over
  double firstSongSecond = -1.0;  // where in the song the recorded music starts
  double lastSongSecond = -1.0;
  // The markers' band between bursts (the song's share of it), relative
  // to a burst: the loudest over the recording, dB.
  double markerFloorDb = 0.0;

  // After an event (Window): seconds from it to the first sound heard that
  // is the song (0 when the music never stopped, -1 when none came), and
  // from then to the window's end the offsets, the gaps, and the song heard
  // nowhere (missing: where the song sounds, at the place the music stands
  // in it, and the recording is silent).
  bool windowed = false;
  double eventRecordedSeconds = 0.0;  // the recording's first frame, from the event (< 0: before it)
  double eventSinkSeconds = -1.0;     // the first stretch of sound begun after the event, from it
  double eventHeardSeconds = -1.0;
  Spread windowOffset;
  int windowGaps = 0;
  double windowLongestGapMs = 0.0;
  double windowInsertedMs = 0.0;
  double windowLostMs = 0.0;
  double windowMissingMs = 0.0;
};

// An event on the recorder's clock (CLOCK_MONOTONIC nanoseconds) and the
// seconds after it that the window figures cover.
struct Window {
  int64_t eventNanos = 0;
  double seconds = 0.0;  // 0: no window
};

// songFrom: the song position the show starts at (seconds), where the
// recorded music is looked for first. details, when given, gets one line
// per gap and per marker.
bool Analyse(const Recording& recording, const Reference& reference, double songFrom, const Window& window,
             Report* report, std::string* why, FILE* details = nullptr);

// The song time (seconds) at which (order, row) first sounds, -1 when the
// song never plays it.
double RowSeconds(const Reference& reference, int order, int row);

// Human-readable lines, and key=value lines for scripts.
std::string FormatReport(const Report& report);
std::string FormatKeys(const Report& report);

}  // namespace syncmeter
