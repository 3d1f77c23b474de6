// Timeline tests: the clock thread's tick rate, stop and single writer; the
// music start sequence with a tiny module; DrawFrame's snapshot, frame
// delta, dispatch by order and end flag.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/music_player.h"
#include "scenes/scenes.h"
#include "tests/support/gl_harness.h"
#include "tests/support/test_module.h"
#include "timeline/clock.h"
#include "timeline/sequencer.h"

namespace {

using std::chrono::milliseconds;

void Sleep(int ms) { std::this_thread::sleep_for(milliseconds(ms)); }

float Ticks() { return g_ticks.load(); }

// Waits up to timeoutMs for the clock's order to become `order`.
bool WaitForOrder(int order, int timeoutMs) {
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    if (g_order.load() == order) return true;
    Sleep(5);
  }
  return g_order.load() == order;
}

class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_running.store(1);
    g_music.store(0);
  }
  void TearDown() override {
    StopClockThread();
    g_running.store(1);
  }
};

TEST_F(ClockTest, UnknownMusicGivesOrder65535AndRowMinusOne) {
  g_music.store(0);
  StartClockThread();
  // StartClockThread returns once the first position is published.
  EXPECT_EQ(g_order.load(), 65535);
  EXPECT_EQ(g_row.load(), -1);
}

TEST_F(ClockTest, AboutOneTickPer14MillisecondsAndASecondStartLeavesOneWriter) {
  StartClockThread();
  float before = Ticks();
  Sleep(560);
  float counted = Ticks() - before;
  // 40 passes at most; fewer when sleeps stretch on a busy machine (two
  // parallel tests and a fuzzer on two cores halved the count at times).
  EXPECT_LE(counted, 41.0f);
  EXPECT_GE(counted, 10.0f);

  StartClockThread();  // as after an F1
  EXPECT_EQ(ClockThreadsRunning(), 1);
  before = Ticks();
  Sleep(560);
  counted = Ticks() - before;
  EXPECT_LE(counted, 41.0f);  // two writers would count about 80
  EXPECT_GE(counted, 10.0f);
  EXPECT_EQ(ClockThreadsRunning(), 1);
}

TEST_F(ClockTest, StopsWithinAPassOnceRunningIsClearedAndCanStartAgain) {
  StartClockThread();
  Sleep(50);
  auto cleared = std::chrono::steady_clock::now();
  g_running.store(0);
  while (ClockThreadsRunning() != 0 &&
         std::chrono::steady_clock::now() - cleared < milliseconds(500)) {
    std::this_thread::yield();
  }
  auto stopped = std::chrono::steady_clock::now() - cleared;
  EXPECT_EQ(ClockThreadsRunning(), 0);
  // One pass (14 ms), with room for a starved thread; a loop that missed
  // the flag would run to the 500 ms limit.
  EXPECT_LT(stopped, milliseconds(14 + 150));
  float frozen = Ticks();
  Sleep(60);
  EXPECT_EQ(Ticks(), frozen);

  // A later start (with g_running set again) counts on from where it was.
  g_running.store(1);
  StartClockThread();
  auto restarted = std::chrono::steady_clock::now();
  while (Ticks() <= frozen + 2.0f &&
         std::chrono::steady_clock::now() - restarted < milliseconds(2000)) {
    Sleep(5);
  }
  EXPECT_GT(Ticks(), frozen + 2.0f);
  EXPECT_EQ(ClockThreadsRunning(), 1);
}

// The start sequence against "TRK-MAIN.mo3" in a scratch directory, with no
// audio device: three orders of 16 rows, 30 ms a row.
class MusicStartTest : public ClockTest {
 protected:
  void SetUp() override {
    ClockTest::SetUp();
    setenv("SDL_AUDIODRIVER", "lantern-no-such-driver", 1);
  }
  void TearDown() override {
    ClockTest::TearDown();
    ShutdownMusicOutput();
    g_music.store(0);
    unsetenv("SDL_AUDIODRIVER");
  }
  harness::ScratchDir scratch_;
};

TEST_F(MusicStartTest, ClockFollowsTheMusicAndARestartBeginsAgainWithOneWriter) {
  ASSERT_TRUE(testmodule::WriteFile("TRK-MAIN.mo3", testmodule::SilentXm(3, 16, 3, 250)));
  StartMusic();
  uint32_t first = g_music.load();
  ASSERT_NE(first, 0u);
  EXPECT_LE(g_order.load(), 0);
  ASSERT_TRUE(WaitForOrder(1, 1500));
  EXPECT_GE(g_row.load(), 0);
  EXPECT_LT(g_row.load(), 16);
  float ticks = Ticks();

  StartMusic();  // F1: the whole sequence again
  EXPECT_NE(g_music.load(), first);
  EXPECT_EQ(GetMusicPosition(first), kNoMusicPosition);  // the old module is freed
  EXPECT_EQ(ClockThreadsRunning(), 1);
  EXPECT_EQ(g_order.load(), 0);  // back at the start, not the old position
  EXPECT_GE(Ticks(), ticks);     // ticks are never reset

  // The song ends at order 2, row 15, and the clock stays there.
  ASSERT_TRUE(WaitForOrder(2, 2000));
  Sleep(900);
  EXPECT_EQ(g_order.load(), 2);
  EXPECT_EQ(g_row.load(), 15);
}

