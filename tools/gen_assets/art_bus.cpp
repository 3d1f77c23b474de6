// Scene 5 in sodium orange and grey: the cloud ceiling, the bus's front,
// side and rear, the kerb, the waiting figure, the street, the road, the
// rain streak, the headlight beam and the street lamp.
#include <cmath>

#include "tools/gen_assets/art.h"

namespace gen {

namespace {

void fillAll(Picture& p, Rgb c) {
  for (auto& px : p.px) px = c;
}

const Rgb kSodium = rgb8(255, 150, 50);

// Cloud ceiling lit from below by the street: grey with orange undersides, tiling.
Asset cloud512() {
  Asset out{Picture("512cloud.tga", 256, 256, true), {}, true};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float u = x / 256.0f, v = y / 256.0f;
    const float d = cloudDensity(u, v, 4, 501, 0.25f, 0.5f);
    const float lit = fbm(u, v, 2, 3, 502);
    c = mix(rgb8(70, 66, 66), rgb8(220, 130, 60), clamp01(lit * 1.3f - 0.2f) * (1 - d * 0.5f));
    a = 0.25f + 0.75f * d;
  });
  return out;
}

// Texture space of a bus face in world units: u across (0..width), v up
// (0..height); the face pictures are drawn upright with row 0 at v = 0.
struct Face {
  Picture& p;
  float width, height;
  bool mirror;
  template <class F>
  void shade(F f) {
    p.each([&](float x, float y, Rgb& c, float& a) {
      float u = x / p.w * width;
      if (mirror) u = width - u;
      const float v = (p.h - y) / p.h * height;
      c = f(u, v, c);
      a = 1;
    });
  }
};

// Pixel-to-world scale for anti-aliasing in face units.
inline float aa(float d, float unitsPerPixel) { return cover(d / unitsPerPixel); }

Rgb busBody(float u, float v) {
  // Cream upper body, an orange band, grey skirt.
  Rgb c = rgb8(236, 232, 220);
  if (v < 38) c = rgb8(150, 150, 156);
  if (v > 38 && v < 50) c = mix(kSodium, rgb8(255, 190, 110), 0.3f);
  return c * (0.92f + 0.08f * fbm(u / 300.0f, v / 160.0f, 8, 2, 531));
}

// Near side of the bus: front at the left (the bus drives to the left of
// the screen), door, lit windows, wheels, route number.
Asset busLeft() {
  Asset out{Picture("bus-left.tga", 512, 128, false), {}, false};
  Field num(512, 128);
  drawText(num, "700", Font::SansBold, 20, 350, 77);
  Face f{out.pic, 300, 160, false};
  const float upp = 300.0f / 512.0f;
  f.shade([&](float u, float v, Rgb) {
    Rgb c = busBody(u, v);
    // Windows: a band with pillars, lit warm inside.
    const float band = sdBox(u, v, 160, 108, 132, 32, 4);
    const float pillar = std::fabs(std::fmod(u - 28 + 1000, 38.0f) - 19) - 16;
    if (band < 0 && pillar < 0 && u > 40) {
      const float inside = 0.75f + 0.25f * fbm(u / 300.0f, v / 160.0f, 16, 2, 532);
      c = mix(rgb8(255, 214, 150), rgb8(255, 240, 200), smooth(90, 130, v)) * inside;
      // Heads of passengers in a couple of windows.
      const int seat = static_cast<int>((u - 28) / 38);
      if (hashf(seat, 0, 533) < 0.4f) {
        const float hu = 28 + seat * 38 + 19 + 8 * (hashf(seat, 1, 533) - 0.5f);
        c = mix(c, rgb8(90, 64, 48), aa(std::min(sdEllipse(u, v, hu, 98, 6, 8), sdBox(u, v, hu, 80, 11, 10, 5)), upp));
      }
    }
    // Front door, two leaves.
    const float door = sdBox(u, v, 26, 72, 16, 66, 2);
    if (door < 0) c = mix(rgb8(60, 58, 60), rgb8(255, 220, 160) * 0.9f, aa(sdBox(u, v, 26, 80, 13, 54, 1), upp));
    c = mix(c, rgb8(40, 40, 44), aa(std::fabs(door) - 0.8f, upp));
    c = mix(c, rgb8(40, 40, 44), aa(std::fabs(u - 26) - 0.7f, upp) * (door < 0 ? 1.0f : 0.0f));
    // Wheels in their arches.
    for (float wu : {62.0f, 246.0f}) {
      c = mix(c, rgb8(30, 30, 32), aa(sdCircle(u, v, wu, 2, 26), upp));
      c = mix(c, rgb8(16, 16, 18), aa(sdCircle(u, v, wu, 2, 21), upp));
      c = mix(c, rgb8(150, 150, 156), aa(sdCircle(u, v, wu, 2, 9), upp));
    }
    // Route number on the side, under the windows near the rear.
    c = mix(c, rgb8(30, 30, 40), num.sample((u / 300.0f) * 512, (1 - v / 160.0f) * 128));
    return c;
  });
  return out;
}

