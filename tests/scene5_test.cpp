// Scene 5, the bus in the rain: its state through sequences of frames and
// its picture on the offscreen context with synthetic textures.
#include "platform/gl.h"

#include <cmath>
#include <cstdint>
#include <filesystem>

#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/texture_loader.h"
#include "scenes/scene5.h"
#include "scenes/scenes.h"
#include "tests/support/gl_harness.h"
#include "timeline/sequencer.h"

using harness::ReadPixel;
using harness::Rgb;
using harness::Rgba;

namespace {

// Resets the GL state a scene may rely on to what the render set-up leaves.
void StartingGlState() {
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glClearColor(0, 0, 0, 1);
}

void Frame(int order, int row, float delta) {
  g_scene = order;
  g_sceneRow = row;
  g_frameDelta = delta;
  DrawScene5();
}

// Puts the scene at its very first frame (the flag as at program start).
void FreshScene() {
  g_s5FirstFrame = 1;
  g_s5BusSpeed = 0.0f;
}

// Where a world point lands on the screen (y down) with the camera the
// last frame left on the model-view stack.
struct ScreenPoint {
  int x;
  int y;
};
ScreenPoint Project(double x, double y, double z) {
  GLdouble model[16];
  GLdouble proj[16];
  GLint view[4];
  glGetDoublev(GL_MODELVIEW_MATRIX, model);
  glGetDoublev(GL_PROJECTION_MATRIX, proj);
  glGetIntegerv(GL_VIEWPORT, view);
  GLdouble sx = 0, sy = 0, sz = 0;
  gluProject(x, y, z, model, proj, view, &sx, &sy, &sz);
  return {static_cast<int>(std::lround(sx)), 479 - static_cast<int>(std::lround(sy))};
}

Rgba PixelAt(double x, double y, double z) {
  const ScreenPoint p = Project(x, y, z);
  EXPECT_TRUE(p.x >= 0 && p.x < 640 && p.y >= 0 && p.y < 480) << "off screen: " << x << "," << y;
  return ReadPixel(p.x, p.y);
}

void SolidPicture(const char* name, int w, int h, Rgb colour) {
  harness::WriteTga(name, w, h, [&](int, int) { return colour; });
}
void SolidMask(const char* name, int w, int h, uint8_t alpha) {
  harness::WriteMask(name, w, h, [&](int, int) { return alpha; });
}

// The same linear congruential sequence as the show's generator, written
// out here so the test does not lean on the code under test.
struct Lcg {
  uint32_t state;
  int Next() {
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state >> 16) & 0x7FFF);
  }
};

// ---------------------------------------------------------------------------
// State through frames (rendering to the offscreen context, not looked at).

class Scene5StateTest : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    StartingGlState();
    harness::SetSceneProjection();
  }
};

TEST_F(Scene5StateTest, FirstFrameZeroesTheClockAndStartsAtSpeedThreeOnlyOnce) {
  FreshScene();
  g_sceneClock = 777.0f;
  Frame(12, 40, 2.0f);
  EXPECT_EQ(g_s5FirstFrame, 0);
  EXPECT_FLOAT_EQ(g_s5BusSpeed, 3.0f);
  EXPECT_FLOAT_EQ(g_sceneClock, 6.0f);  // from 0, by 3 per tick
  GLint src = 0, dst = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  // The rain leaves additive blending and depth testing on for what follows.
  EXPECT_EQ(src, GL_SRC_ALPHA);
  EXPECT_EQ(dst, GL_ONE);
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));

  // A later frame neither zeroes the clock nor restores the speed.
  g_s5BusSpeed = 1.5f;
  g_sceneClock = 100.0f;
  Frame(12, 1, 2.0f);
  EXPECT_FLOAT_EQ(g_s5BusSpeed, 1.5f);
  EXPECT_FLOAT_EQ(g_sceneClock, 103.0f);
}

