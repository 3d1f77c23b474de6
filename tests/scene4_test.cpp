// Scene 4 (orders 8 to 11): the first-frame reset, the sprite row windows and
// ramps, the order-9 strip, the order-11 resets, fade and "700.tga" image, and
// the picture: additive city, alpha-blended strips, sprites and image.
#include "platform/gl.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "scenes/scene4.h"
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
  DrawScene4();
}

void SetAllSprites(float alpha, float grow) {
  for (int k = 0; k < kZoomSprites; ++k) {
    g_s4ZoomAlpha[k] = alpha;
    g_s4ZoomGrow[k] = grow;
  }
}

class Scene4Test : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    // As scene 3 leaves it.
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    if (g_s4Quadric == nullptr) g_s4Quadric = gluNewQuadric();
    gluQuadricTexture(g_s4Quadric, GL_TRUE);
    g_s4FirstFrame = 0;
    g_sceneClock = 0.0f;
    g_s4MetrosAlpha = g_s4MetrosShift = g_s4Fade = 0.0f;
    g_img700Grow = 0.0f;
    g_img700Alpha = 0.0f;
    SetAllSprites(0.0f, 0.0f);
  }

  // Every picture of the scene as one flat colour; the city's layers black
  // unless a test asks otherwise.
  struct Colours {
    Rgb windows{0, 0, 0}, blue{0, 0, 0}, haze{0, 0, 0}, skyline{0, 0, 0}, sky{0, 0, 0};
    Rgb cinema{0, 0, 0}, moscow{0, 0, 0}, goright{0, 0, 0}, nightup{0, 0, 0};
    Rgb metros{0, 0, 0}, img700{0, 0, 0}, times{0, 0, 0};
  };

  static void Flat(const char* name, int w, int h, Rgb c, bool mask) {
    harness::WriteTga(name, w, h, [=](int, int) { return c; });
    if (mask) harness::WriteMask(std::string("mask-") + name, w, h, [](int, int) { return uint8_t{255}; });
  }

  void Load(const Colours& c) {
    Flat("windows.tga", 256, 256, c.windows, false);
    Flat("blue.tga", 256, 256, c.blue, false);
    Flat("roundbox.tga", 256, 256, c.haze, true);
    Flat("outsidecity.tga", 512, 64, c.skyline, false);
    Flat("darksky.tga", 256, 256, c.sky, true);
    Flat("cinema.tga", 512, 32, c.cinema, true);
    Flat("moscow.tga", 1024, 32, c.moscow, true);
    Flat("goright.tga", 512, 32, c.goright, true);
    Flat("nightup.tga", 256, 128, c.nightup, true);
    Flat("metros.tga", 256, 16, c.metros, true);
    Flat("700.tga", 128, 128, c.img700, true);
    Flat("times.tga", 64, 64, c.times, false);
    for (int n = 0; n < 8; ++n) {
      harness::WriteMask("mask" + std::to_string(n) + "-times.tga", 64, 64, [](int, int) { return uint8_t{255}; });
    }
    LoadScene4();
  }
};

// --- State -----------------------------------------------------------------

TEST_F(Scene4Test, FirstFrameResetsSevenSpritesAndOnlyOnce) {
  SetAllSprites(9.0f, 9.0f);
  g_img700Grow = g_img700Alpha = g_s4Fade = 3.0f;
  g_sceneClock = 55.0f;
  g_s4FirstFrame = 1;
  glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
  Frame(8, 0, 0.0f);
  EXPECT_EQ(g_s4FirstFrame, 0);
  EXPECT_FLOAT_EQ(g_sceneClock, 0.0f);
  const float alphas[7] = {0.3f, 0.3f, 0.3f, 0.15f, 0.3f, 0.8f, 0.3f};
  for (int k = 0; k < 7; ++k) {
    EXPECT_FLOAT_EQ(g_s4ZoomAlpha[k], alphas[k]) << k;
    EXPECT_FLOAT_EQ(g_s4ZoomGrow[k], 0.0f) << k;
  }
  EXPECT_FLOAT_EQ(g_s4ZoomAlpha[7], 9.0f) << "sprite 7 is left to order 10";
  EXPECT_FLOAT_EQ(g_s4ZoomGrow[7], 9.0f);
  EXPECT_FLOAT_EQ(g_img700Grow, 0.0f);
  EXPECT_FLOAT_EQ(g_img700Alpha, 0.05f);
  EXPECT_FLOAT_EQ(g_s4Fade, 0.0f);
  GLfloat clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_EQ(clear[0] + clear[1] + clear[2], 0.0f);

  SetAllSprites(9.0f, 9.0f);
  g_sceneClock = 55.0f;
  Frame(8, 0, 1.0f);
  EXPECT_FLOAT_EQ(g_s4ZoomAlpha[0], 9.0f);
  EXPECT_FLOAT_EQ(g_sceneClock, 57.0f);
}

