// Scene 5, the bus in the rain (orders 12 to 15): a bus drives leftwards
// along a wet street under drifting clouds while 800 streaks of rain fall,
// and the "700.tga" image that scene 4 started grows on and fades out.
#include "scenes/scene5.h"
#include "scenes/scene_draw.h"

#include "platform/gl.h"

#include "common/random.h"
#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/texture_loader.h"
#include "scenes/scenes.h"
#include "timeline/sequencer.h"

uint8_t g_s5FirstFrame = 1;
float g_s5BusSpeed = 0.0f;
float g_s5CloudScroll = 0.0f;
float g_s5DropFall[kS5Drops];
float g_s5DropSpeed[kS5Drops];
float g_s5Img700GrowY = 0.0f;

namespace {

// Texture slots of this scene.
constexpr int kSlotLoading = 0;
constexpr int kSlotCloud = 19;
constexpr int kSlotBusFront = 20;
constexpr int kSlotBorder = 21;
constexpr int kSlotBusLeft = 22;
constexpr int kSlotMan = 23;
constexpr int kSlotBackground = 24;
constexpr int kSlotRoad = 25;
constexpr int kSlotRain = 26;
constexpr int kSlotHeadlight = 27;
constexpr int kSlotLighter = 28;
constexpr int kSlotImg700 = 47;
constexpr int kSlotBusBack = 53;

// Texture coordinates of the four corners of every textured quad here.
const float kCornerTex[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};

// Cloud ceiling (plane y = 110), road (plane y = -95) and border strip (z = 0).
const float kCloudQuad[4][3] = {
    {-1000, 110, 1200}, {1200, 110, 1200}, {1200, 110, -300}, {-1000, 110, -300}};
const float kRoadQuad[4][3] = {{300, -95, 10}, {300, -95, -250}, {-300, -95, -250}, {-300, -95, 10}};
const float kBorderQuad[4][3] = {{-300, -95, 0}, {-300, -75, 0}, {300, -75, 0}, {300, -95, 0}};

// Bus body faces with x relative to the bus offset: floor, roof, far side.
const float kBusBody[3][4][3] = {
    {{300, -90, -70}, {300, -90, -120}, {0, -90, -120}, {0, -90, -70}},
    {{300, 75, -70}, {300, 75, -120}, {0, 75, -120}, {0, 75, -70}},
    {{300, -85, -70}, {300, 75, -70}, {0, 75, -70}, {0, -85, -70}},
};

// Textured bus faces, drawn in this order: front, near side, rear.
const int kBusFaceSlots[3] = {kSlotBusFront, kSlotBusLeft, kSlotBusBack};
const float kBusFaces[3][4][3] = {
    {{300, -85, -120}, {300, 75, -120}, {300, 75, -70}, {300, -85, -70}},
    {{300, -85, -120}, {300, 75, -120}, {0, 75, -120}, {0, -85, -120}},
    {{0, -85, -120}, {0, 75, -120}, {0, 75, -70}, {0, -85, -70}},
};

// Headlight beams: two sides and a top for each of the two lamps.
const float kBeams[6][4][3] = {
    {{450, -85, -70}, {450, -10, -70}, {300, -40, -110}, {300, -55, -110}},
    {{450, -10, -120}, {450, -10, -70}, {300, -40, -110}, {300, -40, -117}},
    {{450, -85, -120}, {450, -10, -120}, {300, -40, -117}, {300, -55, -117}},
    {{450, -85, -30}, {450, -10, -30}, {300, -40, -70}, {300, -55, -70}},
    {{450, -10, -80}, {450, -10, -30}, {300, -40, -70}, {300, -40, -77}},
    {{450, -85, -80}, {450, -10, -80}, {300, -40, -77}, {300, -55, -77}},
};
// The far end of a beam uses s = 0.0001 rather than 0.
const float kBeamTex[4][2] = {{0.0001f, 0}, {0.0001f, 1}, {1, 1}, {1, 0}};



void ResetTextureMatrix() {
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
}

// Cloud ceiling, background strip, road, lamp image, waiting figure and
// border strip, all without depth so the bus covers them.
void DrawStreet() {
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glPushMatrix();
  glTranslatef(0.0f, g_s5CloudScroll, 0.0f);
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotCloud]);
  glColor4f(0.7f, 0.7f, 0.7f, 1.0f);
  TexturedQuad(kCloudQuad);
  glPopMatrix();

  PlaceQuad(0, 200, 640, 160, 1);
  DrawScreenQuad(g_quad, g_textures[kSlotBackground]);

  ResetTextureMatrix();
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotRoad]);
  glColor4f(0.5f, 0.5f, 0.5f, 1.0f);
  TexturedQuad(kRoadQuad);

  PlaceQuad(120, 95, 128, 256, 1);
  DrawScreenQuad(g_quad, g_textures[kSlotLighter]);

  if (g_scene == 12 || (g_scene == 13 && g_sceneRow < 31)) {
    PlaceQuad(370, 80, 256, 256, 1);
    DrawScreenQuad(g_quad, g_textures[kSlotMan]);
  }

  // The border strip's last vertex leaves the current texture coordinate at
  // (1, 0), which the untextured bus body below takes over.
  ResetTextureMatrix();
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotBorder]);
  glColor4f(0.5f, 0.5f, 0.5f, 1.0f);
  TexturedQuad(kBorderQuad);
}

