// The one include point for OpenGL 1.1 and GLU: the scenes, loaders and
// render helpers include this instead of the system headers, so that each
// platform can supply them its own way. The browser build (and a native
// build with LANTERN_GL_LAYER, over OpenGL ES 2.0) draws through the
// project's fixed-function layer, platform/web/gl_layer.h.
#pragma once

#if defined(__EMSCRIPTEN__) || defined(LANTERN_GL_LAYER)

#include "platform/web/gl_layer.h"

#define glEnable LglEnable
#define glDisable LglDisable
#define glBlendFunc LglBlendFunc
#define glClear LglClear
#define glClearColor LglClearColor
#define glViewport LglViewport
#define glShadeModel LglShadeModel
#define glScissor LglScissor
#define glIsEnabled LglIsEnabled
#define glGetIntegerv LglGetIntegerv
#define glGetFloatv LglGetFloatv
#define glFlush LglFlush
#define glFinish LglFinish
#define glReadPixels LglReadPixels
#define glGenTextures LglGenTextures
#define glDeleteTextures LglDeleteTextures
#define glBindTexture LglBindTexture
#define glTexImage2D LglTexImage2D
#define glMatrixMode LglMatrixMode
#define glLoadIdentity LglLoadIdentity
#define glPushMatrix LglPushMatrix
#define glPopMatrix LglPopMatrix
#define glMultMatrixf LglMultMatrixf
#define glMultMatrixd LglMultMatrixd
#define glTranslatef LglTranslatef
#define glTranslated LglTranslated
#define glRotatef LglRotatef
#define glScalef LglScalef
#define glFrustum LglFrustum
#define glBegin LglBegin
#define glEnd LglEnd
#define glVertex3f LglVertex3f
#define glVertex3fv LglVertex3fv
#define glTexCoord2f LglTexCoord2f
#define glColor4f LglColor4f
#define glNormal3f LglNormal3f
#define gluBuild2DMipmaps LgluBuild2DMipmaps
#define gluPerspective LgluPerspective
#define gluLookAt LgluLookAt
#define gluNewQuadric LgluNewQuadric
#define gluDeleteQuadric LgluDeleteQuadric
#define gluQuadricTexture LgluQuadricTexture
#define gluQuadricOrientation LgluQuadricOrientation
#define gluCylinder LgluCylinder

#else

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <GL/gl.h>
#include <GL/glu.h>

#endif