// Front of the bus, seen from ahead: windscreen, route display, headlights
// at the lower corners. Its texture runs against the screen's left-right,
// so it is drawn mirrored to read correctly.
Asset busFront() {
  Asset out{Picture("bus-front.tga", 64, 128, false), {}, false};
  Field num(64, 128);
  drawText(num, "700", Font::SansBold, 12, 32, 9);
  Face f{out.pic, 50, 160, true};
  const float upp = 50.0f / 64.0f;
  f.shade([&](float u, float v, Rgb) {
    Rgb c = busBody(u, v);
    c = mix(c, rgb8(40, 44, 50), aa(sdBox(u, v, 25, 110, 22, 34, 3), upp));
    c = mix(c, rgb8(255, 200, 140) * 0.8f, aa(sdBox(u, v, 25, 104, 19, 26, 2), upp) * 0.6f);
    c = mix(c, rgb8(20, 20, 22), aa(sdBox(u, v, 25, 150, 22, 7, 1), upp));
    // Lamps: the beams start at y -55..-40, that is v 30..45, at both edges.
    for (float lu : {6.5f, 43.5f}) c = mix(c, rgb8(255, 250, 230), aa(sdBox(u, v, lu, 37.5f, 5, 6.5f, 2), upp));
    c = mix(c, rgb8(60, 60, 64), aa(sdBox(u, v, 25, 14, 25, 7, 1), upp));
    return c;
  });
  // The number on the display, mirrored back with the face.
  Picture& p = out.pic;
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 64; ++x) p.at(x, y) = mix(p.at(x, y), kSodium, num.at(63 - x, y));
  return out;
}

// Rear of the bus: rear window, red tail lights, engine grille.
Asset busBack() {
  Asset out{Picture("bus-back.tga", 64, 128, false), {}, false};
  Face f{out.pic, 50, 160, false};
  const float upp = 50.0f / 64.0f;
  f.shade([&](float u, float v, Rgb) {
    Rgb c = busBody(u, v);
    c = mix(c, rgb8(255, 210, 150) * 0.7f, aa(sdBox(u, v, 25, 118, 20, 22, 3), upp));
    c = mix(c, rgb8(40, 40, 44), aa(std::fabs(sdBox(u, v, 25, 118, 20, 22, 3)) - 1, upp));
    for (float lu : {6.0f, 44.0f}) c = mix(c, rgb8(255, 40, 30), aa(sdBox(u, v, lu, 56, 4, 12, 1.5f), upp));
    for (int k = 0; k < 5; ++k) c = mix(c, rgb8(50, 50, 54), aa(sdBox(u, v, 25, 20 + 5.0f * k, 14, 1.2f, 0), upp));
    return c;
  });
  return out;
}

// Kerb stones along the road's far edge, wet on top.
Asset border() {
  Asset out{Picture("border.tga", 512, 16, false), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const int stone = static_cast<int>(x / 32);
    const float lx = std::fmod(x, 32.0f);
    const float shade = 0.8f + 0.2f * hashf(stone, 0, 541);
    c = rgb8(150, 146, 140) * shade;
    c = mix(c, rgb8(255, 190, 120), smooth(6, 1, y) * 0.6f);  // wet top catching the light
    if (lx < 1.2f) c = rgb8(40, 38, 38);
    c = c * (0.9f + 0.1f * fbm(x / 512.0f, y / 16.0f, 32, 2, 542));
    a = 1;
  });
  return out;
}

