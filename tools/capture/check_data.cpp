// The data checker: the show's loaders over a data set, the meshes' faces
// against their own vertex counts, and a silent walk of the music in 1 ms
// steps to the end of the show.
#include "tools/capture/check_data.h"

#include <libopenmpt/libopenmpt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/data_report.h"
#include "platform/music_player.h"
#include "render/render_state.h"
#include "resources/mesh_loader.h"
#include "timeline/sequencer.h"
#include "timeline/skip_ahead.h"

namespace capture {

namespace {

const char* const kModuleFile = "TRK-MAIN.mo3";

// The walk's step: 1 ms, far below a frame, at a sample rate that keeps
// the walk of a whole song well under a second.
constexpr FrameRate kStep = {1000, 1};
constexpr int kWalkSampleRate = 8000;

// A position that ends the show and then moves on within less than this is
// missed by a live show drawing fewer than 30 frames a second.
constexpr int64_t kShortestEndMs = 34;

void NoMusic() {}

// Faces whose corners name vertices the file does not hold (at or above its
// own vertex count, below the capacity the loader enforces): the show draws
// them through whatever those elements hold.
void CheckMeshFaces(const char* name, const Mesh& mesh) {
  int beyond = 0;
  for (int i = 0; i < mesh.faceCount; ++i) {
    const MeshFace& f = mesh.faces[i];
    if (f.a >= mesh.vertexCount || f.b >= mesh.vertexCount || f.c >= mesh.vertexCount) ++beyond;
  }
  if (beyond > 0) {
    ReportDataFinding("mesh \"%s\" has %d faces naming vertices beyond its own %d", name, beyond,
                      mesh.vertexCount);
  }
}

// Why a module never stands at the end, from its order list.
std::string MissedEndReason(openmpt_module* module, bool visitedEndOrder) {
  const int orders = openmpt_module_get_num_orders(module);
  char text[160];
  if (orders <= kShowEndOrder) {
    std::snprintf(text, sizeof text, "its song has only %d orders", orders);
    return text;
  }
  const int pattern = openmpt_module_get_order_pattern(module, kShowEndOrder);
  const int rows = openmpt_module_get_pattern_num_rows(module, pattern);
  if (rows <= kShowEndRow) {
    std::snprintf(text, sizeof text, "its order 30 has only %d rows", rows);
    return text;
  }
  if (!visitedEndOrder) return "a jump or the song's end passes order 30 by";
  return "it leaves order 30 before row 63 (a pattern break or jump)";
}

void WalkMusic(MusicWalk* walk) {
  std::ifstream in(kModuleFile, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  openmpt_module* module =
      openmpt_module_create_from_memory2(bytes.data(), bytes.size(), openmpt_log_func_silent, nullptr,
                                         openmpt_error_func_ignore, nullptr, nullptr, nullptr, nullptr);
  if (module == nullptr) return;  // the loader has said why
  walk->playable = true;
  SilentSong song;
  StartSilentSong(&song, module, kWalkSampleRate, false);
  walk->songSeconds = openmpt_module_get_duration_seconds(module);

  int64_t endStart = -1;
  int64_t endStop = -1;
  bool visitedEndOrder = false;
  int64_t k = 0;
  for (;; ++k) {
    const ShowPosition now = song.position;
    if (now.order == kShowEndOrder) visitedEndOrder = true;
    if (EndsShow(now)) {
      if (endStart < 0) endStart = k;
    } else if (endStart >= 0) {
      endStop = k;
      break;
    }
    if (song.ended) break;
    AdvanceSilentSong(&song, SamplesBeforeFrame(kStep, kWalkSampleRate, k + 1) -
                                 SamplesBeforeFrame(kStep, kWalkSampleRate, k), nullptr);
  }
  const ShowPosition last = song.position;
  if (endStart < 0) {
    ReportDataFinding(
        "music \"%s\" never stands at order 30, row 63, where the show ends: %s; the song ends at "
        "order %d, row %d after %.1f s, and the show would then run on, silent, until Escape",
        kModuleFile, MissedEndReason(module, visitedEndOrder).c_str(), static_cast<int>(last.order),
        static_cast<int>(last.row), static_cast<double>(k) / 1000.0);
  } else {
    walk->endsShow = true;
    walk->endSeconds = static_cast<double>(endStart) / 1000.0;
    // The player holds the song's last position once it has ended, so only
    // an end that the song moves on from can be missed.
    if (endStop >= 0 && endStop - endStart < kShortestEndMs) {
      ReportDataFinding(
          "music \"%s\" stands at order 30, row 63 for only %lld ms before it moves on; a live show "
          "drawing fewer than %d frames a second can miss the end and run on",
          kModuleFile, static_cast<long long>(endStop - endStart),
          static_cast<int>((1000 + endStop - endStart - 1) / (endStop - endStart)));
    }
  }
  openmpt_module_destroy(module);
}

}  // namespace

int CheckDataSet(MusicWalk* walk) {
  g_dataFindings = 0;
  InitRenderState();
  void (*savedStart)() = g_startMusicHook;
  g_startMusicHook = NoMusic;
  LoadAllScenes();
  g_startMusicHook = savedStart;
  CheckMeshFaces("chel.3d", g_chelMesh);
  CheckMeshFaces("zavod.3d", g_zavodMesh);

  // The module as the show loads it (its findings are the show's), then the walk.
  const int before = g_dataFindings;
  const uint32_t handle = LoadMusicFile(kModuleFile);
  FreeMusic(handle);
  if (g_dataFindings == before) WalkMusic(walk);
  return g_dataFindings;
}

}  // namespace capture
