// Texture-name tables, the render state every scene starts from and the
// loading screen shown while the scenes load.
#include "render/render_state.h"

#include "render/screen_quad.h"
#include "resources/texture_loader.h"

GLuint g_textures[kTextureSlots];
GLuint g_frameTexturesA[kFrameTexturesA];
GLuint g_frameTexturesC[kFrameTexturesC];

void InitRenderState() {
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glShadeModel(GL_SMOOTH);
  glViewport(0, 0, kScreenWidth, kScreenHeight);

  // A new context gets new names; those of an earlier context went with it.
  glGenTextures(kTextureSlots, g_textures);
  glGenTextures(kFrameTexturesA, g_frameTexturesA);
  glGenTextures(kFrameTexturesC, g_frameTexturesC);

  LoadTexture(0, "loading.tga", 512, 128, 0);

  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glFrustum(-1.0, 1.0, -1.0, 1.0, 1.0, 1500.0);
  glScalef(1.0f, 1.33f, 1.0f);

  g_quad.x = 84.0f;
  g_quad.y = 176.0f;
  g_quad.width = 512.0f;
  g_quad.height = 128.0f;
  g_quad.alpha = 1.0f;
  DrawScreenQuad(g_quad, g_textures[0]);
}
