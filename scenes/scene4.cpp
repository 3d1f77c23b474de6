// Scene 4 (orders 8 to 11): the camera circles a 6 by 6 grid of blue blocks
// inside two turning cylinders with a skyline on their insides, all drawn
// additively; image strips lie across the screen, order 9 slides a strip,
// orders 10 and 11 pop up zoom sprites, and order 11 fades to black while the
// "700.tga" image grows in (scene 5 carries it on).
#include "scenes/scene4.h"
#include "scenes/scene_draw.h"

#include "platform/gl.h"

#include <cmath>

#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/texture_loader.h"
#include "scenes/scenes.h"
#include "timeline/sequencer.h"

unsigned char g_s4FirstFrame = 1;
GLUquadric* g_s4Quadric = nullptr;
float g_s4ZoomGrow[kZoomSprites];
float g_s4ZoomAlpha[kZoomSprites];
float g_s4MetrosAlpha = 0.0f;
float g_s4MetrosShift = 0.0f;
float g_s4Fade = 0.0f;

namespace {

constexpr int kSlotWindows = 12;
constexpr int kSlotBlue = 13;
constexpr int kSlotHaze = 14;
constexpr int kSlotSkyline = 15;
constexpr int kSlotSky = 16;
constexpr int kSlotCinema = 17;
constexpr int kSlotMoscow = 18;
constexpr int kSlotGoRight = 44;
constexpr int kSlotNightUp = 45;
constexpr int kSlotMetros = 46;
constexpr int kSlot700 = 47;

// One zoom sprite's part in an order. Rows from firstRow to lastRow, both
// included (lastRow -1: to the end of the order). Before the switch row the
// alpha rises by up per tick, from it on it falls by down per tick (switch
// row -1: no ramp). Drawn centred on (x + size/2, y + size/2), size grown by
// twice the grow offset; afterwards alpha and grow change by the after rates.
struct ZoomStep {
  int sprite;
  int firstRow;
  int lastRow;
  int switchRow;
  float up;
  float down;
  float x;
  float y;
  float size;
  float afterAlpha;
  float afterGrow;
};

constexpr int kOrder10Steps = 8;
const ZoomStep kOrder10[kOrder10Steps] = {
    {5, 1, 24, -1, 0.0f, 0.0f, 200.0f, 320.0f, 32.0f, -0.005f, 0.1f},
    {7, 12, 36, 23, 0.005f, 0.005f, 200.0f, 320.0f, 128.0f, 0.0f, -0.1f},
    {6, 16, 41, 26, 0.005f, 0.005f, 300.0f, 310.0f, 40.0f, 0.0f, 0.1f},
    {4, 32, 57, 42, 0.01f, 0.01f, 330.0f, 330.0f, 32.0f, 0.0f, 0.1f},
    {3, 36, 61, 46, 0.005f, 0.005f, 350.0f, 330.0f, 80.0f, 0.0f, -0.08f},
    {1, 40, 63, 50, 0.005f, 0.005f, 430.0f, 330.0f, 20.0f, 0.0f, 0.15f},
    {2, 44, -1, 54, 0.005f, 0.005f, 450.0f, 320.0f, 64.0f, 0.0f, -0.13f},
    {0, 48, -1, 58, 0.005f, 0.005f, 520.0f, 330.0f, 16.0f, 0.0f, 0.1f},
};

constexpr int kOrder11Steps = 4;
const ZoomStep kOrder11[kOrder11Steps] = {
    {7, 1, 24, -1, 0.0f, 0.0f, 250.0f, 350.0f, 100.0f, -0.005f, -0.1f},
    {0, 12, 36, 22, 0.005f, 0.007f, 230.0f, 330.0f, 50.0f, 0.0f, 0.15f},
    {1, 15, 40, 25, 0.005f, 0.007f, 310.0f, 350.0f, 16.0f, 0.0f, 0.1f},
    {5, 23, 59, 33, 0.005f, 0.007f, 215.0f, 300.0f, 128.0f, 0.0f, -0.12f},
};

void DrawStrip(float x, float y, float width, float height, float alpha, int slot) {
  PlaceQuad(x, y, width, height, alpha);
  DrawScreenQuad(g_quad, g_textures[slot]);
}

// Handles the sprites of one order's table for this frame's row.
void RunZoomSteps(const ZoomStep* steps, int count, int row, float delta) {
  for (int n = 0; n < count; ++n) {
    const ZoomStep& s = steps[n];
    if (row < s.firstRow || (s.lastRow >= 0 && row > s.lastRow)) continue;
    const int k = s.sprite;
    if (s.switchRow >= 0) {
      if (row < s.switchRow) {
        g_s4ZoomAlpha[k] += s.up * delta;
      } else {
        g_s4ZoomAlpha[k] -= s.down * delta;
      }
    }
    const float g = g_s4ZoomGrow[k];
    PlaceQuad(s.x - g, s.y - g, s.size + 2.0f * g, s.size + 2.0f * g, g_s4ZoomAlpha[k]);
    DrawScreenQuad(g_quad, g_frameTexturesC[k]);
    g_s4ZoomAlpha[k] += s.afterAlpha * delta;
    g_s4ZoomGrow[k] += s.afterGrow * delta;
  }
}

void DrawCylinder(float turn, float shade, double radius, double height) {
  glPushMatrix();
  // The half turn about (0, 1, 1) stands the cylinder's axis upright on y.
  glRotatef(180.0f, 0.0f, 1.0f, 1.0f);
  glRotatef(turn, 0.0f, 0.0f, 1.0f);
  glColor4f(shade, shade, shade, 0.8f);
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotSkyline]);
  glTranslatef(0.0f, 0.0f, -100.0f);
  gluCylinder(g_s4Quadric, radius, radius, height, 50, 5);
  glPopMatrix();
}

