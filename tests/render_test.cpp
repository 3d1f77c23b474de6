// Screen quads, colour fades, the initial render state and the loading
// screen, drawn on the offscreen context and checked pixel by pixel.
#include "platform/gl.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "render/position_code.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/texture_loader.h"
#include "tests/support/gl_harness.h"

using harness::ReadFrame;
using harness::ReadPixel;
using harness::Rgb;
using harness::Rgba;

namespace {

bool Near(int a, int b, int tolerance) { return std::abs(a - b) <= tolerance; }

::testing::AssertionResult PixelIs(const Rgba& p, Rgb want, int tolerance = 0) {
  if (Near(p.r, want.r, tolerance) && Near(p.g, want.g, tolerance) && Near(p.b, want.b, tolerance)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "pixel (" << int(p.r) << "," << int(p.g) << "," << int(p.b)
                                       << ") wanted (" << int(want.r) << "," << int(want.g) << ","
                                       << int(want.b) << ")";
}

// A pattern whose neighbouring texels differ strongly in every channel, so a
// shift, flip or channel swap of even one texel shows.
Rgb PatternTexel(int x, int row) {
  return Rgb{static_cast<uint8_t>((x * 37) & 255), static_cast<uint8_t>((row * 53 + 7) & 255),
             static_cast<uint8_t>((x / 256) * 160 + (row & 1) * 80 + (x & 1) * 15)};
}

// Counts the pixels of the frame that differ from inside (within the
// rectangle x0 <= x < x1, y0 <= y < y1, screen units) or from outside.
int CountMismatches(int x0, int y0, int x1, int y1, Rgb inside, Rgb outside) {
  const std::vector<Rgba> frame = ReadFrame();
  int wrong = 0;
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      const bool in = x >= x0 && x < x1 && y >= y0 && y < y1;
      const Rgb want = in ? inside : outside;
      const Rgba p = frame[y * 640 + x];
      if (p.r != want.r || p.g != want.g || p.b != want.b) ++wrong;
    }
  }
  return wrong;
}

// The scenes' frame set-up: their projection, a black frame, texturing and
// blending on, depth test off, in a scratch data directory.
class ScreenQuadTest : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    harness::SetSceneProjection();
    harness::ClearFrame(0, 0, 0);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
  }

  // A 16 by 16 opaque picture of one colour in g_textures[slot].
  void LoadFlat(int slot, Rgb colour) {
    const std::string name = "flat" + std::to_string(slot) + ".tga";
    harness::WriteTga(name, 16, 16, [&](int, int) { return colour; });
    LoadTexture(0, name.c_str(), 16, 16, slot);
  }

  void Draw(float x, float y, float w, float h, float alpha, int slot) {
    g_quad = ScreenQuad{x, y, w, h, alpha};
    DrawScreenQuad(g_quad, g_textures[slot]);
  }

  harness::ScratchDir dir_;
};

TEST_F(ScreenQuadTest, RectanglesCoverExactlyTheirPixels) {
  const Rgb colour{200, 100, 50};
  LoadFlat(1, colour);
  struct Case {
    float x, y, w, h;
  };
  const std::array<Case, 7> cases = {{
      {0, 0, 640, 480},     // the whole screen
      {84, 176, 512, 128},  // the loading screen
      {-32, 400, 128, 128}, // partly off the left and bottom edges
      {600, -20, 100, 50},  // partly off the right and top edges
      {1, 1, 1, 1},         // a single pixel
      {320, 240, 3, 7},
      {700, 100, 64, 64},   // wholly off screen
  }};
  for (const Case& c : cases) {
    harness::ClearFrame(0, 0, 0);
    Draw(c.x, c.y, c.w, c.h, 1.0f, 1);
    EXPECT_EQ(CountMismatches(static_cast<int>(c.x), static_cast<int>(c.y), static_cast<int>(c.x + c.w),
                              static_cast<int>(c.y + c.h), colour, Rgb{0, 0, 0}),
              0)
        << "quad " << c.x << "," << c.y << " " << c.w << "x" << c.h;
  }
}

