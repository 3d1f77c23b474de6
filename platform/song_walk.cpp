// The song walk on libopenmpt: a module rendered without a device, its
// position read after every chunk, the song's end latched.
#include "platform/song_walk.h"

#include <libopenmpt/libopenmpt.h>

namespace {

// Sample frames rendered per call when a frame's samples are thrown away.
constexpr int64_t kScratchFrames = 1024;
float g_scratch[kScratchFrames * 2];

}  // namespace

openmpt_module* OpenSongModule(const char* bytes, size_t size) {
  return openmpt_module_create_from_memory2(bytes, size, openmpt_log_func_silent, nullptr,
                                            openmpt_error_func_ignore, nullptr, nullptr, nullptr, nullptr);
}

void CloseSongModule(openmpt_module* module) {
  if (module != nullptr) openmpt_module_destroy(module);
}

void StartSilentSong(SilentSong* song, openmpt_module* module, int sampleRate, bool forSound) {
  song->module = module;
  song->sampleRate = sampleRate;
  song->ended = false;
  song->moved = false;
  song->position = {0, 0};
  if (module == nullptr) return;
  openmpt_module_set_repeat_count(module, 0);
  openmpt_module_ctl_set_text(module, "play.at_end", "stop");
  if (!forSound) openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 1);
  song->position = {openmpt_module_get_current_order(module), openmpt_module_get_current_row(module)};
}

int64_t AdvanceSilentSong(SilentSong* song, int64_t count, float* out) {
  if (out != nullptr) {
    for (int64_t i = 0; i < 2 * count; ++i) out[i] = 0.0f;
  }
  if (count <= 0 || song->ended || song->module == nullptr) return 0;
  int64_t done = 0;
  while (done < count) {
    const int64_t want = out != nullptr ? count - done : (count - done < kScratchFrames ? count - done : kScratchFrames);
    float* target = out != nullptr ? out + 2 * done : g_scratch;
    const size_t got = openmpt_module_read_interleaved_float_stereo(song->module, song->sampleRate,
                                                                    static_cast<size_t>(want), target);
    done += static_cast<int64_t>(got);
    if (static_cast<int64_t>(got) < want) {
      // The last chunk: its position has already wrapped to the restart
      // point, so the last real position stays.
      song->ended = true;
      return done;
    }
  }
  const ShowPosition now = {openmpt_module_get_current_order(song->module),
                            openmpt_module_get_current_row(song->module)};
  // Back at the very start after having moved: the song wrapped exactly at
  // a chunk boundary and is over; the last real position stays.
  if (now.order == 0 && now.row == 0 && song->moved) return done;
  if (now.order != 0 || now.row != 0) song->moved = true;
  song->position = now;
  return done;
}
