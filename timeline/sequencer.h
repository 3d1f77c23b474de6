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

constexpr int kSceneCount = 8;

// The draw function of each scene, scene 1 first; DrawFrame calls through
// this table (tests put recorders in it).
extern void (*g_sceneDraw[kSceneCount])();

// The scene (1 to 8) that a music order selects, compared as a signed number:
// below 4 scene 1, 4-5 scene 2, 6-7 scene 3, 8-11 scene 4, 12-15 scene 5,
// 16-19 scene 6, 20-21 scene 7, 22 and above scene 8.
int SceneForOrder(int order);
