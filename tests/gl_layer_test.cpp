// The browser build's fixed-function layer (platform/web/gl_layer*.cpp), run
// natively in Mesa's context: its mipmaps against the system's GLU level by
// level, and test pictures drawn through it against the same calls made to
// Mesa's own fixed-function pipeline, pixel by pixel.
#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/web/gl_layer.h"
#include "tests/support/gl_harness.h"

namespace {

using harness::Rgba;

// ---- Mipmaps ---------------------------------------------------------------------

std::vector<uint8_t> NoisePicture(int width, int height, uint32_t seed) {
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
  uint32_t state = seed;
  for (size_t i = 0; i < rgba.size(); ++i) {
    state = state * 1103515245u + 12345u;
    // Smooth in x with noise on top, so that averages of all sizes occur.
    const size_t pixel = i / 4;
    const int x = static_cast<int>(pixel % static_cast<size_t>(width));
    rgba[i] = static_cast<uint8_t>((x * 7 + static_cast<int>(i % 4) * 60 + (state >> 24) / 4) & 0xFF);
  }
  return rgba;
}

struct Level {
  int width;
  int height;
  std::vector<uint8_t> pixels;
};

void CollectLevel(int index, int w, int h, const unsigned char* pixels, void* user) {
  auto* levels = static_cast<std::vector<Level>*>(user);
  EXPECT_EQ(static_cast<size_t>(index), levels->size());
  levels->push_back({w, h, std::vector<uint8_t>(pixels, pixels + static_cast<size_t>(w) * h * 4)});
}

class GlLayerTest : public harness::GlTest {};

// Every picture size the show loads, the non-power-of-two 640 x 480 among
// them, and sizes that reach each branch of GLU's scaling and halving.
TEST_F(GlLayerTest, MipmapsEqualTheSystemGluLevelByLevel) {
  const int sizes[][2] = {{640, 480}, {256, 256}, {1024, 32}, {512, 128}, {512, 64}, {256, 16},
                          {64, 64},   {128, 128}, {1, 1},     {1, 8},     {5, 3},    {20, 10},
                          {100, 37}};
  for (const auto& size : sizes) {
    const int width = size[0];
    const int height = size[1];
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    const std::vector<uint8_t> picture = NoisePicture(width, height, 7u * width + height);

    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    ASSERT_EQ(gluBuild2DMipmaps(GL_TEXTURE_2D, 4, width, height, GL_RGBA, GL_UNSIGNED_BYTE,
                                picture.data()),
              0);

    std::vector<Level> levels;
    LgluMipmapLevels(width, height, picture.data(), CollectLevel, &levels);
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.back().width, 1);
    EXPECT_EQ(levels.back().height, 1);
    for (size_t n = 0; n < levels.size(); ++n) {
      int w = 0;
      int h = 0;
      const std::vector<Rgba> mesa = harness::ReadTextureLevel(texture, static_cast<int>(n), &w, &h);
      ASSERT_EQ(w, levels[n].width) << "level " << n;
      ASSERT_EQ(h, levels[n].height) << "level " << n;
      ASSERT_EQ(mesa.size() * 4, levels[n].pixels.size());
      size_t differing = 0;
      for (size_t i = 0; i < mesa.size(); ++i) {
        const uint8_t* ours = &levels[n].pixels[4 * i];
        if (mesa[i].r != ours[0] || mesa[i].g != ours[1] || mesa[i].b != ours[2] ||
            mesa[i].a != ours[3]) {
          ++differing;
        }
      }
      EXPECT_EQ(differing, 0u) << "level " << n;
    }
    // Nothing beyond the 1 x 1 level.
    int w = 0;
    harness::ReadTextureLevel(texture, static_cast<int>(levels.size()), &w, nullptr);
    EXPECT_EQ(w, 0);
    glDeleteTextures(1, &texture);
  }
}

// ---- Drawing -----------------------------------------------------------------------

