// Scene 8, the end scene's field: the unused field picture, the grass of
// the ground plane, the dark sun, the dedication, "with love" and "the end".
#include <cmath>

#include "tools/gen_assets/art.h"

namespace gen {

namespace {

void fillAll(Picture& p, Rgb c) {
  for (auto& px : p.px) px = c;
}

// Tall grass against a clear sky: blades over a transparent background.
Asset pole() {
  Asset out{Picture("pole.tga", 256, 256, true), {}, false};
  Picture& p = out.pic;
  fillAll(p, rgb8(60, 50, 20));
  Rng rng(801);
  for (int i = 0; i < 140; ++i) {
    const float bx = rng.range(0, 256), h = rng.range(60, 190), lean = rng.range(-30, 30);
    const Rgb col = mix(rgb8(40, 50, 18), rgb8(120, 100, 40), rng.uni());
    p.paintIn(std::min(bx, bx + lean) - 6, 256 - h - 4, std::max(bx, bx + lean) + 6, 256, [=](float x, float y) {
      return sdTaper(x, y, bx, 258, bx + lean, 256 - h, 3.0f, 0.3f);
    }, col);
  }
  return out;
}

// The field under the evening sky, once across the whole ground plane:
// s runs across, t from near (0) to the far edge (1). Furrows run across,
// the far part fades into the warm haze.
Asset travka() {
  Asset out{Picture("travka.tga", 256, 256, false), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float s = x / 256.0f, t = (256 - y) / 256.0f;
    const float n = fbm(s, t, 8, 5, 811);
    Rgb g = ramp({rgb8(46, 60, 20), rgb8(84, 86, 30), rgb8(120, 92, 40)}, n);
    const float furrow = 0.85f + 0.15f * std::sin(t * 256 * 1.6f + 3 * fbm(s, t, 4, 2, 812));
    g = g * furrow;
    // A path running away from the viewer.
    const float path = std::fabs(s - 0.47f - 0.06f * std::sin(t * 6)) * 256;
    g = mix(g, rgb8(150, 110, 60), smooth(3, 1, path) * smooth(1.0f, 0.5f, t));
    // Warm light grazing the field and haze towards the far edge.
    g = g + rgb8(120, 40, 0) * 0.25f;
    c = mix(g, rgb8(190, 70, 20), smooth(0.45f, 1.0f, t) * 0.8f);
    a = 1;
  });
  return out;
}

// The dark sun: a black disc with a thin burning rim and faint corona.
Asset blackhole() {
  Asset out{Picture("blackhole.tga", 128, 128, true), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float d = std::hypot(x - 64, y - 64);
    const float ang = std::atan2(y - 64, x - 64);
    const float corona = std::exp(-std::max(0.0f, d - 40) / 7.0f) * (0.7f + 0.3f * fbm(ang / 6.2832f + 0.5f, 0.5f, 16, 3, 821));
    const float disc = cover(d - 40);
    const float rim = std::exp(-std::pow((d - 40) / 2.0f, 2.0f));
    c = mix(mix(rgb8(255, 120, 30), rgb8(255, 220, 150), rim), rgb8(14, 4, 2), disc);
    a = std::max(disc, clamp01(corona * smooth(63, 50, d)));
  });
  return out;
}

// Lines of text centred on (cx, cy), the size fitted to the picture's width
// less a margin on each side.
Asset words(const char* name, int w, int h, const std::vector<std::string>& lines, float maxSize, float lineStep,
            float cx, float cy, float margin, Font font) {
  Asset out{Picture(name, w, h, true), {}, false};
  float size = maxSize;
  for (const auto& l : lines) size = std::min(size, fitText(l, font, w - 2 * margin, maxSize));
  std::vector<float> ys;
  const float first = cy - lineStep * (lines.size() - 1) / 2.0f;
  for (size_t i = 0; i < lines.size(); ++i) ys.push_back(first + lineStep * i);
  Field f = textField(w, h, lines, font, size, cx, ys);
  paintText(out.pic, f, {rgb8(255, 244, 224), rgb8(255, 214, 160), rgb8(40, 10, 4), 3, 0.6f, 1.5f, 2});
  return out;
}

Asset dedicated() {
  // Drawn in the screen's lower right corner: kept off the screen's right
  // edge and low enough to clear the works' roofs on the horizon.
  return words("dedicated.tga", 256, 256, {"dedicated to", "everyone", "waiting for", "the last bus"}, 32, 40, 124,
               142, 22, Font::Serif);
}

// "with love" over a small lantern glowing between the lines.
Asset love() {
  Asset out = words("love.tga", 128, 128, {"with", "love"}, 30, 34, 64, 64, 8, Font::Serif);
  Picture& p = out.pic;
  p.each([](float x, float y, Rgb& c, float& a) {
    const float d = std::hypot(x - 64, y - 104);
    const float glow = 0.8f * std::exp(-d * d / (2 * 7.0f * 7.0f));
    if (glow > 0.01f && a < glow) {
      c = mix(rgb8(255, 170, 70), rgb8(255, 240, 200), glow);
      a = glow;
    }
  });
  return out;
}

// "the end", centred on the screen: the picture is drawn from x 128 to 640,
// so the screen's middle is at 0.375 of its width.
Asset theEnd() {
  Asset out{Picture("end.tga", 512, 128, true), {}, false};
  Field f = textField(512, 128, {"the end"}, Font::Serif, 64, 192, {64}, 6);
  paintText(out.pic, f, {rgb8(255, 240, 220), rgb8(255, 190, 120), rgb8(255, 110, 30), 6, 0.45f});
  return out;
}

}  // namespace

std::vector<AssetDef> fieldAssets() {
  return {{"pole.tga", pole},           {"travka.tga", travka}, {"blackhole.tga", blackhole},
          {"dedicated.tga", dedicated}, {"love.tga", love},     {"end.tga", theEnd}};
}

}  // namespace gen
