// The fixed-function layer over OpenGL ES 2.0: matrix stacks and current
// vertex state kept here, immediate-mode primitives gathered into
// triangle and line batches and drawn with two small shader programs, and
// the GLU calls the show makes, computed the way Mesa's GLU 9.0 computes
// them (mipmaps with its box filters, the cylinder's vertex order and
// texture coordinates, the camera matrices).
#include "platform/web/gl_layer.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// ---- State ------------------------------------------------------------------

// Stack depths as Mesa has them.
constexpr int kModelviewDepth = 32;
constexpr int kProjectionDepth = 32;
constexpr int kTextureDepth = 10;

struct MatrixStack {
  GLfloat matrices[kModelviewDepth][16];
  int depth;  // index of the top
  int capacity;
};

MatrixStack g_modelview;
MatrixStack g_projection;
MatrixStack g_textureMatrix;
MatrixStack* g_currentStack = &g_modelview;

// Current vertex attributes (they persist across glBegin/glEnd, as in GL).
GLfloat g_color[4] = {1.0f, 1.0f, 1.0f, 1.0f};
GLfloat g_texCoord[2] = {0.0f, 0.0f};

// Capabilities the layer tracks (the ES state is changed only on a change).
bool g_texture2d = false;
bool g_blend = false;
bool g_depthTest = false;
bool g_cullFace = false;
GLenum g_blendSource = GL_ONE;
GLenum g_blendDestination = GL_ZERO;
GLuint g_boundTexture = 0;

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

// One vertex as the shaders take it: position, colour, texture coordinate.
struct Vertex {
  GLfloat x, y, z;
  GLfloat r, g, b, a;
  GLfloat s, t;
};

// The primitive between glBegin and glEnd.
GLenum g_primitive = 0;
bool g_inBegin = false;
std::vector<Vertex> g_primitiveVertices;

// What decides how a batch is drawn; consecutive primitives with equal
// state are drawn with one call.
struct DrawState {
  GLfloat mvp[16];
  GLfloat texture[16];
  bool textured;
  bool lines;
};

DrawState g_batchState;
std::vector<Vertex> g_batch;

// The ES objects of the current context.
struct Program {
  GLuint program;
  GLint mvp;
  GLint texture;
  GLint sampler;
};
Program g_textured = {0, -1, -1, -1};
Program g_plain = {0, -1, -1, -1};
GLuint g_vertexBuffer = 0;
bool g_contextReady = false;

constexpr GLuint kPositionAttribute = 0;
constexpr GLuint kColorAttribute = 1;
constexpr GLuint kTexCoordAttribute = 2;

// GLSL ES 1.00, which WebGL 1 takes and desktop Mesa takes too (the
// layer's native tests draw with it in a desktop context).
const char* const kVertexShader =
    "#version 100\n"
    "attribute vec3 a_position;\n"
    "attribute vec4 a_color;\n"
    "attribute vec2 a_texcoord;\n"
    "uniform mat4 u_mvp;\n"
    "uniform mat4 u_texture;\n"
    "varying vec4 v_color;\n"
    "varying vec4 v_texcoord;\n"
    "void main() {\n"
    "  gl_Position = u_mvp * vec4(a_position, 1.0);\n"
    "  v_color = a_color;\n"
    "  v_texcoord = u_texture * vec4(a_texcoord, 0.0, 1.0);\n"
    "}\n";

// GL_MODULATE: the fragment is the interpolated colour times the texel.
const char* const kTexturedFragmentShader =
    "#version 100\n"
    "#ifdef GL_FRAGMENT_PRECISION_HIGH\n"
    "precision highp float;\n"
    "#else\n"
    "precision mediump float;\n"
    "#endif\n"
    "uniform sampler2D u_sampler;\n"
    "varying vec4 v_color;\n"
    "varying vec4 v_texcoord;\n"
    "void main() {\n"
    "  gl_FragColor = v_color * texture2DProj(u_sampler, v_texcoord);\n"
    "}\n";

const char* const kPlainFragmentShader =
    "#version 100\n"
    "precision mediump float;\n"
    "varying vec4 v_color;\n"
    "void main() {\n"
    "  gl_FragColor = v_color;\n"
    "}\n";

// ---- Matrices (column-major, as OpenGL and Mesa's math keep them) ------------

