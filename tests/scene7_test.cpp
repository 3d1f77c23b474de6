// Scene 7, the sunset: the picture frame each row selects (read back from
// the screen), the title and word windows, the first-frame reset and the
// closing fade.
#include "platform/gl.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/texture_loader.h"
#include "scenes/scene7.h"
#include "scenes/scenes.h"
#include "tests/support/gl_harness.h"
#include "timeline/sequencer.h"

using harness::ReadPixel;
using harness::Rgb;
using harness::Rgba;

namespace {

void Frame(int order, int row, float delta) {
  g_scene = order;
  g_sceneRow = row;
  g_frameDelta = delta;
  DrawScene7();
}

void SolidPicture(const std::string& name, int w, int h, Rgb colour) {
  harness::WriteTga(name, w, h, [&](int, int) { return colour; });
}
void SolidMask(const std::string& name, int w, int h, uint8_t alpha) {
  harness::WriteMask(name, w, h, [&](int, int) { return alpha; });
}

// Every value of the scene set to one number, the flag cleared.
void AllStateTo(float v) {
  g_s7FirstFrame = 0;
  for (float* p : {&g_s7Title1Alpha, &g_s7Title1X, &g_s7Title2Alpha, &g_s7Title2X, &g_s7NightAlpha,
                   &g_s7NeverAlpha, &g_s7NeverGrow, &g_s7LogoAlpha, &g_s7LogoGrow, &g_s7TakeAlpha,
                   &g_s7TakeGrow, &g_s7Fade}) {
    *p = v;
  }
}

class Scene7Test : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_DST_ALPHA, GL_ONE);  // as scene 6 leaves it
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
  }
  void Load() {
    harness::StderrCapture quiet;
    LoadScene7();
  }
};

TEST_F(Scene7Test, FirstFrameResetsAllButTheNightTitleAndTheFade) {
  AllStateTo(7.0f);
  g_s7FirstFrame = 1;
  g_sceneClock = 999.0f;
  Frame(20, 30, 0.0f);  // a row where nothing changes
  EXPECT_EQ(g_s7FirstFrame, 0);
  EXPECT_FLOAT_EQ(g_sceneClock, 0.0f);
  EXPECT_FLOAT_EQ(g_s7Title1Alpha, 0.0f);
  EXPECT_FLOAT_EQ(g_s7Title1X, 0.0f);
  EXPECT_FLOAT_EQ(g_s7Title2Alpha, 0.0f);
  EXPECT_FLOAT_EQ(g_s7Title2X, 100.0f);
  EXPECT_FLOAT_EQ(g_s7NeverAlpha, 0.0f);
  EXPECT_FLOAT_EQ(g_s7NeverGrow, 0.0f);
  EXPECT_FLOAT_EQ(g_s7LogoAlpha, 0.0f);
  EXPECT_FLOAT_EQ(g_s7LogoGrow, 0.0f);
  EXPECT_FLOAT_EQ(g_s7TakeAlpha, 0.0f);
  EXPECT_FLOAT_EQ(g_s7TakeGrow, 50.0f);
  EXPECT_FLOAT_EQ(g_s7NightAlpha, 7.0f);
  EXPECT_FLOAT_EQ(g_s7Fade, 7.0f);
  GLfloat clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_NEAR(clear[0], 0.73f, 1e-6);
  EXPECT_NEAR(clear[1], 0.15f, 1e-6);
  EXPECT_EQ(clear[2], 0.0f);
  GLint src = 0, dst = 0, mode = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(src, GL_SRC_ALPHA);
  EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
  EXPECT_EQ(mode, GL_MODELVIEW);
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));

  // Never again: a later frame keeps every value and advances the clock by 3 per tick.
  g_s7Title2X = 42.0f;
  Frame(21, 55, 2.0f);
  EXPECT_FLOAT_EQ(g_s7TakeGrow, 50.0f - 0.2f);
  EXPECT_FLOAT_EQ(g_sceneClock, 6.0f);
  EXPECT_FLOAT_EQ(g_s7Title2X, 42.0f);  // titles move in order 20 only
}

