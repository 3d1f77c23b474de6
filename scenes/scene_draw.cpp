// Drawing steps shared by the scene draw functions.
#include "scenes/scene_draw.h"

#include "platform/gl.h"

#include "render/screen_quad.h"

void SetSceneProjection(double farPlane) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glFrustum(-1.0, 1.0, -1.0, 1.0, 1.0, farPlane);
  glScalef(1.0f, 1.33f, 1.0f);
}

void PlaceQuad(float x, float y, float width, float height, float alpha) {
  g_quad.x = x;
  g_quad.y = y;
  g_quad.width = width;
  g_quad.height = height;
  g_quad.alpha = alpha;
}

void TexturedQuad(const float corners[4][3]) {
  static const float kCornerTex[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
  glBegin(GL_QUADS);
  for (int v = 0; v < 4; ++v) {
    glTexCoord2f(kCornerTex[v][0], kCornerTex[v][1]);
    glVertex3f(corners[v][0], corners[v][1], corners[v][2]);
  }
  glEnd();
}
