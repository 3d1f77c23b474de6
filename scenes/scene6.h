// Scene 6, the aircraft over the map (orders 16 to 19): its state, readable
// and settable by tests. Main thread only.
#pragma once

#include <cstdint>

// How far the camera has moved down; the eye's z is this value / 27.
extern float g_s6CamAdvance;
// 1 until the scene's first frame has run; never set again.
extern int32_t g_s6FirstFrame;
