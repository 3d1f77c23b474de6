// Storage for the scene state shared between scenes.
#include "common/shared_state.h"

float g_sceneClock = 0.0f;
float g_img700Grow = 0.0f;
float g_img700Alpha = 0.0f;
