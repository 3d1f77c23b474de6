// What the parts of the fixed-function layer share (gl_layer.cpp: context
// and plain state; gl_layer_matrices.cpp; gl_layer_batches.cpp: immediate
// mode and its batches; gl_layer_glu.cpp): the state one part keeps and
// another reads, and the calls between parts. Only those files include it.
#pragma once

#include "platform/web/gl_layer.h"

namespace lgl {

constexpr double kPi = 3.14159265358979323846;

// ---- Matrices (gl_layer_matrices.cpp), column-major as OpenGL keeps them --

// Stack depths as Mesa has them.
constexpr int kModelviewDepth = 32;
constexpr int kProjectionDepth = 32;
constexpr int kTextureDepth = 10;

struct MatrixStack {
  GLfloat matrices[kModelviewDepth][16];
  int depth;  // index of the top
  int capacity;
};

extern MatrixStack g_modelview;
extern MatrixStack g_projection;
extern MatrixStack g_textureMatrix;
extern MatrixStack* g_currentStack;

void SetIdentity(GLfloat* m);
// product = a * b
void Multiply(const GLfloat* a, const GLfloat* b, GLfloat* product);
GLfloat* Top(MatrixStack* stack);
// Every stack back to one identity matrix, the modelview current.
void ResetMatrices();

// ---- Plain state (gl_layer.cpp) ----------------------------------------------

// Capabilities the layer tracks (the ES state is changed only on a change).
extern bool g_texture2d;
extern GLuint g_boundTexture;

// True when the bound texture name holds an image at level 0.
bool TextureHasImage(GLuint name);

// Frames drawn through a 1-pixel viewport and scissor are the skip-ahead's
// unseen frames: their one pixel is never read (every frame clears it), so
// their draws are not sent at all. WebGL would otherwise queue thousands of
// frames of draw calls in front of the first frame anyone sees.
bool DrawingUnseen();

// ---- Batches (gl_layer_batches.cpp) ----------------------------------------

// The programs, the vertex buffer and the current vertex state, made at
// the OpenGL defaults in the current context; and released.
void CreateBatchObjects();
void DestroyBatchObjects();

// Draws what has been gathered with the state it was gathered under. Every
// change of state that a batch does not carry draws it first.
void DrawBatch();

}  // namespace lgl