// One sprite's row of the order-10 and order-11 tables, as rates.
struct Window {
  int order, sprite, first, last, switchRow;  // last -1: to the end; switchRow -1: no ramp
  float up, down, afterAlpha, afterGrow;
};

const Window kWindows[] = {
    {10, 5, 1, 24, -1, 0, 0, -0.005f, 0.1f},     {10, 7, 12, 36, 23, 0.005f, 0.005f, 0, -0.1f},
    {10, 6, 16, 41, 26, 0.005f, 0.005f, 0, 0.1f}, {10, 4, 32, 57, 42, 0.01f, 0.01f, 0, 0.1f},
    {10, 3, 36, 61, 46, 0.005f, 0.005f, 0, -0.08f}, {10, 1, 40, 63, 50, 0.005f, 0.005f, 0, 0.15f},
    {10, 2, 44, -1, 54, 0.005f, 0.005f, 0, -0.13f}, {10, 0, 48, -1, 58, 0.005f, 0.005f, 0, 0.1f},
    {11, 7, 1, 24, -1, 0, 0, -0.005f, -0.1f},     {11, 0, 12, 36, 22, 0.005f, 0.007f, 0, 0.15f},
    {11, 1, 15, 40, 25, 0.005f, 0.007f, 0, 0.1f}, {11, 5, 23, 59, 33, 0.005f, 0.007f, 0, -0.12f},
};

TEST_F(Scene4Test, SpritesChangeOnlyInsideTheirRowWindowsBothBoundsIncluded) {
  const float d = 2.0f;
  for (const Window& w : kWindows) {
    std::vector<int> rows = {w.first - 1, w.first, w.last >= 0 ? w.last : 63, w.last >= 0 ? w.last + 1 : 63};
    if (w.switchRow >= 0) {
      rows.push_back(w.switchRow - 1);
      rows.push_back(w.switchRow);
    }
    for (int row : rows) {
      if (row < 0 || row > 63) continue;
      if (w.order == 11 && row == 1 && w.sprite != 7) continue;  // the row-1 resets
      SetAllSprites(0.5f, 2.0f);
      Frame(w.order, row, d);
      const bool inside = row >= w.first && (w.last < 0 || row <= w.last);
      float alpha = 0.5f, grow = 2.0f;
      if (inside) {
        if (w.switchRow >= 0) alpha += (row < w.switchRow ? w.up : -w.down) * d;
        alpha += w.afterAlpha * d;
        grow += w.afterGrow * d;
      }
      EXPECT_NEAR(g_s4ZoomAlpha[w.sprite], alpha, 1e-5) << "order " << w.order << " sprite " << w.sprite << " row " << row;
      EXPECT_NEAR(g_s4ZoomGrow[w.sprite], grow, 1e-5) << "order " << w.order << " sprite " << w.sprite << " row " << row;
    }
  }
}

