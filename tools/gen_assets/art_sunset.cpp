// Scene 7 in warm orange: the sun and its rays, warm clouds, the mountains,
// the titles and words, the two top-right images and the kestrel hovering
// in front of the sun in twelve frames.
#include <cmath>

#include "tools/gen_assets/art.h"

namespace gen {

namespace {

constexpr float kPi = 3.14159265f;

void fillAll(Picture& p, Rgb c) {
  for (auto& px : p.px) px = c;
}

Asset sun() {
  Asset out{Picture("sun.tga", 128, 128, true), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float d = std::hypot(x - 64, y - 64);
    const float disc = cover(d - 34);
    c = mix(rgb8(255, 170, 60), rgb8(255, 250, 220), smooth(34, 0, d));
    a = disc + (1 - disc) * 0.8f * std::exp(-std::pow((d - 34) / 14.0f, 2.0f)) * smooth(63, 40, d);
  });
  return out;
}

// Warm cloud layer, tiling: cream tops, peach and orange undersides.
Asset white() {
  Asset out{Picture("white.tga", 256, 256, true), {}, true};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float u = x / 256.0f, v = y / 256.0f;
    const float d = cloudDensity(u, v, 4, 701, 0.4f, 0.3f);
    const float lit = cloudDensity(u + 0.02f, v + 0.02f, 4, 701, 0.4f, 0.3f);
    c = ramp({rgb8(255, 246, 228), rgb8(255, 206, 150), rgb8(220, 120, 70)}, clamp01(0.4f + 1.5f * (d - lit) + 0.3f * d));
    a = d * 0.95f;
  });
  return out;
}

// Rays fanning out from the sun's place (the picture is drawn twice the
// size, so its centre lands on the sun's centre).
Asset sunwaves() {
  Asset out{Picture("sunwaves.tga", 256, 256, true), {}, false};
  const float cx = 0.51f * 256, cy = 0.496f * 256;
  out.pic.each([&](float x, float y, Rgb& c, float& a) {
    const float dx = x - cx, dy = y - cy, d = std::hypot(dx, dy);
    const float ang = std::atan2(dy, dx) / (2 * kPi) + 0.5f;
    const float rays = std::pow(fbm(ang, 0.5f, 24, 3, 711), 3.0f) * 3.0f;
    const float fall = std::exp(-d / 60.0f);
    const float core = std::exp(-d * d / (2 * 30.0f * 30.0f));
    a = clamp01(rays * fall * 0.9f + core * 0.6f) * smooth(128, 100, d);
    c = mix(rgb8(255, 150, 60), rgb8(255, 236, 170), core);
  });
  fadeEdges(out.pic, 4);
  return out;
}

// Three ranges of mountains, the far ones hazy and warm, the near one
// dark; the sky above them is transparent.
Asset mountains() {
  Asset out{Picture("mount.tga", 512, 256, true), {}, false};
  Picture& p = out.pic;
  fillAll(p, rgb8(150, 70, 60));
  struct Range { float base, amp; uint32_t seed; Rgb top, bottom; };
  const Range ranges[] = {{110, 70, 721, rgb8(196, 96, 78), rgb8(170, 80, 70)},
                          {150, 60, 722, rgb8(120, 50, 52), rgb8(96, 40, 44)},
                          {196, 46, 723, rgb8(52, 22, 28), rgb8(30, 12, 18)}};
  for (const Range& r : ranges) {
    p.paintShaded([&](float x, float y) {
      const float u = x / 512.0f;
      const float ridge = r.base - r.amp * ridged(u, 0.37f, 3, 5, r.seed);
      return ridge - y;
    }, [&](float x, float y) {
      // Slopes: ridged noise as light and shade, fading into the range's haze below.
      const float rock = ridged(x / 512.0f, y / 256.0f, 6, 4, r.seed + 9);
      return mix(r.top, r.bottom, smooth(r.base - r.amp, 256, y)) * (0.82f + 0.3f * rock);
    });
  }
  return out;
}

