// Scene 8, the silhouettes and the end: the chel shift at load, the alphas
// and the end flag through frames, and the silhouettes, field, overlays and
// closing fade on the offscreen context.
#include "platform/gl.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/mesh_loader.h"
#include "resources/texture_loader.h"
#include "scenes/scene8.h"
#include "scenes/scenes.h"
#include "tests/support/gl_harness.h"
#include "timeline/clock.h"
#include "timeline/sequencer.h"

using harness::ReadPixel;
using harness::Rgb;
using harness::Rgba;

namespace {

void Frame(int order, int row, float delta) {
  g_scene = order;
  g_sceneRow = row;
  g_frameDelta = delta;
  DrawScene8();
}

void SolidPicture(const char* name, int w, int h, Rgb colour) {
  harness::WriteTga(name, w, h, [&](int, int) { return colour; });
}
void SolidMask(const char* name, int w, int h, uint8_t alpha) {
  harness::WriteMask(name, w, h, [&](int, int) { return alpha; });
}

struct V3 {
  float x, y, z;
};
struct Tri {
  uint16_t a, b, c;
};

// A ".3d" file: u16 count, vertices, u16 count, faces (a, b, c, unused d).
void WriteMeshFile(const char* name, const std::vector<V3>& vertices, const std::vector<Tri>& faces) {
  std::vector<uint8_t> bytes;
  auto put16 = [&](uint16_t v) {
    bytes.push_back(static_cast<uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto putFloat = [&](float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(u >> (8 * i)));
  };
  put16(static_cast<uint16_t>(vertices.size()));
  for (const V3& v : vertices) {
    putFloat(v.x);
    putFloat(v.y);
    putFloat(v.z);
  }
  put16(static_cast<uint16_t>(faces.size()));
  for (const Tri& f : faces) {
    put16(f.a);
    put16(f.b);
    put16(f.c);
    put16(0xBEEF);
  }
  harness::WriteBytes(name, bytes);
}

// The model point that the scene's placement puts at world (x, y, z):
// model (x, y, z) is drawn at world (x, z - 800, -y - 1500).
V3 ModelFor(float x, float y, float z) { return {x, -z - 1500.0f, y + 800.0f}; }

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

// The eye position of the camera the frame left on the model-view stack.
V3 Eye() {
  GLdouble m[16];
  glGetDoublev(GL_MODELVIEW_MATRIX, m);
  // Eye = -R^T t for the column-major rotation R and translation t.
  V3 e{};
  e.x = static_cast<float>(-(m[0] * m[12] + m[1] * m[13] + m[2] * m[14]));
  e.y = static_cast<float>(-(m[4] * m[12] + m[5] * m[13] + m[6] * m[14]));
  e.z = static_cast<float>(-(m[8] * m[12] + m[9] * m[13] + m[10] * m[14]));
  return e;
}

void AllAlphasTo(float v) {
  g_s8FieldAlpha = v;
  g_s8Fade = v;
  g_s8EndAlpha = v;
  g_s8DedicatedAlpha = v;
  g_s8LoveAlpha = v;
}

class Scene8Test : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glClearColor(0, 0, 0, 1);
    g_quit = 0;
  }
  void Load() {
    harness::StderrCapture quiet;
    LoadScene8();
  }
};

TEST_F(Scene8Test, LoadShiftsEveryChelSlotOnceAfterReadingTheFile) {
  harness::ScratchDir dir;
  WriteMeshFile("chel.3d", {{1, 2, 3}, {4, 5, 6}}, {{0, 1, 0}});
  WriteMeshFile("zavod.3d", {{7, 8, 9}}, {{0, 0, 0}});
  const MeshVertex untouched = g_chelMesh.vertices[kChelVertexCapacity - 1];
  const MeshVertex middle = g_chelMesh.vertices[4000];
  Load();
  ASSERT_EQ(g_chelMesh.vertexCount, 2);
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[0].x, 1 - 100.0f);
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[0].y, 2.0f);
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[0].z, 3 - 3.0f);
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[1].x, 4 - 100.0f);
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[1].z, 6 - 3.0f);
  // Slots the file does not fill move too, by the same amount.
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[kChelVertexCapacity - 1].x, untouched.x - 100.0f);
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[kChelVertexCapacity - 1].y, untouched.y);
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[kChelVertexCapacity - 1].z, untouched.z - 3.0f);
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[4000].x, middle.x - 100.0f);
  // The other mesh is left as read.
  EXPECT_FLOAT_EQ(g_zavodMesh.vertices[0].x, 7.0f);
  EXPECT_FLOAT_EQ(g_zavodMesh.vertices[0].z, 9.0f);

  // A second load reads the file over the shifted values: loaded vertices
  // end up shifted once, the others once more.
  Load();
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[0].x, 1 - 100.0f);
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[0].z, 0.0f);
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[kChelVertexCapacity - 1].x, untouched.x - 200.0f);
  EXPECT_FLOAT_EQ(g_chelMesh.vertices[kChelVertexCapacity - 1].z, untouched.z - 6.0f);
}