TEST_F(Scene5StateTest, BusSpeedScheduleHasInclusiveBoundsAndMovesTheClock) {
  struct Case {
    int order;
    int row;
    float changePerTick;
  };
  const Case cases[] = {
      {12, 20, 0.0f},    {13, 14, 0.0f},   {13, 15, -0.03f}, {13, 22, -0.03f},
      {13, 30, -0.03f},  {13, 31, 0.0f},   {13, 49, 0.0f},   {13, 50, 0.025f},
      {13, 63, 0.025f},  {14, 0, 0.03f},   {14, 9, 0.03f},   {14, 10, 0.0f},
      {14, 50, 0.0f},    {15, 5, 0.0f},    {15, 63, 0.0f},
  };
  FreshScene();
  Frame(12, 0, 0.0f);  // the first frame: speed 3
  for (const Case& c : cases) {
    for (float delta : {1.0f, 3.0f}) {
      g_s5BusSpeed = 2.0f;
      g_sceneClock = 50.0f;
      Frame(c.order, c.row, delta);
      const float speed = 2.0f + c.changePerTick * delta;
      EXPECT_NEAR(g_s5BusSpeed, speed, 1e-5) << c.order << ":" << c.row << " x" << delta;
      // The clock advances with the speed after this frame's change.
      EXPECT_NEAR(g_sceneClock, 50.0f + speed * delta, 1e-4) << c.order << ":" << c.row;
    }
  }
}

TEST_F(Scene5StateTest, SlowingForLongerThanAHundredTicksBacksTheBusUp) {
  FreshScene();
  Frame(12, 0, 0.0f);
  for (int row = 15; row <= 30; ++row) Frame(13, row, 7.0f);  // 112 ticks of slowing
  EXPECT_NEAR(g_s5BusSpeed, 3.0f - 0.03f * 112, 1e-4);
  EXPECT_LT(g_s5BusSpeed, 0.0f);
  const float before = g_sceneClock;
  Frame(13, 40, 1.0f);
  EXPECT_LT(g_sceneClock, before);
}

TEST_F(Scene5StateTest, CloudsDriftByTheirRateAndAZeroDeltaMovesNothing) {
  FreshScene();
  Frame(12, 0, 0.0f);
  g_s5CloudScroll = 0.5f;
  Frame(12, 40, 5.0f);
  EXPECT_NEAR(g_s5CloudScroll, 0.501f, 1e-6);

  const float clock = g_sceneClock;
  const float speed = g_s5BusSpeed;
  g_s5DropFall[0] = 10.0f;
  g_img700Grow = 3.0f;
  g_img700Alpha = 0.2f;
  Frame(13, 20, 0.0f);  // in the slowing rows
  Frame(12, 5, 0.0f);   // in the rows of the growing image
  EXPECT_FLOAT_EQ(g_sceneClock, clock);
  EXPECT_FLOAT_EQ(g_s5BusSpeed, speed);
  EXPECT_FLOAT_EQ(g_s5CloudScroll, 0.501f);
  EXPECT_FLOAT_EQ(g_s5DropFall[0], 10.0f);
  EXPECT_FLOAT_EQ(g_img700Grow, 3.0f);
  EXPECT_FLOAT_EQ(g_img700Alpha, 0.2f);
}

TEST_F(Scene5StateTest, DropsAdvanceUpToAFallOf250AndRestartAboveIt) {
  FreshScene();
  Frame(12, 40, 0.0f);
  for (int i = 0; i < kS5Drops; ++i) {
    g_s5DropFall[i] = 100.0f;
    g_s5DropSpeed[i] = 4.0f;
  }
  g_s5DropFall[1] = 250.0f;    // exactly at the limit: still advances
  g_s5DropFall[2] = 250.25f;   // past it: restarts without advancing
  g_s5DropSpeed[3] = 5.5f;
  Frame(12, 41, 2.0f);
  EXPECT_FLOAT_EQ(g_s5DropFall[0], 108.0f);
  EXPECT_FLOAT_EQ(g_s5DropFall[1], 258.0f);
  EXPECT_FLOAT_EQ(g_s5DropFall[2], 0.0f);
  EXPECT_FLOAT_EQ(g_s5DropFall[3], 111.0f);
  EXPECT_FLOAT_EQ(g_s5DropFall[799], 108.0f);
  // The next frame restarts the one that went past, even with no ticks.
  Frame(12, 42, 0.0f);
  EXPECT_FLOAT_EQ(g_s5DropFall[1], 0.0f);
  EXPECT_FLOAT_EQ(g_s5DropFall[0], 108.0f);
}