void SetIdentity(GLfloat* m) {
  for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

// product = a * b
void Multiply(const GLfloat* a, const GLfloat* b, GLfloat* product) {
  GLfloat result[16];
  for (int i = 0; i < 4; ++i) {
    const GLfloat ai0 = a[i], ai1 = a[i + 4], ai2 = a[i + 8], ai3 = a[i + 12];
    for (int j = 0; j < 4; ++j) {
      result[i + 4 * j] =
          ai0 * b[4 * j] + ai1 * b[4 * j + 1] + ai2 * b[4 * j + 2] + ai3 * b[4 * j + 3];
    }
  }
  std::memcpy(product, result, sizeof result);
}

GLfloat* Top(MatrixStack* stack) { return stack->matrices[stack->depth]; }

void MultiplyCurrent(const GLfloat* m) { Multiply(Top(g_currentStack), m, Top(g_currentStack)); }

void ResetStack(MatrixStack* stack, int capacity) {
  stack->depth = 0;
  stack->capacity = capacity;
  SetIdentity(stack->matrices[0]);
}

// ---- ES objects ----------------------------------------------------------------

GLuint CompileShader(GLenum type, const char* source) {
  GLuint shader = glCreateShader(type);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint ok = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok != GL_TRUE) {
    char log[512] = "";
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    std::fprintf(stderr, "lantern: the GL layer's shader does not compile: %s\n", log);
  }
  return shader;
}

Program LinkProgram(const char* fragmentSource) {
  Program result = {0, -1, -1, -1};
  GLuint vertex = CompileShader(GL_VERTEX_SHADER, kVertexShader);
  GLuint fragment = CompileShader(GL_FRAGMENT_SHADER, fragmentSource);
  result.program = glCreateProgram();
  glAttachShader(result.program, vertex);
  glAttachShader(result.program, fragment);
  glBindAttribLocation(result.program, kPositionAttribute, "a_position");
  glBindAttribLocation(result.program, kColorAttribute, "a_color");
  glBindAttribLocation(result.program, kTexCoordAttribute, "a_texcoord");
  glLinkProgram(result.program);
  GLint ok = GL_FALSE;
  glGetProgramiv(result.program, GL_LINK_STATUS, &ok);
  if (ok != GL_TRUE) {
    char log[512] = "";
    glGetProgramInfoLog(result.program, sizeof log, nullptr, log);
    std::fprintf(stderr, "lantern: the GL layer's program does not link: %s\n", log);
  }
  glDeleteShader(vertex);
  glDeleteShader(fragment);
  result.mvp = glGetUniformLocation(result.program, "u_mvp");
  result.texture = glGetUniformLocation(result.program, "u_texture");
  result.sampler = glGetUniformLocation(result.program, "u_sampler");
  return result;
}

bool TextureHasImage(GLuint name) {
  return name != 0 && name < g_textureHasImage.size() && g_textureHasImage[name] != 0;
}

void SetCapability(GLenum capability, bool on) {
  if (on) {
    glEnable(capability);
  } else {
    glDisable(capability);
  }
}

// ---- Batches -------------------------------------------------------------------

void CurrentDrawState(bool lines, DrawState* state) {
  Multiply(Top(&g_projection), Top(&g_modelview), state->mvp);
  std::memcpy(state->texture, Top(&g_textureMatrix), sizeof state->texture);
  state->textured = g_texture2d && TextureHasImage(g_boundTexture);
  state->lines = lines;
}

bool SameDrawState(const DrawState& a, const DrawState& b) {
  return a.textured == b.textured && a.lines == b.lines &&
         std::memcmp(a.mvp, b.mvp, sizeof a.mvp) == 0 &&
         (!a.textured || std::memcmp(a.texture, b.texture, sizeof a.texture) == 0);
}

// Frames drawn through a 1-pixel viewport and scissor are the skip-ahead's
// unseen frames: their one pixel is never read (every frame clears it), so
// their draws are not sent at all. WebGL would otherwise queue thousands of
// frames of draw calls in front of the first frame anyone sees.
bool DrawingUnseen() {
  return g_scissorTest && g_viewport[2] == 1 && g_viewport[3] == 1 && g_scissor[2] <= 1 &&
         g_scissor[3] <= 1;
}

