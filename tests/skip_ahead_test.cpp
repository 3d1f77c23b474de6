// Starting the live show at a music position (LANTERN_FROM): the show is
// simulated behind the loading screen up to the first frame at that
// position, leaving every scene exactly as the capture tool has it at the
// same frame; the music and the clock go on from there; a position that the
// music never reaches before the show ends, or a value that is no position,
// starts the show from its beginning with every scene untouched.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <libopenmpt/libopenmpt.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/shared_state.h"
#include "platform/gl.h"
#include "platform/music_player.h"
#include "render/render_state.h"
#include "shell/main_loop.h"
#include "tests/support/gl_harness.h"
#include "tests/support/test_module.h"
#include "tests/support/text_lines.h"
#include "timeline/clock.h"
#include "timeline/sequencer.h"
#include "timeline/skip_ahead.h"

namespace fs = std::filesystem;

namespace {

using harness::Lines;

void NoMusic() {}

// The frame at which a walk of a song (the show's by default) at the
// skip's rate first stands at or after target, and the position there.
int64_t FirstFrameAt(const ShowPosition& target, ShowPosition* position,
                     const std::string& path = std::string(LANTERN_DATA_DIR) + "/TRK-MAIN.mo3") {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  openmpt_module* module = openmpt_module_create_from_memory2(bytes.data(), bytes.size(), nullptr, nullptr,
                                                              nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_NE(module, nullptr);
  if (module == nullptr) return -1;
  SilentSong song;
  StartSilentSong(&song, module, kSkipSampleRate, false);
  int64_t frame = 0;
  EXPECT_EQ(WalkSongTo(&song, kSkipFrameRate, target, &frame), kSkipReached);
  *position = song.position;
  openmpt_module_destroy(module);
  return frame;
}

// An upright RGB PNG as written by the capture tool.
std::vector<uint8_t> ReadPngRgb(const std::string& path, int* width, int* height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint8_t> rgb;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return rgb;
  image.format = PNG_FORMAT_RGB;
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  rgb.resize(PNG_IMAGE_SIZE(image));
  png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr);
  return rgb;
}

class SkipAheadTest : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    // No audio device here, whatever the machine has: the silent player.
    setenv("SDL_AUDIODRIVER", "lantern-no-such-driver", 1);
    for (const auto& entry : fs::directory_iterator(LANTERN_DATA_DIR)) {
      fs::create_symlink(entry.path(), entry.path().filename());
    }
    g_running.store(1);
    // The window's start-up up to the music: loading screen, every scene's load.
    InitRenderState();
    void (*saved)() = g_startMusicHook;
    g_startMusicHook = NoMusic;
    LoadAllScenes();
    g_startMusicHook = saved;
  }
  void TearDown() override {
    StopClockThread();
    g_running.store(1);
    ShutdownMusicOutput();
    g_music.store(0);
    g_startFrom = {0, 0};
    unsetenv("SDL_AUDIODRIVER");
  }
  // The music start with g_startFrom set; its stderr but for the silent-player line.
  std::string Start() {
    harness::StderrCapture capture;
    StartMusic();
    std::string kept;
    for (const std::string& line : Lines(capture.Text())) {
      if (line.find("no audio device") == std::string::npos) kept += line + "\n";
    }
    return kept;
  }
  harness::ScratchDir dir_;
};

// LANTERN_FROM=12: the music and the clock start at order 12, row 0; the
// ticks go on from the last simulated frame; and the first live frame,
// drawn at the frame the skip stopped at, is byte for byte the capture's
// frame of the same number (the capture simulates the show its own way from
// its start).
TEST_F(SkipAheadTest, StartAtOrder12IsTheCapturesFrameAndTheMusicGoesOnFromThere) {
  g_startFrom = {12, 0};
  EXPECT_EQ(Start(), "");
  // The clock thread's first pass read the music at its start position (an
  // order lasts 7.68 s, so it still stands in order 12).
  EXPECT_EQ(g_order.load(), 12);
  EXPECT_EQ(static_cast<int>(GetMusicPosition(g_music.load()) & 0xFFFF), 12);
  EXPECT_EQ(g_startFrom.order, 12) << "kept for F1";

  // The frames before were simulated, the last of them at frame - 1, in
  // order 11; the clock thread counts on from its ticks.
  ShowPosition reached{};
  const int64_t frame = FirstFrameAt({12, 0}, &reached);
  ASSERT_GT(frame, 60 * 90);  // order 12 begins after about 92 s
  EXPECT_EQ(reached.order, 12);
  EXPECT_EQ(reached.row, 0);
  EXPECT_EQ(g_prevTicks, static_cast<float>(TicksAtFrame(kSkipFrameRate, frame - 1)));
  EXPECT_EQ(g_scene, 11);
  EXPECT_GE(g_ticks.load(), g_prevTicks + 1.0f);

  // The music plays on from there in real time.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const uint32_t later = GetMusicPosition(g_music.load());
  const int laterIndex = static_cast<int>(later & 0xFFFF) * 64 + static_cast<int>(later >> 16);
  EXPECT_GE(laterIndex, 12 * 64 + 1);
  EXPECT_LE(laterIndex, 13 * 64 + 63);

  // The first live frame, drawn on the capture's clock for that frame.
  StopClockThread();
  SetSimulatedClock(reached, static_cast<float>(TicksAtFrame(kSkipFrameRate, frame)));
  ASSERT_TRUE(DrawFrame());
  const std::vector<harness::Rgba> live = harness::ReadFrame();

  harness::ScratchDir out;
  const std::string command = std::string(LANTERN_BUILD_DIR) + "/lantern-capture --quiet --data " +
                              LANTERN_DATA_DIR + " --fps 60 --from 12 --to 12:0 --out " + out.path();
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%06lld.png", static_cast<long long>(frame));
  int width = 0;
  int height = 0;
  const std::vector<uint8_t> captured = ReadPngRgb(out.path() + name, &width, &height);
  ASSERT_EQ(width, 640) << "no capture frame " << name;
  ASSERT_EQ(height, 480);
  int differing = 0;
  for (size_t i = 0; i < live.size(); ++i) {
    if (live[i].r != captured[3 * i] || live[i].g != captured[3 * i + 1] || live[i].b != captured[3 * i + 2]) {
      ++differing;
    }
  }
  EXPECT_EQ(differing, 0) << "pixels differ from the capture's frame " << frame;
}

