// Scene 3 (orders 6 and 7): rain streaks before a full-screen picture. Its
// state, readable and settable by tests.
#pragma once

constexpr int kRainStreaks = 800;

// Distance each streak has fallen from y 100, world units.
extern float g_s3DropFall[kRainStreaks];
// Fall speed of each streak, world units per tick (3 to 7); set at load.
extern float g_s3DropSpeed[kRainStreaks];
