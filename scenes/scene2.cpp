// Scene 2 (orders 4 and 5): on black, 900 faint flakes fall from a slowly
// drifting sky and add up where they overlap, while a masked figure fades in
// at the lower right. Runs on its own clock from its first frame.
#include "scenes/scene2.h"
#include "scenes/scene_draw.h"

#include "platform/gl.h"

#include "common/random.h"
#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/texture_loader.h"
#include "scenes/scenes.h"
#include "timeline/sequencer.h"

float g_s2FlakeX[kSnowFlakes];
float g_s2FlakeFall[kSnowFlakes];
float g_s2FlakeSpeed[kSnowFlakes];
unsigned char g_s2FirstFrame = 1;

namespace {

constexpr int kSlotSky = 8;
constexpr int kSlotFlake = 9;
constexpr int kSlotFigure = 10;

// The generator's value as a fraction of its largest one (0 to 1).
float RandUnit() { return static_cast<float>(lantern::rand()) / static_cast<float>(lantern::kRandMax); }

void DrawSky() {
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glPushMatrix();
  glTranslatef(-g_sceneClock / 6000.0f, 0.0f, 0.0f);
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotSky]);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex3f(-600.0f, 210.0f, 600.0f);
  glTexCoord2f(0.0f, 1.0f);
  glVertex3f(600.0f, 210.0f, 600.0f);
  glTexCoord2f(1.0f, 1.0f);
  glVertex3f(600.0f, 210.0f, -600.0f);
  glTexCoord2f(1.0f, 0.0f);
  glVertex3f(-600.0f, 210.0f, -600.0f);
  glEnd();
  glPopMatrix();
}

// Every flake takes exactly two numbers per frame (its depth, then its
// respawn x or its drift) after a reseed with 3, so depth, drift and respawn
// place are the same in every frame.
void DrawFlakes(float delta) {
  lantern::srand(3);
  for (int i = 0; i < kSnowFlakes; ++i) {
    const float z0 = static_cast<float>(lantern::rand() % 500 - 250);

    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glBindTexture(GL_TEXTURE_2D, g_textures[kSlotFlake]);
    glColor4f(1.0f, 1.0f, 1.0f, 0.05f);

    // Two 5 by 5 squares crossing through their common centre: one upright
    // facing along z, one level.
    const float x0 = g_s2FlakeX[i] - 500.0f;
    const float y0 = 220.0f - g_s2FlakeFall[i];
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(x0 + 5.0f, y0, z0);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(x0 + 5.0f, y0 + 5.0f, z0);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(x0, y0 + 5.0f, z0);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(x0, y0, z0);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(x0 + 5.0f, y0 + 2.5f, z0 + 2.5f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(x0 + 5.0f, y0 + 2.5f, z0 - 2.5f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(x0, y0 + 2.5f, z0 - 2.5f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(x0, y0 + 2.5f, z0 + 2.5f);
    glEnd();

    if (g_s2FlakeFall[i] > 250.0f) {
      g_s2FlakeFall[i] = 0.0f;
      g_s2FlakeX[i] = static_cast<float>(lantern::rand() % 1000);
    } else {
      g_s2FlakeFall[i] += g_s2FlakeSpeed[i] * delta;
      g_s2FlakeX[i] += (RandUnit() - 0.3f) * delta;
    }
  }
}

}  // namespace

void LoadScene2() {
  LoadTexture(0, "farsky.tga", 256, 256, kSlotSky);
  LoadTexture(0, "snowdrop.tga", 64, 64, kSlotFlake);
  LoadTexture(1, "guy.tga", 256, 256, kSlotFigure);
  glEnable(GL_TEXTURE_2D);

  lantern::srand(300);
  for (int i = 0; i < kSnowFlakes; ++i) {
    g_s2FlakeX[i] = static_cast<float>(lantern::rand() % 1000);
    g_s2FlakeFall[i] = 0.0f;
    g_s2FlakeSpeed[i] = RandUnit() * 2.0f + 1.0f;
  }
}

void DrawScene2() {
  const float delta = g_frameDelta;

  if (g_s2FirstFrame != 0) {
    g_sceneClock = 0.0f;
    g_s2FirstFrame = 0;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  }

  SetSceneProjection(1500.0);

  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(-5.0, 0.0, 0.0, 0.0, 100.0, 50.0, 0.1, 1.0, 0.0);

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  DrawSky();
  DrawFlakes(delta);

  PlaceQuad(384.0f, 224.0f, 256.0f, 256.0f, g_sceneClock / 1300.0f);
  DrawScreenQuad(g_quad, g_textures[kSlotFigure]);

  // The next frame's sky and flakes are added to the picture again.
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  glFlush();

  g_sceneClock += 3.0f * delta;
}