// Positions the music never stands at before the show ends: one line each,
// the show starts from its beginning, and no frame was simulated (so every
// scene is as the program starts it). Then one that a short song reaches.
TEST_F(SkipAheadTest, UnreachedPositionsStartFromTheBeginningUntouched) {
  g_startFrom = {30, 63};  // the end itself
  std::vector<std::string> lines = Lines(Start());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "lantern: cannot start the show at order 30, row 63: the show ends at order 30, row 63, before it or "
            "there; it starts from the beginning");
  StopClockThread();
  g_running.store(1);
  g_startFrom = {31, 0};
  lines = Lines(Start());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("at order 31, row 0: the show ends"), std::string::npos) << lines[0];
  EXPECT_EQ(g_startFrom.order, 0);
  EXPECT_EQ(g_order.load(), 0);
  EXPECT_EQ(g_scene, 0);
  EXPECT_EQ(g_prevTicks, 0.0f);
  EXPECT_EQ(g_sceneClock, 0.0f);

  // A song of 12 orders ends before order 20.
  StopClockThread();
  g_running.store(1);
  fs::remove("TRK-MAIN.mo3");
  ASSERT_TRUE(testmodule::WriteFile("TRK-MAIN.mo3", testmodule::SilentXm(12, 16, 1, 255)));
  g_startFrom = {20, 0};
  lines = Lines(Start());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("order 20, row 0: the music ends before it"), std::string::npos) << lines[0];
  EXPECT_EQ(g_order.load(), 0);
  EXPECT_EQ(g_prevTicks, 0.0f);

  // A position that short song reaches (after 0.16 s): a few frames are
  // simulated, the last of them in order 0, their ticks counted on from
  // those the clock thread had counted (as after F1).
  StopClockThread();
  g_running.store(1);
  const float base = g_ticks.load();
  g_startFrom = {1, 0};
  EXPECT_EQ(Start(), "");
  ShowPosition reached{};
  const int64_t frame = FirstFrameAt({1, 0}, &reached, "TRK-MAIN.mo3");
  EXPECT_GT(frame, 5);
  EXPECT_EQ(reached.order, 1);
  EXPECT_EQ(g_scene, 0);
  EXPECT_EQ(g_prevTicks, base + static_cast<float>(TicksAtFrame(kSkipFrameRate, frame - 1)));
}

// LANTERN_FROM's values: ORDER or ORDER:ROW; anything else gets one line
// naming it and leaves the show at its beginning.
TEST(StartPosition, LanternFromIsReadOrRefusedInOneLine) {
  struct Case {
    const char* value;
    ShowPosition expected;
    bool refused;
  };
  const Case cases[] = {{"12", {12, 0}, false},     {"20:16", {20, 16}, false}, {"0", {0, 0}, false},
                        {"", {0, 0}, false},         {"12:", {0, 0}, true},     {":5", {0, 0}, true},
                        {"-3", {0, 0}, true},        {"twelve", {0, 0}, true},  {"70000", {0, 0}, true},
                        {"12:5:1", {0, 0}, true}};
  for (const Case& c : cases) {
    setenv("LANTERN_FROM", c.value, 1);
    g_startFrom = {9, 9};
    harness::StderrCapture capture;
    ReadStartPositionFromEnvironment();
    const std::vector<std::string> lines = Lines(capture.Text());
    EXPECT_EQ(g_startFrom.order, c.expected.order) << c.value;
    EXPECT_EQ(g_startFrom.row, c.expected.row) << c.value;
    ASSERT_EQ(lines.size(), c.refused ? 1u : 0u) << c.value;
    if (c.refused) {
      EXPECT_NE(lines[0].find(std::string("LANTERN_FROM=\"") + c.value + "\""), std::string::npos) << lines[0];
      EXPECT_NE(lines[0].find("starts from the beginning"), std::string::npos) << lines[0];
    }
  }
  unsetenv("LANTERN_FROM");
  ReadStartPositionFromEnvironment();
  EXPECT_EQ(g_startFrom.order, 0);
  g_startFrom = {0, 0};
}

}  // namespace
