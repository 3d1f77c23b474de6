// Texture-name tables, the initial render state and the loading screen.
#pragma once

#include "platform/gl.h"

constexpr int kTextureSlots = 65;
constexpr int kFrameTexturesA = 20;
constexpr int kFrameTexturesC = 8;

// One texture name per picture slot (slot 0 the loading screen, 1 to 54 the
// scenes). Generated at every context creation; main thread only.
extern GLuint g_textures[kTextureSlots];
// Frames of the 12-frame animation (table selector 0); main thread only.
extern GLuint g_frameTexturesA[kFrameTexturesA];
// Frames of the 8-frame animation (table selector 2); main thread only.
extern GLuint g_frameTexturesC[kFrameTexturesC];

// Sets the state every scene starts from, generates the three tables and
// draws the loading screen ("loading.tga" at 84, 176) into the back buffer,
// unpresented. Needs a current context.
void InitRenderState();
