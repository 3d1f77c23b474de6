// The one include point for OpenGL 1.1 and GLU: the scenes, loaders and
// render helpers include this instead of the system headers, so that each
// platform can supply them its own way.
#pragma once

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