TEST_F(Scene8Test, FirstFrameResetsOnceAndPutsTheEyeAtMinus800) {
  g_s8FirstFrame = 1;
  AllAlphasTo(0.7f);
  g_sceneClock = 900.0f;
  Frame(22, 30, 0.0f);  // a row where no alpha changes
  EXPECT_EQ(g_s8FirstFrame, 0);
  EXPECT_FLOAT_EQ(g_sceneClock, 0.0f);
  EXPECT_FLOAT_EQ(g_s8FieldAlpha, 0.0f);
  EXPECT_FLOAT_EQ(g_s8Fade, 0.0f);
  EXPECT_FLOAT_EQ(g_s8EndAlpha, 0.0f);
  EXPECT_FLOAT_EQ(g_s8DedicatedAlpha, 0.0f);
  EXPECT_FLOAT_EQ(g_s8LoveAlpha, 0.0f);
  const V3 eye = Eye();
  EXPECT_NEAR(eye.x, -86.0f, 1e-2);
  EXPECT_NEAR(eye.y, 160.0f, 1e-2);
  EXPECT_NEAR(eye.z, -800.0f, 1e-2);
  GLfloat clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_NEAR(clear[0], 0.73f, 1e-6);
  EXPECT_NEAR(clear[1], 0.15f, 1e-6);
  // Culling stays on for good; blending and texturing are back on.
  EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));

  // Later frames keep the values; the eye backs away by a third per tick.
  AllAlphasTo(0.7f);
  g_sceneClock = 300.0f;
  Frame(23, 30, 4.0f);
  EXPECT_FLOAT_EQ(g_s8Fade, 0.7f);
  EXPECT_FLOAT_EQ(g_sceneClock, 304.0f);
  EXPECT_NEAR(Eye().z, -700.0f, 1e-2);
}

