// Development aid, off unless LANTERN_DUMP_FRAMES names an output folder:
// plays the show from order 8 to its end with the real data through
// DrawFrame on a simulated clock and writes PNGs of scenes 5 to 8 to look at.
// LANTERN_DUMP_DATA may name another data folder than the build's.
#include "platform/gl.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <utility>

#include "render/render_state.h"
#include "tests/support/gl_harness.h"
#include "timeline/clock.h"
#include "timeline/sequencer.h"

namespace {

class ScenesFramesDump : public harness::GlTest {};

TEST_F(ScenesFramesDump, WritesFramesOfScenes5To8) {
  const char* out = std::getenv("LANTERN_DUMP_FRAMES");
  if (out == nullptr) GTEST_SKIP() << "set LANTERN_DUMP_FRAMES to a folder to write frames";
  const char* dataEnv = std::getenv("LANTERN_DUMP_DATA");
  const std::string data = dataEnv != nullptr ? dataEnv : LANTERN_DATA_DIR;
  const std::string outDir = std::filesystem::absolute(out).string();
  std::filesystem::create_directories(outDir);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(data);

  g_startMusicHook = [] {};
  InitRenderState();
  LoadAllScenes();

  // Rows of 6 ticks of 20 ms are 120 ms: 8.57 clock ticks of 14 ms. Frames
  // come every 2 ticks, so every row gets about four frames.
  const std::set<int> dumpRows = {0, 5, 12, 20, 31, 40, 52, 62, 63};
  const double ticksPerRow = 120.0 / 14.0;
  double ticks = 8 * 64 * ticksPerRow;
  g_prevTicks = static_cast<float>(static_cast<int>(ticks));
  int lastDumped = -1;
  int frames = 0;
  bool running = true;
  while (running) {
    const int position = static_cast<int>(ticks / ticksPerRow);
    const int order = position / 64;
    const int row = position % 64;
    if (order > 30) break;
    g_order.store(order);
    g_row.store(row);
    g_ticks.store(static_cast<float>(static_cast<int>(ticks)));
    running = DrawFrame();
    ++frames;
    if (order >= 12 && position != lastDumped && dumpRows.count(row) != 0) {
      lastDumped = position;
      char name[64];
      std::snprintf(name, sizeof name, "/o%02d-r%02d.png", order, row);
      harness::WriteFramePng(outDir + name);
    }
    ticks += 2.0;
  }
  std::filesystem::current_path(previous);
  EXPECT_FALSE(running) << "the show should end itself at order 30, row 63";
  std::printf("%d frames drawn\n", frames);
}

}  // namespace
