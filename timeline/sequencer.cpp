// Start-up loading of all scenes, and the per-frame snapshot of the music
// clock, frame delta and choice of scene by music order.
#include "timeline/sequencer.h"

#include "render/position_code.h"
#include "scenes/scenes.h"
#include "timeline/clock.h"

int g_scene = 0;
int g_sceneRow = 0;
float g_frameDelta = 0.0f;
float g_prevTicks = 0.0f;
int g_quit = 0;

void (*g_startMusicHook)() = StartMusic;

void (*g_sceneDraw[kSceneCount])() = {DrawScene1, DrawScene2, DrawScene3, DrawScene4,
                                      DrawScene5, DrawScene6, DrawScene7, DrawScene8};

namespace {

// First order of each scene; a scene runs up to the next one's first order.
// Scene 1 also takes every order below 4, scene 8 every order from 22 up.
const int kSceneFirstOrder[kSceneCount] = {0, 4, 6, 8, 12, 16, 20, 22};

}  // namespace

int SceneForOrder(int order) {
  int scene = 1;
  for (int i = 1; i < kSceneCount; ++i) {
    if (order >= kSceneFirstOrder[i]) scene = i + 1;
  }
  return scene;
}

void LoadAllScenes() {
  LoadScene1();
  LoadScene2();
  LoadScene3();
  LoadScene4();
  LoadScene5();
  LoadScene6();
  LoadScene7();
  LoadScene8();
  g_startMusicHook();
}

bool DrawFrame() {
  g_scene = g_order.load(std::memory_order_relaxed);
  g_sceneRow = g_row.load(std::memory_order_relaxed);
  float ticks = g_ticks.load(std::memory_order_relaxed);
  g_frameDelta = ticks - g_prevTicks;
  g_prevTicks = ticks;
  g_sceneDraw[SceneForOrder(g_scene) - 1]();
  if (g_drawPositionCode) DrawPositionCode(g_scene, g_sceneRow);
  return g_quit == 0;
}
