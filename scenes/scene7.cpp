// Scene 7 (placeholder until the scene is built).
#include "scenes/scenes.h"

void LoadScene7() {}
void DrawScene7() {}
