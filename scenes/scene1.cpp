// Scene 1 (orders 0 to 3): the viewer looks up at a drifting cloud layer; each
// order fades in an overlay of its own, the camera rises and tilts towards the
// horizon while a wide backdrop climbs from the bottom edge, then all fades out.
#include "scenes/scene1.h"
#include "scenes/scene_draw.h"

#include "platform/gl.h"

#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/texture_loader.h"
#include "scenes/scenes.h"
#include "timeline/sequencer.h"

float g_s1CamLift = 0.0f;
float g_s1CamTilt = 0.0f;
float g_s1BackdropRise = 0.0f;
float g_s1OverlayAlpha = 0.0f;
float g_s1Fade = 0.0f;

namespace {

constexpr int kSlotCloud = 1;
constexpr int kSlotOverlay0 = 2;
constexpr int kSlotOverlay1 = 3;
constexpr int kSlotBackdrop = 5;
constexpr int kSlotOverlay2 = 6;
constexpr int kSlotOverlay3 = 7;

// Places g_quad and draws the 256 by 256 overlay of the current order.
void DrawOverlay(float x, float y, int slot) {
  PlaceQuad(x, y, 256.0f, 256.0f, g_s1OverlayAlpha);
  DrawScreenQuad(g_quad, g_textures[slot]);
}

// The cloud layer in the plane y = 110, its texture shifted by the scene clock.
// Blended with whatever blend function the last screen quad left (alpha).
void DrawClouds() {
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glPushMatrix();
  glTranslatef(0.0f, g_sceneClock / 1000.0f, 0.0f);
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotCloud]);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex3f(-900.0f, 110.0f, 1000.0f);
  glTexCoord2f(0.0f, 1.0f);
  glVertex3f(900.0f, 110.0f, 1000.0f);
  glTexCoord2f(1.0f, 1.0f);
  glVertex3f(900.0f, 110.0f, -500.0f);
  glTexCoord2f(1.0f, 0.0f);
  glVertex3f(-900.0f, 110.0f, -500.0f);
  glEnd();
  // Back to identity; the matrix mode stays GL_TEXTURE until the next screen quad.
  glPopMatrix();
}

}  // namespace

void LoadScene1() {
  LoadTexture(1, "cloud-b.tga", 256, 256, kSlotCloud);
  LoadTexture(1, "2.tga", 256, 256, kSlotOverlay0);
  LoadTexture(1, "4.tga", 256, 256, kSlotOverlay1);
  LoadTexture(0, "rightback.tga", 512, 256, kSlotBackdrop);
  LoadTexture(1, "5.tga", 256, 256, kSlotOverlay2);
  LoadTexture(1, "6.tga", 256, 256, kSlotOverlay3);
  // The deep blue stays the clear colour until scene 2's first frame.
  glClearColor(0.043f, 0.15f, 0.42f, 1.0f);
}

void DrawScene1() {
  const float delta = g_frameDelta;

  SetSceneProjection(1500.0);

  const float lift = g_s1CamLift;
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(0.0, lift, 600.0 - lift, 0.0, lift + 100.0 - g_s1CamTilt, 630.0, 0.0, 1.0, 0.0);

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  if (g_scene == 2 || g_scene == 3) {
    // The backdrop moves in whole screen units.
    const int rise = static_cast<int>(g_s1BackdropRise);
    PlaceQuad(0.0f, static_cast<float>(450 - rise), 640.0f, 320.0f, 1.0f);
    DrawScreenQuad(g_quad, g_textures[kSlotBackdrop]);
  }

  DrawClouds();

  switch (g_scene) {
    case 0:
      DrawOverlay(380.0f, 220.0f, kSlotOverlay0);
      break;
    case 1:
      if (g_sceneRow == 0) g_s1OverlayAlpha = 0.0f;
      DrawOverlay(0.0f, -128.0f, kSlotOverlay1);
      g_s1CamLift += 0.15f * delta;
      break;
    case 2:
      if (g_sceneRow == 0) g_s1OverlayAlpha = 0.0f;
      DrawOverlay(380.0f, 220.0f, kSlotOverlay2);
      g_s1CamTilt += 0.1f * delta;
      g_s1BackdropRise += 0.3f * delta;
      break;
    case 3:
      if (g_sceneRow == 0) g_s1OverlayAlpha = 0.0f;
      if (g_sceneRow < 32) {
        g_s1CamTilt += 0.2f * delta;
        g_s1BackdropRise += 0.57f * delta;
      }
      DrawOverlay(380.0f, -128.0f, kSlotOverlay3);
      if (g_sceneRow > 50) {
        DrawColorQuad(g_s1Fade, kColorBlack);
        g_s1Fade += 0.04f * delta;
      }
      break;
    default:
      break;
  }

  glFlush();

  // Scene 1 never zeroes the shared clock: it counts ticks from the first frame.
  g_sceneClock += delta;
  g_s1OverlayAlpha += 0.002f * delta;
}