TEST_F(Scene7Test, RowWindowsIncludeTheLowerBoundAndExcludeTheUpper) {
  struct Case {
    int order;
    int row;
    float* value;
    float perTick;
    const char* name;
  };
  const Case cases[] = {
      {20, 0, &g_s7Title1Alpha, 0.01f, "title1 up"},
      {20, 19, &g_s7Title1Alpha, 0.01f, "title1 up"},
      {20, 20, &g_s7Title1Alpha, 0.0f, "title1 hold"},
      {20, 24, &g_s7Title1Alpha, 0.0f, "title1 hold"},
      {20, 25, &g_s7Title1Alpha, -0.01f, "title1 down"},
      {20, 44, &g_s7Title1Alpha, -0.01f, "title1 down"},
      {20, 45, &g_s7Title1Alpha, 0.0f, "title1 hold"},
      {21, 5, &g_s7Title1Alpha, 0.0f, "title1 not in 21"},
      {20, 14, &g_s7Title2Alpha, 0.0f, "title2"},
      {20, 15, &g_s7Title2Alpha, 0.01f, "title2 up"},
      {20, 34, &g_s7Title2Alpha, 0.01f, "title2 up"},
      {20, 35, &g_s7Title2Alpha, 0.0f, "title2"},
      {20, 40, &g_s7Title2Alpha, -0.01f, "title2 down"},
      {20, 59, &g_s7Title2Alpha, -0.01f, "title2 down"},
      {20, 60, &g_s7Title2Alpha, 0.0f, "title2"},
      {20, 15, &g_s7NightAlpha, 0.005f, "night up"},
      {20, 35, &g_s7NightAlpha, 0.0f, "night"},
      {20, 40, &g_s7NightAlpha, -0.005f, "night down"},
      {20, 60, &g_s7NightAlpha, 0.0f, "night"},
      {20, 0, &g_s7Title1X, 0.2f, "title1 slides"},
      {20, 63, &g_s7Title1X, 0.2f, "title1 slides"},
      {20, 0, &g_s7Title2X, -0.2f, "title2 slides"},
      {21, 0, &g_s7Title1X, 0.0f, "no slide in 21"},
      {21, 14, &g_s7NeverAlpha, 0.002f, "never up"},
      {21, 15, &g_s7NeverAlpha, 0.0f, "never"},
      {21, 20, &g_s7NeverAlpha, -0.002f, "never down"},
      {21, 34, &g_s7NeverAlpha, -0.002f, "never down"},
      {21, 35, &g_s7NeverAlpha, 0.0f, "never"},
      {21, 9, &g_s7NeverGrow, 0.0f, "never size"},
      {21, 10, &g_s7NeverGrow, 0.1f, "never grows"},
      {21, 63, &g_s7NeverGrow, 0.1f, "never grows"},
      {21, 6, &g_s7LogoAlpha, 0.0f, "logo"},
      {21, 7, &g_s7LogoAlpha, 0.002f, "logo up"},
      {21, 26, &g_s7LogoAlpha, 0.002f, "logo up"},
      {21, 27, &g_s7LogoAlpha, 0.0f, "logo"},
      {21, 30, &g_s7LogoAlpha, -0.002f, "logo down"},
      {21, 49, &g_s7LogoAlpha, -0.002f, "logo down"},
      {21, 50, &g_s7LogoAlpha, 0.0f, "logo"},
      {21, 6, &g_s7LogoGrow, 0.0f, "logo size"},
      {21, 7, &g_s7LogoGrow, 0.2f, "logo grows"},
      {21, 19, &g_s7TakeAlpha, 0.0f, "take"},
      {21, 20, &g_s7TakeAlpha, 0.003f, "take up"},
      {21, 39, &g_s7TakeAlpha, 0.003f, "take up"},
      {21, 40, &g_s7TakeAlpha, 0.0f, "take"},
      {21, 43, &g_s7TakeAlpha, -0.003f, "take down"},
      {21, 62, &g_s7TakeAlpha, -0.003f, "take down"},
      {21, 63, &g_s7TakeAlpha, 0.0f, "take"},
      {21, 19, &g_s7TakeGrow, 0.0f, "take size"},
      {21, 20, &g_s7TakeGrow, -0.1f, "take shrinks"},
      {20, 30, &g_s7NeverGrow, 0.0f, "words not in 20"},
      {21, 49, &g_s7Fade, 0.0f, "no closing"},
      {21, 50, &g_s7Fade, 0.02f, "closing"},
      {21, 63, &g_s7Fade, 0.02f, "closing"},
      {20, 55, &g_s7Fade, 0.0f, "no closing in 20"},
  };
  for (const Case& c : cases) {
    AllStateTo(0.5f);
    Frame(c.order, c.row, 3.0f);
    EXPECT_NEAR(*c.value, 0.5f + c.perTick * 3.0f, 1e-5) << c.name << " at " << c.order << ":" << c.row;
  }
  // No ticks, no change, in any window.
  AllStateTo(0.5f);
  Frame(21, 55, 0.0f);
  Frame(20, 10, 0.0f);
  EXPECT_FLOAT_EQ(g_s7Fade, 0.5f);
  EXPECT_FLOAT_EQ(g_s7Title1Alpha, 0.5f);
  EXPECT_FLOAT_EQ(g_s7TakeGrow, 0.5f);
}

