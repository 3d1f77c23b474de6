// Scene state shared between the scene draw functions. Main thread only.
#pragma once

// Shared scene clock, in ticks times each scene's own rate; zero at program
// start. Written by the scene draw functions at the end of their frames.
extern float g_sceneClock;

// Grow offset of the "700.tga" image, screen units; started by scene 4,
// continued by scene 5 without a reset.
extern float g_img700Grow;

// Alpha of the "700.tga" image (unclamped); started by scene 4, continued by scene 5.
extern float g_img700Alpha;