// The calls a test picture makes, pointing either at Mesa's OpenGL and GLU
// or at the layer.
struct Api {
  void (*Enable)(GLenum);
  void (*Disable)(GLenum);
  void (*BlendFunc)(GLenum, GLenum);
  void (*Clear)(GLbitfield);
  void (*ClearColor)(GLfloat, GLfloat, GLfloat, GLfloat);
  void (*BindTexture)(GLenum, GLuint);
  void (*GenTextures)(GLsizei, GLuint*);
  void (*MatrixMode)(GLenum);
  void (*LoadIdentity)();
  void (*PushMatrix)();
  void (*PopMatrix)();
  void (*Translatef)(GLfloat, GLfloat, GLfloat);
  void (*Rotatef)(GLfloat, GLfloat, GLfloat, GLfloat);
  void (*Scalef)(GLfloat, GLfloat, GLfloat);
  void (*Frustum)(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble);
  void (*Begin)(GLenum);
  void (*End)();
  void (*Vertex3f)(GLfloat, GLfloat, GLfloat);
  void (*TexCoord2f)(GLfloat, GLfloat);
  void (*Color4f)(GLfloat, GLfloat, GLfloat, GLfloat);
  GLint (*Build2DMipmaps)(GLenum, GLint, GLsizei, GLsizei, GLenum, GLenum, const void*);
  void (*Perspective)(GLdouble, GLdouble, GLdouble, GLdouble);
  void (*LookAt)(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble,
                 GLdouble);
  GLUquadric* (*NewQuadric)();
  void (*DeleteQuadric)(GLUquadric*);
  void (*QuadricTexture)(GLUquadric*, GLboolean);
  void (*QuadricOrientation)(GLUquadric*, GLenum);
  void (*Cylinder)(GLUquadric*, GLdouble, GLdouble, GLdouble, GLint, GLint);
  void (*Finish)();
};

const Api kMesa = {glEnable,       glDisable,    glBlendFunc,   glClear,      glClearColor,
                   glBindTexture,  glGenTextures, glMatrixMode, glLoadIdentity, glPushMatrix,
                   glPopMatrix,    glTranslatef, glRotatef,     glScalef,     glFrustum,
                   glBegin,        glEnd,        glVertex3f,    glTexCoord2f, glColor4f,
                   gluBuild2DMipmaps, gluPerspective, gluLookAt, gluNewQuadric, gluDeleteQuadric,
                   gluQuadricTexture, gluQuadricOrientation, gluCylinder, glFinish};

const Api kLayer = {LglEnable,       LglDisable,    LglBlendFunc,   LglClear,      LglClearColor,
                    LglBindTexture,  LglGenTextures, LglMatrixMode, LglLoadIdentity, LglPushMatrix,
                    LglPopMatrix,    LglTranslatef, LglRotatef,     LglScalef,     LglFrustum,
                    LglBegin,        LglEnd,        LglVertex3f,    LglTexCoord2f, LglColor4f,
                    LgluBuild2DMipmaps, LgluPerspective, LgluLookAt, LgluNewQuadric,
                    LgluDeleteQuadric, LgluQuadricTexture, LgluQuadricOrientation, LgluCylinder,
                    LglFinish};

// Pictures: a 640 x 480 photograph-like one (GLU scales it), a 256 x 256
// masked sprite, and a 64 x 16 strip.
struct Pictures {
  GLuint screen;
  GLuint sprite;
  GLuint strip;
  GLuint neverLoaded;
};

Pictures LoadPictures(const Api& gl) {
  Pictures p;
  GLuint names[4];
  gl.GenTextures(4, names);
  p = {names[0], names[1], names[2], names[3]};
  std::vector<uint8_t> screen(640 * 480 * 4);
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      uint8_t* t = &screen[4 * (y * 640 + x)];
      t[0] = static_cast<uint8_t>(x * 255 / 639);
      t[1] = static_cast<uint8_t>(y * 255 / 479);
      t[2] = static_cast<uint8_t>(((x / 40) + (y / 40)) % 2 ? 220 : 30);
      t[3] = 255;
    }
  }
  gl.BindTexture(GL_TEXTURE_2D, p.screen);
  gl.Build2DMipmaps(GL_TEXTURE_2D, 4, 640, 480, GL_RGBA, GL_UNSIGNED_BYTE, screen.data());

  std::vector<uint8_t> sprite(256 * 256 * 4);
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      uint8_t* t = &sprite[4 * (y * 256 + x)];
      const double d = std::hypot(x - 127.5, y - 127.5) / 128.0;
      t[0] = 250;
      t[1] = static_cast<uint8_t>(200 - x / 2);
      t[2] = static_cast<uint8_t>(y / 2);
      t[3] = static_cast<uint8_t>(d >= 1.0 ? 0 : 255 * (1.0 - d));
    }
  }
  gl.BindTexture(GL_TEXTURE_2D, p.sprite);
  gl.Build2DMipmaps(GL_TEXTURE_2D, 4, 256, 256, GL_RGBA, GL_UNSIGNED_BYTE, sprite.data());

  std::vector<uint8_t> strip(64 * 16 * 4);
  for (int i = 0; i < 64 * 16; ++i) {
    strip[4 * i + 0] = static_cast<uint8_t>((i % 64) * 4);
    strip[4 * i + 1] = 90;
    strip[4 * i + 2] = static_cast<uint8_t>(255 - (i % 64) * 4);
    strip[4 * i + 3] = static_cast<uint8_t>(i / 64 * 16);
  }
  gl.BindTexture(GL_TEXTURE_2D, p.strip);
  gl.Build2DMipmaps(GL_TEXTURE_2D, 4, 64, 16, GL_RGBA, GL_UNSIGNED_BYTE, strip.data());
  return p;
}

