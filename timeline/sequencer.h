// Start-up loading of all scenes and the per-frame choice of scene.
#pragma once

// Order for this frame, a copy of g_order. Main thread only.
extern int g_scene;
// Row for this frame, a copy of g_row. Main thread only.
extern int g_sceneRow;
// Whole ticks since the previous frame. Main thread only.
extern float g_frameDelta;
// The g_ticks value the previous frame used. Main thread only.
extern float g_prevTicks;
// End-of-show flag, set by the last scene and never cleared. Main thread only.
extern int g_quit;

// What LoadAllScenes runs after the eight load functions: the live music
// start (StartMusic) by default; the capture tool installs its own clock.
extern void (*g_startMusicHook)();

// LoadScene1 to LoadScene8 in order, then g_startMusicHook.
void LoadAllScenes();

// One frame: snapshot of the clock, frame delta, the scene the order
// selects. Returns false once g_quit is set. Does not present the frame.
bool DrawFrame();