TEST_F(Scene4Test, SpriteSevenIsReadiedFromRow48OfOrder10) {
  SetAllSprites(0.5f, 2.0f);
  Frame(10, 47, 1.0f);
  EXPECT_FLOAT_EQ(g_s4ZoomAlpha[7], 0.5f);
  Frame(10, 48, 1.0f);
  EXPECT_FLOAT_EQ(g_s4ZoomAlpha[7], 0.8f);
  EXPECT_FLOAT_EQ(g_s4ZoomGrow[7], 0.0f);
  g_s4ZoomAlpha[7] = 0.1f;
  Frame(10, 63, 0.0f);
  EXPECT_FLOAT_EQ(g_s4ZoomAlpha[7], 0.8f) << "every frame from row 48";
  // Order 8 and 9 touch no sprite.
  SetAllSprites(0.5f, 2.0f);
  Frame(8, 30, 3.0f);
  Frame(9, 30, 3.0f);
  for (int k = 0; k < kZoomSprites; ++k) EXPECT_FLOAT_EQ(g_s4ZoomAlpha[k], 0.5f) << k;
}

TEST_F(Scene4Test, Order11ResetsSprites015AtEveryRowOneFrame) {
  SetAllSprites(0.9f, 5.0f);
  Frame(11, 0, 1.0f);
  EXPECT_FLOAT_EQ(g_s4ZoomAlpha[1], 0.9f) << "row 0 resets nothing";
  EXPECT_FLOAT_EQ(g_s4ZoomAlpha[7], 0.9f) << "row 0 draws no sprite";
  for (int pass = 0; pass < 2; ++pass) {
    SetAllSprites(0.9f, 5.0f);
    Frame(11, 1, 1.0f);
    EXPECT_FLOAT_EQ(g_s4ZoomAlpha[1], 0.4f);
    EXPECT_FLOAT_EQ(g_s4ZoomGrow[1], 0.0f);
    EXPECT_FLOAT_EQ(g_s4ZoomAlpha[0], 0.3f);
    EXPECT_FLOAT_EQ(g_s4ZoomGrow[0], 0.0f);
    EXPECT_FLOAT_EQ(g_s4ZoomAlpha[5], 0.1f);
    EXPECT_FLOAT_EQ(g_s4ZoomGrow[5], 0.0f);
    EXPECT_FLOAT_EQ(g_s4ZoomAlpha[2], 0.9f);
    EXPECT_NEAR(g_s4ZoomAlpha[7], 0.895f, 1e-6);
  }
}

TEST_F(Scene4Test, Order11FadeAfterRow50AndImageFromRow31) {
  g_img700Grow = 4.0f;
  g_img700Alpha = 0.05f;
  Frame(11, 30, 2.0f);
  EXPECT_FLOAT_EQ(g_img700Grow, 4.0f);
  EXPECT_FLOAT_EQ(g_img700Alpha, 0.05f);
  Frame(11, 31, 2.0f);
  EXPECT_FLOAT_EQ(g_img700Grow, 4.16f);
  EXPECT_FLOAT_EQ(g_img700Alpha, 0.052f);
  EXPECT_FLOAT_EQ(g_s4Fade, 0.0f);
  Frame(11, 50, 2.0f);
  EXPECT_FLOAT_EQ(g_s4Fade, 0.0f);
  Frame(11, 51, 2.0f);
  EXPECT_FLOAT_EQ(g_s4Fade, 0.04f);
  Frame(10, 60, 2.0f);
  EXPECT_FLOAT_EQ(g_s4Fade, 0.04f) << "only order 11 fades";
  EXPECT_NEAR(g_img700Grow, 4.0f + 3 * 0.16f, 1e-5);
}

TEST_F(Scene4Test, Order9StripFadesInAndOutWhileItSlides) {
  struct Step {
    int row;
    float alphaChange;
  };
  const Step steps[] = {{0, 0}, {4, 0}, {5, 0.06f}, {24, 0.06f}, {25, 0}, {29, 0},
                        {30, -0.06f}, {49, -0.06f}, {50, 0}, {63, 0}};
  float expectShift = 0.0f;
  for (const Step& s : steps) {
    const float before = g_s4MetrosAlpha;
    Frame(9, s.row, 2.0f);
    expectShift += 1.0f;
    EXPECT_NEAR(g_s4MetrosAlpha - before, s.alphaChange, 1e-6) << "row " << s.row;
    EXPECT_FLOAT_EQ(g_s4MetrosShift, expectShift) << "row " << s.row;
  }
  Frame(10, 10, 2.0f);
  EXPECT_FLOAT_EQ(g_s4MetrosShift, expectShift) << "only order 9 slides it";
}