// Frame n of the animation is a white picture whose mask is 20n + 15
// everywhere, so the blue of a pixel in the picture tells n.
TEST_F(Scene7Test, AnimatedPictureShowsTheFrameOfEachRow) {
  harness::ScratchDir dir;
  SolidPicture("stage-image.tga", 128, 128, {255, 255, 255});
  for (int n = 0; n < 12; ++n) {
    SolidMask("mask" + std::to_string(n) + "-stage-image.tga", 128, 128,
              static_cast<uint8_t>(20 * n + 15));
  }
  Load();
  // (first row, frame) runs, each lasting until the next run's first row.
  struct Run {
    int row;
    int frame;
  };
  const Run order20[] = {{0, 0},   {1, 1},   {2, 2},   {3, 3},   {4, 4},  {5, 5},   {6, 6},
                         {20, 7},  {21, 8},  {22, 9},  {23, 10}, {24, 11}, {27, 10}, {28, 9},
                         {29, 8},  {30, 7},  {37, 8},  {38, 9},  {39, 10}, {40, 11}, {56, 10},
                         {57, 9},  {58, 8},  {59, 9},  {60, 10}, {61, 11}, {62, 10}, {63, 9}};
  const Run order21[] = {{0, 8},  {1, 7},   {23, 8},  {24, 9},  {25, 10}, {26, 11}, {27, 10},
                         {28, 9}, {29, 8},  {30, 7},  {31, 8},  {32, 9},  {33, 10}, {34, 11},
                         {45, 10}, {46, 9}, {47, 8},  {48, 7},  {55, 6},  {56, 5},  {57, 4},
                         {58, 3}, {59, 2},  {60, 1},  {61, 0}};
  AllStateTo(0.0f);
  auto check = [&](int order, const Run* runs, int count) {
    int run = 0;
    for (int row = 0; row < 64; ++row) {
      while (run + 1 < count && runs[run + 1].row <= row) ++run;
      Frame(order, row, 0.0f);
      const int blue = ReadPixel(140, 126).b;
      const int shown = static_cast<int>(std::lround((blue - 15) / 20.0));
      EXPECT_EQ(shown, runs[run].frame) << "order " << order << " row " << row << " blue " << blue;
      EXPECT_EQ(S7FrameForRow(order, row), runs[run].frame);
    }
  };
  check(20, order20, sizeof order20 / sizeof order20[0]);
  check(21, order21, sizeof order21 / sizeof order21[0]);
  EXPECT_EQ(S7FrameForRow(21, 64), 0);  // later rows of order 21 stay on frame 0
}

