// Screen-space helpers: textured rectangles placed in the units of a 640 by
// 480 screen, and full-view colour fades, drawn over any scene camera.
//
// Screen units: x grows to the right from the left edge, y grows downward
// from the top edge; (0, 0, 640, 480) covers the whole view. Texture row 0
// (the first row of a picture file) lands at the bottom edge of a quad.
#pragma once

#include "platform/gl.h"

// Placement of one screen quad: top-left corner, size, opacity.
struct ScreenQuad {
  float x;
  float y;
  float width;
  float height;
  float alpha;
};

// The one placement record every caller fills before DrawScreenQuad; its
// fields persist between calls and between scenes. Main thread only.
extern ScreenQuad g_quad;

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;

// Colour codes of DrawColorQuad.
constexpr int kColorBlack = 0;
constexpr int kColorWhite = 1;
constexpr int kColorOrange = 2;

// Draws texture as the rectangle quad describes, blended with
// GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA. Needs the scenes' projection:
// glFrustum(-1, 1, -1, 1, 1, far) then glScalef(1, 1.33, 1). Leaves the
// matrix mode GL_MODELVIEW (matrix restored), that blend function, the
// texture bound and the colour (1, 1, 1, alpha).
void DrawScreenQuad(ScreenQuad quad, GLuint texture);

// Covers the whole view with one flat colour (a colour code) at alpha.
// Leaves blending and GL_TEXTURE_2D enabled, the same blend function and
// matrix mode as DrawScreenQuad.
void DrawColorQuad(float alpha, int color);
