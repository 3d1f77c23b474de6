// Offline music rendering for the capture: libopenmpt in float stereo at
// 44100 Hz, rendered in exact sample counts, with the position it reached.
// The song is followed by the skip-ahead's SilentSong, so the frames the
// capture skips and the frames it writes see the same positions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "timeline/skip_ahead.h"
#include "tools/capture/virtual_clock.h"

namespace capture {

class MusicRenderer {
 public:
  MusicRenderer() = default;
  ~MusicRenderer();
  MusicRenderer(const MusicRenderer&) = delete;
  MusicRenderer& operator=(const MusicRenderer&) = delete;

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
  Position position() const { return song_.position; }
  bool ended() const { return song_.ended; }
  double durationSeconds() const { return duration_; }
  // Seconds at which the song reaches a position (the song's length when it
  // never does); used for progress estimates only.
  double SecondsAt(const Position& position);

  // The song as the skip-ahead follows it.
  SilentSong* song() { return &song_; }

 private:
  openmpt_module* module_ = nullptr;
  std::vector<char> bytes_;
  SilentSong song_ = {nullptr, static_cast<int>(kSampleRate), {0, 0}, false, false};
  double duration_ = 0.0;
};

}  // namespace capture