void DrawBatch() {
  if (g_batch.empty() || !g_contextReady || DrawingUnseen()) {
    g_batch.clear();
    return;
  }
  const Program& program = g_batchState.textured ? g_textured : g_plain;
  glUseProgram(program.program);
  glUniformMatrix4fv(program.mvp, 1, GL_FALSE, g_batchState.mvp);
  if (g_batchState.textured) {
    glUniformMatrix4fv(program.texture, 1, GL_FALSE, g_batchState.texture);
    glUniform1i(program.sampler, 0);
  }
  glBindBuffer(GL_ARRAY_BUFFER, g_vertexBuffer);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(g_batch.size() * sizeof(Vertex)),
               g_batch.data(), GL_STREAM_DRAW);
  const GLsizei stride = sizeof(Vertex);
  glVertexAttribPointer(kPositionAttribute, 3, GL_FLOAT, GL_FALSE, stride,
                        reinterpret_cast<const void*>(offsetof(Vertex, x)));
  glVertexAttribPointer(kColorAttribute, 4, GL_FLOAT, GL_FALSE, stride,
                        reinterpret_cast<const void*>(offsetof(Vertex, r)));
  glVertexAttribPointer(kTexCoordAttribute, 2, GL_FLOAT, GL_FALSE, stride,
                        reinterpret_cast<const void*>(offsetof(Vertex, s)));
  glDrawArrays(g_batchState.lines ? GL_LINES : GL_TRIANGLES, 0,
               static_cast<GLsizei>(g_batch.size()));
  g_batch.clear();
}

// Adds one primitive's triangles or lines under the current state.
void Submit(const Vertex* vertices, size_t count, bool lines) {
  if (count == 0) return;
  DrawState state;
  CurrentDrawState(lines, &state);
  if (!g_batch.empty() && !SameDrawState(state, g_batchState)) DrawBatch();
  if (g_batch.empty()) g_batchState = state;
  g_batch.insert(g_batch.end(), vertices, vertices + count);
}

// The primitive just ended, as triangles or lines.
void SubmitPrimitive() {
  static std::vector<Vertex> out;
  out.clear();
  const std::vector<Vertex>& v = g_primitiveVertices;
  const size_t n = v.size();
  switch (g_primitive) {
    case GL_QUADS:
      for (size_t i = 0; i + 3 < n; i += 4) {
        out.insert(out.end(), {v[i], v[i + 1], v[i + 2], v[i], v[i + 2], v[i + 3]});
      }
      Submit(out.data(), out.size(), false);
      break;
    case GL_QUAD_STRIP:
      // Quad k is v[2k], v[2k+1], v[2k+3], v[2k+2], wound as the strip is.
      for (size_t i = 0; i + 3 < n; i += 2) {
        out.insert(out.end(), {v[i], v[i + 1], v[i + 3], v[i], v[i + 3], v[i + 2]});
      }
      Submit(out.data(), out.size(), false);
      break;
    case GL_TRIANGLES:
      Submit(v.data(), n - n % 3, false);
      break;
    case GL_LINES:
      Submit(v.data(), n - n % 2, true);
      break;
    default:
      break;
  }
}

// ---- GLU mipmaps, after Mesa's GLU (mipmap.c) for RGBA unsigned bytes ------------

constexpr int kComponents = 4;

// nearestPower: the power of two nearest to value (3 rounds up to 4).
int NearestPower(unsigned value) {
  int i = 1;
  if (value == 0) return -1;
  for (;;) {
    if (value == 1) return i;
    if (value == 3) return i * 4;
    value >>= 1;
    i *= 2;
  }
}

int ComputeLog(unsigned value) {
  int i = 0;
  if (value == 0) return -1;
  for (;;) {
    if (value & 1) return value != 1 ? -1 : i;
    value >>= 1;
    ++i;
  }
}

// halve1Dimage_ubyte: a single row or column, two texels averaged, rounding down.
void HalveOneDimension(int width, int height, const unsigned char* in, unsigned char* out) {
  const int count = (height == 1 ? width : height) / 2;
  for (int j = 0; j < count; ++j) {
    for (int k = 0; k < kComponents; ++k) {
      out[kComponents * j + k] =
          static_cast<unsigned char>((in[2 * kComponents * j + k] +
                                      in[2 * kComponents * j + kComponents + k]) / 2);
    }
  }
}

// halveImage_ubyte: 2 x 2 boxes averaged, rounding to nearest.
void Halve(int width, int height, const unsigned char* in, unsigned char* out) {
  if (width == 1 || height == 1) {
    HalveOneDimension(width, height, in, out);
    return;
  }
  const int newWidth = width / 2;
  const int newHeight = height / 2;
  const int row = width * kComponents;
  const unsigned char* t = in;
  unsigned char* s = out;
  for (int i = 0; i < newHeight; ++i) {
    for (int j = 0; j < newWidth; ++j) {
      for (int k = 0; k < kComponents; ++k) {
        *s++ = static_cast<unsigned char>(
            (t[0] + t[kComponents] + t[row] + t[row + kComponents] + 2) / 4);
        ++t;
      }
      t += kComponents;
    }
    t += row;
  }
}

