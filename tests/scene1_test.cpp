// Scene 1 (orders 0 to 3): its state through chosen frames, and where its
// backdrop, clouds, overlays and fade land on the offscreen context.
#include "platform/gl.h"

#include <cmath>
#include <cstdlib>

#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "scenes/scene1.h"
#include "scenes/scenes.h"
#include "tests/support/gl_harness.h"
#include "timeline/sequencer.h"

using harness::ReadPixel;
using harness::Rgba;

namespace {

// Red channel of each synthetic picture (id * 32 + 16 in WriteCodedTga).
constexpr int kRedOverlay0 = 16;   // "2.tga", id 0
constexpr int kRedOverlay1 = 48;   // "4.tga", id 1
constexpr int kRedOverlay2 = 80;   // "5.tga", id 2
constexpr int kRedOverlay3 = 144;  // "6.tga", id 4
constexpr int kRedBackdrop = 208;  // "rightback.tga", id 6

// The deep-blue clear colour in bytes.
constexpr int kClearR = 11, kClearG = 38, kClearB = 107;

void Frame(int order, int row, float delta) {
  g_scene = order;
  g_sceneRow = row;
  g_frameDelta = delta;
  DrawScene1();
}

bool IsClear(Rgba p) {
  return std::abs(p.r - kClearR) <= 1 && std::abs(p.g - kClearG) <= 1 && std::abs(p.b - kClearB) <= 1;
}

class Scene1Test : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    g_s1CamLift = g_s1CamTilt = g_s1BackdropRise = g_s1OverlayAlpha = g_s1Fade = 0.0f;
    g_sceneClock = 0.0f;
    // What the loading screen leaves for the first scene.
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glMatrixMode(GL_MODELVIEW);
  }

  // Synthetic pictures for every slot of the scene; the cloud layer gets the
  // given mask value so that a test can make it vanish.
  void WritePictures(uint8_t cloudAlpha) {
    harness::WriteTga("cloud-b.tga", 256, 256, [](int, int) { return harness::Rgb{200, 100, 0}; });
    harness::WriteMask("mask-cloud-b.tga", 256, 256, [=](int, int) { return cloudAlpha; });
    const char* overlays[4] = {"2.tga", "4.tga", "5.tga", "6.tga"};
    const int ids[4] = {0, 1, 2, 4};
    for (int n = 0; n < 4; ++n) {
      harness::WriteCodedTga(overlays[n], 256, 256, ids[n]);
      harness::WriteMask(std::string("mask-") + overlays[n], 256, 256, [](int, int) { return uint8_t{255}; });
    }
    harness::WriteCodedTga("rightback.tga", 512, 256, 6);
  }
};

// --- State through sequences of frames -----------------------------------

TEST_F(Scene1Test, OverlayAlphaResetsAtRowZeroOfOrdersOneToThreeOnly) {
  g_s1OverlayAlpha = 0.5f;
  Frame(0, 0, 3.0f);
  EXPECT_FLOAT_EQ(g_s1OverlayAlpha, 0.506f) << "order 0 has no reset";
  for (int order : {1, 2, 3}) {
    g_s1OverlayAlpha = 0.5f;
    Frame(order, 0, 3.0f);
    EXPECT_FLOAT_EQ(g_s1OverlayAlpha, 0.006f) << "order " << order;
    g_s1OverlayAlpha = 0.5f;
    Frame(order, 1, 3.0f);
    EXPECT_FLOAT_EQ(g_s1OverlayAlpha, 0.506f) << "order " << order << " row 1";
  }
  // Delta 0 still resets at row 0 but grows nothing.
  g_s1OverlayAlpha = 0.5f;
  Frame(2, 0, 0.0f);
  EXPECT_FLOAT_EQ(g_s1OverlayAlpha, 0.0f);
}

TEST_F(Scene1Test, CameraAndBackdropMoveOnlyInTheirOrders) {
  Frame(0, 10, 4.0f);
  EXPECT_FLOAT_EQ(g_s1CamLift, 0.0f);
  EXPECT_FLOAT_EQ(g_s1CamTilt, 0.0f);
  EXPECT_FLOAT_EQ(g_s1BackdropRise, 0.0f);

  Frame(1, 10, 4.0f);
  EXPECT_FLOAT_EQ(g_s1CamLift, 0.6f);
  EXPECT_FLOAT_EQ(g_s1CamTilt, 0.0f);
  EXPECT_FLOAT_EQ(g_s1BackdropRise, 0.0f);

  Frame(2, 63, 4.0f);
  EXPECT_FLOAT_EQ(g_s1CamLift, 0.6f);
  EXPECT_FLOAT_EQ(g_s1CamTilt, 0.4f);
  EXPECT_FLOAT_EQ(g_s1BackdropRise, 1.2f);

  Frame(2, 20, 0.0f);
  EXPECT_FLOAT_EQ(g_s1CamTilt, 0.4f);
  EXPECT_FLOAT_EQ(g_s1BackdropRise, 1.2f);
}

