// Scene 4 in neon blues: lit window faces, the floor colour, haze, the
// skyline panorama, the night sky, the screen strips, the route sign and
// the clock face with its eight times.
#include <cmath>

#include "tools/gen_assets/art.h"

namespace gen {

namespace {

constexpr float kPi = 3.14159265f;

void fillAll(Picture& p, Rgb c) {
  for (auto& px : p.px) px = c;
}

// Window faces of a tower block, drawn additively: black frame, glowing panes.
Asset windows() {
  Asset out{Picture("windows.tga", 256, 256, false), {}, false};
  const int cols = 5, rows = 14;
  out.pic.each([&](float x, float y, Rgb& c, float& a) {
    a = 1;
    const float cw = 256.0f / cols, rh = 256.0f / rows;
    const int col = static_cast<int>(x / cw), row = static_cast<int>(y / rh);
    const float lx = x - col * cw - cw / 2, ly = y - row * rh - rh / 2;
    const float pane = sdBox(lx, ly, 0, 0, cw * 0.32f, rh * 0.3f, 1.5f);
    const float h = hashf(col, row, 404);
    Rgb lit = h < 0.45f ? rgb8(70, 160, 255) : h < 0.7f ? rgb8(170, 220, 255) : h < 0.78f ? rgb8(255, 200, 120) : Rgb{};
    const float glow = std::exp(-std::max(pane, 0.0f) / 3.0f) * 0.35f;
    const float inside = cover(pane);
    const float shade = 0.75f + 0.25f * fbm(x / 256.0f, y / 256.0f, 8, 2, 405);
    c = lit * (inside * shade + glow * (1 - inside));
  });
  return out;
}

// The floor's single colour: a dark blue, also its average, so that the
// corner texel and every mipmap level give the same colour.
Asset blue() {
  Asset out{Picture("blue.tga", 256, 256, false), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float n = fbm(x / 256.0f, y / 256.0f, 8, 3, 13) - 0.5f;
    c = rgb8(14, 34, 98) * (1.0f + 0.12f * n);
    a = 1;
  });
  return out;
}

// A round haze patch, fading to nothing at the edges of its square.
Asset roundbox() {
  Asset out{Picture("roundbox.tga", 256, 256, true), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float u = x / 256.0f, v = y / 256.0f;
    const float r = std::hypot(u - 0.5f, v - 0.5f) * 2;
    const float n = fbm(u, v, 4, 5, 144);
    a = smooth(1.0f, 0.35f, r) * (0.35f + 0.65f * n);
    c = mix(rgb8(40, 80, 200), rgb8(140, 190, 255), n);
  });
  return out;
}

// Skyline panorama, repeating around the cylinder: black sky, dark blue
// blocks with lit windows, a glow along the bottom.
Asset outsidecity() {
  Asset out{Picture("outsidecity.tga", 512, 64, false), {}, true};
  Picture& p = out.pic;
  // Block outlines along x, laid out to wrap exactly at 512.
  std::vector<float> top(512, 64.0f);
  std::vector<int> id(512, 0);
  Rng rng(55);
  int x = 0, n = 0;
  while (x < 512) {
    const int w = 6 + rng.below(18);
    const float h = 14 + rng.range(0, 30) + (rng.uni() < 0.15f ? 14 : 0);
    for (int i = x; i < std::min(512, x + w); ++i) {
      top[static_cast<size_t>(i)] = 64 - h;
      id[static_cast<size_t>(i)] = n;
    }
    x += w;
    ++n;
  }
  p.each([&](float fx, float fy, Rgb& c, float& a) {
    a = 1;
    const int ix = static_cast<int>(fx);
    const float glow = std::exp(-(64 - fy) / 10.0f);
    c = rgb8(20, 60, 160) * (glow * 0.8f);
    if (fy > top[static_cast<size_t>(ix)]) {
      c = mix(rgb8(6, 12, 34), rgb8(16, 40, 110), glow);
      const int wx = ix / 3, wy = static_cast<int>(fy) / 3;
      if (ix % 3 == 1 && static_cast<int>(fy) % 3 == 1 && hashf(wx + 1000 * id[static_cast<size_t>(ix)], wy, 56) < 0.3f)
        c = hashf(wx, wy, 57) < 0.8f ? rgb8(120, 200, 255) : rgb8(255, 220, 150);
    }
    // Aircraft warning lights on the tallest roofs.
    if (top[static_cast<size_t>(ix)] < 24 && std::fabs(fy - top[static_cast<size_t>(ix)] + 1.5f) < 1.0f && ix % 7 == 0)
      c = rgb8(255, 80, 80);
  });
  return out;
}