// scale_internal_ubyte: an area-weighted box filter from widthIn x heightIn
// to widthOut x heightOut, in single precision exactly as GLU computes it.
void Scale(int widthIn, int heightIn, const unsigned char* in, int widthOut, int heightOut,
           unsigned char* out) {
  if (widthIn == widthOut * 2 && heightIn == heightOut * 2) {
    Halve(widthIn, heightIn, in, out);
    return;
  }
  const int group = kComponents;
  const int ysize = widthIn * group;
  const float convy = static_cast<float>(heightIn) / heightOut;
  const float convx = static_cast<float>(widthIn) / widthOut;
  const int convyInt = static_cast<int>(std::floor(convy));
  const float convyFloat = convy - convyInt;
  const int convxInt = static_cast<int>(std::floor(convx));
  const float convxFloat = convx - convxInt;
  const float area = convx * convy;

  int lowyInt = 0;
  float lowyFloat = 0;
  int highyInt = convyInt;
  float highyFloat = convyFloat;
  for (int i = 0; i < heightOut; ++i) {
    if (highyInt >= heightIn) highyInt = heightIn - 1;
    int lowxInt = 0;
    float lowxFloat = 0;
    int highxInt = convxInt;
    float highxFloat = convxFloat;
    for (int j = 0; j < widthOut; ++j) {
      float totals[kComponents] = {0, 0, 0, 0};
      const int xindex = lowxInt * group;
      const unsigned char* temp;
      if (highyInt > lowyInt && highxInt > lowxInt) {
        float yPercent = 1 - lowyFloat;
        temp = in + xindex + lowyInt * ysize;
        float percent = yPercent * (1 - lowxFloat);
        for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * percent;
        const unsigned char* left = temp;
        for (int l = lowxInt + 1; l < highxInt; ++l) {
          temp += group;
          for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * yPercent;
        }
        temp += group;
        const unsigned char* right = temp;
        percent = yPercent * highxFloat;
        for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * percent;

        yPercent = highyFloat;
        percent = yPercent * (1 - lowxFloat);
        temp = in + xindex + highyInt * ysize;
        for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * percent;
        for (int l = lowxInt + 1; l < highxInt; ++l) {
          temp += group;
          for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * yPercent;
        }
        temp += group;
        percent = yPercent * highxFloat;
        for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * percent;

        for (int m = lowyInt + 1; m < highyInt; ++m) {
          left += ysize;
          right += ysize;
          for (int k = 0; k < kComponents; ++k) {
            totals[k] += left[k] * (1 - lowxFloat) + right[k] * highxFloat;
          }
        }
      } else if (highyInt > lowyInt) {
        const float xPercent = highxFloat - lowxFloat;
        float percent = (1 - lowyFloat) * xPercent;
        temp = in + xindex + lowyInt * ysize;
        for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * percent;
        for (int m = lowyInt + 1; m < highyInt; ++m) {
          temp += ysize;
          for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * xPercent;
        }
        percent = xPercent * highyFloat;
        temp += ysize;
        for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * percent;
      } else if (highxInt > lowxInt) {
        const float yPercent = highyFloat - lowyFloat;
        float percent = (1 - lowxFloat) * yPercent;
        temp = in + xindex + lowyInt * ysize;
        for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * percent;
        for (int l = lowxInt + 1; l < highxInt; ++l) {
          temp += group;
          for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * yPercent;
        }
        temp += group;
        percent = yPercent * highxFloat;
        for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * percent;
      } else {
        const float percent = (highyFloat - lowyFloat) * (highxFloat - lowxFloat);
        temp = in + xindex + lowyInt * ysize;
        for (int k = 0; k < kComponents; ++k) totals[k] += temp[k] * percent;
      }

      // The texels wholly inside the box.
      const unsigned char* temp0 = in + xindex + group + (lowyInt + 1) * ysize;
      for (int m = lowyInt + 1; m < highyInt; ++m) {
        temp = temp0;
        for (int l = lowxInt + 1; l < highxInt; ++l) {
          for (int k = 0; k < kComponents; ++k) totals[k] += temp[k];
          temp += group;
        }
        temp0 += ysize;
      }

      const int outIndex = (j + i * widthOut) * kComponents;
      for (int k = 0; k < kComponents; ++k) {
        out[outIndex + k] = static_cast<unsigned char>(totals[k] / area);
      }
      lowxInt = highxInt;
      lowxFloat = highxFloat;
      highxInt += convxInt;
      highxFloat += convxFloat;
      if (highxFloat > 1) {
        highxFloat -= 1.0;
        ++highxInt;
      }
    }
    lowyInt = highyInt;
    lowyFloat = highyFloat;
    highyInt += convyInt;
    highyFloat += convyFloat;
    if (highyFloat > 1) {
      highyFloat -= 1.0;
      ++highyInt;
    }
  }
}

