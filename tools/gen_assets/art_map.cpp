// Scene 6 in greens and browns: the aircraft seen from above, the farmland
// map that scrolls beneath it, and the cloud layers between.
#include <cmath>

#include "tools/gen_assets/art.h"

namespace gen {

namespace {

// The aircraft, nose up. Its colour is premultiplied by its mask: the
// scene adds the colour and takes away the picture behind by the mask.
Asset plane() {
  Asset out{Picture("plane.tga", 256, 256, true), {}, false};
  Picture& p = out.pic;
  auto metal = [](float x, float y) {
    const float side = 0.85f + 0.15f * std::cos((x - 128) / 20.0f);
    return mix(rgb8(236, 238, 242), rgb8(190, 196, 206), smooth(40, 220, y)) * side;
  };
  // Shadow-free parts, back to front: tailplane, wings, engines, fuselage.
  p.paintShaded([](float x, float y) {
    const float ax = std::fabs(x - 128);
    return sdPolygon(ax, y, {0, 200, 46, 226, 46, 236, 0, 228});
  }, metal);
  p.paintShaded([](float x, float y) {
    const float ax = std::fabs(x - 128);
    return sdPolygon(ax, y, {0, 96, 118, 150, 118, 160, 0, 140}) - 1;
  }, metal);
  for (float ex : {-62.0f, -34.0f, 34.0f, 62.0f}) {
    const float cx = 128 + ex, cy = 112 + std::fabs(ex) * 0.45f;
    p.paintShaded([=](float x, float y) { return sdBox(x, y, cx, cy, 5, 12, 4.5f); },
                  [](float, float) { return rgb8(150, 156, 168); });
    p.paint([=](float x, float y) { return sdBox(x, y, cx, cy - 10, 3.5f, 2, 1.5f); }, rgb8(60, 64, 72));
  }
  p.paintShaded([](float x, float y) { return sdBox(x, y, 128, 130, 11, 108, 10); }, metal);
  p.paintShaded([](float x, float y) { return sdEllipse(x, y, 128, 24, 11, 18); }, metal);
  p.paint([](float x, float y) { return sdPolygon(x, y, {122, 22, 134, 22, 132, 30, 124, 30}); }, rgb8(40, 60, 90));
  p.paint([](float x, float y) { return sdBox(x, y, 128, 236, 2.5f, 14, 2); }, rgb8(200, 60, 40));
  // Navigation lights at the wing tips.
  p.paint([](float x, float y) { return sdCircle(x, y, 11, 155, 3); }, rgb8(255, 60, 50));
  p.paint([](float x, float y) { return sdCircle(x, y, 245, 155, 3); }, rgb8(60, 255, 90));
  premultiply(p);
  return out;
}

// Farmland seen from high above, tiling both ways: a patchwork of fields
// in greens, ochres and browns, woods, a river, roads and villages.
Asset farmland() {
  Asset out{Picture("map.tga", 512, 512, false), {}, true};
  Picture& p = out.pic;
  const int cells = 12;  // Voronoi fields on a 12 x 12 wrapping grid
  const Rgb crops[] = {rgb8(92, 120, 52),  rgb8(120, 140, 60), rgb8(150, 128, 70), rgb8(110, 84, 50),
                       rgb8(70, 100, 44),  rgb8(170, 150, 90), rgb8(86, 110, 62),  rgb8(130, 100, 60)};
  p.each([&](float x, float y, Rgb& c, float& a) {
    a = 1;
    const float u = x / 512.0f, v = y / 512.0f;
    // Warp the field borders a little so they are not straight Voronoi edges.
    const float wu = u + 0.01f * (fbm(u, v, 8, 2, 601) - 0.5f), wv = v + 0.01f * (fbm(u, v, 8, 2, 602) - 0.5f);
    const float gx = wu * cells, gy = wv * cells;
    const int ix = static_cast<int>(std::floor(gx)), iy = static_cast<int>(std::floor(gy));
    float best = 1e9f, second = 1e9f;
    int bx = 0, by = 0;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const int cx = ((ix + dx) % cells + cells) % cells, cy = ((iy + dy) % cells + cells) % cells;
        const float px = ix + dx + 0.15f + 0.7f * hashf(cx, cy, 603), py = iy + dy + 0.15f + 0.7f * hashf(cx, cy, 604);
        const float d = std::hypot(gx - px, gy - py);
        if (d < best) {
          second = best;
          best = d;
          bx = cx;
          by = cy;
        } else if (d < second) {
          second = d;
        }
      }
    const uint32_t h = hash3(bx, by, 605);
    Rgb base = crops[h % 8];
    // Furrows: stripes in a direction of the field's own.
    const float ang = (h >> 8) % 4 * 0.785f;
    const float stripe = std::sin((std::cos(ang) * x + std::sin(ang) * y) * 0.9f);
    base = base * (0.93f + 0.07f * stripe);
    const float n = fbm(u, v, 16, 4, 606);
    c = base * (0.85f + 0.3f * n);
    // Woods: dark green noisy patches over some fields.
    const float wood = smooth(0.56f, 0.62f, fbm(u, v, 4, 5, 607));
    c = mix(c, rgb8(34, 62, 30) * (0.7f + 0.6f * fbm(u, v, 64, 2, 608)), wood);
    // Hedges along field borders.
    c = mix(c, rgb8(46, 70, 36), smooth(0.06f, 0.0f, second - best) * (1 - wood));
    // A river wandering across, periodic in both directions.
    const float rc = 0.5f + 0.12f * std::sin(2 * 3.14159265f * v) + 0.05f * std::sin(6 * 3.14159265f * v + 1.3f) +
                     0.04f * (fbm(0.3f, v, 4, 3, 609) - 0.5f);
    const float rd = std::fabs(u - rc) * 512.0f;
    c = mix(c, rgb8(120, 130, 96), smooth(9, 5, rd));
    c = mix(c, rgb8(58, 84, 104), smooth(5.5f, 3.5f, rd));
    // Two roads: one along v, one along u, pale and thin.
    const float r1 = std::fabs(u - 0.22f - 0.03f * std::sin(2 * 3.14159265f * v * 2)) * 512.0f;
    const float r2 = std::fabs(v - 0.7f - 0.04f * std::sin(2 * 3.14159265f * u)) * 512.0f;
    c = mix(c, rgb8(196, 180, 150), smooth(2.2f, 1.0f, std::min(r1, r2)));
    // Villages: red-brown roofs clustered where the roads cross the river side.
    const float vill = smooth(0.74f, 0.8f, fbm(u, v, 6, 3, 610));
    const int rx = static_cast<int>(x / 4), ry = static_cast<int>(y / 4);
    if (vill > 0 && hashf(rx, ry, 611) < 0.45f * vill && std::fmod(x, 4.0f) < 3 && std::fmod(y, 4.0f) < 3)
      c = hashf(rx, ry, 612) < 0.6f ? rgb8(150, 70, 50) : rgb8(190, 180, 170);
  });
  return out;
}

// Cloud layers seen from above: grey-white wisps on black, tiling. The scene
// adds four layers of this picture, together 1.4 times its colour, over the
// map: so the brightest texels stay near 180 (the sum just short of white),
// and wide black gaps leave the map showing between the clouds.
Asset clouds() {
  Asset out{Picture("1.tga", 256, 256, false), {}, true};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float u = x / 256.0f, v = y / 256.0f;
    const float d = cloudDensity(u, v, 3, 621, 0.45f, 0.22f);
    const float lit = 0.8f + 0.2f * fbm(u, v, 12, 3, 622);
    c = rgb8(186, 188, 192) * (std::pow(d, 1.2f) * lit);
    a = 1;
  });
  return out;
}

}  // namespace

std::vector<AssetDef> mapAssets() { return {{"plane.tga", plane}, {"map.tga", farmland}, {"1.tga", clouds}}; }

}  // namespace gen
