// Scenes 2 and 3 in black, white and wet greys: the snow sky, a snowflake,
// the figure in the snow, and the rainy street behind the rain.
#include <cmath>

#include "tools/gen_assets/art.h"

namespace gen {

namespace {

void fillAll(Picture& p, Rgb c) {
  for (auto& px : p.px) px = c;
}

// Snow sky overhead, tiling and drawn additively: dim grey cloud on black.
Asset farsky() {
  Asset out{Picture("farsky.tga", 256, 256, false), {}, true};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float u = x / 256.0f, v = y / 256.0f;
    const float d = cloudDensity(u, v, 3, 202, 0.3f, 0.45f);
    const float fine = fbm(u, v, 16, 3, 203);
    const float g = 0.03f + 0.26f * d * (0.75f + 0.5f * fine);
    c = {g, g, g * 1.03f};
    a = 1;
  });
  return out;
}

// One snowflake: a soft white core with six faint arms, black around.
Asset snowdrop() {
  Asset out{Picture("snowdrop.tga", 64, 64, false), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float dx = x - 32, dy = y - 32, d = std::hypot(dx, dy);
    float v = std::exp(-(d * d) / (2 * 7.0f * 7.0f));
    const float ang = std::atan2(dy, dx);
    const float arms = std::pow(std::fabs(std::cos(3 * ang)), 40.0f) * smooth(28, 6, d);
    v = std::min(1.0f, v + 0.7f * arms);
    v *= smooth(31, 26, d);
    c = {v, v, v};
    a = 1;
  });
  return out;
}

// A figure in a hooded winter coat, hands in pockets, snow on the shoulders.
Asset guy() {
  Asset out{Picture("guy.tga", 256, 256, true), {}, false};
  Picture& p = out.pic;
  fillAll(p, rgb8(60, 60, 62));
  // Light from the left: a grey that brightens towards that side.
  auto coat = [](float x, float y) {
    const float n = fbm(x / 256.0f, y / 256.0f, 12, 4, 31);
    const float side = smooth(160, 92, x);
    const float g = 0.16f + 0.22f * side + 0.06f * (n - 0.5f);
    return Rgb{g, g, g * 1.02f};
  };
  // Legs and boots.
  p.paint([](float x, float y) { return sdTaper(x, y, 116, 196, 112, 246, 13, 10); }, rgb8(34, 34, 36));
  p.paint([](float x, float y) { return sdTaper(x, y, 142, 196, 148, 246, 13, 10); }, rgb8(28, 28, 30));
  p.paint([](float x, float y) { return sdBox(x, y, 108, 250, 14, 6, 4); }, rgb8(18, 18, 20));
  p.paint([](float x, float y) { return sdBox(x, y, 152, 250, 14, 6, 4); }, rgb8(14, 14, 16));
  // Coat body, arms in the pockets.
  p.paintShaded([](float x, float y) { return sdPolygon(x, y, {102, 96, 156, 96, 170, 150, 174, 212, 84, 212, 88, 150}) - 4; }, coat);
  p.paintShaded([](float x, float y) { return sdTaper(x, y, 100, 104, 92, 170, 15, 12); }, coat);
  p.paintShaded([](float x, float y) { return sdTaper(x, y, 158, 104, 166, 170, 15, 12); }, coat);
  p.paint([](float x, float y) { return sdBox(x, y, 128, 156, 1.2f, 56, 0); }, rgb8(30, 30, 32));
  p.paint([](float x, float y) { return std::fabs(sdSegment(x, y, 96, 172, 112, 168, 0)) - 1.5f; }, rgb8(30, 30, 32));
  p.paint([](float x, float y) { return std::fabs(sdSegment(x, y, 146, 168, 162, 172, 0)) - 1.5f; }, rgb8(24, 24, 26));
  // Scarf with stripes and a hanging end.
  auto scarf = [](float x, float y) {
    const float stripe = std::fmod(std::fabs(x + y * 0.5f), 10.0f) < 4 ? 1.0f : 0.0f;
    const float g = 0.72f + 0.16f * stripe - 0.2f * smooth(100, 160, x);
    return Rgb{g, g, g};
  };
  p.paintShaded([](float x, float y) { return sdBox(x, y, 128, 92, 26, 8, 6); }, scarf);
  p.paintShaded([](float x, float y) { return sdTaper(x, y, 140, 92, 146, 134, 7, 6); }, scarf);
  // Hood, face turned a little, fur trim.
  p.paint([](float x, float y) { return sdEllipse(x, y, 129, 60, 27, 31); }, rgb8(46, 46, 48));
  p.paintShaded([](float x, float y) { return sdEllipse(x, y, 124, 64, 15, 19); }, [](float x, float) {
    const float g = 0.62f - 0.36f * smooth(110, 138, x);
    return Rgb{g, g, g};
  });
  p.paint([](float x, float y) {
    const float ring = std::fabs(sdEllipse(x, y, 124, 64, 18, 22)) - 3.5f;
    return ring + 2.5f * (fbm(x / 64.0f, y / 64.0f, 8, 2, 9) - 0.5f);
  }, rgb8(216, 216, 216));
  // Snow on the hood and shoulders.
  p.each([&](float x, float y, Rgb& c, float& a) {
    if (a < 0.5f) return;
    // Snow lies where the surface faces up: the hood's crown and the shoulders.
    const float crown = smooth(8, 0, std::fabs(sdEllipse(x, y, 129, 60, 27, 31) + 3)) * smooth(52, 36, y);
    const float shoulder = smooth(8, 0, std::fabs(y - 100)) * (x < 112 || x > 146 ? 1.0f : 0.0f);
    const float n = fbm(x / 256.0f, y / 256.0f, 32, 2, 4);
    const float k = clamp01((crown + shoulder) * smooth(0.4f, 0.6f, n) * 1.5f);
    c = mix(c, rgb8(244, 244, 246), k);
  });
  // Falling flakes in front of the figure.
  Rng rng(12);
  for (int i = 0; i < 16; ++i) {
    const float fx = rng.range(4, 252), fy = rng.range(4, 252), r = rng.range(0.8f, 2.2f);
    p.paintIn(fx - 3, fy - 3, fx + 3, fy + 3, [=](float x, float y) { return sdCircle(x, y, fx, fy, r); }, rgb8(245, 245, 245), 0.85f);
  }
  return out;
}