struct TexImageTarget {
  GLenum target;
};

void UploadLevel(int index, int w, int h, const unsigned char* pixels, void* user) {
  const GLenum target = static_cast<const TexImageTarget*>(user)->target;
  LglTexImage2D(target, index, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
}

// ---- GLU quadrics ----------------------------------------------------------------

constexpr int kCylinderCacheSize = 240;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

struct GLUquadric {
  bool textureCoords;
  GLenum orientation;
};

// ---- Context ---------------------------------------------------------------------

void LglContextCreated() {
  g_textured = LinkProgram(kTexturedFragmentShader);
  g_plain = LinkProgram(kPlainFragmentShader);
  glGenBuffers(1, &g_vertexBuffer);
  glBindBuffer(GL_ARRAY_BUFFER, g_vertexBuffer);
  glEnableVertexAttribArray(kPositionAttribute);
  glEnableVertexAttribArray(kColorAttribute);
  glEnableVertexAttribArray(kTexCoordAttribute);

  // A context that WebGL hands back for the same canvas keeps its old
  // state: every emulated piece is put back at the OpenGL defaults.
  ResetStack(&g_modelview, kModelviewDepth);
  ResetStack(&g_projection, kProjectionDepth);
  ResetStack(&g_textureMatrix, kTextureDepth);
  g_currentStack = &g_modelview;
  const GLfloat white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  std::memcpy(g_color, white, sizeof g_color);
  g_texCoord[0] = g_texCoord[1] = 0.0f;
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
  g_batch.clear();
  g_primitiveVertices.clear();
  g_inBegin = false;
  g_contextReady = true;
}

void LglContextDestroyed() {
  if (!g_contextReady) return;
  g_batch.clear();
  for (GLuint name = 1; name < g_textureHasImage.size(); ++name) {
    if (g_textureHasImage[name] != 0) glDeleteTextures(1, &name);
  }
  g_textureHasImage.clear();
  glDeleteBuffers(1, &g_vertexBuffer);
  glDeleteProgram(g_textured.program);
  glDeleteProgram(g_plain.program);
  g_vertexBuffer = 0;
  g_textured = {0, -1, -1, -1};
  g_plain = {0, -1, -1, -1};
  g_contextReady = false;
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

// ---- Matrices ---------------------------------------------------------------------------

void LglMatrixMode(GLenum mode) {
  switch (mode) {
    case GL_MODELVIEW:
      g_currentStack = &g_modelview;
      break;
    case GL_PROJECTION:
      g_currentStack = &g_projection;
      break;
    case GL_TEXTURE:
      g_currentStack = &g_textureMatrix;
      break;
    default:
      break;
  }
}

void LglLoadIdentity() { SetIdentity(Top(g_currentStack)); }

void LglPushMatrix() {
  MatrixStack* stack = g_currentStack;
  if (stack->depth + 1 >= stack->capacity) return;  // GL_STACK_OVERFLOW: ignored
  std::memcpy(stack->matrices[stack->depth + 1], stack->matrices[stack->depth], sizeof(GLfloat) * 16);
  ++stack->depth;
}

void LglPopMatrix() {
  if (g_currentStack->depth == 0) return;  // GL_STACK_UNDERFLOW: ignored
  --g_currentStack->depth;
}

void LglMultMatrixf(const GLfloat* matrix) { MultiplyCurrent(matrix); }

void LglMultMatrixd(const GLdouble* matrix) {
  GLfloat m[16];
  for (int i = 0; i < 16; ++i) m[i] = static_cast<GLfloat>(matrix[i]);
  MultiplyCurrent(m);
}

// As Mesa's _math_matrix_translate: only the last column changes.
void LglTranslatef(GLfloat x, GLfloat y, GLfloat z) {
  GLfloat* m = Top(g_currentStack);
  m[12] = m[0] * x + m[4] * y + m[8] * z + m[12];
  m[13] = m[1] * x + m[5] * y + m[9] * z + m[13];
  m[14] = m[2] * x + m[6] * y + m[10] * z + m[14];
  m[15] = m[3] * x + m[7] * y + m[11] * z + m[15];
}

void LglTranslated(GLdouble x, GLdouble y, GLdouble z) {
  LglTranslatef(static_cast<GLfloat>(x), static_cast<GLfloat>(y), static_cast<GLfloat>(z));
}

// As Mesa's _math_matrix_rotate for a general axis.
void LglRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
  const GLfloat s = static_cast<GLfloat>(std::sin(angle * kPi / 180.0));
  const GLfloat c = static_cast<GLfloat>(std::cos(angle * kPi / 180.0));
  const GLfloat magnitude = std::sqrt(x * x + y * y + z * z);
  if (magnitude <= 1.0e-4f) return;
  x /= magnitude;
  y /= magnitude;
  z /= magnitude;
  const GLfloat xx = x * x, yy = y * y, zz = z * z;
  const GLfloat xy = x * y, yz = y * z, zx = z * x;
  const GLfloat xs = x * s, ys = y * s, zs = z * s;
  const GLfloat oneC = 1.0f - c;
  GLfloat m[16];
  SetIdentity(m);
  m[0] = (oneC * xx) + c;
  m[4] = (oneC * xy) - zs;
  m[8] = (oneC * zx) + ys;
  m[1] = (oneC * xy) + zs;
  m[5] = (oneC * yy) + c;
  m[9] = (oneC * yz) - xs;
  m[2] = (oneC * zx) - ys;
  m[6] = (oneC * yz) + xs;
  m[10] = (oneC * zz) + c;
  MultiplyCurrent(m);
}

void LglScalef(GLfloat x, GLfloat y, GLfloat z) {
  GLfloat* m = Top(g_currentStack);
  for (int i = 0; i < 4; ++i) {
    m[i] *= x;
    m[4 + i] *= y;
    m[8 + i] *= z;
  }
}

// As Mesa's _math_matrix_frustum, in single precision.
void LglFrustum(GLdouble leftD, GLdouble rightD, GLdouble bottomD, GLdouble topD, GLdouble nearD,
                GLdouble farD) {
  const GLfloat left = static_cast<GLfloat>(leftD), right = static_cast<GLfloat>(rightD);
  const GLfloat bottom = static_cast<GLfloat>(bottomD), top = static_cast<GLfloat>(topD);
  const GLfloat nearVal = static_cast<GLfloat>(nearD), farVal = static_cast<GLfloat>(farD);
  const GLfloat x = (2.0f * nearVal) / (right - left);
  const GLfloat y = (2.0f * nearVal) / (top - bottom);
  const GLfloat a = (right + left) / (right - left);
  const GLfloat b = (top + bottom) / (top - bottom);
  const GLfloat c = -(farVal + nearVal) / (farVal - nearVal);
  const GLfloat d = -(2.0f * farVal * nearVal) / (farVal - nearVal);
  GLfloat m[16] = {x, 0, 0, 0, 0, y, 0, 0, a, b, c, -1.0f, 0, 0, d, 0};
  MultiplyCurrent(m);
}

void LglGetCurrentMatrix(GLfloat* matrix) {
  std::memcpy(matrix, Top(g_currentStack), sizeof(GLfloat) * 16);
}

// ---- Immediate mode --------------------------------------------------------------------

void LglBegin(GLenum mode) {
  g_primitive = mode;
  g_inBegin = true;
  g_primitiveVertices.clear();
}

void LglEnd() {
  if (!g_inBegin) return;
  g_inBegin = false;
  SubmitPrimitive();
  g_primitiveVertices.clear();
}

void LglVertex3f(GLfloat x, GLfloat y, GLfloat z) {
  if (!g_inBegin) return;
  g_primitiveVertices.push_back(
      {x, y, z, g_color[0], g_color[1], g_color[2], g_color[3], g_texCoord[0], g_texCoord[1]});
}

void LglVertex3fv(const GLfloat* v) { LglVertex3f(v[0], v[1], v[2]); }

void LglTexCoord2f(GLfloat s, GLfloat t) {
  g_texCoord[0] = s;
  g_texCoord[1] = t;
}

// Without lighting the vertex colour is clamped to 0..1 before it is
// interpolated (GL_CLAMP_VERTEX_COLOR is on by default).
void LglColor4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
  const GLfloat in[4] = {red, green, blue, alpha};
  for (int i = 0; i < 4; ++i) {
    g_color[i] = in[i] < 0.0f ? 0.0f : (in[i] > 1.0f ? 1.0f : in[i]);
  }
}

