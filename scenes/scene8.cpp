// Scene 8 (placeholder until the scene is built).
#include "scenes/scenes.h"

void LoadScene8() {}
void DrawScene8() {}