TEST_F(ScreenQuadTest, FullSizeQuadMapsTexelsOneToOneWithRowZeroAtTheBottom) {
  harness::WriteTga("pattern.tga", 512, 128, PatternTexel);
  LoadTexture(0, "pattern.tga", 512, 128, 2);
  Draw(84, 176, 512, 128, 1.0f, 2);
  const std::vector<Rgba> frame = ReadFrame();
  int wrong = 0;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 512; ++x) {
      const Rgb want = PatternTexel(x, 127 - y);  // screen row 0 of the quad is texture row 127
      const Rgba p = frame[(176 + y) * 640 + 84 + x];
      if (!PixelIs(p, want)) {
        if (++wrong <= 5) ADD_FAILURE() << "quad pixel " << x << "," << y << ": " << PixelIs(p, want).message();
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(ScreenQuadTest, ColourOrderAndOrientationOfAnAsymmetricPicture) {
  // Stored rows: row 0 red | green, row 1 blue | white. Upright means row 0
  // at the bottom; a vertical flip, a mirror or a red/blue swap all change
  // at least one quadrant.
  harness::WriteTga("quads.tga", 2, 2, [](int x, int row) {
    if (row == 0) return x == 0 ? Rgb{255, 0, 0} : Rgb{0, 255, 0};
    return x == 0 ? Rgb{0, 0, 255} : Rgb{255, 255, 255};
  });
  LoadTexture(0, "quads.tga", 2, 2, 3);
  Draw(0, 0, 640, 480, 1.0f, 3);
  EXPECT_TRUE(PixelIs(ReadPixel(160, 360), Rgb{255, 0, 0}, 2)) << "bottom left";
  EXPECT_TRUE(PixelIs(ReadPixel(480, 360), Rgb{0, 255, 0}, 2)) << "bottom right";
  EXPECT_TRUE(PixelIs(ReadPixel(160, 120), Rgb{0, 0, 255}, 2)) << "top left";
  EXPECT_TRUE(PixelIs(ReadPixel(480, 120), Rgb{255, 255, 255}, 2)) << "top right";
}

TEST_F(ScreenQuadTest, AlphaFromMaskAndFromTheQuad) {
  // A white picture whose mask is 128 everywhere: half of it shows, and the
  // colour is not darkened by the mask (no premultiplication).
  harness::WriteTga("half.tga", 16, 16, [](int, int) { return Rgb{255, 255, 255}; });
  harness::WriteMask("mask-half.tga", 16, 16, [](int, int) { return uint8_t{128}; });
  LoadTexture(1, "half.tga", 16, 16, 4);
  harness::ClearFrame(255, 0, 0);
  Draw(0, 0, 640, 480, 1.0f, 4);
  EXPECT_TRUE(PixelIs(ReadPixel(320, 240), Rgb{255, 128, 128}, 1));

  // Quad alpha 0.5 on an opaque picture.
  LoadFlat(5, Rgb{255, 255, 255});
  harness::ClearFrame(0, 0, 0);
  Draw(0, 0, 640, 480, 0.5f, 5);
  EXPECT_TRUE(PixelIs(ReadPixel(10, 10), Rgb{128, 128, 128}, 1));

  // Alpha 0 leaves the frame as it was.
  harness::ClearFrame(10, 200, 90);
  Draw(0, 0, 640, 480, 0.0f, 5);
  EXPECT_EQ(CountMismatches(0, 0, 0, 0, Rgb{}, Rgb{10, 200, 90}), 0);

  // Alpha 2 draws as 1: grey over red stays grey. Unclamped it would give
  // 2 * grey - red, that is (0, 255, 255).
  LoadFlat(6, Rgb{128, 128, 128});
  harness::ClearFrame(255, 0, 0);
  Draw(0, 0, 640, 480, 2.0f, 6);
  EXPECT_TRUE(PixelIs(ReadPixel(320, 240), Rgb{128, 128, 128}, 1));
}

TEST_F(ScreenQuadTest, ColorQuadCoversTheWholeViewInEachColour) {
  const std::array<Rgb, 3> colours = {{{0, 0, 0}, {255, 255, 255}, {186, 38, 0}}};
  for (int code = 0; code < 3; ++code) {
    harness::ClearFrame(10, 200, 90);
    DrawColorQuad(1.0f, code);
    const std::vector<Rgba> frame = ReadFrame();
    int wrong = 0;
    for (const Rgba& p : frame) wrong += PixelIs(p, colours[code], 1) ? 0 : 1;
    EXPECT_EQ(wrong, 0) << "colour code " << code;
  }
  // Blending is switched on by the call itself.
  glDisable(GL_BLEND);
  harness::ClearFrame(0, 0, 0);
  DrawColorQuad(0.5f, kColorWhite);
  EXPECT_TRUE(PixelIs(ReadPixel(0, 0), Rgb{128, 128, 128}, 1));
  EXPECT_TRUE(PixelIs(ReadPixel(639, 479), Rgb{128, 128, 128}, 1));
}

// Clears the frame and draws an untextured red wall two units ahead of the eye.
void DrawWall() {
  harness::ClearFrame(0, 0, 0);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_TEXTURE_2D);
  glColor4f(1, 0, 0, 1);
  glBegin(GL_QUADS);
  glVertex3f(-5, -5, -2);
  glVertex3f(5, -5, -2);
  glVertex3f(5, 5, -2);
  glVertex3f(-5, 5, -2);
  glEnd();
  glEnable(GL_TEXTURE_2D);
  glPopMatrix();
}

TEST_F(ScreenQuadTest, QuadsIgnoreTheSceneCameraAndLieInFrontOfTheScene) {
  // A scene camera looking somewhere else and a depth-tested red wall two
  // units ahead: both quads still cover the screen exactly and win the
  // depth test against the wall.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(3, 2, 1, 4, 2.5, -1, 0, 1, 0);
  glEnable(GL_DEPTH_TEST);
  DrawWall();
  ASSERT_TRUE(PixelIs(ReadPixel(320, 240), Rgb{255, 0, 0}));

  LoadFlat(7, Rgb{20, 40, 60});
  Draw(84, 176, 512, 128, 1.0f, 7);
  EXPECT_EQ(CountMismatches(84, 176, 596, 304, Rgb{20, 40, 60}, Rgb{255, 0, 0}), 0);
  DrawWall();  // both helpers draw at the same depth, so start afresh
  DrawColorQuad(1.0f, kColorOrange);
  const std::vector<Rgba> frame = ReadFrame();
  int wrong = 0;
  for (const Rgba& p : frame) wrong += PixelIs(p, Rgb{186, 38, 0}, 1) ? 0 : 1;
  EXPECT_EQ(wrong, 0);
}

// What each helper leaves behind, with a caller state chosen to differ from
// it wherever possible.
struct GlState {
  GLint matrixMode, blendSrc, blendDst, boundTexture;
  GLboolean texture2d, blend, depthTest;
  std::array<GLfloat, 16> modelview, projection;
  std::array<GLfloat, 4> colour;
};

GlState CaptureState() {
  GlState s{};
  glGetIntegerv(GL_MATRIX_MODE, &s.matrixMode);
  glGetIntegerv(GL_BLEND_SRC, &s.blendSrc);
  glGetIntegerv(GL_BLEND_DST, &s.blendDst);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &s.boundTexture);
  s.texture2d = glIsEnabled(GL_TEXTURE_2D);
  s.blend = glIsEnabled(GL_BLEND);
  s.depthTest = glIsEnabled(GL_DEPTH_TEST);
  glGetFloatv(GL_MODELVIEW_MATRIX, s.modelview.data());
  glGetFloatv(GL_PROJECTION_MATRIX, s.projection.data());
  glGetFloatv(GL_CURRENT_COLOR, s.colour.data());
  return s;
}

