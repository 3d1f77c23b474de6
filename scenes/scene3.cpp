// Scene 3 (placeholder until the scene is built).
#include "scenes/scenes.h"

void LoadScene3() {}
void DrawScene3() {}