TEST_F(Scene7Test, CloudsAreAdditiveOnTheFirstFrameOnly) {
  harness::ScratchDir dir;
  SolidPicture("white.tga", 256, 256, {100, 100, 100});
  SolidMask("mask-white.tga", 256, 256, 128);
  Load();
  AllStateTo(0.0f);
  g_s7FirstFrame = 1;
  Frame(20, 30, 0.0f);
  const Rgba first = ReadPixel(20, 8);
  EXPECT_NEAR(first.r, 186 + 50, 3);
  EXPECT_NEAR(first.g, 38 + 50, 3);
  EXPECT_NEAR(first.b, 50, 3);
  Frame(20, 31, 0.0f);
  const Rgba later = ReadPixel(20, 8);
  EXPECT_NEAR(later.r, (186 + 100) / 2, 3);
  EXPECT_NEAR(later.g, (38 + 100) / 2, 3);
  EXPECT_NEAR(later.b, 50, 3);
}

TEST_F(Scene7Test, WordsGrowAboutTheirCentres) {
  harness::ScratchDir dir;
  SolidPicture("take.tga", 128, 32, {0, 0, 250});
  SolidMask("mask-take.tga", 128, 32, 255);
  SolidPicture("never.tga", 128, 32, {0, 250, 0});
  SolidMask("mask-never.tga", 128, 32, 255);
  Load();
  AllStateTo(0.0f);
  g_s7TakeAlpha = 1.0f;
  g_s7TakeGrow = 50.0f;  // covers 400..628 by 370..502
  g_s7NeverAlpha = 1.0f;
  g_s7NeverGrow = 10.0f;  // covers 174..322 by 370..422
  Frame(21, 16, 0.0f);
  EXPECT_EQ(ReadPixel(403, 373).b, 250);
  EXPECT_EQ(ReadPixel(625, 477).b, 250);
  EXPECT_NE(ReadPixel(397, 373).b, 250);
  EXPECT_NE(ReadPixel(631, 373).b, 250);
  EXPECT_NE(ReadPixel(403, 367).b, 250);
  EXPECT_EQ(ReadPixel(176, 372).g, 250);
  EXPECT_EQ(ReadPixel(320, 420).g, 250);
  EXPECT_NE(ReadPixel(171, 372).g, 250);
  EXPECT_NE(ReadPixel(325, 420).g, 250);
  EXPECT_NE(ReadPixel(200, 425).g, 250);
}

TEST_F(Scene7Test, ClosingFadesToOrangeAndBringsTheImageInWithTheNewAlpha) {
  harness::ScratchDir dir;
  SolidPicture("mount.tga", 512, 256, {0, 200, 0});
  SolidMask("mask-mount.tga", 512, 256, 255);
  SolidPicture("blackhole.tga", 128, 128, {255, 255, 255});
  SolidMask("mask-blackhole.tga", 128, 128, 255);
  LoadTexture(1, "blackhole.tga", 128, 128, 50);
  Load();
  g_s7FirstFrame = 1;  // sets the orange clear colour
  Frame(20, 30, 0.0f);
  AllStateTo(0.0f);
  g_s7Fade = 0.5f;
  Frame(21, 49, 5.0f);
  EXPECT_EQ(ReadPixel(320, 400).g, 200);  // mountains untouched
  EXPECT_EQ(ReadPixel(200, 150).b, 0);    // no image yet

  Frame(21, 50, 5.0f);
  const Rgba mountain = ReadPixel(320, 400);  // half orange over the green
  EXPECT_NEAR(mountain.r, 93, 3);
  EXPECT_NEAR(mountain.g, 119, 3);
  // The image above the mountains with alpha 0.6, over the orange.
  const Rgba image = ReadPixel(200, 150);
  EXPECT_NEAR(image.b, 153, 3);
  EXPECT_NEAR(image.r, 227, 3);
  EXPECT_FLOAT_EQ(g_s7Fade, 0.6f);
}

}  // namespace