// A title in cream with a soft dark shadow, its ink centred on (cx, ys[i])
// (cx 0: the picture's middle). The text keeps clear of the picture's sides
// by the shadow's reach, and the mask fades out before every edge: the
// titles slide and grow over the sky.
Asset title(const char* name, int w, int h, const std::vector<std::string>& lines, Font font, float maxSize,
            const std::vector<float>& ys, float tracking = 0, float cx = 0) {
  Asset out{Picture(name, w, h, true), {}, false};
  const float glow = std::max(2.0f, h / 24.0f);
  float size = maxSize;
  for (const auto& l : lines) size = std::min(size, fitText(l, font, w - 8 * glow - 4, maxSize, tracking));
  Field f = textField(w, h, lines, font, size, cx > 0 ? cx : w / 2.0f, ys, tracking);
  paintText(out.pic, f, {rgb8(255, 246, 226), rgb8(255, 210, 150), rgb8(70, 20, 10), glow, 0.55f, 1.5f, 2});
  fadeEdges(out.pic, 3);
  return out;
}

// The order-20 titles are three lines shown together while the first two
// slide across each other: "kestrel" in the upper part of its picture,
// "presents" high in its own and "a night" low in its own, so that each
// line's ink clears the next one's at every place the slides reach.
Asset kestrelTitle() { return title("2kestrel.tga", 256, 128, {"kestrel"}, Font::SerifBold, 60, {40}, 2); }
Asset presents() { return title("2kest2.tga", 256, 64, {"presents"}, Font::Serif, 32, {28}, 3); }
Asset aNight() { return title("night.tga", 128, 32, {"a night"}, Font::Serif, 18, {17}, 1); }

// The order-21 words read as one line, "never lantern take", drawn with
// centres 136 and 130 units apart while each grows or shrinks about its own
// centre ("lantern" to 1.7 times its width, "take" from 1.8 to 1.2 times).
// An edge moves with the growth in proportion to its distance from the
// picture's middle, so each word's ink sits off centre: "lantern" left of
// its middle with its right edge near it, and "take" left of its middle,
// whose left edge moves right as it shrinks at about the pace of the right
// edge of "lantern": that gap stays 12 units. The gap from "never" closes
// from 26 to 9 units while both are plainly shown; "never" stands higher,
// its ink above the top of "lantern", and has faded before they would meet.
Asset lanternWord() { return title("zog.tga", 256, 64, {"lantern"}, Font::SerifBold, 32, {37}, 3, 97); }
Asset never() { return title("never.tga", 128, 32, {"never"}, Font::Serif, 20, {15}, 1, 47); }
Asset take() { return title("take.tga", 128, 32, {"take"}, Font::Serif, 20, {15}, 1, 43); }

// The tag at the top right, "kstrl", over a frame; the year picture is
// drawn inside that frame (it sits 23 units lower and 10 to the right).
Asset tag() {
  Asset out{Picture("zogcon.tga", 256, 64, true), {}, false};
  Field f = textField(256, 64, {"kstrl"}, Font::SansBold, 18, 128, {14}, 5);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 256; ++x) {
      const float frame = std::fabs(sdBox(x + 0.5f, y + 0.5f, 128, 41, 70, 15, 4)) - 1.2f;
      // The frame opens at the top where the tag stands.
      const float gap = std::fabs(x + 0.5f - 128) < 40 && y < 30 ? 0.0f : 1.0f;
      f.at(x, y) = std::max(f.at(x, y), cover(frame) * gap);
    }
  paintText(out.pic, f, {rgb8(255, 240, 210), rgb8(255, 220, 170), rgb8(90, 30, 10), 2, 0.5f, 1, 1});
  fadeEdges(out.pic, 3);
  return out;
}

Asset year() {
  Asset out{Picture("metter.tga", 256, 32, true), {}, false};
  Field f = textField(256, 32, {"2025"}, Font::Mono, 18, 118, {17}, 10);
  paintText(out.pic, f, {rgb8(255, 246, 226), rgb8(255, 220, 170), rgb8(70, 20, 10), 2, 0.5f, 1, 1});
  fadeEdges(out.pic, 3);
  return out;
}

