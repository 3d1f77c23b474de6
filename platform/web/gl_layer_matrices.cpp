// The fixed-function layer's matrix stacks (modelview, projection and
// texture) and the calls that change them, computed in single precision as
// Mesa's math does.
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "platform/web/gl_layer_internal.h"

namespace lgl {

MatrixStack g_modelview;
MatrixStack g_projection;
MatrixStack g_textureMatrix;
MatrixStack* g_currentStack = &g_modelview;

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

void ResetMatrices() {
  for (MatrixStack* stack : {&g_modelview, &g_projection, &g_textureMatrix}) {
    stack->depth = 0;
    SetIdentity(stack->matrices[0]);
  }
  g_modelview.capacity = kModelviewDepth;
  g_projection.capacity = kProjectionDepth;
  g_textureMatrix.capacity = kTextureDepth;
  g_currentStack = &g_modelview;
}

}  // namespace lgl

using namespace lgl;

namespace {

void MultiplyCurrent(const GLfloat* m) { Multiply(Top(g_currentStack), m, Top(g_currentStack)); }

}  // namespace

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