void DrawSkyAndHaze() {
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotSky]);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex3f(-350.0f, 130.0f, 350.0f);
  glTexCoord2f(0.0f, 1.0f);
  glVertex3f(350.0f, 130.0f, 350.0f);
  glTexCoord2f(1.0f, 1.0f);
  glVertex3f(350.0f, 130.0f, -350.0f);
  glTexCoord2f(1.0f, 0.0f);
  glVertex3f(-350.0f, 130.0f, -350.0f);
  glEnd();

  static const float kHaze[3][2] = {{450.0f, 90.0f}, {500.0f, 130.0f}, {600.0f, 0.0f}};
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotHaze]);
  glColor4f(0.5f, 0.5f, 0.5f, 0.7f);
  glBegin(GL_QUADS);
  for (int n = 0; n < 3; ++n) {
    const float h = kHaze[n][0];
    const float y = kHaze[n][1];
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-h, y, h);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(h, y, h);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(h, y, -h);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(-h, y, -h);
  }
  glEnd();
  // The last texture coordinate given, (1, 0), stays current for the floor
  // and the block cores, which give none of their own.
}

void DrawFloor() {
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotBlue]);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  glVertex3f(1200.0f, -95.0f, 1200.0f);
  glVertex3f(1200.0f, -95.0f, -1200.0f);
  glVertex3f(-1200.0f, -95.0f, -1200.0f);
  glVertex3f(-1200.0f, -95.0f, 1200.0f);
  glEnd();
}