TEST_F(Scene1Test, OrderThreeMovesThroughRow31AndStopsAtRow32) {
  Frame(3, 0, 2.0f);
  EXPECT_FLOAT_EQ(g_s1CamTilt, 0.4f);
  EXPECT_FLOAT_EQ(g_s1BackdropRise, 1.14f);
  Frame(3, 31, 2.0f);
  EXPECT_FLOAT_EQ(g_s1CamTilt, 0.8f);
  EXPECT_FLOAT_EQ(g_s1BackdropRise, 2.28f);
  Frame(3, 32, 2.0f);
  Frame(3, 63, 2.0f);
  EXPECT_FLOAT_EQ(g_s1CamTilt, 0.8f);
  EXPECT_FLOAT_EQ(g_s1BackdropRise, 2.28f);
  EXPECT_FLOAT_EQ(g_s1CamLift, 0.0f);
}

TEST_F(Scene1Test, FadeGrowsOnlyAfterRow50OfOrderThree) {
  Frame(3, 50, 5.0f);
  EXPECT_FLOAT_EQ(g_s1Fade, 0.0f);
  Frame(2, 60, 5.0f);
  EXPECT_FLOAT_EQ(g_s1Fade, 0.0f);
  Frame(3, 51, 5.0f);
  EXPECT_FLOAT_EQ(g_s1Fade, 0.2f);
  Frame(3, 63, 0.0f);
  EXPECT_FLOAT_EQ(g_s1Fade, 0.2f);
  Frame(3, 63, 1.0f);
  EXPECT_FLOAT_EQ(g_s1Fade, 0.24f);
}

TEST_F(Scene1Test, SceneClockCountsTicksAndIsNeverZeroed) {
  g_sceneClock = 123.0f;
  Frame(0, 0, 2.0f);
  EXPECT_FLOAT_EQ(g_sceneClock, 125.0f);
  Frame(3, 0, 0.0f);
  EXPECT_FLOAT_EQ(g_sceneClock, 125.0f);
  Frame(1, 5, 3.0f);
  EXPECT_FLOAT_EQ(g_sceneClock, 128.0f);
}

TEST_F(Scene1Test, LeavesAlphaBlendingModelviewAndTexturing) {
  for (int order : {0, 1, 2, 3}) {
    glBlendFunc(GL_ONE, GL_ONE);
    Frame(order, 55, 1.0f);
    GLint src = 0, dst = 0, mode = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(src, GL_SRC_ALPHA) << order;
    EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA) << order;
    EXPECT_EQ(mode, GL_MODELVIEW) << order;
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D)) << order;
    EXPECT_TRUE(glIsEnabled(GL_BLEND)) << order;
  }
}

// --- Rendering ------------------------------------------------------------

TEST_F(Scene1Test, BackdropTopSitsAt450MinusTheWholeRise) {
  harness::ScratchDir dir;
  WritePictures(0);
  LoadScene1();
  for (float rise : {100.0f, 100.9f}) {
    g_s1BackdropRise = rise;
    Frame(2, 0, 0.0f);
    EXPECT_TRUE(IsClear(ReadPixel(320, 349))) << rise;
    const Rgba top = ReadPixel(320, 350);
    EXPECT_EQ(top.r, kRedBackdrop) << rise;
    // The picture's last rows at the top (the very top pixel also filters
    // in a little of row 0 through the repeat wrap).
    EXPECT_GE(ReadPixel(320, 352).b, 245) << rise;
    // 130 units into the 320-high quad: texture row 256 - 104 = 152.
    const Rgba bottom = ReadPixel(320, 479);
    EXPECT_NEAR(bottom.b, 152, 4);
    // 640 wide: both screen edges are covered.
    EXPECT_EQ(ReadPixel(0, 400).r, kRedBackdrop);
    EXPECT_EQ(ReadPixel(639, 400).r, kRedBackdrop);
  }
  g_s1BackdropRise = 101.0f;
  Frame(3, 40, 0.0f);
  EXPECT_EQ(ReadPixel(320, 349).r, kRedBackdrop);
  EXPECT_TRUE(IsClear(ReadPixel(320, 348)));

  // Only orders 2 and 3 draw it.
  for (int order : {0, 1}) {
    Frame(order, 0, 0.0f);
    EXPECT_TRUE(IsClear(ReadPixel(320, 400))) << order;
  }
}

