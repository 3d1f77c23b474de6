// The GLU calls the show makes, for the fixed-function layer, computed the
// way Mesa's GLU 9.0 computes them: mipmaps with its box filters, the
// camera matrices, and the quadric cylinder's vertex order and texture
// coordinates.
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/web/gl_layer_internal.h"

using namespace lgl;

namespace {

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
}  // namespace

struct GLUquadric {
  bool textureCoords;
  GLenum orientation;
};

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