TEST_F(Scene5StateTest, LoadSeedsTheDropsWithTheFixedSequenceEveryTime) {
  harness::ScratchDir dir;  // no pictures: only the drops matter here
  harness::StderrCapture quiet;
  LoadScene5();
  Lcg lcg{300};
  for (int i = 0; i < kS5Drops; ++i) {
    const double fall = lcg.Next() / 32767.0 * 250.0;
    const double speed = lcg.Next() / 32767.0 * 3.0 + 3.0;
    ASSERT_FLOAT_EQ(g_s5DropFall[i], static_cast<float>(fall)) << i;
    ASSERT_FLOAT_EQ(g_s5DropSpeed[i], static_cast<float>(speed)) << i;
  }
  g_s5DropFall[17] = 999.0f;
  LoadScene5();
  Lcg again{300};
  for (int i = 0; i <= 17; ++i) {
    const double fall = again.Next() / 32767.0 * 250.0;
    again.Next();
    if (i == 17) {
      EXPECT_FLOAT_EQ(g_s5DropFall[i], static_cast<float>(fall));
    }
  }
}

TEST_F(Scene5StateTest, Img700GrowsEvenlyThenStretchesAndFadesInOrder12Only) {
  FreshScene();
  Frame(12, 40, 0.0f);

  g_img700Grow = 10.0f;
  g_img700Alpha = 0.5f;
  g_s5Img700GrowY = -3.0f;
  Frame(12, 9, 2.0f);  // last row of the even growth
  EXPECT_NEAR(g_img700Grow, 10.16f, 1e-5);
  EXPECT_NEAR(g_img700Alpha, 0.502f, 1e-6);
  EXPECT_NEAR(g_s5Img700GrowY, 10.16f, 1e-5);  // copied, not advanced
  EXPECT_NEAR(g_quad.x, 150.0f - 10.16f, 1e-4);
  EXPECT_NEAR(g_quad.y, 400.0f - 10.16f, 1e-4);
  EXPECT_NEAR(g_quad.width, 128.0f + 20.32f, 1e-4);
  EXPECT_NEAR(g_quad.height, 128.0f + 20.32f, 1e-4);
  EXPECT_NEAR(g_quad.alpha, 0.502f, 1e-6);

  Frame(12, 10, 2.0f);  // first row of the stretch
  EXPECT_NEAR(g_img700Grow, 11.16f, 1e-5);
  EXPECT_NEAR(g_s5Img700GrowY, 10.32f, 1e-5);
  EXPECT_NEAR(g_img700Alpha, 0.496f, 1e-6);
  EXPECT_NEAR(g_quad.x, 150.0f - 11.16f, 1e-4);
  EXPECT_NEAR(g_quad.y, 400.0f - 10.32f, 1e-4);
  EXPECT_NEAR(g_quad.width, 128.0f + 22.32f, 1e-4);
  EXPECT_NEAR(g_quad.height, 128.0f + 20.64f, 1e-4);

  Frame(12, 29, 1.0f);  // still stretching
  EXPECT_NEAR(g_img700Grow, 11.66f, 1e-5);
}

TEST_F(Scene5StateTest, Img700StateFreezesFromRow30AndWithoutEarlyRowsGrowYStartsAtItsOldValue) {
  FreshScene();
  Frame(12, 40, 0.0f);
  g_img700Grow = 20.0f;
  g_img700Alpha = 0.3f;
  g_s5Img700GrowY = 0.0f;
  Frame(12, 30, 4.0f);
  Frame(13, 5, 4.0f);
  Frame(14, 5, 4.0f);
  EXPECT_FLOAT_EQ(g_img700Grow, 20.0f);
  EXPECT_FLOAT_EQ(g_img700Alpha, 0.3f);
  EXPECT_FLOAT_EQ(g_s5Img700GrowY, 0.0f);

  // No frame in rows 0 to 9: the height grows from 128, the width from the grow scene 4 left.
  Frame(12, 12, 1.0f);
  EXPECT_NEAR(g_quad.height, 128.0f + 0.16f, 1e-4);
  EXPECT_NEAR(g_quad.width, 128.0f + 41.0f, 1e-4);
  // The alpha is not clamped.
  g_img700Alpha = 0.001f;
  Frame(12, 13, 1.0f);
  EXPECT_LT(g_img700Alpha, 0.0f);
}