// Kestrel outline: body, head, fanned tail, two wings raised to the given
// angle (radians, 0 level, positive up), at a scale and place in the frame.
float kestrel(float x, float y, float cx, float cy, float s, float wing, float fan) {
  const float lx = (x - cx) / s, ly = (y - cy) / s;
  float d = sdEllipse(lx, ly, 0, 0, 5, 13);
  d = std::min(d, sdCircle(lx, ly, 0, -14, 5.5f));
  d = std::min(d, sdPolygon(lx, ly, {-3, -16, 3, -16, 0, -20.5f}));  // beak
  const float tw = 3 + 5 * fan;
  d = std::min(d, sdPolygon(lx, ly, {-2.5f, 8, 2.5f, 8, tw, 26, 0, 27.5f, -tw, 26}));
  const float ax = std::fabs(lx);
  // A wing: a tapered, slightly swept shape from the shoulder.
  const float ca = std::cos(wing), sa = std::sin(wing);
  const float wx = ax - 3, wy = ly + 5;
  const float qx = wx * ca + wy * sa, qy = -wx * sa + wy * ca;  // rotated into the wing's frame
  const float span = 30;
  const float t = clamp01(qx / span);
  const float chord = lerp(7.5f, 2.0f, t * t);
  float wd = std::max(std::fabs(qy - 3 * t * t) - chord, std::max(-qx, qx - span));
  // Primary feathers at the tip, slightly spread.
  for (int k = 0; k < 3; ++k) wd = std::min(wd, sdTaper(qx, qy, span - 6, 1.5f + k * 1.8f - 1.5f, span + 3 - k, 2.0f + k * 3.0f - 2.0f, 1.3f, 0.5f));
  d = std::min(d, wd);
  return d * s;
}

// The kestrel in front of the sun: one colour picture (a dark silhouette
// with a warm rim), twelve masks: frames 0 to 6 fly in from the far upper
// right, frames 7 to 11 beat the wings while it hovers.
Asset stageImage() {
  Asset out{Picture("stage-image.tga", 128, 128, false), {}, false};
  out.pic.each([](float x, float y, Rgb& c, float& a) {
    const float d = std::hypot(x - 64, y - 60);
    c = mix(rgb8(40, 18, 12), rgb8(110, 50, 24), smooth(20, 50, d));
    a = 1;
  });
  struct Pose { float cx, cy, s, wing, fan; };
  const Pose poses[12] = {
      {104, 22, 0.35f, 0.6f, 0.2f}, {99, 27, 0.45f, -0.3f, 0.2f}, {94, 33, 0.55f, 0.5f, 0.3f},
      {88, 40, 0.66f, -0.2f, 0.3f}, {80, 46, 0.78f, 0.45f, 0.5f},  {72, 52, 0.9f, 0.0f, 0.6f},
      {66, 57, 1.0f, 0.3f, 0.8f},   {64, 58, 1.05f, 0.75f, 1.0f},  {64, 58, 1.05f, 0.4f, 1.0f},
      {64, 59, 1.05f, 0.05f, 1.0f}, {64, 60, 1.05f, -0.3f, 1.0f},  {64, 60, 1.05f, -0.6f, 1.0f}};
  for (const Pose& ps : poses) {
    Field m(128, 128);
    for (int y = 0; y < 128; ++y)
      for (int x = 0; x < 128; ++x) m.at(x, y) = cover(kestrel(x + 0.5f, y + 0.5f, ps.cx, ps.cy, ps.s * 1.45f, ps.wing, ps.fan));
    out.frames.push_back(m);
  }
  return out;
}

}  // namespace

std::vector<AssetDef> sunsetAssets() {
  return {{"sun.tga", sun},           {"white.tga", white},       {"sunwaves.tga", sunwaves}, {"mount.tga", mountains},
          {"2kestrel.tga", kestrelTitle}, {"2kest2.tga", presents}, {"zog.tga", lanternWord},  {"night.tga", aNight},
          {"never.tga", never},       {"take.tga", take},         {"zogcon.tga", tag},        {"metter.tga", year},
          {"stage-image.tga", stageImage}};
}

}  // namespace gen
