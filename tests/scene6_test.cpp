// Scene 6, the aircraft over the map: the camera's advance by order, the
// clock, and the destination-alpha blending of map, clouds and aircraft.
#include "platform/gl.h"

#include <cstdint>

#include "common/shared_state.h"
#include "render/render_state.h"
#include "scenes/scene6.h"
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
  DrawScene6();
}

void SolidPicture(const char* name, int w, int h, Rgb colour) {
  harness::WriteTga(name, w, h, [&](int, int) { return colour; });
}

// The eye's z: looking along +z from (0, 0, z) makes the view's own z axis
// point along -z, so the model-view matrix's z translation is z itself.
float EyeZ() {
  GLfloat m[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  return m[14];
}

class Scene6Test : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glEnable(GL_DEPTH_TEST);  // as scene 5 leaves it
    glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    g_s6FirstFrame = 1;
  }
  void Load() {
    harness::StderrCapture quiet;
    LoadScene6();
  }
};

TEST_F(Scene6Test, FirstFrameResetsOnceAndLeavesTheBlendingSet) {
  g_sceneClock = 500.0f;
  g_s6CamAdvance = 80.0f;
  Frame(16, 0, 2.0f);
  EXPECT_EQ(g_s6FirstFrame, 0);
  EXPECT_FLOAT_EQ(g_s6CamAdvance, 0.0f);
  EXPECT_FLOAT_EQ(g_sceneClock, 6.0f);  // zeroed, then 3 per tick
  GLint src = 0, dst = 0, mode = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(src, GL_DST_ALPHA);
  EXPECT_EQ(dst, GL_ONE);
  EXPECT_EQ(mode, GL_TEXTURE);
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  GLfloat clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_EQ(clear[0], 0.0f);
  EXPECT_EQ(clear[3], 1.0f);
  GLfloat texture[16];
  glGetFloatv(GL_TEXTURE_MATRIX, texture);
  EXPECT_EQ(texture[12], 0.0f);
  EXPECT_EQ(texture[0], 1.0f);

  g_sceneClock = 300.0f;
  g_s6CamAdvance = 7.0f;
  Frame(17, 0, 1.0f);
  EXPECT_FLOAT_EQ(g_sceneClock, 303.0f);
  EXPECT_FLOAT_EQ(g_s6CamAdvance, 7.0f);
}

TEST_F(Scene6Test, CameraAdvancesByOrderAloneBeforeItIsPlaced) {
  Frame(16, 0, 0.0f);
  struct Case {
    int order;
    float perTick;
  };
  for (const Case c : {Case{16, 0.0f}, Case{17, 0.0f}, Case{18, 2.0f}, Case{19, 3.0f}}) {
    for (int row : {0, 31, 63}) {
      g_s6CamAdvance = 54.0f;
      Frame(c.order, row, 4.0f);
      const float advance = 54.0f + c.perTick * 4.0f;
      EXPECT_FLOAT_EQ(g_s6CamAdvance, advance) << c.order << ":" << row;
      // This frame's camera already stands at the new advance / 27.
      EXPECT_NEAR(EyeZ(), advance / 27.0f, 1e-4) << c.order << ":" << row;
    }
  }
  g_s6CamAdvance = 10.0f;
  const float clock = g_sceneClock;
  Frame(19, 10, 0.0f);
  EXPECT_FLOAT_EQ(g_s6CamAdvance, 10.0f);
  EXPECT_FLOAT_EQ(g_sceneClock, clock);
}

TEST_F(Scene6Test, MapBrightensWithTheClockUnderBlackClouds) {
  harness::ScratchDir dir;
  SolidPicture("map.tga", 512, 512, {200, 100, 40});
  SolidPicture("1.tga", 256, 256, {0, 0, 0});
  Load();
  Frame(16, 0, 0.0f);  // T = 0: the map is black
  EXPECT_EQ(ReadPixel(40, 40).r, 0);
  g_sceneClock = 1000.0f;  // half brightness
  Frame(16, 1, 0.0f);
  Rgba half = ReadPixel(40, 40);
  EXPECT_NEAR(half.r, 100, 2);
  EXPECT_NEAR(half.g, 50, 2);
  g_sceneClock = 4000.0f;  // past full: clamped
  Frame(17, 1, 0.0f);
  EXPECT_NEAR(ReadPixel(600, 440).r, 200, 2);
}

TEST_F(Scene6Test, CloudLayersAddWhateverTheirAlpha) {
  harness::ScratchDir dir;
  SolidPicture("map.tga", 512, 512, {0, 0, 0});
  SolidPicture("1.tga", 256, 256, {100, 100, 100});
  Load();
  Frame(16, 0, 0.0f);
  // Two lower layers at 0.3 and two upper ones at 0.4 all cover this
  // corner; the destination alpha (1) weighs each fully: 60 + 80.
  EXPECT_NEAR(ReadPixel(30, 30).r, 140, 3);
  EXPECT_NEAR(ReadPixel(610, 450).g, 140, 3);
}

TEST_F(Scene6Test, AircraftCoversByItsMaskAndBrightensFromAThird) {
  harness::ScratchDir dir;
  SolidPicture("map.tga", 512, 512, {0, 0, 0});
  SolidPicture("1.tga", 256, 256, {0, 0, 0});
  // White aircraft inside the middle half, black and transparent around it.
  auto inside = [](int x, int row) { return x >= 64 && x < 192 && row >= 64 && row < 192; };
  harness::WriteTga("plane.tga", 256, 256, [&](int x, int row) {
    return inside(x, row) ? Rgb{250, 250, 250} : Rgb{0, 0, 0};
  });
  harness::WriteMask("mask-plane.tga", 256, 256,
                     [&](int x, int row) { return inside(x, row) ? uint8_t{255} : uint8_t{0}; });
  Load();
  Frame(16, 0, 0.0f);
  // The 32-unit quad at distance 80 spans 128 pixels across the centre.
  EXPECT_NEAR(ReadPixel(320, 240).r, 75, 2);  // brightness 0.3 at T = 0
  EXPECT_EQ(ReadPixel(320 + 50, 240 + 50).r, 0);  // transparent, black margin
  g_sceneClock = 3000.0f;  // 1.3: clamped to full
  Frame(16, 1, 0.0f);
  EXPECT_NEAR(ReadPixel(320, 240).r, 250, 2);
}

TEST_F(Scene6Test, AircraftHidesTheMapWhereItIsOpaque) {
  harness::ScratchDir dir;
  SolidPicture("map.tga", 512, 512, {0, 200, 0});
  SolidPicture("1.tga", 256, 256, {0, 0, 0});
  SolidPicture("plane.tga", 256, 256, {0, 0, 250});
  harness::WriteMask("mask-plane.tga", 256, 256, [](int, int) { return uint8_t{255}; });
  Load();
  Frame(16, 0, 0.0f);
  g_sceneClock = 2100.0f;  // map at full, aircraft at full
  Frame(16, 1, 0.0f);
  const Rgba centre = ReadPixel(320, 240);
  EXPECT_EQ(centre.g, 0);
  EXPECT_NEAR(centre.b, 250, 2);
  EXPECT_NEAR(ReadPixel(100, 240).g, 200, 2);
}

}  // namespace
