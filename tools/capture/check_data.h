// The data checker (lantern-capture --check-data): a data set loaded with
// the show's own loaders, and its music walked to the end of the show.
#pragma once

#include <string>

namespace capture {

// What the check of the music found.
struct MusicWalk {
  bool playable = false;     // libopenmpt plays the module
  bool endsShow = false;     // the song stands at order 30, row 63 or later in that order
  double endSeconds = 0.0;   // when it first does
  double songSeconds = 0.0;  // the song's length, played once
};

// Checks the data set in the working directory, with a GL context current:
// the loading screen and every scene's pictures, masks and meshes through
// the show's loaders, then the module. Every finding is one stderr line,
// the same the show prints, plus the checker's own: mesh faces naming
// vertices the file does not hold, a module that never stands at order 30,
// row 63 (or stands there for less than a frame at 30 frames a second
// before moving on). Returns the number of findings; *walk says what the
// music walk found.
int CheckDataSet(MusicWalk* walk);

}  // namespace capture