// ---------------------------------------------------------------------------
// Pictures, with one synthetic texture per element under test.

class Scene5PictureTest : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    StartingGlState();
  }
  // Loads the scene from whatever pictures the test wrote; the others are
  // missing and load fully transparent.
  void Load() {
    harness::StderrCapture quiet;
    if (!std::filesystem::exists("loading.tga")) SolidPicture("loading.tga", 512, 128, {0, 0, 0});
    LoadTexture(0, "loading.tga", 512, 128, 0);
    LoadScene5();
  }
};

TEST_F(Scene5PictureTest, BusFacesFollowTheBusOffsetFromAZeroedClock) {
  harness::ScratchDir dir;
  SolidPicture("bus-front.tga", 64, 128, {250, 0, 0});
  SolidPicture("bus-back.tga", 64, 128, {0, 0, 250});
  Load();

  // With the clock at 3250 the rear would stand at x 0; the first frame
  // zeroes the clock, so the bus is still off the right edge (rear at -650).
  FreshScene();
  g_sceneClock = 3250.0f;
  Frame(12, 40, 0.0f);
  EXPECT_FLOAT_EQ(g_sceneClock, 0.0f);
  EXPECT_EQ(PixelAt(0, -5, -95).b, 0);

  // Rear at x 0: its face (x 0, facing -x) is seen by the camera at x -60.
  g_sceneClock = 3250.0f;
  Frame(14, 40, 0.0f);
  Rgba rear = PixelAt(0, -5, -95);
  EXPECT_NEAR(rear.b, 75, 2);  // a third of the texture, opaque
  EXPECT_EQ(rear.r, 0);

  // Rear at -400: the front (x -100, facing +x) is seen instead.
  g_sceneClock = 250.0f * 5.0f;
  Frame(14, 40, 0.0f);
  Rgba front = PixelAt(-100, -5, -95);
  EXPECT_NEAR(front.r, 75, 2);
  EXPECT_EQ(front.b, 0);
  EXPECT_EQ(PixelAt(0, -5, -95).b, 0);  // no rear where it stood before
}

TEST_F(Scene5PictureTest, BodyTakesTheLoadingPictureAtTheCornerCoordinate) {
  harness::ScratchDir dir;
  // Corner texels (where s = 1, t = 0 samples with repeat) are one colour,
  // the rest another. The near side (bus-left.tga) is missing and loads
  // transparent, so the far side of the body shows through it.
  harness::WriteTga("loading.tga", 512, 128, [](int x, int row) {
    const bool corner = (x == 0 || x == 511) && (row == 0 || row == 127);
    return corner ? Rgb{30, 200, 90} : Rgb{200, 30, 30};
  });
  Load();
  FreshScene();
  Frame(12, 40, 0.0f);
  g_sceneClock = 650.0f * 5.0f;  // rear at 0
  Frame(12, 40, 0.0f);
  const Rgba farSide = PixelAt(80, 20, -70);
  EXPECT_NEAR(farSide.r, 30, 3);
  EXPECT_NEAR(farSide.g, 200, 3);
  EXPECT_NEAR(farSide.b, 90, 3);
}

TEST_F(Scene5PictureTest, BeamsAddATenthAheadOfTheFrontOnly) {
  harness::ScratchDir dir;
  SolidPicture("fara.tga", 128, 64, {250, 250, 250});
  Load();
  FreshScene();
  Frame(12, 40, 0.0f);
  const float rear = -400.0f;
  g_sceneClock = (650.0f + rear) * 5.0f;
  Frame(12, 41, 0.0f);
  // The middle of the first beam's near side, between the front and 150 ahead.
  const Rgba beam = PixelAt(rear + 375, -47, -90);
  // A tenth of the texture (25) for each beam face the view ray crosses,
  // never the full texture.
  EXPECT_GE(beam.r, 23);
  EXPECT_LE(beam.r, 130);
  EXPECT_LE(std::abs(beam.r - 25 * static_cast<int>(std::lround(beam.r / 25.0))), 3) << int(beam.r);
  EXPECT_EQ(PixelAt(rear + 520, -47, -90).r, 0);  // beyond the beams' reach
  EXPECT_EQ(PixelAt(rear + 250, 60, -120).r, 0);  // above the lamps, on the bus
}