void LglNormal3f(GLfloat, GLfloat, GLfloat) {
  // Lighting is never enabled: normals have no effect.
}

// ---- GLU ----------------------------------------------------------------------------------

void LgluMipmapLevels(int width, int height, const unsigned char* rgba,
                      void (*level)(int index, int w, int h, const unsigned char* pixels, void* user),
                      void* user) {
  if (width < 1 || height < 1) return;
  int newWidth = NearestPower(static_cast<unsigned>(width));
  int newHeight = NearestPower(static_cast<unsigned>(height));
  int levels = ComputeLog(static_cast<unsigned>(newWidth));
  const int heightLevels = ComputeLog(static_cast<unsigned>(newHeight));
  if (heightLevels > levels) levels = heightLevels;

  static std::vector<unsigned char> source;
  static std::vector<unsigned char> destination;
  int index = 0;
  if (width == newWidth && height == newHeight) {
    level(0, width, height, rgba, user);
    if (levels == 0) return;
    source.resize(static_cast<size_t>(width) * height * kComponents);
    Halve(width, height, rgba, source.data());
    newWidth = width / 2 < 1 ? 1 : width / 2;
    newHeight = height / 2 < 1 ? 1 : height / 2;
    index = 1;
  } else {
    source.resize(static_cast<size_t>(newWidth) * newHeight * kComponents);
    Scale(width, height, rgba, newWidth, newHeight, source.data());
  }
  level(index, newWidth, newHeight, source.data(), user);
  for (++index; index <= levels; ++index) {
    destination.resize(static_cast<size_t>(newWidth) * newHeight * kComponents);
    Halve(newWidth, newHeight, source.data(), destination.data());
    source.swap(destination);
    if (newWidth > 1) newWidth /= 2;
    if (newHeight > 1) newHeight /= 2;
    level(index, newWidth, newHeight, source.data(), user);
  }
}