TEST_F(MusicStartTest, MissingModuleLeavesTheShowRunningOnTheFailedPosition) {
  StartMusic();
  EXPECT_EQ(g_music.load(), 0u);
  EXPECT_EQ(g_order.load(), 65535);
  EXPECT_EQ(g_row.load(), -1);
  EXPECT_EQ(SceneForOrder(g_order.load()), 8);
}

// ---- DrawFrame -------------------------------------------------------------

int g_drawnScene = 0;
int g_drawCount = 0;
int g_quitAtScene = 0;  // the recorder sets g_quit when this scene is drawn

template <int N>
void RecordScene() {
  g_drawnScene = N;
  ++g_drawCount;
  if (g_quitAtScene == N) g_quit = 1;
}

class DrawFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    void (*recorders[kSceneCount])() = {RecordScene<1>, RecordScene<2>, RecordScene<3>,
                                        RecordScene<4>, RecordScene<5>, RecordScene<6>,
                                        RecordScene<7>, RecordScene<8>};
    for (int i = 0; i < kSceneCount; ++i) {
      saved_[i] = g_sceneDraw[i];
      g_sceneDraw[i] = recorders[i];
    }
    g_drawnScene = g_drawCount = g_quitAtScene = 0;
    g_quit = 0;
    g_prevTicks = 0.0f;
    g_ticks.store(0.0f);
    g_order.store(0);
    g_row.store(0);
  }
  void TearDown() override {
    for (int i = 0; i < kSceneCount; ++i) g_sceneDraw[i] = saved_[i];
    g_quit = 0;
  }
  void (*saved_[kSceneCount])();
};

TEST_F(DrawFrameTest, DispatchesByOrderComparedAsASignedNumber) {
  struct {
    int order;
    int scene;
  } cases[] = {{0, 1},  {3, 1},  {4, 2},  {5, 2},  {6, 3},  {7, 3},   {8, 4},     {11, 4},
               {12, 5}, {15, 5}, {16, 6}, {19, 6}, {20, 7}, {21, 7},  {22, 8},    {30, 8},
               {40, 8}, {65535, 8}, {-1, 1}};
  for (const auto& c : cases) {
    g_order.store(c.order);
    g_row.store(17);
    g_drawCount = 0;
    EXPECT_TRUE(DrawFrame());
    EXPECT_EQ(g_drawCount, 1) << "order " << c.order;
    EXPECT_EQ(g_drawnScene, c.scene) << "order " << c.order;
    EXPECT_EQ(g_scene, c.order);
    EXPECT_EQ(g_sceneRow, 17);
  }
}

TEST_F(DrawFrameTest, FrameDeltaIsTheTicksSinceThePreviousFrame) {
  g_ticks.store(10.0f);
  DrawFrame();
  EXPECT_EQ(g_frameDelta, 10.0f);  // the first frame counts from 0
  DrawFrame();
  EXPECT_EQ(g_frameDelta, 0.0f);   // same tick: nothing moves
  g_ticks.store(13.0f);
  DrawFrame();
  EXPECT_EQ(g_frameDelta, 3.0f);
  EXPECT_EQ(g_prevTicks, 13.0f);
}

TEST_F(DrawFrameTest, EndFlagSetDuringTheDrawEndsTheShowAfterThatFrame) {
  g_quitAtScene = 8;
  g_order.store(21);
  EXPECT_TRUE(DrawFrame());
  g_order.store(22);
  EXPECT_FALSE(DrawFrame());
  EXPECT_EQ(g_drawCount, 2);  // the last frame is still drawn
  g_order.store(0);
  EXPECT_FALSE(DrawFrame());  // and the flag stays set
}

// The real last scene ends the show at order 30, row 63, and no earlier.
class ShowEndTest : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    g_quit = 0;
    g_ticks.store(0.0f);
    g_prevTicks = 0.0f;
  }
  void TearDown() override { g_quit = 0; }
  harness::ScratchDir scratch_;
};

TEST_F(ShowEndTest, EndsAtOrder30Row63NotAt30_62Or29_63) {
  LoadScene8();
  struct {
    int order;
    int row;
    bool goesOn;
  } frames[] = {{22, 0, true}, {29, 63, true}, {30, 0, true}, {30, 62, true}, {30, 63, false}};
  for (const auto& f : frames) {
    g_order.store(f.order);
    g_row.store(f.row);
    g_ticks.store(g_ticks.load() + 1.0f);
    EXPECT_EQ(DrawFrame(), f.goesOn) << f.order << ":" << f.row;
  }
}

TEST_F(ShowEndTest, LoadAllScenesStartsTheMusicOnceAfterTheScenes) {
  static int starts = 0;
  starts = 0;
  void (*saved)() = g_startMusicHook;
  g_startMusicHook = [] { ++starts; };
  LoadAllScenes();
  g_startMusicHook = saved;
  EXPECT_EQ(starts, 1);
}

}  // namespace