TEST_F(Scene1Test, EachOrderShowsItsOverlayAtItsPlace) {
  harness::ScratchDir dir;
  WritePictures(0);
  LoadScene1();

  // Orders 0 and 2: 256 by 256 at (380, 220).
  for (int order : {0, 2}) {
    const int red = order == 0 ? kRedOverlay0 : kRedOverlay2;
    g_s1OverlayAlpha = 1.0f;
    Frame(order, 5, 0.0f);
    EXPECT_EQ(ReadPixel(380, 220).r, red) << order;
    EXPECT_EQ(ReadPixel(635, 475).r, red) << order;
    EXPECT_NE(ReadPixel(379, 300).r, red) << order;
    EXPECT_NE(ReadPixel(500, 219).r, red) << order;
    EXPECT_NE(ReadPixel(636, 300).r, red) << order;
    EXPECT_NE(ReadPixel(500, 476).r, red) << order;
    // Column 0 at its left edge, the last row at its top.
    EXPECT_LE(ReadPixel(380, 300).g, 3);
    EXPECT_GE(ReadPixel(500, 220).b, 250);
  }

  // Order 1: at (0, -128), only the lower half shows.
  g_s1OverlayAlpha = 1.0f;
  Frame(1, 5, 0.0f);
  EXPECT_EQ(ReadPixel(0, 0).r, kRedOverlay1);
  EXPECT_EQ(ReadPixel(255, 127).r, kRedOverlay1);
  EXPECT_TRUE(IsClear(ReadPixel(256, 60)));
  EXPECT_TRUE(IsClear(ReadPixel(100, 128)));
  EXPECT_NEAR(ReadPixel(100, 0).b, 127, 4) << "the screen's top edge cuts the picture in half";

  // Order 3: at (380, -128), over the backdrop.
  g_s1OverlayAlpha = 1.0f;
  Frame(3, 40, 0.0f);
  EXPECT_EQ(ReadPixel(380, 0).r, kRedOverlay3);
  EXPECT_EQ(ReadPixel(635, 127).r, kRedOverlay3);
  EXPECT_NE(ReadPixel(379, 60).r, kRedOverlay3);
  EXPECT_NE(ReadPixel(500, 128).r, kRedOverlay3);
}

TEST_F(Scene1Test, OverlayFadesInWithItsAlpha) {
  harness::ScratchDir dir;
  WritePictures(0);
  LoadScene1();
  g_s1OverlayAlpha = 0.5f;
  Frame(0, 9, 0.0f);
  const Rgba p = ReadPixel(500, 300);
  EXPECT_NEAR(p.r, (kRedOverlay0 + kClearR) / 2.0, 2.0);
  // A row-0 frame of order 2 shows it fully transparent.
  g_s1OverlayAlpha = 0.9f;
  Frame(2, 0, 1.0f);
  EXPECT_TRUE(IsClear(ReadPixel(500, 300)));
}

TEST_F(Scene1Test, FadeBlackensTheWholePictureAfterRow50) {
  harness::ScratchDir dir;
  WritePictures(255);
  LoadScene1();
  g_s1OverlayAlpha = 1.0f;
  g_s1Fade = 1.0f;
  Frame(3, 50, 0.0f);
  EXPECT_EQ(ReadPixel(500, 60).r, kRedOverlay3);
  Frame(3, 51, 0.0f);
  for (int y : {0, 60, 240, 479}) {
    for (int x : {0, 500, 639}) {
      const Rgba p = ReadPixel(x, y);
      EXPECT_EQ(p.r + p.g + p.b, 0) << x << "," << y;
    }
  }
  g_s1Fade = 0.5f;
  Frame(3, 51, 0.0f);
  EXPECT_NEAR(ReadPixel(500, 60).r, kRedOverlay3 / 2.0, 2.0);
}

TEST_F(Scene1Test, CloudsAreAlphaBlendedAndDriftWithTheSceneClock) {
  harness::ScratchDir dir;
  WritePictures(128);
  LoadScene1();
  Frame(0, 0, 0.0f);
  const double a = 128.0 / 255.0;
  const Rgba centre = ReadPixel(320, 240);
  EXPECT_NEAR(centre.r, 200 * a + kClearR * (1 - a), 2.0);
  EXPECT_NEAR(centre.g, 100 * a + kClearG * (1 - a), 2.0);
  EXPECT_NEAR(centre.b, kClearB * (1 - a), 2.0);

  // A picture whose colour changes along t: the clock moves it, and one
  // whole texture (1000 ticks) brings it back.
  harness::WriteTga("cloud-b.tga", 256, 256,
                    [](int, int row) { return harness::Rgb{static_cast<uint8_t>(row), 0, 0}; });
  harness::WriteMask("mask-cloud-b.tga", 256, 256, [](int, int) { return uint8_t{255}; });
  LoadScene1();
  g_sceneClock = 100.0f;
  Frame(0, 0, 0.0f);
  const Rgba before = ReadPixel(320, 240);
  g_sceneClock = 400.0f;
  Frame(0, 0, 0.0f);
  const Rgba moved = ReadPixel(320, 240);
  g_sceneClock = 1100.0f;
  Frame(0, 0, 0.0f);
  const Rgba wrapped = ReadPixel(320, 240);
  EXPECT_NEAR(std::abs(moved.r - before.r), 0.3 * 256, 8.0);
  EXPECT_NEAR(wrapped.r, before.r, 2.0);
}

}  // namespace
