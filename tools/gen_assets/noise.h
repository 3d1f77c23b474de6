// Deterministic, periodic noise for the asset generator: integer hashes,
// gradient noise that tiles with a whole-number period, fractal sums.
#pragma once

#include <cstdint>

namespace gen {

uint32_t hash32(uint32_t x);
uint32_t hash3(int a, int b, uint32_t seed);
// A float in [0, 1) from the integer pair and seed.
float hashf(int a, int b, uint32_t seed);

// Gradient noise in about -1..1 that repeats every period units in x and y.
float gnoise(float x, float y, int period, uint32_t seed);
// Fractal sum of gnoise, first octave with the given period over the unit
// square (x, y in 0..1 tile seamlessly), normalised to about 0..1.
float fbm(float u, float v, int period, int octaves, uint32_t seed, float gain = 0.5f);
// Ridged variant (sharp crests), about 0..1.
float ridged(float u, float v, int period, int octaves, uint32_t seed);

// A tiny deterministic generator for placements (xorshift32).
struct Rng {
  uint32_t s;
  explicit Rng(uint32_t seed) : s(seed ? seed : 0x9e3779b9u) {}
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  float uni() { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); }
  float range(float a, float b) { return a + (b - a) * uni(); }
  int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
};

}  // namespace gen
