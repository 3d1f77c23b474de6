// Scene 6, the aircraft over the map (orders 16 to 19): looking straight
// down on an aircraft between scrolling cloud layers above a map that fades
// in; the camera sinks towards it in orders 18 and 19.
#include "scenes/scene6.h"
#include "scenes/scene_draw.h"

#include "platform/gl.h"

#include "common/shared_state.h"
#include "render/render_state.h"
#include "resources/texture_loader.h"
#include "scenes/scenes.h"
#include "timeline/sequencer.h"

float g_s6CamAdvance = 0.0f;
int32_t g_s6FirstFrame = 1;

namespace {

constexpr int kSlotPlane = 29;
constexpr int kSlotMap = 30;
constexpr int kSlotClouds = 31;

const float kCornerTex[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};

// Corner signs (x, y) of a 256 by 256 cloud layer, in drawing order.
const float kCloudCorners[4][2] = {{-128, -128}, {128, -128}, {128, 128}, {-128, 128}};

// Two cloud layers, each in its own primitive: layer k is shifted by
// shiftY * k along y and lies at z = baseZ + 16k.
void CloudLayers(float shiftY, float baseZ) {
  for (int k = 0; k < 2; ++k) {
    const float dy = shiftY * static_cast<float>(k);
    const float z = baseZ + 16.0f * static_cast<float>(k);
    glBegin(GL_QUADS);
    for (int v = 0; v < 4; ++v) {
      glTexCoord2f(kCornerTex[v][0], kCornerTex[v][1]);
      glVertex3f(kCloudCorners[v][0], kCloudCorners[v][1] + dy, z);
    }
    glEnd();
  }
}

}  // namespace

void LoadScene6() {
  LoadTexture(1, "plane.tga", 256, 256, kSlotPlane);
  LoadTexture(0, "map.tga", 512, 512, kSlotMap);
  LoadTexture(0, "1.tga", 256, 256, kSlotClouds);
}

// Blending uses the destination alpha, which stays 1 throughout, so the map
// and the clouds add to the picture and the aircraft covers it by its mask.
void DrawScene6() {
  if (g_s6FirstFrame) {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glBlendFunc(GL_DST_ALPHA, GL_ONE);
    glDisable(GL_DEPTH_TEST);
    g_sceneClock = 0.0f;
    g_s6CamAdvance = 0.0f;
    g_s6FirstFrame = 0;
  }
  const float t = g_sceneClock;

  SetSceneProjection(1500.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  // The camera sinks only in orders 18 and 19, faster in 19.
  if (g_scene == 18) g_s6CamAdvance += 2.0f * g_frameDelta;
  if (g_scene == 19) g_s6CamAdvance += 3.0f * g_frameDelta;
  gluLookAt(0.0, 0.0, g_s6CamAdvance / 27.0f, 0.0, 0.0, 200.0, 0.0, 1.0, 0.0);

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  // Map: scrolls along the screen's vertical and brightens from black.
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glPushMatrix();
  glTranslatef(t / 10000.0f - 0.15f, 0.0f, 0.0f);
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotMap]);
  glColor4f(t / 2000.0f, t / 2000.0f, t / 2000.0f, 1.0f);
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex3f(-256, -206, 250);
  glTexCoord2f(0, 1);
  glVertex3f(256, -206, 250);
  glTexCoord2f(1, 1);
  glVertex3f(256, 306, 250);
  glTexCoord2f(1, 0);
  glVertex3f(-256, 306, 250);
  glEnd();
  glPopMatrix();

  // Faint clouds between the map and the aircraft.
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glPushMatrix();
  glTranslatef(t / 1800.0f, 0.0f, 0.0f);
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotClouds]);
  glColor4f(0.3f, 0.3f, 0.3f, 0.5f);
  CloudLayers(16.0f, 80.0f);
  glPopMatrix();

  // Aircraft: its colour plus the picture times one minus its mask.
  glBlendFunc(GL_DST_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotPlane]);
  const float b = t / 3000.0f + 0.3f;
  glColor4f(b, b, b, 1.0f);
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex3f(16, -16, 80);
  glTexCoord2f(0, 1);
  glVertex3f(16, 16, 80);
  glTexCoord2f(1, 1);
  glVertex3f(-16, 16, 80);
  glTexCoord2f(1, 0);
  glVertex3f(-16, -16, 80);
  glEnd();

  // Brighter clouds close in front of the camera, passing over the aircraft.
  glBlendFunc(GL_DST_ALPHA, GL_ONE);
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glPushMatrix();
  glTranslatef(t / 1800.0f, 0.0f, 0.0f);
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotClouds]);
  glColor4f(0.4f, 0.4f, 0.4f, 0.9f);
  CloudLayers(5.0f, 3.0f);
  glPopMatrix();

  glFlush();
  g_sceneClock += 3.0f * g_frameDelta;
}