TEST_F(Scene4Test, ClockAdvancesByTwoPerTickAndDeltaZeroChangesNothing) {
  g_sceneClock = 10.0f;
  Frame(8, 3, 3.0f);
  EXPECT_FLOAT_EQ(g_sceneClock, 16.0f);

  SetAllSprites(0.5f, 2.0f);
  g_img700Grow = 1.0f;
  g_img700Alpha = 0.2f;
  for (int order : {9, 10, 11}) {
    for (int row : {10, 30, 40, 55}) {
      const float metros = g_s4MetrosAlpha, shift = g_s4MetrosShift, fade = g_s4Fade;
      Frame(order, row, 0.0f);
      EXPECT_EQ(g_s4MetrosAlpha, metros);
      EXPECT_EQ(g_s4MetrosShift, shift);
      EXPECT_EQ(g_s4Fade, fade);
    }
  }
  for (int k = 0; k < 7; ++k) {
    EXPECT_FLOAT_EQ(g_s4ZoomAlpha[k], 0.5f) << k;
    EXPECT_FLOAT_EQ(g_s4ZoomGrow[k], 2.0f) << k;
  }
  EXPECT_FLOAT_EQ(g_img700Grow, 1.0f);
  EXPECT_FLOAT_EQ(g_img700Alpha, 0.2f);
  EXPECT_FLOAT_EQ(g_sceneClock, 16.0f);
}

TEST_F(Scene4Test, LeavesAdditiveBlendingNoDepthTestAndModelview) {
  for (int order : {8, 11}) {
    glEnable(GL_DEPTH_TEST);
    Frame(order, 55, 1.0f);
    GLint src = 0, dst = 0, mode = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  }
}

// --- Rendering ---------------------------------------------------------------

TEST_F(Scene4Test, StripsLieAcrossTheMiddleAndTheFirstDriftsLeft) {
  harness::ScratchDir dir;
  Colours c;
  c.moscow = {250, 0, 0};
  c.cinema = {0, 200, 0};
  c.goright = {0, 0, 200};
  c.nightup = {200, 200, 0};
  Load(c);
  Frame(8, 0, 0.0f);
  const Rgba strip1 = ReadPixel(310, 225);
  EXPECT_NEAR(strip1.r, 50, 2) << "alpha 0.2";
  EXPECT_EQ(ReadPixel(299, 225).r, 0);
  EXPECT_EQ(ReadPixel(310, 219).r, 0);
  EXPECT_EQ(ReadPixel(630, 245).g, 200);
  EXPECT_EQ(ReadPixel(617, 265).b, 200);
  EXPECT_EQ(ReadPixel(618, 265).g, 200) << "the third strip is 618 wide";
  EXPECT_EQ(ReadPixel(400, 259).g, 200);
  EXPECT_EQ(ReadPixel(400, 298).b, 200);
  const Rgba below = ReadPixel(400, 299);
  EXPECT_EQ(below.r + below.g + below.b, 0);
  EXPECT_EQ(ReadPixel(0, 270).r, 200);
  EXPECT_EQ(ReadPixel(255, 397).r, 200);
  EXPECT_EQ(ReadPixel(256, 330).r, 0);
  EXPECT_EQ(ReadPixel(100, 398).r, 0);

  g_sceneClock = 300.0f;  // x 300 - 100
  Frame(8, 0, 0.0f);
  EXPECT_NEAR(ReadPixel(201, 225).r, 50, 2);
  EXPECT_EQ(ReadPixel(198, 225).r, 0);
}

