// What the sync meter records while a build of the show plays: the sound
// server's mix as heard (the sink's monitor), the position code shown on
// screen, and its own calibration markers, all dated on one clock
// (CLOCK_MONOTONIC, nanoseconds). Written to and read from a folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace syncmeter {

// A timing report of the recorded stream: the moment it stands for, how far
// the sound being heard then lay past the last frame written into the
// stream (microseconds; below 0 for a monitor whose sink renders ahead) and
// how many frames had been written by then.
struct AudioTiming {
  int64_t nanos;
  int64_t latencyMicros;
  int64_t framesRead;
};

// A timing report of the marker stream: the moment it stands for and the
// stream time the sink was playing then (microseconds).
struct MarkerTiming {
  int64_t nanos;
  int64_t playedMicros;
};

// The screen showed a new value: a position code (order, row) or, for the
// marker patch, its colour (order = 0 or 1, row = -1).
struct ScreenEvent {
  int64_t nanos;
  int order;
  int row;
};

// A marker: the burst that starts at frame firstFrame of the marker stream
// and the patch flipped for it (patch: the colour it was given; flipNanos:
// when the server had drawn it).
struct Marker {
  int index;
  int64_t firstFrame;
  int patch;
  int64_t flipNanos;
};

struct Recording {
  int rate = 48000;                  // frames per second of both streams
  std::vector<float> mono;           // the monitor, left and right averaged
  std::vector<AudioTiming> audioTiming;
  std::vector<MarkerTiming> markerTiming;
  std::vector<ScreenEvent> codes;    // position-code changes
  std::vector<ScreenEvent> patches;  // marker-patch changes
  std::vector<Marker> markers;
  int64_t startNanos = 0;            // the recording's first read
  // When each stretch of the first monitor without a hole began to sound
  // (a sink back from suspension, a new server's sink rendering at last).
  std::vector<int64_t> segmentNanos;
  int64_t grabs = 0;                 // screen reads made
  int64_t overflows = 0;             // recorded frames the server dropped
  int64_t markerUnderruns = 0;       // times the marker stream ran dry
};

// The marker bursts: a faded tone burst near the top of the sink's band.
// At 48 kHz and above it lies above the band of music played at 44.1 kHz
// (nothing of it survives above 22.05 kHz); at 44.1 kHz it lies just below
// that edge, where the song has almost nothing (its level there is
// measured, MarkerFloor in the analysis). Twice the frequency folds to a
// multiple of 100 Hz, which the 10 ms smoothing of the detector cancels.
constexpr double MarkerHz(int rate) { return rate >= 47000 ? 23000.0 : rate * 49 / 100 / 50 * 50; }
constexpr int kMarkerBurstMillis = 10;
constexpr int kMarkerPeriodMillis = 500;
constexpr float kMarkerLevel = 0.25f;

// Writes the recording into dir (created if missing); false with why.
bool WriteRecording(const Recording& recording, const std::string& dir, std::string* why);
// Reads it back.
bool ReadRecording(const std::string& dir, Recording* recording, std::string* why);

}  // namespace syncmeter
