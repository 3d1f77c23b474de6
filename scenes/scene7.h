// Scene 7, the sunset (orders 20 and 21): its state, readable and settable
// by tests. Main thread only.
#pragma once

#include <cstdint>

// 1 until the scene's first frame has run; never set again.
extern int32_t g_s7FirstFrame;
// Alpha and x (screen units) of the first order-20 title.
extern float g_s7Title1Alpha;
extern float g_s7Title1X;
// Alpha and x (screen units) of the second order-20 title.
extern float g_s7Title2Alpha;
extern float g_s7Title2X;
// Alpha of the third order-20 title; never reset.
extern float g_s7NightAlpha;
// Alpha and grow offset of the first order-21 word.
extern float g_s7NeverAlpha;
extern float g_s7NeverGrow;
// Alpha and grow offset of the second order-21 word.
extern float g_s7LogoAlpha;
extern float g_s7LogoGrow;
// Alpha and grow offset of the third order-21 word.
extern float g_s7TakeAlpha;
extern float g_s7TakeGrow;
// Alpha of the closing orange fade and of the image in the sun's place; never reset.
extern float g_s7Fade;

// Frame of the animated picture that a row of order 20 or 21 shows.
int S7FrameForRow(int scene, int row);