// One block with its corner at (x0, z0): core and ground plates, edge lines
// (all in the single colour of "blue.tga" at the current coordinate (1, 0)),
// then the window faces with alpha windowAlpha.
void DrawBlock(float x0, float z0, float windowAlpha) {
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotBlue]);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  {
    const float a = x0 + 10.0f, b = x0 + 40.0f, c = z0 + 10.0f, e = z0 + 40.0f;
    glBegin(GL_QUADS);
    glVertex3f(b, -64.0f, c);
    glVertex3f(b, 54.0f, c);
    glVertex3f(a, 54.0f, c);
    glVertex3f(a, -64.0f, c);

    glVertex3f(a, -64.0f, c);
    glVertex3f(a, 54.0f, c);
    glVertex3f(a, 54.0f, e);
    glVertex3f(a, -64.0f, e);

    glVertex3f(b, -64.0f, c);
    glVertex3f(b, 54.0f, c);
    glVertex3f(b, 54.0f, e);
    glVertex3f(b, -64.0f, e);

    glVertex3f(b, -64.0f, e);
    glVertex3f(b, 54.0f, e);
    glVertex3f(a, 54.0f, e);
    glVertex3f(a, -64.0f, e);

    glVertex3f(x0 + 55.0f, -85.0f, z0 + 55.0f);
    glVertex3f(x0 + 55.0f, -85.0f, z0 - 5.0f);
    glVertex3f(x0 - 5.0f, -85.0f, z0 - 5.0f);
    glVertex3f(x0 - 5.0f, -85.0f, z0 + 55.0f);

    glVertex3f(x0 + 60.0f, -90.0f, z0 + 60.0f);
    glVertex3f(x0 + 60.0f, -90.0f, z0 - 10.0f);
    glVertex3f(x0 - 10.0f, -90.0f, z0 - 10.0f);
    glVertex3f(x0 - 10.0f, -90.0f, z0 + 60.0f);
    glEnd();
  }

  const float p = x0, q = x0 + 50.0f, r = z0, s = z0 + 50.0f;
  // Each vertical edge twice; of the top and bottom edges only those along z.
  glBegin(GL_LINES);
  glVertex3f(q, -74.0f, r);
  glVertex3f(q, 64.0f, r);
  glVertex3f(p, 64.0f, r);
  glVertex3f(p, -74.0f, r);
  glVertex3f(p, -74.0f, r);
  glVertex3f(p, 64.0f, r);
  glVertex3f(p, 64.0f, s);
  glVertex3f(p, -74.0f, s);
  glVertex3f(q, -74.0f, r);
  glVertex3f(q, 64.0f, r);
  glVertex3f(q, 64.0f, s);
  glVertex3f(q, -74.0f, s);
  glVertex3f(q, -74.0f, s);
  glVertex3f(q, 64.0f, s);
  glVertex3f(p, 64.0f, s);
  glVertex3f(p, -74.0f, s);
  glVertex3f(q, -74.0f, r);
  glVertex3f(q, -74.0f, s);
  glVertex3f(p, -74.0f, s);
  glVertex3f(p, -74.0f, r);
  glVertex3f(q, 64.0f, s);
  glVertex3f(q, 64.0f, r);
  glVertex3f(p, 64.0f, r);
  glVertex3f(p, 64.0f, s);
  glEnd();

  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotWindows]);
  glColor4f(1.0f, 1.0f, 1.0f, windowAlpha);
  static const float kFaces[4][4][3] = {
      {{1, -64, 0}, {1, 64, 0}, {0, 64, 0}, {0, -64, 0}},
      {{0, -64, 0}, {0, 64, 0}, {0, 64, 1}, {0, -64, 1}},
      {{1, -64, 0}, {1, 64, 0}, {1, 64, 1}, {1, -64, 1}},
      {{1, -64, 1}, {1, 64, 1}, {0, 64, 1}, {0, -64, 1}},
  };
  static const float kFaceTex[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
  glBegin(GL_QUADS);
  for (int f = 0; f < 4; ++f) {
    for (int v = 0; v < 4; ++v) {
      // x and z of the table pick p or q, r or s.
      const float x = kFaces[f][v][0] != 0.0f ? q : p;
      const float z = kFaces[f][v][2] != 0.0f ? s : r;
      glTexCoord2f(kFaceTex[v][0], kFaceTex[v][1]);
      glVertex3f(x, kFaces[f][v][1], z);
    }
  }
  glEnd();
}

void DrawOrder9(int row, float delta) {
  if (row >= 5 && row < 25) g_s4MetrosAlpha += 0.03f * delta;
  if (row >= 30 && row < 50) g_s4MetrosAlpha -= 0.03f * delta;
  DrawStrip(150.0f + g_s4MetrosShift, 230.0f, 256.0f, 16.0f, g_s4MetrosAlpha, kSlotMetros);
  g_s4MetrosShift += 0.5f * delta;
}

void DrawOrder10(int row, float delta) {
  RunZoomSteps(kOrder10, kOrder10Steps, row, delta);
  // Sprite 0's window (row 48 on) also readies sprite 7 for order 11.
  if (row >= kOrder10[kOrder10Steps - 1].firstRow) {
    g_s4ZoomAlpha[7] = 0.8f;
    g_s4ZoomGrow[7] = 0.0f;
  }
}