GLint LgluBuild2DMipmaps(GLenum target, GLint, GLsizei width, GLsizei height, GLenum format,
                         GLenum type, const void* data) {
  if (format != GL_RGBA || type != GL_UNSIGNED_BYTE) {
    std::fprintf(stderr, "lantern: the GL layer builds mipmaps of RGBA bytes only\n");
    return 100900;  // GLU_INVALID_ENUM
  }
  if (width < 1 || height < 1) return 100901;  // GLU_INVALID_VALUE
  TexImageTarget user = {target};
  LgluMipmapLevels(width, height, static_cast<const unsigned char*>(data), UploadLevel, &user);
  return 0;
}

void LgluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
  const double radians = fovy / 2 * kPi / 180;
  const double deltaZ = zFar - zNear;
  const double sine = std::sin(radians);
  if (deltaZ == 0 || sine == 0 || aspect == 0) return;
  const double cotangent = std::cos(radians) / sine;
  GLdouble m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  m[0] = cotangent / aspect;
  m[5] = cotangent;
  m[10] = -(zFar + zNear) / deltaZ;
  m[11] = -1;
  m[14] = -2 * zNear * zFar / deltaZ;
  m[15] = 0;
  LglMultMatrixd(m);
}

namespace {

void Normalize(float v[3]) {
  const float r = static_cast<float>(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
  if (r == 0.0f) return;
  v[0] /= r;
  v[1] /= r;
  v[2] /= r;
}

void Cross(const float a[3], const float b[3], float result[3]) {
  result[0] = a[1] * b[2] - a[2] * b[1];
  result[1] = a[2] * b[0] - a[0] * b[2];
  result[2] = a[0] * b[1] - a[1] * b[0];
}

}  // namespace

void LgluLookAt(GLdouble eyeX, GLdouble eyeY, GLdouble eyeZ, GLdouble centerX, GLdouble centerY,
                GLdouble centerZ, GLdouble upX, GLdouble upY, GLdouble upZ) {
  float forward[3] = {static_cast<float>(centerX - eyeX), static_cast<float>(centerY - eyeY),
                      static_cast<float>(centerZ - eyeZ)};
  float up[3] = {static_cast<float>(upX), static_cast<float>(upY), static_cast<float>(upZ)};
  float side[3];
  Normalize(forward);
  Cross(forward, up, side);
  Normalize(side);
  Cross(side, forward, up);
  GLfloat m[16];
  SetIdentity(m);
  m[0] = side[0];
  m[4] = side[1];
  m[8] = side[2];
  m[1] = up[0];
  m[5] = up[1];
  m[9] = up[2];
  m[2] = -forward[0];
  m[6] = -forward[1];
  m[10] = -forward[2];
  LglMultMatrixf(m);
  LglTranslated(-eyeX, -eyeY, -eyeZ);
}

GLUquadric* LgluNewQuadric() {
  GLUquadric* quadric = new GLUquadric;
  quadric->textureCoords = false;
  quadric->orientation = GLU_OUTSIDE;
  return quadric;
}

void LgluDeleteQuadric(GLUquadric* quadric) { delete quadric; }

void LgluQuadricTexture(GLUquadric* quadric, GLboolean textureCoords) {
  if (quadric != nullptr) quadric->textureCoords = textureCoords != GL_FALSE;
}

void LgluQuadricOrientation(GLUquadric* quadric, GLenum orientation) {
  if (quadric != nullptr && (orientation == GLU_OUTSIDE || orientation == GLU_INSIDE)) {
    quadric->orientation = orientation;
  }
}

// GLU's filled cylinder: one quad strip per stack, the texture's s running
// from 1 to 0 around it, t from 0 to 1 up it; inside orientation swaps each
// strip's vertex pair so that the inside faces front.
void LgluCylinder(GLUquadric* quadric, GLdouble baseRadius, GLdouble topRadius, GLdouble height,
                  GLint slices, GLint stacks) {
  if (quadric == nullptr) return;
  if (slices >= kCylinderCacheSize) slices = kCylinderCacheSize - 1;
  if (slices < 2 || stacks < 1 || baseRadius < 0.0 || topRadius < 0.0 || height < 0.0) return;
  const GLfloat deltaRadius = static_cast<GLfloat>(baseRadius - topRadius);
  const GLfloat length = static_cast<GLfloat>(std::sqrt(deltaRadius * deltaRadius + height * height));
  if (length == 0.0f) return;

  GLfloat sinCache[kCylinderCacheSize];
  GLfloat cosCache[kCylinderCacheSize];
  for (int i = 0; i < slices; ++i) {
    const GLfloat angle = static_cast<GLfloat>(2 * kPi * i / slices);
    sinCache[i] = static_cast<GLfloat>(std::sin(angle));
    cosCache[i] = static_cast<GLfloat>(std::cos(angle));
  }
  sinCache[slices] = sinCache[0];
  cosCache[slices] = cosCache[0];

  const bool outside = quadric->orientation == GLU_OUTSIDE;
  for (int j = 0; j < stacks; ++j) {
    const GLfloat zLow = static_cast<GLfloat>(j * height / stacks);
    const GLfloat zHigh = static_cast<GLfloat>((j + 1) * height / stacks);
    const GLfloat radiusLow =
        static_cast<GLfloat>(baseRadius - deltaRadius * (static_cast<float>(j) / stacks));
    const GLfloat radiusHigh =
        static_cast<GLfloat>(baseRadius - deltaRadius * (static_cast<float>(j + 1) / stacks));
    const GLfloat tLow = static_cast<float>(j) / stacks;
    const GLfloat tHigh = static_cast<float>(j + 1) / stacks;
    LglBegin(GL_QUAD_STRIP);
    for (int i = 0; i <= slices; ++i) {
      const GLfloat s = 1 - static_cast<float>(i) / slices;
      if (outside) {
        if (quadric->textureCoords) LglTexCoord2f(s, tLow);
        LglVertex3f(radiusLow * sinCache[i], radiusLow * cosCache[i], zLow);
        if (quadric->textureCoords) LglTexCoord2f(s, tHigh);
        LglVertex3f(radiusHigh * sinCache[i], radiusHigh * cosCache[i], zHigh);
      } else {
        if (quadric->textureCoords) LglTexCoord2f(s, tHigh);
        LglVertex3f(radiusHigh * sinCache[i], radiusHigh * cosCache[i], zHigh);
        if (quadric->textureCoords) LglTexCoord2f(s, tLow);
        LglVertex3f(radiusLow * sinCache[i], radiusLow * cosCache[i], zLow);
      }
    }
    LglEnd();
  }
}
