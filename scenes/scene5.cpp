// Scene 5 (placeholder until the scene is built).
#include "scenes/scenes.h"

void LoadScene5() {}
void DrawScene5() {}
