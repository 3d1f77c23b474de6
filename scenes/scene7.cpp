// Scene 7, the sunset (orders 20 and 21): clouds, sun rays and the sun,
// a twelve-frame picture timed by the music row, mountains, titles and
// words that fade, slide and grow, and the closing fade to the sky's orange.
#include "scenes/scene7.h"
#include "scenes/scene_draw.h"

#include "platform/gl.h"

#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/texture_loader.h"
#include "scenes/scenes.h"
#include "timeline/sequencer.h"

int32_t g_s7FirstFrame = 1;
float g_s7Title1Alpha = 0.0f;
float g_s7Title1X = 0.0f;
float g_s7Title2Alpha = 0.0f;
float g_s7Title2X = 0.0f;
float g_s7NightAlpha = 0.0f;
float g_s7NeverAlpha = 0.0f;
float g_s7NeverGrow = 0.0f;
float g_s7LogoAlpha = 0.0f;
float g_s7LogoGrow = 0.0f;
float g_s7TakeAlpha = 0.0f;
float g_s7TakeGrow = 0.0f;
float g_s7Fade = 0.0f;

namespace {

constexpr int kSlotSun = 32;
constexpr int kSlotWhite = 33;
constexpr int kSlotSunWaves = 34;
constexpr int kSlotMount = 35;
constexpr int kSlotTitle1 = 36;
constexpr int kSlotTitle2 = 37;
constexpr int kSlotLogo = 38;
constexpr int kSlotNight = 39;
constexpr int kSlotNever = 40;
constexpr int kSlotTake = 41;
constexpr int kSlotTagLarge = 42;
constexpr int kSlotTagSmall = 43;
constexpr int kSlotBlackhole = 50;

// The frame of the animated picture for each row of order 20 and order 21:
// order 20 flies in on frames 0 to 6, then swings between 7 and 11; order 21
// swings and at its end plays 6 down to 0.
const uint8_t kFrames20[64] = {
    0, 1, 2, 3, 4, 5,                                        // rows 0-5
    6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,                // rows 6-19
    7, 8, 9, 10,                                             // rows 20-23
    11, 11, 11,                                              // rows 24-26
    10, 9, 8,                                                // rows 27-29
    7, 7, 7, 7, 7, 7, 7,                                     // rows 30-36
    8, 9, 10,                                                // rows 37-39
    11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11,  // rows 40-55
    10, 9, 8, 9, 10, 11, 10, 9,                              // rows 56-63
};
const uint8_t kFrames21[64] = {
    8,                                                       // row 0
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,  // rows 1-22
    8, 9, 10, 11, 10, 9, 8, 7, 8, 9, 10,                     // rows 23-33
    11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11,              // rows 34-44
    10, 9, 8,                                                // rows 45-47
    7, 7, 7, 7, 7, 7, 7,                                     // rows 48-54
    6, 5, 4, 3, 2, 1,                                        // rows 55-60
    0, 0, 0,                                                 // rows 61-63
};


// A word drawn about a fixed centre: g grows it on every side.
void DrawGrowingWord(float x, float y, float width, float height, float grow, float alpha,
                     int slot) {
  PlaceQuad(x - grow, y - grow, width + 2 * grow, height + 2 * grow, alpha);
  DrawScreenQuad(g_quad, g_textures[slot]);
}

// The three titles of order 20; the first two slide while they fade.
void DrawTitles(int row, float dt) {
  if (row < 20) g_s7Title1Alpha += 0.01f * dt;
  if (row >= 25 && row < 45) g_s7Title1Alpha -= 0.01f * dt;
  PlaceQuad(g_s7Title1X, 35, 256, 128, g_s7Title1Alpha);
  DrawScreenQuad(g_quad, g_textures[kSlotTitle1]);
  g_s7Title1X += 0.2f * dt;

  if (row >= 15 && row < 35) g_s7Title2Alpha += 0.01f * dt;
  if (row >= 40 && row < 60) g_s7Title2Alpha -= 0.01f * dt;
  PlaceQuad(g_s7Title2X, 90, 256, 64, g_s7Title2Alpha);
  DrawScreenQuad(g_quad, g_textures[kSlotTitle2]);
  g_s7Title2X -= 0.2f * dt;

  if (row >= 15 && row < 35) g_s7NightAlpha += 0.005f * dt;
  if (row >= 40 && row < 60) g_s7NightAlpha -= 0.005f * dt;
  PlaceQuad(150, 130, 128, 32, g_s7NightAlpha);
  DrawScreenQuad(g_quad, g_textures[kSlotNight]);
}

// The three words of order 21: alphas change before drawing, sizes after.
void DrawWords(int row, float dt) {
  if (row < 15) g_s7NeverAlpha += 0.002f * dt;
  if (row >= 20 && row < 35) g_s7NeverAlpha -= 0.002f * dt;
  DrawGrowingWord(184, 380, 128, 32, g_s7NeverGrow, g_s7NeverAlpha, kSlotNever);
  if (row >= 10) g_s7NeverGrow += 0.1f * dt;

  if (row >= 7 && row < 27) g_s7LogoAlpha += 0.002f * dt;
  if (row >= 30 && row < 50) g_s7LogoAlpha -= 0.002f * dt;
  DrawGrowingWord(284, 400, 200, 50, g_s7LogoGrow, g_s7LogoAlpha, kSlotLogo);
  if (row >= 7) g_s7LogoGrow += 0.2f * dt;

  if (row >= 20 && row < 40) g_s7TakeAlpha += 0.003f * dt;
  if (row >= 43 && row < 63) g_s7TakeAlpha -= 0.003f * dt;
  DrawGrowingWord(450, 420, 128, 32, g_s7TakeGrow, g_s7TakeAlpha, kSlotTake);
  if (row >= 20) g_s7TakeGrow -= 0.1f * dt;
}

}  // namespace