void SetCallerState(bool depthTest) {
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(1, 2, 3, 0, 0, 0, 0, 1, 0);
  glMatrixMode(GL_PROJECTION);  // left selected on purpose
  glBlendFunc(GL_ONE, GL_ONE);
  glColor4f(0.2f, 0.3f, 0.4f, 0.5f);
  if (depthTest) {
    glEnable(GL_DEPTH_TEST);
  } else {
    glDisable(GL_DEPTH_TEST);
  }
}

TEST_F(ScreenQuadTest, StateLeftBehindByScreenQuad) {
  LoadFlat(8, Rgb{1, 2, 3});
  glBindTexture(GL_TEXTURE_2D, 0);
  for (bool depth : {false, true}) {
    SetCallerState(depth);
    const GlState before = CaptureState();
    const ScreenQuad placed{12, 34, 56, 78, 0.625f};
    g_quad = placed;
    DrawScreenQuad(g_quad, g_textures[8]);
    const GlState after = CaptureState();
    EXPECT_EQ(after.matrixMode, GL_MODELVIEW);
    EXPECT_EQ(after.modelview, before.modelview);
    EXPECT_EQ(after.projection, before.projection);
    EXPECT_EQ(after.blendSrc, GL_SRC_ALPHA);
    EXPECT_EQ(after.blendDst, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_TRUE(after.texture2d);
    EXPECT_EQ(after.blend, before.blend);
    EXPECT_EQ(after.depthTest, before.depthTest);
    EXPECT_EQ(after.boundTexture, static_cast<GLint>(g_textures[8]));
    EXPECT_EQ(after.colour, (std::array<GLfloat, 4>{1, 1, 1, 0.625f}));
    EXPECT_EQ(g_quad.x, placed.x);
    EXPECT_EQ(g_quad.alpha, placed.alpha);
  }
}

TEST_F(ScreenQuadTest, StateLeftBehindByColorQuad) {
  LoadFlat(9, Rgb{1, 2, 3});
  for (bool depth : {false, true}) {
    SetCallerState(depth);
    glDisable(GL_BLEND);
    glBindTexture(GL_TEXTURE_2D, g_textures[9]);
    const GlState before = CaptureState();
    DrawColorQuad(0.25f, kColorOrange);
    const GlState after = CaptureState();
    EXPECT_EQ(after.matrixMode, GL_MODELVIEW);
    EXPECT_EQ(after.modelview, before.modelview);
    EXPECT_EQ(after.projection, before.projection);
    EXPECT_EQ(after.blendSrc, GL_SRC_ALPHA);
    EXPECT_EQ(after.blendDst, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_TRUE(after.texture2d);
    EXPECT_TRUE(after.blend);
    EXPECT_EQ(after.depthTest, before.depthTest);
    EXPECT_EQ(after.boundTexture, before.boundTexture);
    EXPECT_EQ(after.colour, (std::array<GLfloat, 4>{0.73f, 0.15f, 0.0f, 0.25f}));
  }
}

// InitRenderState runs on a fresh context in the real program; here the
// suite's context is shared, so each test starts from a reset state.
class InitRenderStateTest : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    glShadeModel(GL_FLAT);
    glViewport(0, 0, 320, 240);
    g_quad = ScreenQuad{1, 2, 3, 4, 5};
  }
  harness::ScratchDir dir_;
};