// The bus with its rear at x = busX, then its two headlight beams.
void DrawBus(float busX) {
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_DEPTH_TEST);

  // Floor, roof and far side: no texture coordinate of their own, so they
  // take the loading picture's colour at the inherited coordinate.
  ResetTextureMatrix();
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotLoading]);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  for (int f = 0; f < 3; ++f) {
    for (int v = 0; v < 4; ++v) {
      glVertex3f(busX + kBusBody[f][v][0], kBusBody[f][v][1], kBusBody[f][v][2]);
    }
  }
  glEnd();

  for (int f = 0; f < 3; ++f) {
    ResetTextureMatrix();
    glBindTexture(GL_TEXTURE_2D, g_textures[kBusFaceSlots[f]]);
    glColor4f(0.3f, 0.3f, 0.3f, 1.0f);
    glBegin(GL_QUADS);
    for (int v = 0; v < 4; ++v) {
      glTexCoord2f(kCornerTex[v][0], kCornerTex[v][1]);
      glVertex3f(busX + kBusFaces[f][v][0], kBusFaces[f][v][1], kBusFaces[f][v][2]);
    }
    glEnd();
  }

  // Beams add a tenth of their texture to the picture.
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  glDisable(GL_DEPTH_TEST);
  ResetTextureMatrix();
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotHeadlight]);
  glColor4f(1.0f, 1.0f, 1.0f, 0.1f);
  glBegin(GL_QUADS);
  for (int q = 0; q < 6; ++q) {
    for (int v = 0; v < 4; ++v) {
      glTexCoord2f(kBeamTex[v][0], kBeamTex[v][1]);
      glVertex3f(busX + kBeams[q][v][0], kBeams[q][v][1], kBeams[q][v][2]);
    }
  }
  glEnd();
}

// 800 additive streaks at fixed places (the generator is reseeded every
// frame), each advanced by its own speed or restarted once it fell past 250.
void DrawRain() {
  glEnable(GL_DEPTH_TEST);
  lantern::srand(3);
  for (int i = 0; i < kS5Drops; ++i) {
    const int r1 = lantern::rand();
    const int r2 = lantern::rand();
    const float z = static_cast<float>(r1 % 350 - 250);
    const float x = static_cast<float>(r2 % 1200 - 650);
    const float fall = g_s5DropFall[i];

    ResetTextureMatrix();
    glBindTexture(GL_TEXTURE_2D, g_textures[kSlotRain]);
    glColor4f(0.3f, 0.3f, 0.3f, 1.0f);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(x + 1.5f, 100.0f - fall, z);
    glTexCoord2f(0, 1);
    glVertex3f(x + 1.5f, 180.0f - fall, z);
    glTexCoord2f(1, 1);
    glVertex3f(x, 180.0f - fall, z);
    glTexCoord2f(1, 0);
    glVertex3f(x, 100.0f - fall, z);
    glEnd();

    if (fall <= 250.0f) {
      g_s5DropFall[i] += g_s5DropSpeed[i] * g_frameDelta;
    } else {
      g_s5DropFall[i] = 0.0f;
    }
  }
}