TEST_F(Scene5PictureTest, WaitingFigureShownUntilRow30OfOrder13) {
  harness::ScratchDir dir;
  SolidPicture("man.tga", 256, 256, {255, 0, 255});
  SolidMask("mask-man.tga", 256, 256, 255);
  Load();
  FreshScene();
  Frame(12, 40, 0.0f);
  auto figurePixels = [] {
    int count = 0;
    for (int y = 80; y < 336; y += 4) {
      for (int x = 370; x < 626; x += 4) {
        const Rgba p = ReadPixel(x, y);
        if (p.r > 200 && p.b > 200 && p.g < 30) ++count;
      }
    }
    return count;
  };
  Frame(12, 63, 0.0f);
  EXPECT_GT(figurePixels(), 2000);
  Frame(13, 30, 0.0f);
  EXPECT_GT(figurePixels(), 2000);
  Frame(13, 31, 0.0f);
  EXPECT_EQ(figurePixels(), 0);
  Frame(14, 0, 0.0f);
  EXPECT_EQ(figurePixels(), 0);
}

TEST_F(Scene5PictureTest, ScreenImagesLandWhereTheyArePlaced) {
  harness::ScratchDir dir;
  SolidPicture("backgr.tga", 512, 128, {0, 120, 0});
  SolidMask("mask-backgr.tga", 512, 128, 255);
  SolidPicture("lighter.tga", 128, 256, {0, 0, 200});
  SolidMask("mask-lighter.tga", 128, 256, 255);
  SolidPicture("700.tga", 128, 128, {200, 200, 0});
  SolidMask("mask-700.tga", 128, 128, 255);
  LoadTexture(1, "700.tga", 128, 128, 47);
  Load();
  FreshScene();
  Frame(12, 40, 0.0f);
  // Background strip 0..640 x 200..360 under the lamp image at 120..248 x 95..351.
  EXPECT_EQ(ReadPixel(10, 205).g, 120);
  EXPECT_EQ(ReadPixel(10, 195).g, 0);
  EXPECT_EQ(ReadPixel(10, 365).g, 0);
  EXPECT_EQ(ReadPixel(125, 100).b, 200);
  EXPECT_EQ(ReadPixel(125, 100).g, 0);
  EXPECT_EQ(ReadPixel(115, 100).b, 0);
  EXPECT_EQ(ReadPixel(252, 100).b, 0);

  // "700.tga" at half alpha, grown by 10 about its centre (214, 464).
  g_img700Grow = 10.0f;
  g_img700Alpha = 0.5f;
  Frame(12, 3, 0.0f);
  const Rgba inside = ReadPixel(142, 395);
  EXPECT_NEAR(inside.r, 100, 3);
  EXPECT_EQ(ReadPixel(138, 395).r, 0);
}

TEST_F(Scene5PictureTest, RainStreaksStandWhereTheReseededGeneratorPutsThem) {
  harness::ScratchDir dir;
  SolidPicture("rain.tga", 16, 256, {250, 250, 250});
  SolidMask("mask-rain.tga", 16, 256, 255);
  Load();
  FreshScene();
  Frame(12, 40, 0.0f);
  g_sceneClock = 5.0f * (650.0f + 2000.0f);  // bus far away to the left, off screen
  for (int i = 0; i < kS5Drops; ++i) g_s5DropFall[i] = 100.0f;
  for (int n = 0; n < 2; ++n) {  // the same places in every frame
    Frame(12, 40, 0.0f);
    Lcg lcg{3};
    int lit = 0;
    int tried = 0;
    for (int i = 0; i < 200; ++i) {
      const int r1 = lcg.Next();
      const int r2 = lcg.Next();
      const double z = r1 % 350 - 250;
      const double x = r2 % 1200 - 650;
      if (z < -200) continue;  // too near the eye to find by its centre
      const ScreenPoint p = Project(x + 0.75, 140 - 100, z);  // streak centre
      if (p.x < 2 || p.x > 637 || p.y < 2 || p.y > 477) continue;
      ++tried;
      if (ReadPixel(p.x, p.y).r >= 60) ++lit;
    }
    EXPECT_GT(tried, 30);
    EXPECT_GE(lit, tried * 8 / 10) << "frame " << n;
  }
}

}  // namespace
