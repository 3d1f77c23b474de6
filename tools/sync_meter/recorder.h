// Records a show as it is seen and heard: the sound server's monitor of the
// sink the show plays into (PulseAudio's protocol), the position-code strip
// read off the X screen every 2 ms, and calibration markers (an inaudible
// tone burst on a second stream of the same sink, and a patch flipped on
// screen when the server reports the burst playing). The sound goes on
// being recorded across a suspended sink and a server that goes away and
// comes back.
#pragma once

#include <string>
#include <vector>

#include "tools/sync_meter/recording.h"

namespace syncmeter {

struct RecordOptions {
  // The monitors to record, mixed into one recording (a stream moved from
  // one sink to another is heard on both); the first one dates the sound.
  std::vector<std::string> sources = {"@DEFAULT_MONITOR@"};
  std::string sink;                          // marker stream's sink ("" = default)
  int rate = 48000;
  double seconds = 60.0;
  // When to begin (CLOCK_MONOTONIC nanoseconds; 0: at once): nothing is
  // read or played before, so that the meter can be started ahead of a
  // moment it must not disturb.
  int64_t beginNanos = 0;
  bool markers = true;
};

// Records for options.seconds on DISPLAY and the server PULSE_SERVER names
// (or the default one); false with why when either cannot be reached at
// the start. A server lost later is reached again as soon as it answers;
// the time without it is recorded as silence.
bool Record(const RecordOptions& options, Recording* recording, std::string* why);

}  // namespace syncmeter
