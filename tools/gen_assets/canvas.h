// Pictures in memory for the asset generator: float colour and coverage,
// anti-aliased shape painting from signed distances, blurs and Targa output.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace gen {

struct Rgb {
  float r = 0, g = 0, b = 0;
};

inline Rgb rgb8(int r, int g, int b) { return {r / 255.0f, g / 255.0f, b / 255.0f}; }
inline Rgb operator+(Rgb a, Rgb b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
inline Rgb operator-(Rgb a, Rgb b) { return {a.r - b.r, a.g - b.g, a.b - b.b}; }
inline Rgb operator*(Rgb a, float k) { return {a.r * k, a.g * k, a.b * k}; }
inline Rgb operator*(Rgb a, Rgb b) { return {a.r * b.r, a.g * b.g, a.b * b.b}; }
inline Rgb mix(Rgb a, Rgb b, float t) { return a + (b - a) * t; }

inline float clamp01(float v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
inline float lerp(float a, float b, float t) { return a + (b - a) * t; }
inline float smooth(float e0, float e1, float x) {
  const float t = clamp01((x - e0) / (e1 - e0));
  return t * t * (3 - 2 * t);
}
// Coverage of a pixel by a shape whose signed distance (pixels) is d.
inline float cover(float d) { return clamp01(0.5f - d); }
// Colour ramp through evenly spaced stops, t in 0..1.
Rgb ramp(const std::vector<Rgb>& stops, float t);

// A picture: colour plus coverage (the mask), indexed with y DOWN from the
// top edge, as one looks at it. Row y = h - 1 is the first row of the file.
struct Picture {
  std::string name;
  int w = 0, h = 0;
  bool masked = false;  // written with a "mask-" file
  std::vector<Rgb> px;
  std::vector<float> a;

  Picture() = default;
  Picture(std::string n, int width, int height, bool withMask)
      : name(std::move(n)), w(width), h(height), masked(withMask),
        px(static_cast<size_t>(width) * height), a(static_cast<size_t>(width) * height, 0.0f) {}
  Rgb& at(int x, int y) { return px[static_cast<size_t>(y) * w + x]; }
  float& alpha(int x, int y) { return a[static_cast<size_t>(y) * w + x]; }
  const Rgb& at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
  float alpha(int x, int y) const { return a[static_cast<size_t>(y) * w + x]; }

  // Calls f(x, y, colour, alpha) with the pixel centre (x + 0.5, y + 0.5).
  template <class F>
  void each(F f) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) f(x + 0.5f, y + 0.5f, at(x, y), alpha(x, y));
  }
  // Paints colour over the picture where sdf(x, y) < 0, anti-aliased,
  // with the given opacity; the mask grows by the same coverage.
  template <class S>
  void paint(S sdf, Rgb colour, float opacity = 1.0f) {
    each([&](float x, float y, Rgb& c, float& al) {
      const float k = cover(sdf(x, y)) * opacity;
      if (k <= 0) return;
      c = mix(c, colour, k);
      al = al + k * (1 - al);
    });
  }
  // paint limited to the pixel box [x0, x1) x [y0, y1), for small shapes.
  template <class S>
  void paintIn(float fx0, float fy0, float fx1, float fy1, S sdf, Rgb colour, float opacity = 1.0f) {
    const int x0 = std::max(0, static_cast<int>(std::floor(fx0)) - 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(fy0)) - 1);
    const int x1 = std::min(w, static_cast<int>(std::ceil(fx1)) + 1);
    const int y1 = std::min(h, static_cast<int>(std::ceil(fy1)) + 1);
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        const float k = cover(sdf(x + 0.5f, y + 0.5f)) * opacity;
        if (k <= 0) continue;
        Rgb& c = at(x, y);
        float& al = alpha(x, y);
        c = mix(c, colour, k);
        al = al + k * (1 - al);
      }
  }
  // Like paint, but the colour comes from shade(x, y).
  template <class S, class C>
  void paintShaded(S sdf, C shade, float opacity = 1.0f) {
    each([&](float x, float y, Rgb& c, float& al) {
      const float k = cover(sdf(x, y)) * opacity;
      if (k <= 0) return;
      c = mix(c, shade(x, y), k);
      al = al + k * (1 - al);
    });
  }
};

// A single-channel float field of the picture's size (coverage, glow, ...).
struct Field {
  int w = 0, h = 0;
  std::vector<float> v;
  Field() = default;
  Field(int width, int height) : w(width), h(height), v(static_cast<size_t>(width) * height, 0.0f) {}
  float& at(int x, int y) { return v[static_cast<size_t>(y) * w + x]; }
  float at(int x, int y) const { return v[static_cast<size_t>(y) * w + x]; }
  // Bilinear sample at pixel-centre coordinates, clamped at the edges.
  float sample(float x, float y) const;
};

// Separable box blur approximating a Gaussian of the given radius (three
// passes); wrap = true treats the field as tiling.
void blur(Field& f, float radius, bool wrap = false);
void blur(Picture& p, float radius, bool wrap = false);

// Signed distances in pixel units (negative inside).
inline float sdCircle(float x, float y, float cx, float cy, float r) {
  return std::hypot(x - cx, y - cy) - r;
}
float sdBox(float x, float y, float cx, float cy, float hw, float hh, float round = 0);
float sdSegment(float x, float y, float ax, float ay, float bx, float by, float r);
// Segment whose radius goes from ra at a to rb at b (a tapered stroke).
float sdTaper(float x, float y, float ax, float ay, float bx, float by, float ra, float rb);
float sdEllipse(float x, float y, float cx, float cy, float rx, float ry);
// Polygon given as x0, y0, x1, y1, ...
float sdPolygon(float x, float y, const std::vector<float>& pts);

// Writes the colour file (24-bit, type 2) and, for masked pictures,
// "mask-" + name (8-bit grey, type 3), both bottom row first.
bool writeTga(const std::string& dir, const Picture& p);
// Writes one mask file under an explicit name.
bool writeMaskTga(const std::string& path, const Field& mask);
// The byte a float channel becomes (rounded, clamped).
inline uint8_t toByte(float v) { return static_cast<uint8_t>(std::lround(clamp01(v) * 255.0f)); }

}  // namespace gen
