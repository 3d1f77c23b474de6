// Scene 5, the bus in the rain (orders 12 to 15): its state, readable and
// settable by tests. Main thread only.
#pragma once

#include <cstdint>

constexpr int kS5Drops = 800;

// 1 until the scene's first frame has run; never set again.
extern uint8_t g_s5FirstFrame;
// Bus speed: how much g_sceneClock grows per tick (the bus moves a fifth of it).
extern float g_s5BusSpeed;
// Texture offset of the cloud ceiling; never reset.
extern float g_s5CloudScroll;
// How far each rain drop has fallen, world units.
extern float g_s5DropFall[kS5Drops];
// Fall speed of each drop, world units per tick; set at load only.
extern float g_s5DropSpeed[kS5Drops];
// Vertical grow offset of "700.tga" from row 10 of order 12 on.
extern float g_s5Img700GrowY;
