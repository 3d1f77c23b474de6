// Helpers shared by the scene artwork: clouds, text pictures, edge fades,
// premultiplying.
#include "tools/gen_assets/art.h"

namespace gen {

std::vector<AssetDef> allAssets() {
  std::vector<AssetDef> all;
  for (auto part : {duskAssets, weatherAssets, cityAssets, busAssets, mapAssets, sunsetAssets, fieldAssets}) {
    const std::vector<AssetDef> defs = part();
    all.insert(all.end(), defs.begin(), defs.end());
  }
  return all;
}

float cloudDensity(float u, float v, int period, uint32_t seed, float coverage, float softness) {
  const float wx = fbm(u, v, period, 3, seed + 11) - 0.5f;
  const float wy = fbm(u, v, period, 3, seed + 23) - 0.5f;
  const float n = fbm(u + 0.35f * wx, v + 0.35f * wy, period, 6, seed);
  return smooth(coverage, coverage + softness, n);
}

Field textField(int w, int h, const std::vector<std::string>& lines, Font font, float size, float cx,
                const std::vector<float>& cy, float tracking) {
  Field f(w, h);
  for (size_t i = 0; i < lines.size(); ++i) drawText(f, lines[i], font, size, cx, cy[i], tracking);
  return f;
}

void paintText(Picture& p, const Field& cov, const TextStyle& style) {
  Field glow = cov;
  blur(glow, style.glowRadius);
  // Ink rows span, for the top-to-bottom grade.
  int y0 = p.h, y1 = 0;
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x)
      if (cov.at(x, y) > 0.5f) {
        y0 = std::min(y0, y);
        y1 = std::max(y1, y);
      }
  const float span = std::max(1, y1 - y0);
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const float k = cov.at(x, y);
      const float g = clamp01(glow.sample(x + 0.5f - style.glowDx, y + 0.5f - style.glowDy) * 1.6f) * style.glowStrength;
      const Rgb fill = mix(style.top, style.bottom, clamp01((y - y0) / span));
      // Glow under the glyphs, glyphs over it.
      const float al = k + g * (1 - k);
      p.at(x, y) = al > 1e-4f ? (fill * k + style.glow * (g * (1 - k))) * (1.0f / al) : style.glow;
      p.alpha(x, y) = al;
    }
}

void fadeEdges(Picture& p, float margin, unsigned edges) {
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      // Whole pixels between this one and the nearest edge that fades.
      int d = std::max(p.w, p.h);
      if (edges & kTop) d = std::min(d, y);
      if (edges & kBottom) d = std::min(d, p.h - 1 - y);
      if (edges & kLeft) d = std::min(d, x);
      if (edges & kRight) d = std::min(d, p.w - 1 - x);
      p.alpha(x, y) *= smooth(0, margin, static_cast<float>(d));
    }
}

void premultiply(Picture& p) {
  for (size_t i = 0; i < p.px.size(); ++i) p.px[i] = p.px[i] * p.a[i];
}

}  // namespace gen
