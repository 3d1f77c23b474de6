// The show's own pseudo-random generator. The particle patterns of the snow
// and rain depend on this exact sequence, so the C library's rand is never used.
#pragma once

#include <cstdint>

namespace lantern {

constexpr int kRandMax = 32767;

// Sets the generator's state to seed.
void srand(uint32_t seed);

// Steps the state by state * 1103515245 + 12345 (mod 2^32) and returns
// bits 16 to 30 of the new state: 0 to 32767.
int rand();

}  // namespace lantern