TEST_F(Scene8Test, AlphasChangeInTheirRowsOnly) {
  struct Case {
    int order;
    int row;
    float* value;
    float perTick;
    const char* name;
  };
  const Case cases[] = {
      {22, 0, &g_s8FieldAlpha, 0.03f, "field"},
      {22, 19, &g_s8FieldAlpha, 0.03f, "field"},
      {22, 20, &g_s8FieldAlpha, 0.0f, "field"},
      {27, 5, &g_s8FieldAlpha, 0.03f, "field"},
      {30, 19, &g_s8FieldAlpha, 0.03f, "field"},
      {31, 19, &g_s8FieldAlpha, 0.03f, "field"},
      {29, 63, &g_s8FieldAlpha, 0.0f, "field"},
      {25, 15, &g_s8DedicatedAlpha, 0.0f, "dedicated"},
      {25, 16, &g_s8DedicatedAlpha, 0.015f, "dedicated"},
      {25, 50, &g_s8DedicatedAlpha, 0.015f, "dedicated"},
      {25, 51, &g_s8DedicatedAlpha, 0.0f, "dedicated holds"},
      {25, 63, &g_s8DedicatedAlpha, 0.0f, "dedicated holds"},
      {26, 30, &g_s8DedicatedAlpha, 0.0f, "dedicated only in 25"},
      {26, 15, &g_s8LoveAlpha, 0.0f, "love"},
      {26, 16, &g_s8LoveAlpha, 0.015f, "love"},
      {26, 50, &g_s8LoveAlpha, 0.015f, "love"},
      {26, 51, &g_s8LoveAlpha, -0.005f, "love falls"},
      {25, 30, &g_s8LoveAlpha, 0.0f, "love only in 26"},
      {30, 0, &g_s8Fade, 0.0f, "fade"},
      {30, 1, &g_s8Fade, 0.0f, "fade"},
      {30, 2, &g_s8Fade, 0.003f, "fade"},
      {30, 62, &g_s8Fade, 0.003f, "fade"},
      {29, 40, &g_s8Fade, 0.0f, "fade only in 30"},
      {30, 15, &g_s8EndAlpha, 0.0f, "end"},
      {30, 16, &g_s8EndAlpha, 0.015f, "end"},
      {28, 40, &g_s8EndAlpha, 0.0f, "end only in 30"},
  };
  g_s8FirstFrame = 0;
  for (const Case& c : cases) {
    AllAlphasTo(0.5f);
    Frame(c.order, c.row, 2.0f);
    EXPECT_NEAR(*c.value, 0.5f + c.perTick * 2.0f, 1e-6) << c.name << " at " << c.order << ":" << c.row;
  }
  AllAlphasTo(0.5f);
  Frame(25, 30, 0.0f);
  Frame(30, 30, 0.0f);
  Frame(22, 5, 0.0f);
  EXPECT_FLOAT_EQ(g_s8DedicatedAlpha, 0.5f);
  EXPECT_FLOAT_EQ(g_s8Fade, 0.5f);
  EXPECT_FLOAT_EQ(g_s8FieldAlpha, 0.5f);
}

TEST_F(Scene8Test, TheShowEndsAtOrder30Row63) {
  g_s8FirstFrame = 0;
  for (int row = 0; row <= 62; ++row) {
    Frame(30, row, 1.0f);
    ASSERT_EQ(g_quit, 0) << "row " << row;
  }
  Frame(29, 63, 1.0f);
  EXPECT_EQ(g_quit, 0);
  Frame(30, 63, 1.0f);
  EXPECT_EQ(g_quit, 1);
  g_quit = 0;
  Frame(30, 64, 1.0f);  // a frame that skipped row 63 still ends it
  EXPECT_EQ(g_quit, 1);

  // Through the frame dispatch: the clock at order 30 row 62 goes on, row 63 stops the show.
  g_quit = 0;
  g_order.store(30);
  g_row.store(62);
  g_ticks.store(g_prevTicks + 3.0f);
  EXPECT_TRUE(DrawFrame());
  g_row.store(63);
  g_ticks.store(g_prevTicks + 3.0f);
  EXPECT_FALSE(DrawFrame());
}

TEST_F(Scene8Test, SilhouettesAreOpaqueBlackWithBackFacesCulled) {
  harness::ScratchDir dir;
  // World triangles at z -3000, in front of the field's far part; chel is
  // stored before its load-time shift (x -100, z -3).
  const float chelX = -86.0f;
  auto chel = [&](float x, float y) {
    V3 m = ModelFor(x, y, -3000.0f);
    m.x += 100.0f;
    m.z += 3.0f;
    return m;
  };
  WriteMeshFile("chel.3d", {chel(chelX - 100, -280), chel(chelX + 100, -280), chel(chelX, 100)},
                {{0, 1, 2}});  // counter-clockwise on the screen: drawn
  const float cwX = 314.0f, ccwX = -486.0f;
  WriteMeshFile("zavod.3d",
                {ModelFor(cwX - 100, -280, -3000), ModelFor(cwX, 100, -3000),
                 ModelFor(cwX + 100, -280, -3000), ModelFor(ccwX - 100, -280, -3000),
                 ModelFor(ccwX + 100, -280, -3000), ModelFor(ccwX, 100, -3000)},
                {{0, 1, 2}, {3, 4, 5}});  // the first clockwise: culled
  SolidPicture("travka.tga", 256, 256, {0, 180, 0});
  SolidPicture("white.tga", 256, 256, {200, 200, 200});
  SolidMask("mask-white.tga", 256, 256, 255);
  LoadTexture(1, "white.tga", 256, 256, 33);
  Load();
  g_s8FirstFrame = 1;  // the first frame sets the orange clear colour
  Frame(22, 30, 0.0f);
  g_s8FieldAlpha = 1.0f;
  Frame(23, 30, 0.0f);

  for (float x : {chelX, ccwX}) {
    const Rgba inside = PixelAt(x, -260, -3000);  // low on the silhouette, field behind
    EXPECT_EQ(inside.r, 0) << x;
    EXPECT_EQ(inside.g, 0) << x;
    EXPECT_EQ(inside.b, 0) << x;
    EXPECT_EQ(PixelAt(x, -20, -3000).g, 0) << x;
  }
  // Under the silhouette the field shows; the clockwise triangle is not drawn.
  EXPECT_NEAR(PixelAt(chelX, -295, -3000).g, 180, 3);
  EXPECT_NEAR(PixelAt(cwX, -260, -3000).g, 180, 3);
  // High up, above the triangles, the orange sky.
  const Rgba sky = PixelAt(cwX, 20, -3000);
  EXPECT_NEAR(sky.r, 186, 3);
  EXPECT_NEAR(sky.g, 38, 3);
}