void Quad(const Api& gl, float x0, float y0, float x1, float y1, float z) {
  gl.Begin(GL_QUADS);
  gl.TexCoord2f(0, 0);
  gl.Vertex3f(x0, y0, z);
  gl.TexCoord2f(1, 0);
  gl.Vertex3f(x1, y0, z);
  gl.TexCoord2f(1, 1);
  gl.Vertex3f(x1, y1, z);
  gl.TexCoord2f(0, 1);
  gl.Vertex3f(x0, y1, z);
  gl.End();
}

// The scenes' projection and screen-space overlays: a scrolled, tiled
// background through the texture matrix, a faded masked sprite, additive
// strips, colours beyond 0..1 (clamped), and a fade quad without texture.
void DrawOverlays(const Api& gl, const Pictures& p) {
  gl.ClearColor(0.1f, 0.2f, 0.3f, 1.0f);
  gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  gl.MatrixMode(GL_PROJECTION);
  gl.LoadIdentity();
  gl.Frustum(-1, 1, -1, 1, 1, 1500);
  gl.Scalef(1.0f, 1.33f, 1.0f);
  gl.MatrixMode(GL_MODELVIEW);
  gl.LoadIdentity();
  gl.Enable(GL_TEXTURE_2D);
  gl.Enable(GL_BLEND);
  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

  gl.MatrixMode(GL_TEXTURE);
  gl.LoadIdentity();
  gl.PushMatrix();
  gl.Translatef(0.137f, -0.25f, 0.0f);
  gl.Scalef(2.0f, 1.5f, 1.0f);
  gl.MatrixMode(GL_MODELVIEW);
  gl.Translatef(0, 0, -1.0001f);
  gl.BindTexture(GL_TEXTURE_2D, p.screen);
  gl.Color4f(1, 1, 1, 0.8f);
  Quad(gl, -1.0f, -0.75f, 1.0f, 0.75f, 0.0f);
  gl.MatrixMode(GL_TEXTURE);
  gl.PopMatrix();
  gl.MatrixMode(GL_MODELVIEW);

  gl.BindTexture(GL_TEXTURE_2D, p.sprite);
  gl.Color4f(1, 1, 1, 0.7f);
  Quad(gl, -0.6f, -0.5f, 0.1f, 0.3f, 0.0f);

  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE);
  gl.BindTexture(GL_TEXTURE_2D, p.strip);
  gl.Color4f(6.0f, 0.3f, -2.0f, 1.4f);  // clamped to (1, 0.3, 0, 1)
  Quad(gl, 0.2f, -0.6f, 0.95f, -0.3f, 0.0f);
  // Many small strips, one primitive each (the layer draws them together).
  gl.Color4f(0.5f, 0.5f, 0.5f, 0.5f);
  for (int i = 0; i < 40; ++i) {
    const float x = -0.95f + 0.045f * i;
    Quad(gl, x, 0.45f, x + 0.03f, 0.7f - 0.004f * i, 0.0f);
  }

  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  gl.Disable(GL_TEXTURE_2D);
  gl.Color4f(0.73f, 0.15f, 0.0f, 0.35f);
  Quad(gl, -1.0f, -1.0f, 0.0f, 0.0f, 0.0f);
  gl.Enable(GL_TEXTURE_2D);
}

