// Offline music rendering for the capture (libopenmpt, float, 44100 Hz).
#include "tools/capture/music.h"

#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace capture {

namespace {

openmpt_module* CreateModule(const std::vector<char>& bytes, std::string* why) {
  int error = 0;
  const char* message = nullptr;
  openmpt_module* module =
      openmpt_module_create_from_memory2(bytes.data(), bytes.size(), openmpt_log_func_silent, nullptr,
                                         openmpt_error_func_ignore, nullptr, &error, &message, nullptr);
  if (module == nullptr && why != nullptr) {
    *why = message != nullptr && message[0] != '\0' ? message : "not a module libopenmpt can play";
  }
  if (message != nullptr) openmpt_free_string(message);
  return module;
}

}  // namespace

MusicRenderer::~MusicRenderer() {
  if (module_ != nullptr) openmpt_module_destroy(module_);
}

bool MusicRenderer::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::string why;
  module_ = CreateModule(bytes_, &why);
  if (module_ == nullptr) {
    *error = path + ": " + why;
    return false;
  }
  // Exactly the song, no fade-out, played once.
  StartSilentSong(&song_, module_, static_cast<int>(kSampleRate), true);
  duration_ = openmpt_module_get_duration_seconds(module_);
  return true;
}

int64_t MusicRenderer::Render(int64_t count, std::vector<float>* out) {
  out->resize(static_cast<size_t>(count) * 2);
  return AdvanceSilentSong(&song_, count, out->data());
}

void MusicRenderer::RenderRest(std::vector<float>* out) {
  if (song_.ended) return;
  std::vector<float> chunk(4096 * 2);
  for (;;) {
    const size_t got = openmpt_module_read_interleaved_float_stereo(module_, static_cast<int32_t>(kSampleRate), 4096,
                                                                    chunk.data());
    out->insert(out->end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got * 2));
    if (got < 4096) break;
  }
  song_.ended = true;
}

double MusicRenderer::SecondsAt(const Position& position) {
  openmpt_module* probe = CreateModule(bytes_, nullptr);
  if (probe == nullptr) return duration_;
  const int32_t row = std::min(position.row, 255);
  const double seconds = openmpt_module_set_position_order_row(probe, position.order, row);
  const bool there = openmpt_module_get_current_order(probe) == position.order;
  openmpt_module_destroy(probe);
  return there && seconds > 0.0 ? seconds : duration_;
}

}  // namespace capture
