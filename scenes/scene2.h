// Scene 2 (orders 4 and 5): snowfall under a drifting sky and a figure fading
// in. Its state, readable and settable by tests.
#pragma once

constexpr int kSnowFlakes = 900;

// Horizontal position of each flake; its world x is this value - 500.
extern float g_s2FlakeX[kSnowFlakes];
// Distance each flake has fallen from the top (y 220), world units.
extern float g_s2FlakeFall[kSnowFlakes];
// Fall speed of each flake, world units per tick (1 to 3); set at load.
extern float g_s2FlakeSpeed[kSnowFlakes];
// 1 until the scene's first frame; cleared then and never set again.
extern unsigned char g_s2FirstFrame;