// A 3D scene: a camera from gluLookAt and gluPerspective, a textured
// cylinder seen from inside (scene 4's skyline), depth-tested quads,
// triangles of both windings with back faces culled, lines, a texture
// coordinate left current from an earlier primitive, and a texture name
// that never got an image (drawn untextured, as OpenGL does).
void DrawScene(const Api& gl, const Pictures& p) {
  gl.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  gl.MatrixMode(GL_PROJECTION);
  gl.LoadIdentity();
  gl.Perspective(60.0, 640.0 / 480.0, 1.0, 3000.0);
  gl.MatrixMode(GL_MODELVIEW);
  gl.LoadIdentity();
  gl.LookAt(310.0, -70.0, 392.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);
  gl.MatrixMode(GL_TEXTURE);
  gl.LoadIdentity();
  gl.MatrixMode(GL_MODELVIEW);

  gl.Enable(GL_TEXTURE_2D);
  gl.Enable(GL_BLEND);
  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE);
  GLUquadric* quadric = gl.NewQuadric();
  gl.QuadricTexture(quadric, GL_TRUE);
  gl.QuadricOrientation(quadric, GLU_INSIDE);
  gl.PushMatrix();
  gl.Rotatef(180.0f, 0.0f, 1.0f, 1.0f);
  gl.Rotatef(-37.5f, 0.0f, 0.0f, 1.0f);
  gl.Color4f(6.0f, 6.0f, 6.0f, 0.8f);
  gl.BindTexture(GL_TEXTURE_2D, p.strip);
  gl.Translatef(0.0f, 0.0f, -100.0f);
  // Culled as a whole but for its inside, which faces the eye.
  gl.Enable(GL_CULL_FACE);
  gl.Cylinder(quadric, 600.0, 600.0, 250.0, 50, 5);
  gl.Disable(GL_CULL_FACE);
  gl.PopMatrix();
  gl.DeleteQuadric(quadric);

  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  gl.Enable(GL_DEPTH_TEST);
  gl.BindTexture(GL_TEXTURE_2D, p.screen);
  gl.Color4f(1, 1, 1, 1);
  Quad(gl, -150, -80, 150, 80, 0);
  gl.BindTexture(GL_TEXTURE_2D, p.sprite);
  gl.PushMatrix();
  gl.Rotatef(35.0f, 0.0f, 1.0f, 0.0f);
  Quad(gl, -120, -60, 120, 120, 20);  // crosses the first quad in depth
  gl.PopMatrix();

  // The last texture coordinate given stays current for later primitives
  // that give none.
  gl.BindTexture(GL_TEXTURE_2D, p.strip);
  gl.TexCoord2f(0.3f, 0.9f);
  gl.Begin(GL_QUADS);
  gl.Vertex3f(-400, -95, 400);
  gl.Vertex3f(400, -95, 400);
  gl.Vertex3f(400, -95, -400);
  gl.Vertex3f(-400, -95, -400);
  gl.End();

  gl.Disable(GL_BLEND);
  gl.Enable(GL_CULL_FACE);
  gl.Disable(GL_TEXTURE_2D);
  gl.Color4f(1.0f, 1.0f, 0.2f, 1.0f);
  gl.Begin(GL_TRIANGLES);
  gl.Vertex3f(-200, -60, 200);  // counter-clockwise from the eye: drawn
  gl.Vertex3f(-100, -60, 200);
  gl.Vertex3f(-150, 20, 200);
  gl.Vertex3f(0, -60, 200);  // clockwise: culled
  gl.Vertex3f(50, 20, 200);
  gl.Vertex3f(100, -60, 200);
  gl.End();
  gl.Disable(GL_CULL_FACE);
  gl.Enable(GL_BLEND);
  gl.Enable(GL_TEXTURE_2D);

  gl.BindTexture(GL_TEXTURE_2D, p.neverLoaded);
  gl.Color4f(0.2f, 0.9f, 0.4f, 1.0f);
  Quad(gl, 160, -60, 260, 40, -30);
  gl.Begin(GL_LINES);
  for (int i = 0; i < 10; ++i) {
    gl.Vertex3f(-300.0f + 60.0f * i, -90.0f, -200.0f);
    gl.Vertex3f(-300.0f + 60.0f * i, 140.0f, -200.0f);
  }
  gl.End();
  gl.Disable(GL_DEPTH_TEST);
}

