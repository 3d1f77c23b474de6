// The fixed-function layer's immediate mode: the current colour and
// texture coordinate, primitives between glBegin and glEnd turned into
// triangles or lines, gathered into batches while the state they are drawn
// with stays the same, and drawn with two small shader programs.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/web/gl_layer_internal.h"

using namespace lgl;

namespace {

// Current vertex attributes (they persist across glBegin/glEnd, as in GL).
GLfloat g_color[4] = {1.0f, 1.0f, 1.0f, 1.0f};
GLfloat g_texCoord[2] = {0.0f, 0.0f};

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

}  // namespace

namespace lgl {

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

void CreateBatchObjects() {
  g_textured = LinkProgram(kTexturedFragmentShader);
  g_plain = LinkProgram(kPlainFragmentShader);
  glGenBuffers(1, &g_vertexBuffer);
  glBindBuffer(GL_ARRAY_BUFFER, g_vertexBuffer);
  glEnableVertexAttribArray(kPositionAttribute);
  glEnableVertexAttribArray(kColorAttribute);
  glEnableVertexAttribArray(kTexCoordAttribute);
  const GLfloat white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  std::memcpy(g_color, white, sizeof g_color);
  g_texCoord[0] = g_texCoord[1] = 0.0f;
  g_batch.clear();
  g_primitiveVertices.clear();
  g_inBegin = false;
  g_contextReady = true;
}

void DestroyBatchObjects() {
  g_batch.clear();
  glDeleteBuffers(1, &g_vertexBuffer);
  glDeleteProgram(g_textured.program);
  glDeleteProgram(g_plain.program);
  g_vertexBuffer = 0;
  g_textured = {0, -1, -1, -1};
  g_plain = {0, -1, -1, -1};
  g_contextReady = false;
}

}  // namespace lgl

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