// The waiting figure: a person under an umbrella, rim-lit by the lamp.
Asset man() {
  Asset out{Picture("man.tga", 256, 256, true), {}, false};
  Picture& p = out.pic;
  fillAll(p, rgb8(50, 48, 50));
  auto cloth = [](Rgb base) {
    return [base](float x, float y) {
      const float rim = smooth(118, 96, x);
      return mix(base, kSodium, rim * 0.7f) * (0.9f + 0.2f * fbm(x / 256.0f, y / 256.0f, 16, 2, 551));
    };
  };
  p.paintShaded([](float x, float y) { return sdTaper(x, y, 120, 180, 116, 246, 11, 9); }, cloth(rgb8(40, 40, 46)));
  p.paintShaded([](float x, float y) { return sdTaper(x, y, 140, 180, 144, 246, 11, 9); }, cloth(rgb8(34, 34, 40)));
  p.paint([](float x, float y) { return sdBox(x, y, 114, 249, 12, 5, 3); }, rgb8(20, 20, 22));
  p.paint([](float x, float y) { return sdBox(x, y, 148, 249, 12, 5, 3); }, rgb8(20, 20, 22));
  p.paintShaded([](float x, float y) { return sdPolygon(x, y, {108, 104, 152, 104, 164, 196, 98, 196}) - 5; }, cloth(rgb8(74, 72, 76)));
  p.paintShaded([](float x, float y) { return sdTaper(x, y, 108, 110, 102, 170, 10, 8); }, cloth(rgb8(66, 64, 70)));
  p.paintShaded([](float x, float y) { return sdTaper(x, y, 152, 112, 150, 138, 10, 8); }, cloth(rgb8(60, 58, 64)));
  p.paintShaded([](float x, float y) { return sdTaper(x, y, 150, 138, 136, 120, 8, 7); }, cloth(rgb8(60, 58, 64)));
  p.paintShaded([](float x, float y) { return sdEllipse(x, y, 130, 88, 13, 16); }, cloth(rgb8(170, 130, 110)));
  // Umbrella: stick, canopy with ribs and a scalloped rim.
  p.paint([](float x, float y) { return sdSegment(x, y, 134, 124, 134, 40, 1.6f); }, rgb8(30, 30, 32));
  p.paintShaded([](float x, float y) {
    const float dome = std::max(sdEllipse(x, y, 134, 64, 74, 38), y - 64);
    const float scallop = 64 - y + 6 * std::fabs(std::sin((x - 60) * 3.14159f / 37));
    return std::max(dome, -scallop + 2);
  }, [](float x, float y) {
    const float rib = std::pow(std::fabs(std::cos((x - 134) / (74.0f) * 3.14159f * 1.5f)), 6.0f);
    return mix(rgb8(40, 40, 48), kSodium * 0.8f, smooth(130, 60, x) * 0.6f + rib * 0.15f + smooth(30, 64, y) * 0.1f);
  });
  p.paint([](float x, float y) { return sdSegment(x, y, 134, 26, 134, 32, 1.5f); }, rgb8(30, 30, 32));
  return out;
}

// The street behind the road: sodium-lit blocks with windows; the sky
// above them is transparent so the cloud ceiling shows.
Asset backgr() {
  Asset out{Picture("backgr.tga", 512, 128, true), {}, false};
  Picture& p = out.pic;
  Rng rng(561);
  float x = 0;
  fillAll(p, rgb8(60, 52, 50));
  while (x < 512) {
    const float w = rng.range(30, 80), top = rng.range(18, 70);
    const float x0 = x;
    const uint32_t s = rng.next();
    p.paintShaded([=](float px, float py) { return sdBox(px, py, x0 + w / 2, (top + 128) / 2, w / 2, (128 - top) / 2, 0); },
                  [=](float px, float py) {
                    Rgb c = mix(rgb8(46, 42, 44), rgb8(120, 86, 60), smooth(top, 128, py));
                    const float lx = std::fmod(px - x0 + 100, 10.0f), ly = std::fmod(py - top + 100, 12.0f);
                    const int col = static_cast<int>((px - x0) / 10), row = static_cast<int>((py - top) / 12);
                    if (lx > 3 && lx < 8 && ly > 4 && ly < 9 && py > top + 4 && hashf(col, row, s) < 0.35f)
                      c = mix(rgb8(255, 190, 100), rgb8(255, 230, 170), hashf(col, row, s + 1));
                    return c;
                  });
    x += w + rng.range(0, 10);
  }
  // Glow of the street along the bottom.
  p.each([](float, float y, Rgb& c, float&) { c = c + kSodium * (0.25f * smooth(90, 128, y)); });
  return out;
}

