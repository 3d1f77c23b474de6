// The fixed-function OpenGL 1.1 subset the show draws with, and the GLU
// calls it makes, on OpenGL ES 2.0 (WebGL 1 in the browser). Under the web
// build platform/gl.h maps the gl and glu names onto these; the layer itself
// calls the real ES 2.0 entry points.
//
// Covered: immediate mode (quads, quad strips, triangles, lines) with the
// current colour and texture coordinate, the modelview, projection and
// texture matrix stacks, 2D textures with GL_MODULATE and the default
// sampling state, blending, depth test, back-face culling, clears, the
// viewport and pixel read-back; gluBuild2DMipmaps, gluPerspective,
// gluLookAt and the quadric cylinder, computed as Mesa's GLU computes them.
#pragma once

#include <GLES2/gl2.h>

// OpenGL 1.1 and GLU names that OpenGL ES 2.0 lacks.
#ifndef GL_QUADS
#define GL_QUADS 0x0007
#endif
#ifndef GL_QUAD_STRIP
#define GL_QUAD_STRIP 0x0008
#endif
#define GL_MODELVIEW 0x1700
#define GL_PROJECTION 0x1701
#define GL_TEXTURE 0x1702
#define GL_FLAT 0x1D00
#define GL_SMOOTH 0x1D01
#define GLU_OUTSIDE 100020
#define GLU_INSIDE 100021

typedef double GLdouble;
struct GLUquadric;

// Sets up the layer's programs and buffers in the current context and puts
// every piece of state it emulates (and the ES state under it) at the
// OpenGL defaults. Called once the context is made current at every
// context creation.
void LglContextCreated();
// Releases what the layer made in the current context (before it goes).
void LglContextDestroyed();
// Draws whatever the layer still holds back (consecutive primitives with
// the same state are drawn together). The window system calls it before a
// frame is presented; the layer calls it itself before anything that
// reads or changes what is drawn.
void LglFlush();

void LglEnable(GLenum capability);
void LglDisable(GLenum capability);
void LglBlendFunc(GLenum source, GLenum destination);
void LglClear(GLbitfield mask);
void LglClearColor(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha);
void LglViewport(GLint x, GLint y, GLsizei width, GLsizei height);
void LglShadeModel(GLenum mode);
void LglScissor(GLint x, GLint y, GLsizei width, GLsizei height);
GLboolean LglIsEnabled(GLenum capability);
void LglGetIntegerv(GLenum name, GLint* values);
void LglGetFloatv(GLenum name, GLfloat* values);
void LglFinish();
void LglReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type,
                   void* pixels);

void LglGenTextures(GLsizei count, GLuint* names);
void LglDeleteTextures(GLsizei count, const GLuint* names);
void LglBindTexture(GLenum target, GLuint name);
// internalFormat may be the OpenGL 1.1 component count (3 or 4).
void LglTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                   GLint border, GLenum format, GLenum type, const void* pixels);

void LglMatrixMode(GLenum mode);
void LglLoadIdentity();
void LglPushMatrix();
void LglPopMatrix();
void LglMultMatrixf(const GLfloat* matrix);
void LglMultMatrixd(const GLdouble* matrix);
void LglTranslatef(GLfloat x, GLfloat y, GLfloat z);
void LglTranslated(GLdouble x, GLdouble y, GLdouble z);
void LglRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z);
void LglScalef(GLfloat x, GLfloat y, GLfloat z);
void LglFrustum(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble nearVal,
                GLdouble farVal);
// The top of the current matrix stack, column-major (for tests).
void LglGetCurrentMatrix(GLfloat* matrix);

void LglBegin(GLenum mode);
void LglEnd();
void LglVertex3f(GLfloat x, GLfloat y, GLfloat z);
void LglVertex3fv(const GLfloat* v);
void LglTexCoord2f(GLfloat s, GLfloat t);
void LglColor4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha);
void LglNormal3f(GLfloat x, GLfloat y, GLfloat z);

GLint LgluBuild2DMipmaps(GLenum target, GLint internalFormat, GLsizei width, GLsizei height,
                         GLenum format, GLenum type, const void* data);
void LgluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar);
void LgluLookAt(GLdouble eyeX, GLdouble eyeY, GLdouble eyeZ, GLdouble centerX, GLdouble centerY,
                GLdouble centerZ, GLdouble upX, GLdouble upY, GLdouble upZ);
GLUquadric* LgluNewQuadric();
void LgluDeleteQuadric(GLUquadric* quadric);
void LgluQuadricTexture(GLUquadric* quadric, GLboolean textureCoords);
void LgluQuadricOrientation(GLUquadric* quadric, GLenum orientation);
void LgluCylinder(GLUquadric* quadric, GLdouble baseRadius, GLdouble topRadius, GLdouble height,
                  GLint slices, GLint stacks);

// The image of every level gluBuild2DMipmaps makes from a width x height
// RGBA picture: the power-of-two size GLU picks, Mesa's box-filter scaling
// and halving. Calls level(levelIndex, w, h, rgba) for level 0 up to 1 x 1.
// Exposed so that tests can compare it with the system's GLU.
void LgluMipmapLevels(int width, int height, const unsigned char* rgba,
                      void (*level)(int index, int w, int h, const unsigned char* pixels, void* user),
                      void* user);
