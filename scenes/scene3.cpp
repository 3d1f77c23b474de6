// Scene 3 (orders 6 and 7): a full-screen picture with 800 thin grey rain
// streaks added over it. The streaks keep their places and depths and fall at
// speeds of their own; only the frame delta moves them.
#include "scenes/scene3.h"
#include "scenes/scene_draw.h"

#include "platform/gl.h"

#include "common/random.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/texture_loader.h"
#include "scenes/scenes.h"
#include "timeline/sequencer.h"

float g_s3DropFall[kRainStreaks];
float g_s3DropSpeed[kRainStreaks];

namespace {

constexpr int kSlotPicture = 11;
// The rain-streak picture that scene 5 loads ("rain.tga", 16 by 256, masked).
constexpr int kSlotRain = 26;

float RandUnit() { return static_cast<float>(lantern::rand()) / static_cast<float>(lantern::kRandMax); }

}  // namespace

void LoadScene3() {
  LoadTexture(0, "rainb.tga", 640, 480, kSlotPicture);

  // Falls spread over the whole drop, so the rain is in full flow at once.
  lantern::srand(301);
  for (int i = 0; i < kRainStreaks; ++i) {
    g_s3DropFall[i] = RandUnit() * 250.0f;
    g_s3DropSpeed[i] = RandUnit() * 4.0f + 3.0f;
  }
}

void DrawScene3() {
  const float delta = g_frameDelta;

  SetSceneProjection(1500.0);

  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(0.0, 0.0, -250.0, 0.0, 0.0, 100.0, 0.0, 1.0, 0.0);

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  PlaceQuad(0.0f, 0.0f, 640.0f, 480.0f, 1.0f);
  DrawScreenQuad(g_quad, g_textures[kSlotPicture]);

  // The streaks brighten the picture; scene 4 also draws with this function.
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);

  // Reseeded every frame: each streak takes two numbers, its depth and its
  // x, so it stands at the same place in every frame.
  lantern::srand(3);
  for (int i = 0; i < kRainStreaks; ++i) {
    const int a = lantern::rand() % 350;
    const int b = lantern::rand() % 1200;
    const float z0 = static_cast<float>(a - 250);
    const float x0 = static_cast<float>(b - 650);

    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glBindTexture(GL_TEXTURE_2D, g_textures[kSlotRain]);
    glColor4f(0.3f, 0.3f, 0.3f, 0.6f);

    const float y0 = 100.0f - g_s3DropFall[i];
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(x0 + 1.5f, y0, z0);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(x0 + 1.5f, y0 + 80.0f, z0);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(x0, y0 + 80.0f, z0);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(x0, y0, z0);
    glEnd();

    if (g_s3DropFall[i] > 250.0f) {
      g_s3DropFall[i] = 0.0f;
    } else {
      g_s3DropFall[i] += g_s3DropSpeed[i] * delta;
    }
  }
  // No flush here; the matrix mode stays GL_TEXTURE with the identity loaded.
}
