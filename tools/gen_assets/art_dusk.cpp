// The loading screen and the opening scene's pictures: dusk clouds, the
// four things seen against the evening sky, and the rising town backdrop.
#include <cmath>

#include "tools/gen_assets/art.h"

namespace gen {

namespace {

constexpr float kPi = 3.14159265f;

void fillAll(Picture& p, Rgb c) {
  for (auto& px : p.px) px = c;
}

// Loading screen. Its outer frame is the bus body's colour as well: the bus
// in the rain scene samples this picture at its corner texel.
Asset loading() {
  Asset out{Picture("loading.tga", 512, 128, false), {}, false};
  Picture& p = out.pic;
  const Rgb frame = rgb8(64, 63, 66);
  fillAll(p, frame);
  const float cx = 236.0f;  // the picture sits 20 units right of the screen's centre
  Field lantern(512, 128);
  p.each([&](float x, float y, Rgb& c, float&) {
    const float inside = sdBox(x, y, 256, 64, 248, 56, 10);
    if (inside > 0) return;
    const float glow = std::exp(-((x - 92) * (x - 92) + (y - 64) * (y - 64)) / (2 * 60.0f * 60.0f));
    const Rgb panel = mix(rgb8(14, 18, 30), rgb8(24, 30, 48), y / 128.0f);
    c = mix(panel, rgb8(120, 70, 30), glow * 0.55f);
    c = mix(c, rgb8(96, 94, 98), cover(-inside - 1.5f) < 1 ? 1 - cover(-inside - 1.5f) : 0);
  });
  // A small lantern at the left: cap, glass and glow.
  p.paintIn(70, 30, 115, 45, [](float x, float y) { return sdPolygon(x, y, {78, 44, 106, 44, 98, 34, 86, 34}); }, rgb8(30, 28, 30));
  p.paintIn(80, 44, 105, 82, [](float x, float y) { return sdBox(x, y, 92, 63, 10, 18, 2); }, rgb8(255, 196, 100));
  p.paintIn(84, 50, 100, 76, [](float x, float y) { return sdEllipse(x, y, 92, 65, 4, 8); }, rgb8(255, 246, 214));
  p.paintIn(80, 44, 105, 84, [](float x, float y) { return std::fabs(sdBox(x, y, 92, 63, 11, 19, 2)) - 1.2f; }, rgb8(34, 30, 32));
  p.paintIn(84, 80, 101, 88, [](float x, float y) { return sdBox(x, y, 92, 84, 8, 2.5f, 1); }, rgb8(34, 30, 32));
  p.paintIn(88, 24, 97, 36, [](float x, float y) { return std::fabs(sdCircle(x, y, 92, 30, 4)) - 1.0f; }, rgb8(34, 30, 32));
  Field text = textField(512, 128, {"loading"}, Font::Sans, 46, cx + 24, {58}, 2);
  p.each([&](float x, float y, Rgb& c, float&) {
    const float k = text.sample(x, y);
    c = mix(c, rgb8(236, 228, 210), k);
  });
  // A row of dots under the word, the first ones lit.
  for (int i = 0; i < 12; ++i) {
    const float dx = cx - 110 + 20.0f * i + 24;
    const Rgb col = i < 5 ? rgb8(255, 190, 100) : rgb8(60, 64, 80);
    p.paintIn(dx - 4, 90, dx + 4, 98, [dx](float x, float y) { return sdCircle(x, y, dx, 94, 3); }, col);
  }
  for (auto& a : p.a) a = 1;
  return out;
}

// Dusk cloud layer seen from below, tiling: lilac-blue cores, pink lit edges.
Asset cloudB() {
  Asset out{Picture("cloud-b.tga", 256, 256, true), {}, true};
  Picture& p = out.pic;
  const uint32_t seed = 101;
  p.each([&](float x, float y, Rgb& c, float& a) {
    const float u = x / 256.0f, v = y / 256.0f;
    const float d = cloudDensity(u, v, 4, seed, 0.34f, 0.30f);
    const float lit = cloudDensity(u - 0.015f, v - 0.02f, 4, seed, 0.34f, 0.30f);
    const float light = clamp01(0.5f + 1.2f * (d - lit));
    const Rgb core = rgb8(58, 70, 128), mid = rgb8(128, 118, 170), edge = rgb8(226, 160, 162);
    c = ramp({edge, mid, core}, d * 0.8f + 0.2f * (1 - light));
    a = d * 0.9f;
  });
  return out;
}

// A crescent moon with its halo and a few stars (order 0, lower right).
Asset moon() {
  Asset out{Picture("2.tga", 256, 256, true), {}, false};
  Picture& p = out.pic;
  fillAll(p, rgb8(200, 210, 255));
  const float mx = 140, my = 116, r = 44;
  p.each([&](float x, float y, Rgb& c, float& a) {
    const float d = std::hypot(x - mx, y - my);
    a = 0.45f * std::exp(-std::pow(std::max(0.0f, d - r) / 34.0f, 2.0f)) * smooth(r + 60, r, d);
    c = rgb8(196, 206, 255);
  });
  p.paint([&](float x, float y) {
    return std::max(sdCircle(x, y, mx, my, r), -sdCircle(x, y, mx + 22, my - 14, r * 0.92f));
  }, rgb8(255, 246, 214));
  // Faint grey seas on the lit crescent.
  p.each([&](float x, float y, Rgb& c, float& a) {
    if (a < 0.9f) return;
    const float n = fbm(x / 256.0f, y / 256.0f, 6, 7, 5);
    c = mix(c, rgb8(206, 196, 176), smooth(0.5f, 0.7f, n) * 0.6f);
  });
  const float stars[][3] = {{40, 60, 7}, {215, 40, 5}, {70, 200, 4}, {225, 180, 6}, {30, 150, 3}, {190, 230, 3}, {100, 30, 3}};
  for (const auto& s : stars) {
    const float sx = s[0], sy = s[1], k = s[2];
    p.paintIn(sx - 4 * k, sy - 4 * k, sx + 4 * k, sy + 4 * k, [=](float x, float y) {
      const float dx = std::fabs(x - sx), dy = std::fabs(y - sy);
      // A four-pointed sparkle: thin cross arms that taper to points.
      const float arm = std::min(dx * 3.0f + dy, dy * 3.0f + dx) - k;
      return std::min(arm, sdCircle(x, y, sx, sy, k * 0.35f));
    }, rgb8(250, 248, 255));
  }
  return out;
}

// A lantern hanging on its chain from the top edge (order 1, top left;
// only the lower half is on screen).
Asset chainLantern() {
  Asset out{Picture("4.tga", 256, 256, true), {}, false};
  Picture& p = out.pic;
  const Rgb iron = rgb8(26, 22, 28);
  fillAll(p, rgb8(255, 170, 80));
  const float cx = 128;
  // Warm halo around the glass, gone well before the picture's lower edge
  // (which lies in the middle of the screen).
  p.each([&](float x, float y, Rgb& c, float& a) {
    const float d = std::hypot(x - cx, (y - 186) * 0.95f);
    a = 0.6f * std::exp(-(d * d) / (2 * 34.0f * 34.0f)) * smooth(58, 28, d);
    c = rgb8(255, 168, 76);
  });
  // Chain: alternating links seen face-on and edge-on.
  for (int i = 0; i < 9; ++i) {
    const float ly = 6 + 15.0f * i;
    if (i % 2 == 0)
      p.paintIn(cx - 8, ly - 12, cx + 8, ly + 12, [=](float x, float y) { return std::fabs(sdEllipse(x, y, cx, ly, 5.5f, 9.5f)) - 1.6f; }, iron);
    else
      p.paintIn(cx - 4, ly - 12, cx + 4, ly + 12, [=](float x, float y) { return sdBox(x, y, cx, ly, 1.6f, 9.5f, 1.5f); }, iron);
  }
  paintLantern(p, cx, 190, 1);
  // The chain runs on above the screen; the other edges stay clear.
  fadeEdges(p, 6, kBottom | kLeft | kRight);
  return out;
}

// A flock of birds crossing the evening sky (order 2, lower right).
Asset flock() {
  Asset out{Picture("5.tga", 256, 256, true), {}, false};
  Picture& p = out.pic;
  const Rgb ink = rgb8(16, 18, 42);
  fillAll(p, ink);
  const float birds[][4] = {{70, 70, 22, 0.2f},  {112, 92, 18, -0.3f}, {150, 110, 16, 0.5f}, {40, 104, 15, -0.1f},
                            {186, 134, 13, 0.1f}, {96, 140, 12, 0.6f},  {212, 160, 11, -0.4f}, {140, 168, 9, 0.2f},
                            {60, 160, 8, 0.0f}};
  // The last light of the sky catches the lower birds a little.
  const Rgb lit = rgb8(70, 56, 96);
  for (const auto& b : birds) {
    const float bx = b[0], by = b[1], s = b[2], lift = b[3];
    const float ex = s * 0.55f, ey = -s * (0.28f + 0.25f * lift), tx = s * 1.15f, ty = s * (0.05f - 0.3f * lift);
    p.paintIn(bx - 1.3f * s, by - s, bx + 1.3f * s, by + s, [=](float x, float y) {
      float d = sdTaper(x, y, bx, by, bx - ex, by + ey, s * 0.09f, s * 0.06f);
      d = std::min(d, sdTaper(x, y, bx - ex, by + ey, bx - tx, by + ty, s * 0.06f, 0.4f));
      d = std::min(d, sdTaper(x, y, bx, by, bx + ex, by + ey, s * 0.09f, s * 0.06f));
      d = std::min(d, sdTaper(x, y, bx + ex, by + ey, bx + tx, by + ty, s * 0.06f, 0.4f));
      d = std::min(d, sdEllipse(x, y, bx, by + s * 0.05f, s * 0.12f, s * 0.18f));
      return d;
    }, ink);
  }
  p.each([&](float, float y, Rgb& c, float&) { c = mix(ink, lit, smooth(60, 200, y)); });
  return out;
}

// Recursive bough for the hanging branch.
void bough(Picture& p, Rng& rng, float x, float y, float angle, float len, float width, int depth) {
  const float ex = x + std::cos(angle) * len, ey = y + std::sin(angle) * len;
  const Rgb bark = rgb8(12, 14, 34);
  const float w2 = width * 0.68f;
  p.paintIn(std::min(x, ex) - width, std::min(y, ey) - width, std::max(x, ex) + width, std::max(y, ey) + width,
            [=](float px, float py) { return sdTaper(px, py, x, y, ex, ey, width, w2); }, bark);
  if (depth == 0) {
    // A small cluster of leaves at the tip.
    for (int i = 0; i < 4; ++i) {
      const float la = angle + rng.range(-1.2f, 1.2f);
      const float lx = ex + std::cos(la) * 5, ly = ey + std::sin(la) * 5;
      const float ca = std::cos(la), sa = std::sin(la);
      p.paintIn(lx - 9, ly - 9, lx + 9, ly + 9, [=](float px, float py) {
        const float qx = (px - lx) * ca + (py - ly) * sa, qy = -(px - lx) * sa + (py - ly) * ca;
        return sdEllipse(qx, qy, 0, 0, 7.0f, 2.8f);
      }, bark);
    }
    return;
  }
  // Branches droop: each child turns toward straight down a little.
  const float down = kPi / 2;
  for (int i = 0; i < 2; ++i) {
    float a = angle + (i == 0 ? -1 : 1) * rng.range(0.3f, 0.7f);
    a += (down - a) * 0.18f;
    bough(p, rng, ex, ey, a, len * rng.range(0.68f, 0.82f), w2, depth - 1);
  }
}

// A branch hanging from the top edge (order 3, top right; lower half on screen).
Asset branch() {
  Asset out{Picture("6.tga", 256, 256, true), {}, false};
  Picture& p = out.pic;
  fillAll(p, rgb8(12, 14, 34));
  Rng rng(66);
  bough(p, rng, 238, -6, 2.2f, 70, 7, 6);
  bough(p, rng, 150, -4, 1.75f, 46, 4.5f, 5);
  // Leaves further down hold a little of the dusk light.
  p.each([](float x, float y, Rgb& c, float&) { c = mix(c, rgb8(54, 50, 92), smooth(80, 250, y) * smooth(256, 60, x) * 0.8f); });
  // The boughs come down from above the screen; the picture's right edge
  // lies just inside it, so the branch keeps clear of that side too.
  fadeEdges(p, 4, kBottom | kLeft | kRight);
  return out;
}

// Dusk over the edge of town, seen level: deep blue sky, a glowing
// horizon, far hills and a roofline with lit windows.
Asset backdrop() {
  Asset out{Picture("rightback.tga", 512, 256, false), {}, false};
  Picture& p = out.pic;
  const float horizon = 176;
  p.each([&](float x, float y, Rgb& c, float& a) {
    const float t = y / horizon;
    c = ramp({rgb8(11, 38, 107), rgb8(24, 50, 122), rgb8(70, 66, 146), rgb8(176, 104, 138), rgb8(246, 160, 104)}, t * t);
    if (y < 120) {
      const float s = hashf(static_cast<int>(x), static_cast<int>(y), 77);
      if (s > 0.9965f) c = mix(c, rgb8(255, 250, 230), (1 - y / 120.0f) * 0.9f);
    }
    // Far hills in the haze.
    const float hill = horizon - 18 - 22 * fbm(x / 512.0f, 0.3f, 3, 4, 21);
    if (y > hill) c = mix(rgb8(92, 70, 128), rgb8(60, 50, 104), clamp01((y - hill) / 30));
    a = 1;
  });
  // Roofline: blocks of different heights along the whole width.
  Rng rng(31);
  float x = 0;
  while (x < 512) {
    const float w = rng.range(14, 46);
    const float top = horizon - rng.range(4, 44) - (rng.uni() < 0.12f ? 30 : 0);
    const bool pitched = rng.uni() < 0.3f;
    const float bx = x, bw = w;
    const uint32_t wseed = rng.next();
    for (int yy = std::max(0, static_cast<int>(top) - 12); yy < 256; ++yy)
      for (int xx = static_cast<int>(bx); xx < std::min(512, static_cast<int>(bx + bw)); ++xx) {
        const float px = xx + 0.5f, py = yy + 0.5f;
        float edge = top;
        if (pitched) edge = top - 10 + std::fabs(px - (bx + bw / 2)) * (10.0f / (bw / 2));
        if (py < edge) continue;
        Rgb c = rgb8(14, 16, 40);
        // Windows in a grid; some lit warm.
        const int col = static_cast<int>((px - bx - 3) / 6), row = static_cast<int>((py - top - 4) / 8);
        const float wx = px - bx - 3 - col * 6.0f, wy = py - top - 4 - row * 8.0f;
        if (px - bx > 3 && bx + bw - px > 3 && py > top + 4 && wx < 3 && wy < 4 && py < horizon + 40) {
          const float h = hashf(col, row, wseed);
          if (h < 0.3f) c = mix(rgb8(255, 206, 120), rgb8(255, 236, 180), h / 0.3f);
          else if (h < 0.4f) c = rgb8(40, 60, 110);
        }
        p.at(xx, yy) = c;
      }
    x += w + rng.range(0, 6);
  }
  // Street below: a dark band with a line of lamps.
  p.each([&](float px, float py, Rgb& c, float&) {
    if (py > horizon + 40) c = mix(rgb8(12, 12, 30), rgb8(6, 6, 16), clamp01((py - horizon - 40) / 40));
    for (int i = 0; i < 9; ++i) {
      const float lx = 28 + 58.0f * i, ly = horizon + 36;
      const float d = std::hypot(px - lx, py - ly);
      c = c + rgb8(255, 180, 90) * (0.8f * std::exp(-d * d / 18.0f));
    }
  });
  return out;
}

}  // namespace

std::vector<AssetDef> duskAssets() {
  return {{"loading.tga", loading}, {"cloud-b.tga", cloudB}, {"2.tga", moon},        {"4.tga", chainLantern},
          {"5.tga", flock},         {"6.tga", branch},       {"rightback.tga", backdrop}};
}

// The lantern of "4.tga" without its chain: ring, roof, glass with its
// flame, frame and base, the glass centred on (cx, cy), s pixels per pixel
// of "4.tga" (whose glass centre is 128, 190). The icons draw it larger.
void paintLantern(Picture& p, float cx, float cy, float s) {
  const Rgb iron = rgb8(26, 22, 28);
  p.paintIn(cx - 10 * s, cy - 60 * s, cx + 10 * s, cy - 44 * s,
            [=](float x, float y) { return std::fabs(sdCircle(x, y, cx, cy - 52 * s, 6 * s)) - 1.8f * s; }, iron);
  // Roof, glass with flame, frame and base.
  p.paint([=](float x, float y) {
    return sdPolygon(x, y, {cx - 40 * s, cy - 28 * s, cx + 40 * s, cy - 28 * s, cx + 14 * s, cy - 46 * s, cx - 14 * s, cy - 46 * s});
  }, iron);
  p.paint([=](float x, float y) { return sdBox(x, y, cx, cy, 30 * s, 28 * s, 2 * s); }, rgb8(255, 190, 96));
  p.paintShaded([=](float x, float y) { return sdBox(x, y, cx, cy, 30 * s, 28 * s, 2 * s); }, [=](float x, float y) {
    const float dy = y - (cy + 4 * s);
    const float f = std::exp(-((x - cx) * (x - cx) / (300.0f * s * s) + dy * dy / (500.0f * s * s)));
    return mix(rgb8(240, 150, 60), rgb8(255, 246, 210), f);
  });
  p.paint([=](float x, float y) { return sdEllipse(x, y, cx, cy + 4 * s, 6 * s, 13 * s); }, rgb8(255, 252, 236));
  p.paint([=](float x, float y) {
    float d = std::fabs(sdBox(x, y, cx, cy, 31 * s, 29 * s, 2 * s)) - 2.5f * s;
    d = std::min(d, sdBox(x, y, cx, cy, 1.8f * s, 29 * s, 0));
    d = std::min(d, sdBox(x, y, cx, cy - 14 * s, 31 * s, 1.5f * s, 0));
    return d;
  }, iron);
  p.paint([=](float x, float y) {
    return sdPolygon(x, y, {cx - 36 * s, cy + 28 * s, cx + 36 * s, cy + 28 * s, cx + 22 * s, cy + 40 * s, cx - 22 * s, cy + 40 * s});
  }, iron);
  p.paint([=](float x, float y) { return sdPolygon(x, y, {cx - 6 * s, cy + 40 * s, cx + 6 * s, cy + 40 * s, cx, cy + 54 * s}); }, iron);
}

}  // namespace gen
