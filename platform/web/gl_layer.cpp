// The fixed-function OpenGL 1.1 layer over OpenGL ES 2.0 (WebGL 1): the
// context's set-up and release, and the plain state it keeps so that it
// can be read back without a round trip (capabilities, blending, viewport,
// scissor, clear colour, which textures hold an image). The matrix stacks,
// immediate mode and GLU are its other parts (gl_layer_*.cpp).
#include <cstring>
#include <vector>

#include "platform/web/gl_layer_internal.h"

namespace lgl {

// Texturing, which the batches decide by, and the texture bound.
bool g_texture2d = false;
GLuint g_boundTexture = 0;

}  // namespace lgl

using namespace lgl;

namespace {

// The other capabilities the layer tracks (the ES state is changed only on
// a change), and the blend function.
bool g_blend = false;
bool g_depthTest = false;
bool g_cullFace = false;
GLenum g_blendSource = GL_ONE;
GLenum g_blendDestination = GL_ZERO;

// The viewport and scissor box as last set, and the scissor test.
GLint g_viewport[4] = {0, 0, 0, 0};
GLint g_scissor[4] = {0, 0, 0, 0};
bool g_scissorTest = false;
// The clear colour, kept here so that reading it back needs no round trip.
GLfloat g_clearColor[4] = {0.0f, 0.0f, 0.0f, 0.0f};

// Which texture names hold an image at level 0; indexed by name. A texture
// without one is incomplete, and OpenGL then draws as if texturing were
// off (WebGL would sample black instead).
std::vector<unsigned char> g_textureHasImage;

// The layer has set itself up in the current context.
bool g_contextMade = false;

}  // namespace

namespace lgl {

bool TextureHasImage(GLuint name) {
  return name != 0 && name < g_textureHasImage.size() && g_textureHasImage[name] != 0;
}

bool DrawingUnseen() {
  return g_scissorTest && g_viewport[2] == 1 && g_viewport[3] == 1 && g_scissor[2] <= 1 &&
         g_scissor[3] <= 1;
}

}  // namespace lgl

namespace {

void SetCapability(GLenum capability, bool on) {
  if (on) {
    glEnable(capability);
  } else {
    glDisable(capability);
  }
}

}  // namespace

// ---- Context ---------------------------------------------------------------------

void LglContextCreated() {
  // A context that WebGL hands back for the same canvas keeps its old
  // state: every emulated piece is put back at the OpenGL defaults.
  CreateBatchObjects();
  ResetMatrices();
  g_texture2d = g_blend = g_depthTest = g_cullFace = false;
  glDisable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glDisable(GL_SCISSOR_TEST);
  g_scissorTest = false;
  // The viewport and scissor box start as the drawing buffer's size.
  glGetIntegerv(GL_VIEWPORT, g_viewport);
  glGetIntegerv(GL_SCISSOR_BOX, g_scissor);
  g_blendSource = GL_ONE;
  g_blendDestination = GL_ZERO;
  glBlendFunc(GL_ONE, GL_ZERO);
  glDepthFunc(GL_LESS);
  glDepthMask(GL_TRUE);
  glCullFace(GL_BACK);
  glFrontFace(GL_CCW);
  LglClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClearDepthf(1.0f);
  glActiveTexture(GL_TEXTURE0);
  g_boundTexture = 0;
  glBindTexture(GL_TEXTURE_2D, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  g_textureHasImage.clear();
  g_contextMade = true;
}

void LglContextDestroyed() {
  if (!g_contextMade) return;
  DestroyBatchObjects();
  for (GLuint name = 1; name < g_textureHasImage.size(); ++name) {
    if (g_textureHasImage[name] != 0) glDeleteTextures(1, &name);
  }
  g_textureHasImage.clear();
  g_contextMade = false;
}

void LglFlush() { DrawBatch(); }

// ---- Plain state ------------------------------------------------------------------

namespace {

// The flag the layer keeps for a capability, or null for one it only passes on.
bool* TrackedCapability(GLenum capability) {
  switch (capability) {
    case GL_TEXTURE_2D:
      return &g_texture2d;
    case GL_BLEND:
      return &g_blend;
    case GL_DEPTH_TEST:
      return &g_depthTest;
    case GL_CULL_FACE:
      return &g_cullFace;
    case GL_SCISSOR_TEST:
      return &g_scissorTest;
    default:
      return nullptr;
  }
}

// Texturing is the layer's own (it picks the program at each primitive);
// everything else is ES state, changed only when it changes.
void SetEnabled(GLenum capability, bool on) {
  bool* flag = TrackedCapability(capability);
  if (flag != nullptr && *flag == on) return;
  if (capability != GL_TEXTURE_2D) DrawBatch();
  if (flag != nullptr) *flag = on;
  if (capability != GL_TEXTURE_2D) SetCapability(capability, on);
}

void SetBox(GLint* box, GLint x, GLint y, GLsizei width, GLsizei height) {
  DrawBatch();
  box[0] = x;
  box[1] = y;
  box[2] = width;
  box[3] = height;
}

}  // namespace

void LglEnable(GLenum capability) { SetEnabled(capability, true); }

void LglDisable(GLenum capability) { SetEnabled(capability, false); }

void LglBlendFunc(GLenum source, GLenum destination) {
  if (source == g_blendSource && destination == g_blendDestination) return;
  DrawBatch();
  g_blendSource = source;
  g_blendDestination = destination;
  glBlendFunc(source, destination);
}

void LglClear(GLbitfield mask) {
  DrawBatch();
  if (!DrawingUnseen()) glClear(mask);
}

void LglClearColor(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
  g_clearColor[0] = red;
  g_clearColor[1] = green;
  g_clearColor[2] = blue;
  g_clearColor[3] = alpha;
  glClearColor(red, green, blue, alpha);
}

void LglViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
  SetBox(g_viewport, x, y, width, height);
  glViewport(x, y, width, height);
}