TEST_F(Scene8Test, FieldFadesInByItsAlpha) {
  harness::ScratchDir dir;
  WriteMeshFile("chel.3d", {}, {});
  WriteMeshFile("zavod.3d", {}, {});
  SolidPicture("travka.tga", 256, 256, {0, 180, 0});
  Load();
  g_s8FirstFrame = 1;
  Frame(22, 30, 0.0f);
  g_s8FieldAlpha = 0.5f;
  Frame(24, 30, 0.0f);
  const Rgba field = PixelAt(-86, -300, -3000);
  EXPECT_NEAR(field.g, (180 + 38) / 2, 3);
  EXPECT_NEAR(field.r, 186 / 2, 3);
}

TEST_F(Scene8Test, OverlaysAndTheClosingLandWhereTheyArePlaced) {
  harness::ScratchDir dir;
  WriteMeshFile("chel.3d", {}, {});
  WriteMeshFile("zavod.3d", {}, {});
  SolidPicture("dedicated.tga", 256, 256, {250, 250, 250});
  SolidMask("mask-dedicated.tga", 256, 256, 255);
  SolidPicture("love.tga", 128, 128, {0, 250, 250});
  SolidMask("mask-love.tga", 128, 128, 255);
  SolidPicture("end.tga", 512, 128, {0, 0, 250});
  SolidMask("mask-end.tga", 512, 128, 255);
  Load();
  g_s8FirstFrame = 0;
  AllAlphasTo(0.0f);

  g_s8DedicatedAlpha = 0.985f;  // this frame's rise brings it to 1
  Frame(25, 20, 1.0f);
  EXPECT_EQ(ReadPixel(387, 227).b, 250);
  EXPECT_EQ(ReadPixel(637, 477).r, 250);
  EXPECT_NE(ReadPixel(381, 227).r, 250);
  EXPECT_NE(ReadPixel(387, 221).r, 250);

  g_s8LoveAlpha = 0.985f;
  Frame(26, 20, 1.0f);
  EXPECT_EQ(ReadPixel(3, 363).g, 250);
  EXPECT_EQ(ReadPixel(125, 479).g, 250);
  EXPECT_NE(ReadPixel(131, 363).g, 250);
  EXPECT_NE(ReadPixel(387, 227).r, 250);  // the order-25 image is gone

  // Order 30: the fade reaches full black and the end image full strength.
  g_s8Fade = 0.997f;
  g_s8EndAlpha = 0.985f;
  Frame(30, 20, 1.0f);
  const Rgba end = ReadPixel(131, 179);
  EXPECT_EQ(end.b, 250);
  EXPECT_EQ(end.r, 0);
  for (const ScreenPoint p : {ScreenPoint{125, 179}, ScreenPoint{320, 100}, ScreenPoint{320, 307}}) {
    const Rgba black = ReadPixel(p.x, p.y);
    EXPECT_EQ(black.r + black.g + black.b, 0) << p.x << "," << p.y;
  }
  EXPECT_EQ(ReadPixel(637, 301).b, 250);
}

}  // namespace
