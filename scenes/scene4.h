// Scene 4 (orders 8 to 11): the night city inside two turning skyline
// cylinders, its screen strips, zoom sprites and closing fade. Its state,
// readable and settable by tests. The "700.tga" image's grow and alpha are
// shared with scene 5 (common/shared_state.h).
#pragma once

#include "platform/gl.h"

constexpr int kZoomSprites = 8;

// 1 until the scene's first frame; cleared then and never set again.
extern unsigned char g_s4FirstFrame;
// The quadric both cylinders are drawn with; created by LoadScene4.
extern GLUquadric* g_s4Quadric;
// Grow offset of zoom sprite k (frame k of "times.tga"), screen units.
extern float g_s4ZoomGrow[kZoomSprites];
// Alpha of zoom sprite k (unclamped).
extern float g_s4ZoomAlpha[kZoomSprites];
// Alpha of the order-9 strip; never reset.
extern float g_s4MetrosAlpha;
// Rightward shift of the order-9 strip, screen units; never reset.
extern float g_s4MetrosShift;
// Alpha of the closing black fade of order 11.
extern float g_s4Fade;