void DrawOrder11(int row, float delta) {
  if (row == 1) {
    g_s4ZoomAlpha[1] = 0.4f;
    g_s4ZoomGrow[1] = 0.0f;
    g_s4ZoomAlpha[0] = 0.3f;
    g_s4ZoomGrow[0] = 0.0f;
    g_s4ZoomAlpha[5] = 0.1f;
    g_s4ZoomGrow[5] = 0.0f;
  }
  RunZoomSteps(kOrder11, kOrder11Steps, row, delta);
  if (row > 50) {
    DrawColorQuad(g_s4Fade, kColorBlack);
    g_s4Fade += 0.02f * delta;
  }
  // Drawn after the fade, so the image stays visible on the darkening picture.
  if (row >= 31) {
    const float grow = g_img700Grow;
    DrawStrip(150.0f - grow, 400.0f - grow, 128.0f + 2.0f * grow, 128.0f + 2.0f * grow, g_img700Alpha,
              kSlot700);
    g_img700Grow += 0.08f * delta;
    g_img700Alpha += 0.001f * delta;
  }
}

}  // namespace

void LoadScene4() {
  g_s4Quadric = gluNewQuadric();
  LoadTexture(0, "windows.tga", 256, 256, kSlotWindows);
  LoadTexture(0, "blue.tga", 256, 256, kSlotBlue);
  LoadTexture(1, "roundbox.tga", 256, 256, kSlotHaze);
  LoadTexture(0, "outsidecity.tga", 512, 64, kSlotSkyline);
  LoadTexture(1, "darksky.tga", 256, 256, kSlotSky);
  LoadTexture(1, "cinema.tga", 512, 32, kSlotCinema);
  LoadTexture(1, "moscow.tga", 1024, 32, kSlotMoscow);
  LoadTexture(1, "goright.tga", 512, 32, kSlotGoRight);
  LoadTexture(1, "nightup.tga", 256, 128, kSlotNightUp);
  LoadTexture(1, "metros.tga", 256, 16, kSlotMetros);
  LoadTexture(1, "700.tga", 128, 128, kSlot700);
  LoadTextureFrames(8, "times.tga", 64, 64, 2);
  gluQuadricTexture(g_s4Quadric, GL_TRUE);
}

void DrawScene4() {
  const float delta = g_frameDelta;

  if (g_s4FirstFrame != 0) {
    g_sceneClock = 0.0f;
    g_s4FirstFrame = 0;
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    // Seven entries: sprite 7 keeps its value until order 10 sets it.
    for (int k = 0; k < 7; ++k) {
      g_s4ZoomAlpha[k] = 0.3f;
      g_s4ZoomGrow[k] = 0.0f;
    }
    g_s4ZoomAlpha[5] = 0.8f;
    g_s4ZoomAlpha[3] = 0.15f;
    g_img700Grow = 0.0f;
    g_img700Alpha = 0.05f;
    g_s4Fade = 0.0f;
  }

  const float t = g_sceneClock;

  SetSceneProjection(1500.0);

  // The eye moves in whole units on a circle of radius 500 at height -70.
  const int eyeX = static_cast<int>(500.0 * std::sin(t / 350.0));
  const int eyeZ = static_cast<int>(500.0 * std::cos(t / 350.0));
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(eyeX, -70.0, eyeZ, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0);

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  // The 3D layers set no blend function: they are added with the
  // GL_SRC_ALPHA, GL_ONE that the end of the previous frame (or scene 3) left.
  gluQuadricOrientation(g_s4Quadric, GLU_INSIDE);
  DrawCylinder(-t / 3.0f, 6.0f, 600.0, 250.0);
  DrawCylinder(-0.25f * t, 0.3f, 750.0, 300.0);
  DrawSkyAndHaze();
  DrawFloor();

  const float windowAlpha = std::sin(t / 100.0f);
  for (int i = 0; i < 6; ++i) {
    for (int j = 0; j < 6; ++j) {
      DrawBlock(-300.0f + 100.0f * i, -300.0f + 100.0f * j, windowAlpha);
    }
  }

  DrawStrip(300.0f - t / 3.0f, 220.0f, 1024.0f, 32.0f, 0.2f, kSlotMoscow);
  DrawStrip(0.0f, 240.0f, 640.0f, 40.0f, 1.0f, kSlotCinema);
  DrawStrip(0.0f, 260.0f, 618.0f, 39.0f, 1.0f, kSlotGoRight);
  DrawStrip(0.0f, 270.0f, 256.0f, 128.0f, 1.0f, kSlotNightUp);

  const int row = g_sceneRow;
  if (g_scene == 9) {
    DrawOrder9(row, delta);
  } else if (g_scene == 10) {
    DrawOrder10(row, delta);
  } else if (g_scene == 11) {
    DrawOrder11(row, delta);
  }

  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  glDisable(GL_DEPTH_TEST);
  glFlush();
  g_sceneClock += 2.0f * delta;
}