int S7FrameForRow(int scene, int row) {
  if (row < 0) row = 0;
  if (scene == 21) return row > 63 ? 0 : kFrames21[row];
  return kFrames20[row > 63 ? 63 : row];
}

void LoadScene7() {
  LoadTexture(1, "sun.tga", 128, 128, kSlotSun);
  LoadTexture(1, "white.tga", 256, 256, kSlotWhite);
  LoadTexture(1, "sunwaves.tga", 256, 256, kSlotSunWaves);
  LoadTexture(1, "mount.tga", 512, 256, kSlotMount);
  LoadTexture(1, "2kestrel.tga", 256, 128, kSlotTitle1);
  LoadTexture(1, "2kest2.tga", 256, 64, kSlotTitle2);
  LoadTexture(1, "zog.tga", 256, 64, kSlotLogo);
  LoadTexture(1, "night.tga", 128, 32, kSlotNight);
  LoadTexture(1, "never.tga", 128, 32, kSlotNever);
  LoadTexture(1, "take.tga", 128, 32, kSlotTake);
  LoadTexture(1, "zogcon.tga", 256, 64, kSlotTagLarge);
  LoadTexture(1, "metter.tga", 256, 32, kSlotTagSmall);
  LoadTextureFrames(12, "stage-image.tga", 128, 128, 0);
}

void DrawScene7() {
  if (g_s7FirstFrame) {
    glDisable(GL_DEPTH_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glClearColor(0.73f, 0.15f, 0.0f, 1.0f);
    g_s7FirstFrame = 0;
    g_sceneClock = 0.0f;
    g_s7Title1Alpha = 0.0f;
    g_s7Title1X = 0.0f;
    g_s7Title2Alpha = 0.0f;
    g_s7Title2X = 100.0f;
    g_s7NeverAlpha = 0.0f;
    g_s7NeverGrow = 0.0f;
    g_s7LogoAlpha = 0.0f;
    g_s7LogoGrow = 0.0f;
    g_s7TakeAlpha = 0.0f;
    g_s7TakeGrow = 50.0f;
  }
  const float t = g_sceneClock;
  const float dt = g_frameDelta;
  const int row = g_sceneRow;

  SetSceneProjection(1500.0);

  // Fixed camera looking along +z, slightly upwards.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(0.0, -50.0, 20.0, 0.0, -48.0, 50.0, 0.0, 1.0, 0.0);

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  // Cloud layer overhead, drifting sideways. It keeps whatever blend
  // function is in force: additive on the first frame only.
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glPushMatrix();
  glTranslatef(0.0f, t / 1800.0f, 0.0f);
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotWhite]);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex3f(-900, 110, 1000);
  glTexCoord2f(0, 1);
  glVertex3f(900, 110, 1000);
  glTexCoord2f(1, 1);
  glVertex3f(900, 110, 0);
  glTexCoord2f(1, 0);
  glVertex3f(-900, 110, 0);
  glEnd();
  glPopMatrix();

  PlaceQuad(-40, -50, 512, 512, 1.0f);
  DrawScreenQuad(g_quad, g_textures[kSlotSunWaves]);
  PlaceQuad(157, 140, 128, 128, 1.0f);
  DrawScreenQuad(g_quad, g_textures[kSlotSun]);

  if (g_scene == 20) DrawTitles(row, dt);

  if (g_scene == 20 || g_scene == 21) {
    PlaceQuad(135, 122, 128, 128, 1.0f);
    DrawScreenQuad(g_quad, g_frameTexturesA[S7FrameForRow(g_scene, row)]);
  }

  PlaceQuad(0, 160, 640, 320, 1.0f);
  DrawScreenQuad(g_quad, g_textures[kSlotMount]);

  if (g_scene == 21) DrawWords(row, dt);

  PlaceQuad(410, 33, 256, 32, 0.4f);
  DrawScreenQuad(g_quad, g_textures[kSlotTagSmall]);
  PlaceQuad(400, 10, 256, 64, 0.6f);
  DrawScreenQuad(g_quad, g_textures[kSlotTagLarge]);

  // Closing: the picture fades to the sky's orange while "blackhole.tga"
  // fades in where the sun was, both with the same alpha.
  if (g_scene == 21 && row >= 50) {
    DrawColorQuad(g_s7Fade, kColorOrange);
    g_s7Fade += 0.02f * dt;
    PlaceQuad(157, 140, 128, 128, g_s7Fade);
    DrawScreenQuad(g_quad, g_textures[kSlotBlackhole]);
  }

  glFlush();
  g_sceneClock += 3.0f * dt;
}