// Puts Mesa's fixed-function state back after the layer has drawn.
void LeaveLayer() {
  LglContextDestroyed();
  glUseProgram(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  for (GLuint a = 0; a < 3; ++a) glDisableVertexAttribArray(a);
}

struct Comparison {
  double meanDifference;      // over every channel of every pixel
  double farFraction;         // pixels with a channel more than 24 apart
  double maxChannelMean[3];   // the frame's mean colour, for a sanity check
};

Comparison Compare(const std::vector<Rgba>& a, const std::vector<Rgba>& b) {
  Comparison c = {0, 0, {0, 0, 0}};
  size_t far = 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const int d[3] = {std::abs(a[i].r - b[i].r), std::abs(a[i].g - b[i].g), std::abs(a[i].b - b[i].b)};
    sum += d[0] + d[1] + d[2];
    if (d[0] > 24 || d[1] > 24 || d[2] > 24) ++far;
    c.maxChannelMean[0] += a[i].r;
    c.maxChannelMean[1] += a[i].g;
    c.maxChannelMean[2] += a[i].b;
  }
  c.meanDifference = sum / (3.0 * a.size());
  c.farFraction = static_cast<double>(far) / a.size();
  for (double& m : c.maxChannelMean) m /= a.size();
  return c;
}

// Draws one picture and reads it back (and writes it as a PNG for a look
// when LANTERN_LAYER_PNG is set).
std::vector<Rgba> DrawAndRead(const Api& gl, void (*draw)(const Api&, const Pictures&),
                              const std::string& name) {
  draw(gl, LoadPictures(gl));
  gl.Finish();
  if (std::getenv("LANTERN_LAYER_PNG")) harness::WriteFramePng("/tmp/layer-" + name + ".png");
  return harness::ReadFrame();
}

// Draws with Mesa, then with the layer, in the same context.
Comparison DrawBothWays(void (*draw)(const Api&, const Pictures&), const std::string& name) {
  glDisable(GL_SCISSOR_TEST);
  glDisable(GL_CULL_FACE);
  glDisable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  const std::vector<Rgba> mesa = DrawAndRead(kMesa, draw, name + "-mesa");
  LglContextCreated();
  const std::vector<Rgba> layer = DrawAndRead(kLayer, draw, name + "-layer");
  LeaveLayer();
  return Compare(mesa, layer);
}

// Both draw on llvmpipe: what differs is only the layer's arithmetic and
// how it splits quads into triangles, which moves a few edge pixels.
TEST_F(GlLayerTest, OverlaysMatchMesasFixedFunction) {
  const Comparison c = DrawBothWays(DrawOverlays, "overlays");
  EXPECT_LT(c.meanDifference, 0.25);
  EXPECT_LT(c.farFraction, 0.001);
  // The picture is not blank (the comparison would then prove nothing).
  EXPECT_GT(c.maxChannelMean[0] + c.maxChannelMean[1] + c.maxChannelMean[2], 150.0);
}

TEST_F(GlLayerTest, CameraCylinderDepthCullingAndLinesMatchMesasFixedFunction) {
  const Comparison c = DrawBothWays(DrawScene, "scene");
  EXPECT_LT(c.meanDifference, 0.25);
  EXPECT_LT(c.farFraction, 0.001);
  EXPECT_GT(c.maxChannelMean[0] + c.maxChannelMean[1] + c.maxChannelMean[2], 100.0);
}

// The matrices the layer builds are Mesa's up to single-precision rounding
// (a few units in the last place of each column's largest element).
TEST_F(GlLayerTest, MatricesEqualMesasToRounding) {
  auto build = [](const Api& gl) {
    gl.MatrixMode(GL_MODELVIEW);
    gl.LoadIdentity();
    gl.Frustum(-1, 1, -1, 1, 1, 5000);
    gl.Scalef(1.0f, 1.33f, 1.0f);
    gl.Perspective(45.0, 640.0 / 480.0, 0.1, 100.0);
    gl.LookAt(-86.0, 160.0, 1234.0 / 3.0 - 800.0, -86.0, 200.0, -1000.0, 0.0, 1.0, 0.0);
    gl.Rotatef(180.0f, 0.0f, 1.0f, 1.0f);
    gl.Rotatef(-71.25f, 0.0f, 0.0f, 1.0f);
    gl.Translatef(0.0f, -800.0f, -1500.0f);
  };
  build(kMesa);
  GLfloat mesa[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, mesa);
  glLoadIdentity();
  build(kLayer);
  GLfloat layer[16];
  LglGetCurrentMatrix(layer);
  for (int column = 0; column < 4; ++column) {
    float largest = 0.0f;
    for (int row = 0; row < 4; ++row) largest = std::fmax(largest, std::fabs(mesa[4 * column + row]));
    for (int row = 0; row < 4; ++row) {
      const int i = 4 * column + row;
      EXPECT_NEAR(layer[i], mesa[i], largest * 4e-6f) << "element " << i;
    }
  }
}

