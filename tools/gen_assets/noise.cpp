// Hashes and periodic gradient noise; pure integer and float arithmetic,
// so every run gives the same values.
#include "tools/gen_assets/noise.h"

#include <cmath>

namespace gen {

uint32_t hash32(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  x ^= x >> 16;
  return x;
}

uint32_t hash3(int a, int b, uint32_t seed) {
  return hash32(static_cast<uint32_t>(a) * 0x8da6b343u ^ hash32(static_cast<uint32_t>(b) * 0xd8163841u ^ seed));
}

float hashf(int a, int b, uint32_t seed) {
  return static_cast<float>(hash3(a, b, seed) >> 8) * (1.0f / 16777216.0f);
}

namespace {

inline int wrapi(int i, int p) { return ((i % p) + p) % p; }

inline float grad(int ix, int iy, int period, uint32_t seed, float dx, float dy) {
  const uint32_t h = hash3(wrapi(ix, period), wrapi(iy, period), seed);
  // 16 directions around the circle.
  static const float kDir[16][2] = {
      {1.0f, 0.0f},        {0.92388f, 0.38268f},  {0.70711f, 0.70711f},  {0.38268f, 0.92388f},
      {0.0f, 1.0f},        {-0.38268f, 0.92388f}, {-0.70711f, 0.70711f}, {-0.92388f, 0.38268f},
      {-1.0f, 0.0f},       {-0.92388f, -0.38268f}, {-0.70711f, -0.70711f}, {-0.38268f, -0.92388f},
      {0.0f, -1.0f},       {0.38268f, -0.92388f}, {0.70711f, -0.70711f}, {0.92388f, -0.38268f}};
  const float* g = kDir[h & 15];
  return g[0] * dx + g[1] * dy;
}

inline float fade(float t) { return t * t * t * (t * (t * 6 - 15) + 10); }

}  // namespace

float gnoise(float x, float y, int period, uint32_t seed) {
  const float fx = std::floor(x), fy = std::floor(y);
  const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
  const float dx = x - fx, dy = y - fy;
  const float n00 = grad(ix, iy, period, seed, dx, dy);
  const float n10 = grad(ix + 1, iy, period, seed, dx - 1, dy);
  const float n01 = grad(ix, iy + 1, period, seed, dx, dy - 1);
  const float n11 = grad(ix + 1, iy + 1, period, seed, dx - 1, dy - 1);
  const float u = fade(dx), v = fade(dy);
  const float a = n00 + (n10 - n00) * u;
  const float b = n01 + (n11 - n01) * u;
  return (a + (b - a) * v) * 1.41421356f;
}

float fbm(float u, float v, int period, int octaves, uint32_t seed, float gain) {
  float sum = 0, amp = 1, norm = 0;
  int p = period;
  for (int o = 0; o < octaves; ++o) {
    sum += amp * gnoise(u * static_cast<float>(p), v * static_cast<float>(p), p, seed + 0x51ed27u * static_cast<uint32_t>(o));
    norm += amp;
    amp *= gain;
    p *= 2;
  }
  return 0.5f + 0.5f * sum / norm;
}

float ridged(float u, float v, int period, int octaves, uint32_t seed) {
  float sum = 0, amp = 1, norm = 0;
  int p = period;
  for (int o = 0; o < octaves; ++o) {
    const float n = 1.0f - std::fabs(gnoise(u * static_cast<float>(p), v * static_cast<float>(p), p, seed + 0x2c1b3c6du * static_cast<uint32_t>(o)));
    sum += amp * n * n;
    norm += amp;
    amp *= 0.5f;
    p *= 2;
  }
  return sum / norm;
}

}  // namespace gen
