// Scene 8, the silhouettes on the field and the end (orders 22 to 30): two
// black meshes on a fading-in field under drifting clouds, the closing
// images, the fade to black and, at order 30 row 63, the end of the show.
#include "scenes/scene8.h"
#include "scenes/scene_draw.h"

#include "platform/gl.h"

#include "common/shared_state.h"
#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/mesh_loader.h"
#include "resources/texture_loader.h"
#include "scenes/scenes.h"
#include "timeline/sequencer.h"

int32_t g_s8FirstFrame = 1;
float g_s8FieldAlpha = 0.0f;
float g_s8Fade = 0.0f;
float g_s8EndAlpha = 0.0f;
float g_s8DedicatedAlpha = 0.0f;
float g_s8LoveAlpha = 0.0f;

namespace {

constexpr int kSlotPole = 48;
constexpr int kSlotField = 49;
constexpr int kSlotBlackhole = 50;
constexpr int kSlotDedicated = 51;
constexpr int kSlotLove = 52;
constexpr int kSlotEnd = 54;
constexpr int kSlotWhite = 33;

// Ground plane (y = -300, facing up) and cloud layer (y = 400, facing down).
const float kFieldQuad[4][3] = {
    {6000, -300, 1000}, {6000, -300, -7000}, {-6000, -300, -7000}, {-6000, -300, 1000}};
const float kCloudQuad[4][3] = {
    {-4000, 400, -7000}, {4000, 400, -7000}, {4000, 400, 1000}, {-4000, 400, 1000}};



// Every face of a mesh as one triangle a, b, c in file order.
void DrawMeshTriangles(const Mesh& mesh) {
  glBegin(GL_TRIANGLES);
  for (int f = 0; f < mesh.faceCount; ++f) {
    const MeshFace& face = mesh.faces[f];
    glVertex3fv(&mesh.vertices[face.a].x);
    glVertex3fv(&mesh.vertices[face.b].x);
    glVertex3fv(&mesh.vertices[face.c].x);
  }
  glEnd();
}

}  // namespace

void LoadScene8() {
  LoadMesh("chel.3d", &g_chelMesh);
  LoadMesh("zavod.3d", &g_zavodMesh);
  // The figure stands beside the factory: every slot, loaded or not, moves
  // once per load, after the file has been read over it.
  for (int i = 0; i < kChelVertexCapacity; ++i) {
    g_chelMesh.vertices[i].x += -100.0f;
    g_chelMesh.vertices[i].z += -3.0f;
  }
  LoadTexture(1, "pole.tga", 256, 256, kSlotPole);
  LoadTexture(0, "travka.tga", 256, 256, kSlotField);
  LoadTexture(1, "blackhole.tga", 128, 128, kSlotBlackhole);
  LoadTexture(1, "dedicated.tga", 256, 256, kSlotDedicated);
  LoadTexture(1, "love.tga", 128, 128, kSlotLove);
  LoadTexture(1, "end.tga", 512, 128, kSlotEnd);
}

void DrawScene8() {
  if (g_s8FirstFrame) {
    g_sceneClock = 0.0f;
    glClearColor(0.73f, 0.15f, 0.0f, 1.0f);
    g_s8FirstFrame = 0;
    g_s8FieldAlpha = 0.0f;
    g_s8Fade = 0.0f;
    g_s8EndAlpha = 0.0f;
    g_s8DedicatedAlpha = 0.0f;
    g_s8LoveAlpha = 0.0f;
  }
  const float dt = g_frameDelta;
  const int row = g_sceneRow;

  SetSceneProjection(5000.0);

  // The eye backs away along +z while it keeps looking at the same point.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(-86.0, 160.0, g_sceneClock / 3.0f - 800.0f, -86.0, 200.0, -1000.0, 0.0, 1.0, 0.0);

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  // Upper image, without depth so everything later covers it.
  glDisable(GL_DEPTH_TEST);
  PlaceQuad(157, 140, 128, 128, 1.0f);
  DrawScreenQuad(g_quad, g_textures[kSlotBlackhole]);

  // Opaque black silhouettes with back faces culled; culling stays on.
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_CULL_FACE);
  glEnable(GL_DEPTH_TEST);

  // Mesh files have z up: model (x, y, z) lands at world (x, z - 800, -y - 1500).
  glPushMatrix();
  glTranslatef(0.0f, -800.0f, -1500.0f);
  glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);
  glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
  DrawMeshTriangles(g_chelMesh);
  DrawMeshTriangles(g_zavodMesh);
  glPopMatrix();

  // Ground plane fading in, with the blend function DrawScreenQuad left.
  glEnable(GL_BLEND);
  glEnable(GL_TEXTURE_2D);
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotField]);
  glColor4f(1.0f, 1.0f, 1.0f, g_s8FieldAlpha);
  TexturedQuad(kFieldQuad);

  // Cloud layer drifting along x.
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glPushMatrix();
  glTranslatef(0.0f, g_sceneClock / 1000.0f, 0.0f);
  glBindTexture(GL_TEXTURE_2D, g_textures[kSlotWhite]);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  TexturedQuad(kCloudQuad);
  glPopMatrix();

  if (g_scene == 25) {
    if (row > 15) g_s8DedicatedAlpha += 0.015f * dt;
    if (row > 50) g_s8DedicatedAlpha -= 0.015f * dt;
    glDisable(GL_DEPTH_TEST);
    PlaceQuad(384, 224, 256, 256, g_s8DedicatedAlpha);
    DrawScreenQuad(g_quad, g_textures[kSlotDedicated]);
  }
  if (g_scene == 26) {
    if (row > 15) g_s8LoveAlpha += 0.015f * dt;
    if (row > 50) g_s8LoveAlpha -= 0.02f * dt;
    glDisable(GL_DEPTH_TEST);
    PlaceQuad(0, 360, 128, 128, g_s8LoveAlpha);
    DrawScreenQuad(g_quad, g_textures[kSlotLove]);
  }
  if (g_scene == 30) {
    if (row > 1) g_s8Fade += 0.003f * dt;
    DrawColorQuad(g_s8Fade, kColorBlack);
    if (row > 15) g_s8EndAlpha += 0.015f * dt;
    glDisable(GL_DEPTH_TEST);
    PlaceQuad(128, 176, 512, 128, g_s8EndAlpha);
    DrawScreenQuad(g_quad, g_textures[kSlotEnd]);
    if (row >= 63) g_quit = 1;
  }

  glFlush();
  g_sceneClock += dt;
  if (row < 20) g_s8FieldAlpha += 0.03f * dt;
}