TEST_F(InitRenderStateTest, LoadingScreenShowsUprightInItsRectangleOnly) {
  harness::WriteTga("loading.tga", 512, 128, PatternTexel);
  InitRenderState();
  const std::vector<Rgba> frame = ReadFrame();
  int wrongInside = 0;
  int wrongOutside = 0;
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      const Rgba p = frame[y * 640 + x];
      if (x >= 84 && x < 596 && y >= 176 && y < 304) {
        wrongInside += PixelIs(p, PatternTexel(x - 84, 127 - (y - 176))) ? 0 : 1;
      } else {
        wrongOutside += PixelIs(p, Rgb{0, 0, 0}) ? 0 : 1;
      }
    }
  }
  EXPECT_EQ(wrongInside, 0);
  EXPECT_EQ(wrongOutside, 0);
}

TEST_F(InitRenderStateTest, StateLeftForTheScenes) {
  harness::WriteTga("loading.tga", 512, 128, [](int, int) { return Rgb{9, 9, 9}; });
  InitRenderState();
  const GlState s = CaptureState();
  EXPECT_TRUE(s.texture2d);
  EXPECT_TRUE(s.blend);
  EXPECT_FALSE(s.depthTest);
  EXPECT_EQ(s.blendSrc, GL_SRC_ALPHA);
  EXPECT_EQ(s.blendDst, GL_ONE_MINUS_SRC_ALPHA);
  EXPECT_EQ(s.matrixMode, GL_MODELVIEW);
  EXPECT_EQ(s.boundTexture, static_cast<GLint>(g_textures[0]));

  GLint shade = 0;
  glGetIntegerv(GL_SHADE_MODEL, &shade);
  EXPECT_EQ(shade, GL_SMOOTH);
  std::array<GLint, 4> viewport{};
  glGetIntegerv(GL_VIEWPORT, viewport.data());
  EXPECT_EQ(viewport, (std::array<GLint, 4>{0, 0, 640, 480}));
  std::array<GLfloat, 4> clear{};
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear.data());
  EXPECT_EQ(clear, (std::array<GLfloat, 4>{0, 0, 0, 1}));

  // glFrustum(-1, 1, -1, 1, 1, 1500) then glScalef(1, 1.33, 1).
  EXPECT_FLOAT_EQ(s.projection[0], 1.0f);
  EXPECT_FLOAT_EQ(s.projection[5], 1.33f);
  EXPECT_FLOAT_EQ(s.projection[10], -1501.0f / 1499.0f);
  EXPECT_FLOAT_EQ(s.projection[11], -1.0f);
  EXPECT_FLOAT_EQ(s.projection[14], -3000.0f / 1499.0f);

  EXPECT_EQ(g_quad.x, 84.0f);
  EXPECT_EQ(g_quad.y, 176.0f);
  EXPECT_EQ(g_quad.width, 512.0f);
  EXPECT_EQ(g_quad.height, 128.0f);
  EXPECT_EQ(g_quad.alpha, 1.0f);
}

