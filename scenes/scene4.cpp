// Scene 4 (placeholder until the scene is built).
#include "scenes/scenes.h"

void LoadScene4() {}
void DrawScene4() {}
