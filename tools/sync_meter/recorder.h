// Records a show as it is seen and heard: the sound server's monitor of the
// sink the show plays into (PulseAudio's protocol), the position-code strip
// read off the X screen every 2 ms, and calibration markers (an inaudible
// tone burst on a second stream of the same sink, and a patch flipped on
// screen when the server reports the burst playing).
#pragma once

#include <string>

#include "tools/sync_meter/recording.h"

namespace syncmeter {

struct RecordOptions {
  std::string source = "@DEFAULT_MONITOR@";  // the monitor to record
  std::string sink;                          // marker stream's sink ("" = default)
  int rate = 48000;
  double seconds = 60.0;
  bool markers = true;
};

// Records for options.seconds on DISPLAY and the server PULSE_SERVER names
// (or the default one); false with why when either cannot be reached.
bool Record(const RecordOptions& options, Recording* recording, std::string* why);

}  // namespace syncmeter