// Night sky overhead: navy with thin cloud and stars, faded out towards
// the square's edges by its mask.
Asset darksky() {
  Asset out{Picture("darksky.tga", 256, 256, true), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float u = x / 256.0f, v = y / 256.0f;
    const float r = std::hypot(u - 0.5f, v - 0.5f) * 2;
    const float cl = cloudDensity(u, v, 3, 161, 0.45f, 0.4f);
    c = mix(rgb8(8, 18, 60), rgb8(50, 80, 160), cl * 0.8f);
    const float s = hashf(static_cast<int>(x), static_cast<int>(y), 162);
    if (s > 0.994f) c = mix(c, rgb8(220, 235, 255), 1 - cl);
    a = smooth(1.0f, 0.6f, r);
  });
  return out;
}

// A film strip in neon blue: sprocket holes, frames with a faint picture.
Asset cinema() {
  Asset out{Picture("cinema.tga", 512, 32, true), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float hole = sdBox(std::fmod(x, 16.0f), y < 16 ? y : 32 - y, 8, 4.5f, 3.5f, 2.2f, 1.2f);
    const float frame = sdBox(std::fmod(x, 64.0f), y, 32, 16, 28, 7, 2);
    c = rgb8(30, 90, 200);
    a = 0.75f;
    if (frame < 0) {
      const float n = fbm(x / 512.0f, y / 32.0f, 16, 3, 171);
      c = mix(rgb8(60, 150, 255), rgb8(200, 240, 255), n);
      a = 0.35f + 0.4f * n;
    }
    a *= cover(-hole);  // the sprocket holes are see-through
  });
  return out;
}

// A long line of small text that drifts across the screen.
Asset marquee() {
  Asset out{Picture("moscow.tga", 1024, 32, true), {}, false};
  const std::string line = "night city  \xb7  the last bus leaves at midnight  \xb7  lights on the river  \xb7  night city";
  std::string ascii;
  for (char ch : line) ascii += (static_cast<unsigned char>(ch) == 0xb7) ? '*' : ch;
  Field f(1024, 32);
  const float size = fitText(ascii, Font::SansBold, 990, 17, 1);
  drawText(f, ascii, Font::SansBold, size, 512, 16, 1);
  paintText(out.pic, f, {rgb8(200, 236, 255), rgb8(110, 180, 255), rgb8(40, 120, 255), 3, 0.8f});
  fadeEdges(out.pic, 3);
  return out;
}

// Chevrons pointing right, brightening towards the head of the arrow.
Asset goright() {
  Asset out{Picture("goright.tga", 512, 32, true), {}, false};
  Field f(512, 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 512; ++x) {
      const float lx = std::fmod(x + 0.5f, 32.0f), ly = std::fabs(y + 0.5f - 16);
      const float d = std::fabs(lx - 10 - (12 - ly)) - 3.0f;  // a '>' stroke
      f.at(x, y) = cover(d) * smooth(10.5f, 9.0f, ly);
    }
  paintText(out.pic, f, {rgb8(150, 220, 255), rgb8(60, 140, 255), rgb8(30, 100, 255), 3, 0.9f});
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 512; ++x) out.pic.alpha(x, y) *= 0.35f + 0.65f * (x / 512.0f);
  // The strip starts at the screen's left edge; its other edges fade out.
  fadeEdges(out.pic, 3, kTop | kBottom | kRight);
  return out;
}

// A neon sign in a rounded frame: "open all night".
Asset nightup() {
  Asset out{Picture("nightup.tga", 256, 128, true), {}, false};
  Field f = textField(256, 128, {"open", "all night"}, Font::SansBold, 28, 128, {46, 82});
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 256; ++x) {
      const float frame = std::fabs(sdBox(x + 0.5f, y + 0.5f, 128, 64, 106, 46, 14)) - 2.0f;
      f.at(x, y) = std::max(f.at(x, y), cover(frame));
    }
  paintText(out.pic, f, {rgb8(230, 250, 255), rgb8(140, 210, 255), rgb8(40, 130, 255), 5, 1.0f});
  // The glow fades out inside the picture on every side but the left, which
  // is the screen's edge.
  fadeEdges(out.pic, 4, kTop | kBottom | kRight);
  return out;
}

