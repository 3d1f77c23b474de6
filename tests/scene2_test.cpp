// Scene 2 (orders 4 and 5): flake placement from the generator, the
// first-frame reset, respawns and generator use per frame, and the picture:
// additive sky and flakes, the figure alpha-blended at the lower right.
#include "platform/gl.h"

#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include "common/random.h"
#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "scenes/scene2.h"
#include "scenes/scenes.h"
#include "tests/support/gl_harness.h"
#include "timeline/sequencer.h"

using harness::ReadPixel;
using harness::Rgba;

namespace {

// The generator's sequence written out independently, for expected values.
struct Lcg {
  uint32_t state;
  int Next() {
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state >> 16) & 0x7FFF);
  }
};

std::vector<int> Sequence(uint32_t seed, int count) {
  Lcg lcg{seed};
  std::vector<int> values(count);
  for (int& v : values) v = lcg.Next();
  return values;
}

void Frame(float delta) {
  g_scene = 4;
  g_sceneRow = 0;
  g_frameDelta = delta;
  DrawScene2();
}

class Scene2Test : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    // As the scene's own first frame leaves things.
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    g_s2FirstFrame = 0;
    g_sceneClock = 0.0f;
  }

  void Load(harness::Rgb sky, harness::Rgb flake, harness::Rgb figure) {
    harness::WriteTga("farsky.tga", 256, 256, [=](int, int) { return sky; });
    harness::WriteTga("snowdrop.tga", 64, 64, [=](int, int) { return flake; });
    harness::WriteTga("guy.tga", 256, 256, [=](int, int) { return figure; });
    harness::WriteMask("mask-guy.tga", 256, 256, [](int, int) { return uint8_t{255}; });
    LoadScene2();
  }
};

// --- State -----------------------------------------------------------------

TEST_F(Scene2Test, LoadPlacesFlakesFromSeed300XThenSpeed) {
  harness::ScratchDir dir;
  Load({0, 0, 0}, {0, 0, 0}, {0, 0, 0});
  // By hand: the first two values after srand(300) are 5220 and 27241.
  EXPECT_FLOAT_EQ(g_s2FlakeX[0], 220.0f);
  EXPECT_NEAR(g_s2FlakeSpeed[0], 27241.0 / 32767.0 * 2.0 + 1.0, 1e-5);
  const std::vector<int> seq = Sequence(300, 2 * kSnowFlakes);
  for (int i = 0; i < kSnowFlakes; ++i) {
    ASSERT_FLOAT_EQ(g_s2FlakeX[i], static_cast<float>(seq[2 * i] % 1000)) << i;
    ASSERT_NEAR(g_s2FlakeSpeed[i], seq[2 * i + 1] / 32767.0 * 2.0 + 1.0, 1e-5) << i;
    ASSERT_EQ(g_s2FlakeFall[i], 0.0f) << i;
  }
}

TEST_F(Scene2Test, FirstFrameZeroesTheClockOnceAndSetsAdditiveBlackState) {
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);  // as scene 1 leaves it
  glClearColor(0.043f, 0.15f, 0.42f, 1.0f);
  glDisable(GL_BLEND);
  g_s2FirstFrame = 1;
  g_sceneClock = 777.0f;
  Frame(2.0f);
  EXPECT_EQ(g_s2FirstFrame, 0);
  EXPECT_FLOAT_EQ(g_sceneClock, 6.0f);
  GLfloat clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_EQ(clear[0] + clear[1] + clear[2], 0.0f);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));

  Frame(1.0f);
  EXPECT_FLOAT_EQ(g_sceneClock, 9.0f) << "the second frame does not zero the clock";
  GLint src = 0, dst = 0, mode = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(src, GL_SRC_ALPHA);
  EXPECT_EQ(dst, GL_ONE) << "the figure's blend function is undone at the end of the frame";
  EXPECT_EQ(mode, GL_MODELVIEW);
}

TEST_F(Scene2Test, FlakesRespawnOnlyAbove250AtTheirFixedPlace) {
  const std::vector<int> seq = Sequence(3, 2 * kSnowFlakes);
  for (int i = 0; i < kSnowFlakes; ++i) {
    g_s2FlakeX[i] = 500.0f;
    g_s2FlakeFall[i] = 10.0f;
    g_s2FlakeSpeed[i] = 2.0f;
  }
  g_s2FlakeFall[0] = 250.0f;
  g_s2FlakeFall[1] = 250.5f;
  Frame(3.0f);
  // Exactly 250 still falls one step and drifts by its second number.
  EXPECT_FLOAT_EQ(g_s2FlakeFall[0], 256.0f);
  EXPECT_NEAR(g_s2FlakeX[0], 500.0 + (seq[1] / 32767.0 - 0.3) * 3.0, 1e-3);
  // Above 250 it starts again at the top; its x is its second number mod 1000
  // (8312 after srand(3): the fourth value, 8312 by hand).
  EXPECT_FLOAT_EQ(g_s2FlakeFall[1], 0.0f);
  EXPECT_FLOAT_EQ(g_s2FlakeX[1], 312.0f);
  EXPECT_EQ(seq[3], 8312);
  for (int i = 2; i < kSnowFlakes; ++i) {
    ASSERT_FLOAT_EQ(g_s2FlakeFall[i], 16.0f) << i;
    ASSERT_NEAR(g_s2FlakeX[i], 500.0 + (seq[2 * i + 1] / 32767.0 - 0.3) * 3.0, 1e-3) << i;
  }
  // The next respawn of flake 0 lands on the same x as every respawn of it.
  Frame(1.0f);
  EXPECT_FLOAT_EQ(g_s2FlakeFall[0], 0.0f);
  EXPECT_FLOAT_EQ(g_s2FlakeX[0], static_cast<float>(seq[1] % 1000));
}

