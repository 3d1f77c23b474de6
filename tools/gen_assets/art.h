// The generator's catalogue: every picture, mask set and helper that the
// scene artwork files share.
#pragma once

#include <string>
#include <vector>

#include "tools/gen_assets/canvas.h"
#include "tools/gen_assets/noise.h"
#include "tools/gen_assets/text.h"

namespace gen {

// One generated picture: its colour file, its "mask-" file when
// pic.masked, and numbered frame masks ("mask<n>-" + name) when frames
// is not empty. tiles marks textures that repeat across their edges.
struct Asset {
  Picture pic;
  std::vector<Field> frames;
  bool tiles = false;
};

using Maker = Asset (*)();
struct AssetDef {
  const char* name;
  Maker make;
};

// Per-scene catalogues, in loading order.
std::vector<AssetDef> duskAssets();     // loading screen and scene 1
std::vector<AssetDef> weatherAssets();  // scenes 2 and 3
std::vector<AssetDef> cityAssets();     // scene 4
std::vector<AssetDef> busAssets();      // scene 5
std::vector<AssetDef> mapAssets();      // scene 6
std::vector<AssetDef> sunsetAssets();   // scene 7
std::vector<AssetDef> fieldAssets();    // scene 8
std::vector<AssetDef> allAssets();

// Shared helpers.

// Tiling cloud density 0..1 over the unit square: domain-warped fractal
// noise, cut at coverage with a soft edge of the given width.
float cloudDensity(float u, float v, int period, uint32_t seed, float coverage, float softness);

// A coverage field holding text lines centred on (cx, cy[i]).
Field textField(int w, int h, const std::vector<std::string>& lines, Font font, float size,
                float cx, const std::vector<float>& cy, float tracking = 0);

// A text picture: fill colour (optionally graded top to bottom), with a
// soft shadow or glow of glowColour around the glyphs in the mask.
struct TextStyle {
  Rgb top, bottom;
  Rgb glow;
  float glowRadius = 3;
  float glowStrength = 0.5f;
  float glowDx = 0, glowDy = 0;  // shadow offset in pixels
};
void paintText(Picture& p, const Field& cov, const TextStyle& style);

// Edges of a picture, for fadeEdges.
enum Edge : unsigned { kTop = 1, kBottom = 2, kLeft = 4, kRight = 8, kAllEdges = 15 };
// Fades the mask to exactly 0 over margin pixels towards the given edges,
// so that a glow or shadow never ends in a hard line where the picture
// stops. Edges that the screen or another layer cuts are left out.
void fadeEdges(Picture& p, float margin, unsigned edges = kAllEdges);

// The lantern of "4.tga" (ring, roof, glass, flame, frame, base, no
// chain), its glass centred on (cx, cy), scaled by s.
void paintLantern(Picture& p, float cx, float cy, float s);

// Premultiplies colour by coverage, for layers drawn additively (black
// where nothing should show).
void premultiply(Picture& p);

}  // namespace gen