TEST_F(InitRenderStateTest, GeneratesEveryTableEntryAfresh) {
  harness::WriteTga("loading.tga", 512, 128, [](int, int) { return Rgb{9, 9, 9}; });
  std::vector<GLuint> seen;
  for (int round = 0; round < 2; ++round) {
    InitRenderState();
    for (GLuint name : g_textures) seen.push_back(name);
    for (GLuint name : g_frameTexturesA) seen.push_back(name);
    for (GLuint name : g_frameTexturesC) seen.push_back(name);
  }
  ASSERT_EQ(seen.size(), 2u * (65 + 20 + 8));
  std::vector<GLuint> sorted = seen;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a name is repeated";
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 0u), 0);
}

TEST_F(InitRenderStateTest, WorksAgainInARecreatedContext) {
  // A full-screen toggle destroys the context and runs InitRenderState in a
  // new one; the loading screen must show again there.
  harness::WriteTga("loading.tga", 512, 128, [](int, int) { return Rgb{200, 100, 50}; });
  InitRenderState();
  harness::StopGl();
  ASSERT_TRUE(harness::StartGl());
  InitRenderState();
  EXPECT_EQ(CountMismatches(84, 176, 596, 304, Rgb{200, 100, 50}, Rgb{0, 0, 0}), 0);
}

TEST_F(InitRenderStateTest, MissingLoadingScreenLeavesABlackFrameAndIsReportedOnce) {
  harness::StderrCapture capture;
  InitRenderState();
  const std::string text = capture.Text();
  EXPECT_EQ(CountMismatches(0, 0, 0, 0, Rgb{}, Rgb{0, 0, 0}), 0);
  const size_t first = text.find("loading.tga");
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.find("loading.tga", first + 1), std::string::npos) << text;
}

TEST(PositionCode, EveryPositionRoundTripsAndNoSingleMisreadCellDecodes) {
  for (int order = 0; order < 256; ++order) {
    for (int row = 0; row < 256; ++row) {
      uint8_t cells[kPositionCodeCells];
      EncodePositionCode(order, row, cells);
      int gotOrder = -1;
      int gotRow = -1;
      ASSERT_TRUE(DecodePositionCode(cells, &gotOrder, &gotRow)) << order << ":" << row;
      ASSERT_EQ(gotOrder, order);
      ASSERT_EQ(gotRow, row);
      for (int flip = 0; flip < kPositionCodeCells; ++flip) {
        cells[flip] ^= 1;
        ASSERT_FALSE(DecodePositionCode(cells, &gotOrder, &gotRow)) << order << ":" << row << " cell " << flip;
        cells[flip] ^= 1;
      }
    }
  }
}

}  // namespace