void LglScissor(GLint x, GLint y, GLsizei width, GLsizei height) {
  SetBox(g_scissor, x, y, width, height);
  glScissor(x, y, width, height);
}

GLboolean LglIsEnabled(GLenum capability) {
  const bool* flag = TrackedCapability(capability);
  if (flag == nullptr) return glIsEnabled(capability);
  return *flag ? GL_TRUE : GL_FALSE;
}

void LglGetIntegerv(GLenum name, GLint* values) {
  if (name == GL_VIEWPORT || name == GL_SCISSOR_BOX) {
    const GLint* box = name == GL_VIEWPORT ? g_viewport : g_scissor;
    for (int i = 0; i < 4; ++i) values[i] = box[i];
    return;
  }
  glGetIntegerv(name, values);
}

void LglGetFloatv(GLenum name, GLfloat* values) {
  if (name == GL_COLOR_CLEAR_VALUE) {
    for (int i = 0; i < 4; ++i) values[i] = g_clearColor[i];
    return;
  }
  glGetFloatv(name, values);
}

void LglShadeModel(GLenum) {
  // Smooth shading is the only model the show uses, and ES always shades so.
}

void LglFinish() {
  DrawBatch();
  glFinish();
}

void LglReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type,
                   void* pixels) {
  DrawBatch();
  glReadPixels(x, y, width, height, format, type, pixels);
}

// ---- Textures ------------------------------------------------------------------------

void LglGenTextures(GLsizei count, GLuint* names) { glGenTextures(count, names); }

void LglDeleteTextures(GLsizei count, const GLuint* names) {
  DrawBatch();
  for (GLsizei i = 0; i < count; ++i) {
    if (names[i] < g_textureHasImage.size()) g_textureHasImage[names[i]] = 0;
    if (names[i] == g_boundTexture) g_boundTexture = 0;
  }
  glDeleteTextures(count, names);
}

void LglBindTexture(GLenum target, GLuint name) {
  if (name == g_boundTexture) return;
  DrawBatch();
  g_boundTexture = name;
  glBindTexture(target, name);
}

// ES wants the internal format to equal the format, so the format stands
// for it (OpenGL 1.1 callers pass a component count).
void LglTexImage2D(GLenum target, GLint level, GLint, GLsizei width, GLsizei height, GLint border,
                   GLenum format, GLenum type, const void* pixels) {
  DrawBatch();
  glTexImage2D(target, level, static_cast<GLint>(format), width, height, border, format, type,
               pixels);
  if (level == 0 && g_boundTexture != 0) {
    if (g_boundTexture >= g_textureHasImage.size()) g_textureHasImage.resize(g_boundTexture + 64, 0);
    g_textureHasImage[g_boundTexture] = 1;
  }
}