// Wet asphalt: dark noise, orange reflections, a solid line at the far kerb
// and a dashed centre line (both run along the bus's path).
Asset road() {
  Asset out{Picture("road.tga", 256, 128, false), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float u = x / 256.0f, t = (128 - y) / 128.0f;  // t = 0 at the far kerb
    const float n = fbm(u, t, 16, 4, 571);
    c = rgb8(46, 44, 46) * (0.8f + 0.4f * n);
    const float wet = smooth(0.5f, 0.7f, fbm(u, t * 0.5f, 6, 4, 572));
    c = mix(c, rgb8(200, 120, 60), wet * (0.25f + 0.3f * fbm(u * 8, 0.5f, 16, 2, 573)));
    if (std::fabs(t - 0.06f) < 0.012f) c = mix(c, rgb8(220, 210, 190), 0.85f);
    if (std::fabs(t - 0.62f) < 0.012f && std::fmod(x, 40.0f) < 22) c = mix(c, rgb8(230, 220, 200), 0.85f);
    a = 1;
  });
  return out;
}

// One rain streak: bright at its lower end, thinning upwards.
Asset rain() {
  Asset out{Picture("rain.tga", 16, 256, true), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float t = (256 - y) / 256.0f;  // 0 at the bottom of the streak
    const float across = std::exp(-std::pow((x - 8) / 4.5f, 2.0f));
    const float along = smooth(0.0f, 0.08f, t) * (1 - 0.85f * t) * smooth(1.0f, 0.9f, t);
    c = mix(rgb8(255, 255, 255), rgb8(200, 215, 235), t);
    a = across * along * smooth(7.5f, 5.0f, std::fabs(x - 8));
  });
  return out;
}

// The headlight beam: warm white at the lamp (s = 1), fading to black at
// its far end and at its sides.
Asset fara() {
  Asset out{Picture("fara.tga", 128, 64, false), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float s = x / 128.0f, t = (64 - y) / 64.0f;
    const float side = smooth(0.0f, 0.3f, t) * smooth(1.0f, 0.7f, t);
    const float k = std::pow(s, 1.6f) * side * (0.85f + 0.15f * fbm(s, t, 8, 2, 581));
    c = rgb8(255, 236, 196) * k;
    a = 1;
  });
  return out;
}

// A sodium street lamp with a glowing head and its halo. The halo fades to
// nothing well inside the picture, which is drawn over the dark street; the
// post's foot stands behind the kerb, a little above the picture's bottom.
Asset lighter() {
  Asset out{Picture("lighter.tga", 128, 256, true), {}, false};
  Picture& p = out.pic;
  fillAll(p, kSodium);
  const float hx = 72, hy = 72;  // the lamp head
  p.each([=](float x, float y, Rgb& c, float& a) {
    const float d = std::hypot(x - hx, (y - hy) * 0.95f);
    const float halo = 0.7f * std::exp(-d * d / (2 * 18.0f * 18.0f)) + 0.22f * std::exp(-d / 20.0f);
    a = halo * smooth(48, 22, d);
    c = mix(rgb8(255, 200, 120), kSodium, smooth(8, 40, d));
  });
  const Rgb metal = rgb8(36, 34, 36);
  p.paint([](float x, float y) { return sdTaper(x, y, 30, 238, 30, 90, 5, 3); }, metal);
  p.paint([](float x, float y) { return sdBox(x, y, 30, 240, 9, 4, 2); }, metal);
  p.paint([](float x, float y) {
    // The arm: a quarter circle from the post over to the head.
    const float d = std::fabs(sdCircle(x, y, 52, 90, 22)) - 2.5f;
    return std::max(d, std::max(y - 90, 30 - x));
  }, metal);
  p.paint([](float x, float y) { return sdSegment(x, y, 52, 68, 68, 66, 2.5f); }, metal);
  p.paint([](float x, float y) { return sdPolygon(x, y, {58, 64, 88, 64, 82, 72, 64, 72}); }, metal);
  p.paint([](float x, float y) { return sdEllipse(x, y, 73, 74, 9, 4); }, rgb8(255, 236, 190));
  fadeEdges(p, 6);
  return out;
}

}  // namespace

std::vector<AssetDef> busAssets() {
  return {{"512cloud.tga", cloud512}, {"bus-front.tga", busFront}, {"border.tga", border},   {"bus-left.tga", busLeft},
          {"man.tga", man},           {"backgr.tga", backgr},      {"road.tga", road},       {"rain.tga", rain},
          {"fara.tga", fara},         {"lighter.tga", lighter},    {"bus-back.tga", busBack}};
}

}  // namespace gen
