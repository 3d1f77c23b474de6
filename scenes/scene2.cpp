// Scene 2 (placeholder until the scene is built).
#include "scenes/scenes.h"

void LoadScene2() {}
void DrawScene2() {}