// "700.tga" in the first 30 rows of order 12: it grows evenly and brightens
// for 10 rows, then stretches sideways and fades, about a fixed centre.
void DrawImg700() {
  if (g_scene != 12 || g_sceneRow >= 30) return;
  if (g_sceneRow < 10) {
    g_img700Grow += 0.08f * g_frameDelta;
    g_img700Alpha += 0.001f * g_frameDelta;
    const float grow = g_img700Grow;
    PlaceQuad(150 - grow, 400 - grow, 2 * grow + 128, 2 * grow + 128, g_img700Alpha);
    g_s5Img700GrowY = grow;
  } else {
    g_s5Img700GrowY += 0.08f * g_frameDelta;
    g_img700Grow += 0.5f * g_frameDelta;
    g_img700Alpha -= 0.003f * g_frameDelta;
    const float grow = g_img700Grow;
    const float growY = g_s5Img700GrowY;
    PlaceQuad(150 - grow, 400 - growY, 2 * grow + 128, 2 * growY + 128, g_img700Alpha);
  }
  DrawScreenQuad(g_quad, g_textures[kSlotImg700]);
}

// Slows the bus in order 13 rows 15 to 30, speeds it up in order 13 rows
// 50 to 63 and order 14 rows 0 to 9 (all bounds included).
void UpdateBusSpeed() {
  if (g_scene == 13 && g_sceneRow >= 15 && g_sceneRow <= 30) {
    g_s5BusSpeed -= 0.03f * g_frameDelta;
  }
  if (g_scene == 13 && g_sceneRow >= 50 && g_sceneRow <= 63) {
    g_s5BusSpeed += 0.025f * g_frameDelta;
  }
  if (g_scene == 14 && g_sceneRow >= 0 && g_sceneRow <= 9) {
    g_s5BusSpeed += 0.03f * g_frameDelta;
  }
}

}  // namespace

void LoadScene5() {
  LoadTexture(1, "512cloud.tga", 256, 256, kSlotCloud);
  LoadTexture(0, "bus-front.tga", 64, 128, kSlotBusFront);
  LoadTexture(0, "border.tga", 512, 16, kSlotBorder);
  LoadTexture(0, "bus-left.tga", 512, 128, kSlotBusLeft);
  LoadTexture(1, "man.tga", 256, 256, kSlotMan);
  LoadTexture(1, "backgr.tga", 512, 128, kSlotBackground);
  LoadTexture(0, "road.tga", 256, 128, kSlotRoad);
  LoadTexture(1, "rain.tga", 16, 256, kSlotRain);
  LoadTexture(0, "fara.tga", 128, 64, kSlotHeadlight);
  LoadTexture(1, "lighter.tga", 128, 256, kSlotLighter);
  LoadTexture(0, "bus-back.tga", 64, 128, kSlotBusBack);

  // Start falls and speeds, two draws per drop in that order.
  lantern::srand(300);
  for (int i = 0; i < kS5Drops; ++i) {
    g_s5DropFall[i] = static_cast<float>(lantern::rand() / 32767.0 * 250.0);
    g_s5DropSpeed[i] = static_cast<float>(lantern::rand() / 32767.0 * 3.0 + 3.0);
  }
}

void DrawScene5() {
  if (g_s5FirstFrame) {
    g_sceneClock = 0.0f;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    g_s5FirstFrame = 0;
    g_s5BusSpeed = 3.0f;
  }

  SetSceneProjection(1500.0);

  // A low camera that never moves; world +x is to the left of the screen.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(-60.0, -80.0, -250.0, -25.0, 0.0, 0.0, 0.0, 1.0, 0.0);

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDisable(GL_DEPTH_TEST);

  DrawStreet();
  DrawBus(g_sceneClock / 5.0f - 650.0f);
  DrawRain();
  DrawImg700();
  glFlush();

  UpdateBusSpeed();
  g_sceneClock += g_s5BusSpeed * g_frameDelta;
  g_s5CloudScroll += 0.0002f * g_frameDelta;
}
