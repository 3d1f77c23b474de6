// Scene 3 (orders 6 and 7): streak set-up from the generator, the streak
// reset, generator use, the state left for scene 4, and the picture: the
// full-screen image with each streak added over it at its place.
#include "platform/gl.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "common/random.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/texture_loader.h"
#include "scenes/scene3.h"
#include "scenes/scenes.h"
#include "tests/support/gl_harness.h"
#include "timeline/sequencer.h"

using harness::ReadPixel;
using harness::Rgba;

namespace {

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

void Frame(int order, float delta) {
  g_scene = order;
  g_sceneRow = 0;
  g_frameDelta = delta;
  DrawScene3();
}

class Scene3Test : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    // As scene 2 leaves it.
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  }

  // The picture (coded or flat grey 100) and the rain streak (white, with
  // the given mask value) in slot 26, where scene 5 puts it.
  void Load(bool coded, uint8_t rainAlpha) {
    if (coded) {
      harness::WriteCodedTga("rainb.tga", 640, 480, 3);
    } else {
      harness::WriteTga("rainb.tga", 640, 480, [](int, int) { return harness::Rgb{100, 100, 100}; });
    }
    harness::WriteTga("rain.tga", 16, 256, [](int, int) { return harness::Rgb{255, 255, 255}; });
    harness::WriteMask("mask-rain.tga", 16, 256, [=](int, int) { return rainAlpha; });
    LoadTexture(1, "rain.tga", 16, 256, 26);
    LoadScene3();
  }
};

// --- State -----------------------------------------------------------------

TEST_F(Scene3Test, LoadSpreadsFallsAndSpeedsFromSeed301) {
  harness::ScratchDir dir;
  Load(false, 0);
  // By hand: 22058 and 11531 are the first two values after srand(301).
  EXPECT_NEAR(g_s3DropFall[0], 22058.0 / 32767.0 * 250.0, 1e-3);
  EXPECT_NEAR(g_s3DropSpeed[0], 11531.0 / 32767.0 * 4.0 + 3.0, 1e-5);
  const std::vector<int> seq = Sequence(301, 2 * kRainStreaks);
  for (int i = 0; i < kRainStreaks; ++i) {
    ASSERT_NEAR(g_s3DropFall[i], seq[2 * i] / 32767.0 * 250.0, 1e-3) << i;
    ASSERT_NEAR(g_s3DropSpeed[i], seq[2 * i + 1] / 32767.0 * 4.0 + 3.0, 1e-5) << i;
  }
}

TEST_F(Scene3Test, StreaksRestartOnlyAbove250AndDeltaZeroMovesNone) {
  for (int i = 0; i < kRainStreaks; ++i) {
    g_s3DropFall[i] = 20.0f;
    g_s3DropSpeed[i] = 4.0f;
  }
  g_s3DropFall[0] = 250.0f;
  g_s3DropFall[1] = 250.25f;
  Frame(6, 2.0f);
  EXPECT_FLOAT_EQ(g_s3DropFall[0], 258.0f);
  EXPECT_FLOAT_EQ(g_s3DropFall[1], 0.0f);
  EXPECT_FLOAT_EQ(g_s3DropFall[2], 28.0f);
  EXPECT_FLOAT_EQ(g_s3DropFall[799], 28.0f);

  Frame(7, 0.0f);
  EXPECT_FLOAT_EQ(g_s3DropFall[0], 0.0f) << "above 250 restarts even without a tick";
  EXPECT_FLOAT_EQ(g_s3DropFall[1], 0.0f);
  EXPECT_FLOAT_EQ(g_s3DropFall[2], 28.0f);
}

TEST_F(Scene3Test, EachFrameTakesTwoNumbersPerStreakAfterSeed3) {
  const std::vector<int> seq = Sequence(3, 2 * kRainStreaks + 1);
  for (int i = 0; i < kRainStreaks; ++i) g_s3DropFall[i] = (i % 2) ? 300.0f : 5.0f;
  Frame(6, 1.0f);
  EXPECT_EQ(lantern::rand(), seq[2 * kRainStreaks]);
}

TEST_F(Scene3Test, LeavesAdditiveBlendingAndAnIdentityTextureMatrix) {
  Frame(6, 1.0f);
  GLint src = 0, dst = 0, mode = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(src, GL_SRC_ALPHA);
  EXPECT_EQ(dst, GL_ONE);
  EXPECT_EQ(mode, GL_TEXTURE);
  GLfloat m[16];
  glGetFloatv(GL_TEXTURE_MATRIX, m);
  for (int n = 0; n < 16; ++n) EXPECT_EQ(m[n], (n % 5 == 0) ? 1.0f : 0.0f) << n;
}

// --- Rendering ---------------------------------------------------------------

TEST_F(Scene3Test, PictureFillsTheWholeFrame) {
  harness::ScratchDir dir;
  Load(true, 0);  // invisible rain
  Frame(6, 0.0f);
  const Rgba a = ReadPixel(0, 0), b = ReadPixel(639, 479), c = ReadPixel(320, 240);
  EXPECT_EQ(a.r, 112);
  EXPECT_EQ(b.r, 112);
  EXPECT_LE(a.g, 1);
  EXPECT_GE(a.b, 254) << "the picture's last row at the top";
  EXPECT_GE(b.g, 254);
  EXPECT_LE(b.b, 1);
  EXPECT_NEAR(c.g, 128, 2);
  EXPECT_NEAR(c.b, 127, 2);
}

// Picks a near streak (large on screen) standing clearly off the centre
// line, leaves only it in view, and finds it where the camera (eye at
// z -250 looking along +z, so world +x is screen left) puts it.
TEST_F(Scene3Test, EachStreakIsAddedOverThePictureAtItsPlace) {
  harness::ScratchDir dir;
  Load(false, 255);
  const std::vector<int> seq = Sequence(3, 2 * kRainStreaks);
  int chosen = -1;
  double screenX = 0.0;
  for (int i = 0; i < kRainStreaks && chosen < 0; ++i) {
    const double depth = seq[2 * i] % 350;  // z0 + 250
    const double centreX = seq[2 * i + 1] % 1200 - 650 + 0.75;
    if (depth < 15 || depth > 80) continue;
    const double x = 320.0 * (1.0 - centreX / depth);
    if (x > 30 && x < 610 && std::abs(x - 320.0) > 60) {
      chosen = i;
      screenX = x;
    }
  }
  ASSERT_GE(chosen, 0);
  for (int i = 0; i < kRainStreaks; ++i) g_s3DropFall[i] = 1.0e6f;  // far below the view
  g_s3DropFall[chosen] = 140.0f;  // spans y -40 to 40: across the middle
  Frame(6, 0.0f);

  const int x = static_cast<int>(std::lround(screenX));
  // Grey 100 plus 0.3 * 0.6 of white: about 146 (blending would darken it to 86).
  EXPECT_NEAR(ReadPixel(x, 240).g, 146, 3) << "streak " << chosen << " at x " << x;
  EXPECT_NEAR(ReadPixel(x, 230).g, 146, 3);
  EXPECT_EQ(ReadPixel(x + 20, 240).g, 100);
  EXPECT_EQ(ReadPixel(x - 20, 240).g, 100);
  EXPECT_EQ(ReadPixel(640 - x, 240).g, 100) << "not mirrored";
  EXPECT_EQ(ReadPixel(x, 5).g, 100) << "80 units high, not the whole screen";
}

}  // namespace
