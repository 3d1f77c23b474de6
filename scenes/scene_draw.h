// Drawing steps the scene draw functions share: the scenes' projection,
// filling g_quad, and one textured quad with the usual corner coordinates.
#pragma once

// glFrustum(-1, 1, -1, 1, 1, farPlane) then glScalef(1, 1.33, 1) on the
// projection matrix, which the screen quads rely on. Leaves the matrix mode
// GL_PROJECTION.
void SetSceneProjection(double farPlane);

// Sets all five fields of g_quad (screen units, y down).
void PlaceQuad(float x, float y, float width, float height, float alpha);

// One GL_QUADS quad through corners, with the texture coordinates (0, 0),
// (0, 1), (1, 1), (1, 0) on its four vertices in order.
void TexturedQuad(const float corners[4][3]);
