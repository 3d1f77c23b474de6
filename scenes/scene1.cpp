// Scene 1 (placeholder until the scene is built).
#include "scenes/scenes.h"

void LoadScene1() {}
void DrawScene1() {}