// Frames drawn through a 1-pixel viewport and scissor (the skip-ahead's
// unseen frames) send nothing, yet the state they set carries on.
TEST_F(GlLayerTest, UnseenFramesDrawNothingButKeepTheirState) {
  LglContextCreated();
  LglViewport(0, 0, 640, 480);
  LglClearColor(0.0f, 0.0f, 1.0f, 1.0f);
  LglClear(GL_COLOR_BUFFER_BIT);

  LglViewport(0, 0, 1, 1);
  LglScissor(0, 0, 1, 1);
  LglEnable(GL_SCISSOR_TEST);
  LglClearColor(1.0f, 0.0f, 0.0f, 1.0f);
  LglClear(GL_COLOR_BUFFER_BIT);
  LglColor4f(0.0f, 1.0f, 0.0f, 1.0f);
  Quad(kLayer, -1, -1, 1, 1, 0);
  LglEnable(GL_BLEND);
  LglBlendFunc(GL_ZERO, GL_ONE);
  LglFinish();
  EXPECT_EQ(harness::ReadPixel(0, 479).b, 255);  // bottom-left pixel: still the first clear
  EXPECT_EQ(harness::ReadPixel(0, 479).r, 0);
  GLint box[4];
  LglGetIntegerv(GL_VIEWPORT, box);
  EXPECT_EQ(box[2], 1);

  LglViewport(0, 0, 640, 480);
  LglDisable(GL_SCISSOR_TEST);
  EXPECT_EQ(LglIsEnabled(GL_SCISSOR_TEST), GL_FALSE);
  // The blend function set while unseen holds: this quad leaves the frame as it is.
  Quad(kLayer, -1, -1, 1, 1, 0);
  LglFinish();
  EXPECT_EQ(harness::ReadPixel(320, 240).b, 255);
  LglBlendFunc(GL_ONE, GL_ZERO);
  Quad(kLayer, -1, -1, 1, 1, 0);
  LglFinish();
  EXPECT_EQ(harness::ReadPixel(320, 240).g, 255);
  LglDisable(GL_BLEND);
  LeaveLayer();
}

// The layer in a real OpenGL ES 2.0 context (EGL, as a GL-ES-only device
// has it), against Mesa's fixed function in a desktop context.
TEST(GlLayerEsTest, SceneInAnEs2ContextMatchesMesasFixedFunction) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
  SDL_Window* window =
      SDL_CreateWindow("lantern es test", 0, 0, 640, 480, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  ASSERT_NE(window, nullptr) << SDL_GetError();
  SDL_GLContext context = SDL_GL_CreateContext(window);
  ASSERT_NE(context, nullptr) << SDL_GetError();
  ASSERT_EQ(SDL_GL_MakeCurrent(window, context), 0);
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  ASSERT_NE(version, nullptr);
  // An ES 2.0 request may give a later, compatible ES version.
  EXPECT_EQ(std::string(version).rfind("OpenGL ES ", 0), 0u) << version;

  LglContextCreated();
  LglViewport(0, 0, 640, 480);
  DrawScene(kLayer, LoadPictures(kLayer));
  std::vector<Rgba> bottomUp(640 * 480);
  LglReadPixels(0, 0, 640, 480, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
  LglContextDestroyed();
  SDL_GL_MakeCurrent(window, nullptr);
  SDL_GL_DeleteContext(context);
  SDL_DestroyWindow(window);
  SDL_GL_ResetAttributes();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  std::vector<Rgba> layer(640 * 480);
  for (int y = 0; y < 480; ++y) std::copy_n(&bottomUp[(479 - y) * 640], 640, &layer[y * 640]);

  ASSERT_TRUE(harness::StartGl());
  DrawScene(kMesa, LoadPictures(kMesa));
  glFinish();
  const std::vector<Rgba> mesa = harness::ReadFrame();
  harness::StopGl();

  const Comparison c = Compare(mesa, layer);
  EXPECT_LT(c.meanDifference, 0.25);
  EXPECT_LT(c.farFraction, 0.001);
}

}  // namespace
