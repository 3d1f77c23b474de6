// Offline music rendering for the capture: libopenmpt in float stereo at
// 44100 Hz, rendered in exact sample counts, with the position it reached.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/capture/virtual_clock.h"

namespace openmpt {
class module;
}

namespace capture {

class MusicRenderer {
 public:
  MusicRenderer();
  ~MusicRenderer();

  // Loads the module; false with a message in *error when it cannot be read.
  bool Load(const std::string& path, std::string* error);

  // Renders `count` sample frames (interleaved stereo) into *out, resized to
  // 2 * count; once the song has ended the rest is silence. Returns the
  // frames the song itself supplied.
  int64_t Render(int64_t count, std::vector<float>* out);

  // Renders whatever is left of the song, appended to *out.
  void RenderRest(std::vector<float>* out);

  // The position the music has reached: after the end, the last real
  // position (the player already reports 0/0 on its last short chunk).
  Position position() const { return position_; }
  bool ended() const { return ended_; }
  double durationSeconds() const { return duration_; }
  // Seconds at which the song reaches a position (the song's length when it
  // never does); used for progress estimates only.
  double SecondsAt(const Position& position);

 private:
  std::unique_ptr<openmpt::module> module_;
  std::vector<char> bytes_;
  Position position_;
  bool seenMotion_ = false;
  bool ended_ = false;
  double duration_ = 0.0;
};

}  // namespace capture
