// Screen-space quads: textured rectangles in 640 by 480 screen units and
// full-view colour fades, drawn one unit in front of the eye.
#include "render/screen_quad.h"

ScreenQuad g_quad = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};

// The quads lie on the scenes' near plane (eye distance 1, near 1). Clipping
// in floating point may reject geometry exactly on that plane, so they are
// drawn this much further away and scaled up by the same factor: the
// projected picture is the same.
static const float kQuadDepth = 1.0001f;

void DrawScreenQuad(ScreenQuad quad, GLuint texture) {
  const float w = static_cast<float>(kScreenWidth);
  const float h = static_cast<float>(kScreenHeight);
  const float cx = 2.0f * quad.x - (w - quad.width);
  const float cy = (h - quad.height) - 2.0f * quad.y;
  const float left = (cx - quad.width) / w;
  const float right = (cx + quad.width) / w;
  const float bottom = static_cast<float>((cy - quad.height) / h / 1.33);
  const float top = static_cast<float>((cy + quad.height) / h / 1.33);

  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -kQuadDepth);
  glScalef(kQuadDepth, kQuadDepth, 1.0f);
  glBindTexture(GL_TEXTURE_2D, texture);
  glColor4f(1.0f, 1.0f, 1.0f, quad.alpha);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex3f(left, bottom, 0.0f);
  glTexCoord2f(1.0f, 0.0f);
  glVertex3f(right, bottom, 0.0f);
  glTexCoord2f(1.0f, 1.0f);
  glVertex3f(right, top, 0.0f);
  glTexCoord2f(0.0f, 1.0f);
  glVertex3f(left, top, 0.0f);
  glEnd();
  glPopMatrix();
}

void DrawColorQuad(float alpha, int color) {
  static const float kColors[3][3] = {
      {0.0f, 0.0f, 0.0f},    // black
      {1.0f, 1.0f, 1.0f},    // white
      {0.73f, 0.15f, 0.0f},  // orange-red
  };
  const int code = (color >= 0 && color < 3) ? color : kColorBlack;

  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -kQuadDepth);
  glScalef(kQuadDepth, kQuadDepth, 1.0f);
  glDisable(GL_TEXTURE_2D);
  glColor4f(kColors[code][0], kColors[code][1], kColors[code][2], alpha);
  glBegin(GL_QUADS);
  glVertex3f(-1.0f, -1.0f, 0.0f);
  glVertex3f(1.0f, -1.0f, 0.0f);
  glVertex3f(1.0f, 1.0f, 0.0f);
  glVertex3f(-1.0f, 1.0f, 0.0f);
  glEnd();
  glPopMatrix();
  glEnable(GL_TEXTURE_2D);
}
