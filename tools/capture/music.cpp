// Offline music rendering for the capture (libopenmpt, float, 44100 Hz).
#include "tools/capture/music.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <libopenmpt/libopenmpt.hpp>

namespace capture {

MusicRenderer::MusicRenderer() = default;
MusicRenderer::~MusicRenderer() = default;

bool MusicRenderer::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  try {
    module_ = std::make_unique<openmpt::module>(bytes_.data(), bytes_.size());
    // Exactly the song, no fade-out; play it once.
    module_->ctl_set_text("play.at_end", "stop");
    module_->set_repeat_count(0);
    duration_ = module_->get_duration_seconds();
  } catch (const std::exception& e) {
    *error = path + ": " + e.what();
    module_.reset();
    return false;
  }
  position_ = Position{module_->get_current_order(), module_->get_current_row()};
  return true;
}

int64_t MusicRenderer::Render(int64_t count, std::vector<float>* out) {
  out->assign(static_cast<size_t>(count) * 2, 0.0f);
  if (count == 0 || ended_) return 0;
  const size_t got =
      module_->read_interleaved_stereo(static_cast<int32_t>(kSampleRate), static_cast<size_t>(count), out->data());
  if (static_cast<int64_t>(got) < count) {
    // The last chunk: its position has already wrapped to the restart
    // point, so the last real position stays latched.
    ended_ = true;
    return static_cast<int64_t>(got);
  }
  const Position now{module_->get_current_order(), module_->get_current_row()};
  if (now.order == 0 && now.row == 0 && seenMotion_) {
    // Wrapped exactly at a chunk boundary: the song is over, keep the latch.
    return static_cast<int64_t>(got);
  }
  if (now.order != 0 || now.row != 0) seenMotion_ = true;
  position_ = now;
  return static_cast<int64_t>(got);
}

void MusicRenderer::RenderRest(std::vector<float>* out) {
  if (ended_) return;
  std::vector<float> chunk(4096 * 2);
  for (;;) {
    const size_t got = module_->read_interleaved_stereo(static_cast<int32_t>(kSampleRate), 4096, chunk.data());
    out->insert(out->end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got * 2));
    if (got < 4096) break;
  }
  ended_ = true;
}

double MusicRenderer::SecondsAt(const Position& position) {
  try {
    openmpt::module probe(bytes_.data(), bytes_.size());
    const int32_t row = std::min(position.row, 255);
    const double seconds = probe.set_position_order_row(position.order, row);
    if (probe.get_current_order() == position.order && seconds > 0.0) return seconds;
  } catch (const std::exception&) {
  }
  return duration_;
}

}  // namespace capture