TEST_F(Scene4Test, ZoomSpriteGrowsAboutItsCentre) {
  harness::ScratchDir dir;
  Colours c;
  c.times = {250, 250, 250};
  Load(c);
  g_s4ZoomAlpha[7] = 1.0f;
  g_s4ZoomGrow[7] = 10.0f;  // 128 + 20 wide, from (190, 310)
  Frame(10, 12, 0.0f);
  EXPECT_EQ(ReadPixel(190, 310).b, 250);
  EXPECT_EQ(ReadPixel(337, 457).b, 250);
  EXPECT_EQ(ReadPixel(189, 400).b, 0);
  EXPECT_EQ(ReadPixel(338, 400).b, 0);
  EXPECT_EQ(ReadPixel(300, 309).b, 0);
  EXPECT_EQ(ReadPixel(300, 458).b, 0);

  // Half alpha over black, and nothing outside the window (row 37).
  g_s4ZoomAlpha[7] = 0.5f;
  Frame(10, 13, 0.0f);
  EXPECT_NEAR(ReadPixel(300, 400).b, 125, 2);
  Frame(10, 37, 0.0f);
  EXPECT_EQ(ReadPixel(300, 400).b, 0);
}

TEST_F(Scene4Test, ImageIsDrawnOverTheBlackFade) {
  harness::ScratchDir dir;
  Colours c;
  c.img700 = {0, 180, 90};
  c.nightup = {200, 200, 0};
  Load(c);
  g_img700Alpha = 1.0f;
  Frame(11, 30, 0.0f);
  EXPECT_EQ(ReadPixel(200, 450).g, 0) << "not before row 31";
  Frame(11, 31, 0.0f);
  EXPECT_EQ(ReadPixel(150, 400).g, 180);
  EXPECT_EQ(ReadPixel(277, 479).g, 180);
  EXPECT_EQ(ReadPixel(149, 420).g, 0);
  EXPECT_EQ(ReadPixel(278, 420).g, 0);
  EXPECT_EQ(ReadPixel(200, 399).g, 0);
  EXPECT_EQ(ReadPixel(100, 300).r, 200);

  g_s4Fade = 1.0f;
  Frame(11, 51, 0.0f);
  EXPECT_EQ(ReadPixel(100, 300).r, 0) << "the fade covers the strips";
  EXPECT_EQ(ReadPixel(200, 450).g, 180) << "the image stays on top";
}

TEST_F(Scene4Test, CityLayersAddUpAndTheFloorTakesOneTexel) {
  harness::ScratchDir dir;
  Colours c;
  Load(c);
  // "blue.tga": its edge texels (around coordinate (1, 0)) blue 60, its
  // inside red, so any layer drawn with a real texture mapping shows red.
  harness::WriteTga("blue.tga", 256, 256, [](int x, int row) {
    const bool edge = x < 4 || x > 251 || row < 4 || row > 251;
    return edge ? Rgb{0, 0, 60} : Rgb{200, 0, 0};
  });
  LoadScene4();
  g_sceneClock = 100.0f;
  Frame(8, 0, 0.0f);
  const std::vector<Rgba> frame = harness::ReadFrame();
  int maxBlue = 0, maxRed = 0, floorPixels = 0;
  for (const Rgba& p : frame) {
    maxBlue = std::max<int>(maxBlue, p.b);
    maxRed = std::max<int>(maxRed, p.r);
    if (p.b >= 59) ++floorPixels;
  }
  EXPECT_EQ(maxRed, 0);
  EXPECT_GT(floorPixels, 640 * 100) << "the floor fills the lower part of the view";
  // Floor, plates and cores overlap: only adding gets above one layer's 60.
  EXPECT_GE(maxBlue, 115);
}

TEST_F(Scene4Test, WindowFacesPulseWithTheClock) {
  harness::ScratchDir dir;
  Colours c;
  c.windows = {0, 120, 0};
  Load(c);
  auto litPixels = []() {
    int lit = 0;
    for (const Rgba& p : harness::ReadFrame()) lit += p.g > 0 ? 1 : 0;
    return lit;
  };
  Frame(8, 0, 0.0f);  // sin 0: transparent
  EXPECT_EQ(litPixels(), 0);
  g_sceneClock = 157.0f;  // sin about 1
  Frame(8, 0, 0.0f);
  EXPECT_GT(litPixels(), 10000);
  g_sceneClock = 471.0f;  // sin about -1
  Frame(8, 0, 0.0f);
  EXPECT_EQ(litPixels(), 0);
}

}  // namespace