// A night train: dark carriages with a row of lit windows.
Asset metros() {
  Asset out{Picture("metros.tga", 256, 16, true), {}, false};
  Picture& p = out.pic;
  fillAll(p, rgb8(20, 40, 90));
  for (int car = 0; car < 4; ++car) {
    const float x0 = 4 + car * 63.0f;
    p.paint([=](float x, float y) { return sdBox(x, y, x0 + 30, 8, 29, 6, car == 0 ? 4.0f : 1.5f); }, rgb8(22, 44, 96));
    for (int w = 0; w < 7; ++w) {
      const float wx = x0 + 6 + w * 8.0f;
      p.paint([=](float x, float y) { return sdBox(x, y, wx, 6.5f, 2.5f, 2.0f, 0.5f); }, w % 3 == 1 ? rgb8(255, 230, 170) : rgb8(150, 220, 255));
    }
  }
  return out;
}

// Route sign "700": a rounded plate with a bright rim.
Asset route700() {
  Asset out{Picture("700.tga", 128, 128, true), {}, false};
  Picture& p = out.pic;
  fillAll(p, rgb8(30, 90, 220));
  p.paint([](float x, float y) { return sdBox(x, y, 64, 64, 58, 40, 14); }, rgb8(30, 90, 220));
  p.paintShaded([](float x, float y) { return sdBox(x, y, 64, 64, 52, 34, 10); },
                [](float, float y) { return mix(rgb8(16, 40, 120), rgb8(8, 20, 70), y / 128.0f); });
  Field t(128, 128);
  drawText(t, "700", Font::SansBold, fitText("700", Font::SansBold, 90, 60), 64, 64);
  p.each([&](float x, float y, Rgb& c, float&) { c = mix(c, rgb8(240, 250, 255), t.sample(x, y)); });
  return out;
}

// The clock face: the colour is a lit dial everywhere; each of the eight
// masks cuts the ring, the hour marks and the hands at a different time.
Asset times() {
  Asset out{Picture("times.tga", 64, 64, false), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float d = std::hypot(x - 32, y - 32) / 30.0f;
    c = mix(rgb8(230, 245, 255), rgb8(90, 170, 255), d * d);
    a = 1;
  });
  const float hours[8][2] = {{10, 10}, {11, 55}, {12, 25}, {1, 40}, {3, 0}, {4, 50}, {6, 15}, {8, 35}};
  for (const auto& t : hours) {
    Field m(64, 64);
    const float ha = (t[0] + t[1] / 60.0f) / 12.0f * 2 * kPi, ma = t[1] / 60.0f * 2 * kPi;
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        const float px = x + 0.5f, py = y + 0.5f;
        float d = std::fabs(sdCircle(px, py, 32, 32, 28)) - 1.8f;
        for (int k = 0; k < 12; ++k) {
          const float ka = k / 12.0f * 2 * kPi, r0 = k % 3 == 0 ? 20.0f : 22.5f;
          d = std::min(d, sdSegment(px, py, 32 + std::sin(ka) * r0, 32 - std::cos(ka) * r0, 32 + std::sin(ka) * 25,
                                    32 - std::cos(ka) * 25, k % 3 == 0 ? 1.3f : 0.8f));
        }
        d = std::min(d, sdSegment(px, py, 32, 32, 32 + std::sin(ha) * 14, 32 - std::cos(ha) * 14, 2.0f));
        d = std::min(d, sdSegment(px, py, 32, 32, 32 + std::sin(ma) * 21, 32 - std::cos(ma) * 21, 1.3f));
        const float face = cover(sdCircle(px, py, 32, 32, 27)) * 0.3f;
        m.at(x, y) = std::max(cover(d), face);
      }
    out.frames.push_back(m);
  }
  return out;
}

}  // namespace

std::vector<AssetDef> cityAssets() {
  return {{"windows.tga", windows}, {"blue.tga", blue},       {"roundbox.tga", roundbox}, {"outsidecity.tga", outsidecity},
          {"darksky.tga", darksky}, {"cinema.tga", cinema},   {"moscow.tga", marquee},    {"goright.tga", goright},
          {"nightup.tga", nightup}, {"metros.tga", metros},   {"700.tga", route700},      {"times.tga", times}};
}

}  // namespace gen
