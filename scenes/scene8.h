// Scene 8, the silhouettes on the field and the end (orders 22 to 30): its
// state, readable and settable by tests. Main thread only.
#pragma once

#include <cstdint>

// 1 until the scene's first frame has run; never set again.
extern int32_t g_s8FirstFrame;
// Alpha of the ground plane; rises in rows 0 to 19 of every order.
extern float g_s8FieldAlpha;
// Alpha of the closing black fade (order 30 from row 2).
extern float g_s8Fade;
// Alpha of "end.tga" (order 30 from row 16).
extern float g_s8EndAlpha;
// Alpha of "dedicated.tga" (order 25).
extern float g_s8DedicatedAlpha;
// Alpha of "love.tga" (order 26).
extern float g_s8LoveAlpha;