TEST_F(Scene2Test, EveryFrameTakesTwoNumbersPerFlakeWhateverTheBranchOrDelta) {
  const std::vector<int> seq = Sequence(3, 2 * kSnowFlakes + 1);
  for (float delta : {0.0f, 1.0f, 5.0f}) {
    for (int i = 0; i < kSnowFlakes; ++i) {
      g_s2FlakeFall[i] = (i % 3 == 0) ? 251.0f : 100.0f;  // a third respawn
      g_s2FlakeX[i] = 40.0f;
      g_s2FlakeSpeed[i] = 1.5f;
    }
    Frame(delta);
    // The next number after the frame is the 1801st after srand(3).
    EXPECT_EQ(lantern::rand(), seq[2 * kSnowFlakes]) << "delta " << delta;
  }
}

TEST_F(Scene2Test, DeltaZeroMovesNothing) {
  for (int i = 0; i < kSnowFlakes; ++i) {
    g_s2FlakeFall[i] = static_cast<float>(i % 250);
    g_s2FlakeX[i] = static_cast<float>(i);
    g_s2FlakeSpeed[i] = 2.5f;
  }
  g_sceneClock = 30.0f;
  Frame(0.0f);
  for (int i = 0; i < kSnowFlakes; ++i) {
    ASSERT_FLOAT_EQ(g_s2FlakeFall[i], static_cast<float>(i % 250)) << i;
    ASSERT_FLOAT_EQ(g_s2FlakeX[i], static_cast<float>(i)) << i;
  }
  EXPECT_FLOAT_EQ(g_sceneClock, 30.0f);
}

// --- Rendering ---------------------------------------------------------------

TEST_F(Scene2Test, FigureFadesInAtTheLowerRightWithTheClock) {
  harness::ScratchDir dir;
  Load({0, 0, 0}, {0, 0, 0}, {240, 120, 60});
  g_sceneClock = 1300.0f;
  Frame(0.0f);
  EXPECT_EQ(ReadPixel(384, 224).r, 240);
  EXPECT_EQ(ReadPixel(639, 479).r, 240);
  EXPECT_EQ(ReadPixel(383, 300).r, 0);
  EXPECT_EQ(ReadPixel(500, 223).r, 0);
  g_sceneClock = 650.0f;
  Frame(0.0f);
  EXPECT_NEAR(ReadPixel(500, 400).r, 120, 2);
  g_sceneClock = 0.0f;
  Frame(0.0f);
  EXPECT_EQ(ReadPixel(500, 400).r, 0);
}

TEST_F(Scene2Test, FlakesAreAddedToTheSky) {
  harness::ScratchDir dir;
  for (int i = 0; i < kSnowFlakes; ++i) g_s2FlakeFall[i] = 0.0f;
  Load({100, 100, 100}, {0, 0, 0}, {0, 0, 0});
  Frame(0.0f);
  const std::vector<Rgba> skyOnly = harness::ReadFrame();
  EXPECT_EQ(ReadPixel(320, 240).g, 100) << "the sky fills the middle of the view";

  Load({100, 100, 100}, {255, 255, 255}, {0, 0, 0});
  for (int i = 0; i < kSnowFlakes; ++i) g_s2FlakeFall[i] = 100.0f + (i % 100);
  Frame(0.0f);
  const std::vector<Rgba> withFlakes = harness::ReadFrame();
  // Over the sky every flake adds 0.05 * 255 (about 13); blending over it
  // would add only 0.05 * (255 - 100) (about 8). No pixel gets darker.
  std::map<int, int> steps;
  for (size_t n = 0; n < skyOnly.size(); ++n) {
    if (skyOnly[n].g != 100) continue;
    const int diff = withFlakes[n].g - skyOnly[n].g;
    ASSERT_GE(diff, 0);
    if (diff > 0) ++steps[diff];
  }
  ASSERT_FALSE(steps.empty()) << "no flake over the sky";
  int mostCommon = 0, count = 0;
  for (const auto& [diff, n] : steps) {
    if (n > count) {
      count = n;
      mostCommon = diff;
    }
  }
  EXPECT_NEAR(mostCommon, 13, 1);
}

TEST_F(Scene2Test, SkyDriftsWithTheSceneClock) {
  harness::ScratchDir dir;
  harness::WriteTga("farsky.tga", 256, 256, [](int x, int) { return harness::Rgb{static_cast<uint8_t>(x), 0, 0}; });
  harness::WriteTga("snowdrop.tga", 64, 64, [](int, int) { return harness::Rgb{0, 0, 0}; });
  harness::WriteTga("guy.tga", 256, 256, [](int, int) { return harness::Rgb{0, 0, 0}; });
  harness::WriteMask("mask-guy.tga", 256, 256, [](int, int) { return uint8_t{0}; });
  LoadScene2();
  g_sceneClock = 600.0f;
  Frame(0.0f);
  const int before = ReadPixel(320, 240).r;
  g_sceneClock = 600.0f + 1500.0f;  // a quarter of the texture along s
  Frame(0.0f);
  EXPECT_NEAR(std::abs(ReadPixel(320, 240).r - before), 64, 6);
  g_sceneClock = 600.0f + 6000.0f;  // one whole texture
  Frame(0.0f);
  EXPECT_NEAR(ReadPixel(320, 240).r, before, 2);
}

}  // namespace
