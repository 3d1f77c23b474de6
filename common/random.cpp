// The show's linear congruential generator (one 32-bit state, main thread only).
#include "common/random.h"

namespace lantern {

static uint32_t g_randState = 1;

void srand(uint32_t seed) { g_randState = seed; }

int rand() {
  g_randState = g_randState * 1103515245u + 12345u;
  return static_cast<int>((g_randState >> 16) & 0x7FFFu);
}

}  // namespace lantern