// The rainy street: fog-grey blocks, a lamp with a halo, a bus shelter, and
// the whole of it mirrored in the wet road.
Asset rainStreet() {
  Asset out{Picture("rainb.tga", 640, 480, false), {}, false};
  Picture& p = out.pic;
  const int horizon = 300;
  auto skyline = [](float x, float seed, float base, float amp, float width) {
    const int cell = static_cast<int>(x / width);
    return base - amp * hashf(cell, 0, static_cast<uint32_t>(seed));
  };
  for (int y = 0; y < horizon; ++y)
    for (int x = 0; x < 640; ++x) {
      const float fx = x + 0.5f, fy = y + 0.5f;
      Rgb c = mix(rgb8(128, 134, 142), rgb8(186, 190, 196), smooth(0, horizon, fy));
      const float cl = fbm(fx / 640.0f, fy / 300.0f, 4, 5, 41);
      c = mix(c, rgb8(150, 154, 160), smooth(0.45f, 0.75f, cl) * 0.5f);
      const float far = skyline(fx, 1, 230, 90, 38);
      if (fy > far) c = rgb8(166, 170, 176);
      const float mid = skyline(fx + 13, 2, 250, 110, 64);
      if (fy > mid) {
        c = rgb8(128, 132, 140);
        const int wc = static_cast<int>(fx / 9), wr = static_cast<int>(fy / 12);
        if (std::fmod(fx, 9.0f) > 4 && std::fmod(fy, 12.0f) > 6 && hashf(wc, wr, 3) < 0.18f) c = rgb8(196, 194, 176);
      }
      const float nearB = skyline(fx + 40, 3, 270, 120, 110);
      if (fy > nearB && (fx < 360 || fx > 620)) {
        c = rgb8(86, 90, 98);
        const int wc = static_cast<int>(fx / 14), wr = static_cast<int>(fy / 18);
        if (std::fmod(fx, 14.0f) > 6 && std::fmod(fy, 18.0f) > 8 && hashf(wc, wr, 5) < 0.3f) c = rgb8(210, 204, 178);
      }
      // Fog thickens towards the ground.
      c = mix(c, rgb8(176, 180, 186), smooth(200, horizon, fy) * 0.45f);
      p.at(x, y) = c;
    }
  // Bus shelter at the right: roof, glass, posts, a round sign.
  p.paint([](float x, float y) { return sdBox(x, y, 520, 226, 92, 5, 1); }, rgb8(52, 56, 62));
  p.paint([](float x, float y) { return sdBox(x, y, 520, 264, 86, 34, 0); }, rgb8(150, 158, 166), 0.5f);
  for (float px : {432.0f, 520.0f, 608.0f})
    p.paint([=](float x, float y) { return sdBox(x, y, px, 264, 2.5f, 38, 0); }, rgb8(46, 50, 56));
  p.paint([](float x, float y) { return sdBox(x, y, 404, 250, 2, 50, 0); }, rgb8(46, 50, 56));
  p.paint([](float x, float y) { return sdCircle(x, y, 404, 196, 14); }, rgb8(226, 228, 230));
  p.paint([](float x, float y) { return std::fabs(sdCircle(x, y, 404, 196, 14)) - 2.5f; }, rgb8(60, 64, 70));
  // Street lamp at the left with its halo.
  p.paint([](float x, float y) { return sdBox(x, y, 110, 210, 3.5f, 92, 1); }, rgb8(40, 42, 48));
  p.paint([](float x, float y) { return sdTaper(x, y, 110, 122, 150, 116, 3, 2); }, rgb8(40, 42, 48));
  p.paint([](float x, float y) { return sdEllipse(x, y, 154, 120, 14, 5); }, rgb8(40, 42, 48));
  p.each([&](float x, float y, Rgb& c, float&) {
    if (y >= horizon) return;
    const float d = std::hypot(x - 154, (y - 128) * 0.9f);
    c = c + rgb8(255, 244, 214) * (0.6f * std::exp(-d * d / (2 * 20.0f * 20.0f)) + 0.18f * std::exp(-d / 80.0f));
  });
  // The wet road mirrors everything above, broken by ripples and sheen.
  for (int y = horizon; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const float fx = x + 0.5f, fy = y + 0.5f;
      const float depth = (fy - horizon) / 180.0f;
      const float ripple = 6.0f * (fbm(fx / 640.0f, fy / 60.0f, 8, 3, 77) - 0.5f) * (0.3f + depth);
      const int sy = std::clamp(static_cast<int>(2 * horizon - fy + ripple * 2), 0, horizon - 1);
      const int sx = std::clamp(static_cast<int>(fx + ripple), 0, 639);
      Rgb c = p.at(sx, sy) * (0.55f - 0.2f * depth);
      const float puddle = smooth(0.45f, 0.6f, fbm(fx / 640.0f, fy / 180.0f, 6, 4, 88));
      c = mix(rgb8(44, 46, 52), c, 0.35f + 0.65f * puddle);
      p.at(x, y) = c;
    }
  p.paint([](float x, float y) { return sdBox(x, y, 320, 302, 320, 2.5f, 0); }, rgb8(70, 74, 80));
  // Rain haze: faint slanted streaks over the whole picture.
  p.each([](float x, float y, Rgb& c, float&) {
    const float sx = x + y * 0.12f;
    const int col = static_cast<int>(sx / 3);
    const float h = hashf(col, static_cast<int>((y + 37 * col) / 40), 99);
    if (h > 0.93f && std::fmod(sx, 3.0f) < 1.0f) c = mix(c, rgb8(220, 224, 230), 0.18f);
  });
  for (auto& a : p.a) a = 1;
  return out;
}

}  // namespace

std::vector<AssetDef> weatherAssets() {
  return {{"farsky.tga", farsky}, {"snowdrop.tga", snowdrop}, {"guy.tga", guy}, {"rainb.tga", rainStreet}};
}

}  // namespace gen
