// Scene 6 (placeholder until the scene is built).
#include "scenes/scenes.h"

void LoadScene6() {}
void DrawScene6() {}
