// Contact sheet: flow layout of tiles, each a picture (or one frame of a
// frame set) scaled to fit, over a checkerboard, with its name set below.
#include "tools/gen_assets/contact_sheet.h"

#include <png.h>

#include <algorithm>
#include <cmath>

namespace gen {

namespace {

struct Tile {
  std::string label;
  int w = 0, h = 0;
  std::vector<Rgb> px;
};

constexpr int kLabel = 18;
constexpr int kGap = 8;
constexpr int kSheetWidth = 1640;

// The picture (with an optional replacement mask) scaled by area averaging
// into a box, composited over a checkerboard.
Tile pictureTile(const Picture& p, const std::vector<float>* mask, bool useMask, const std::string& label) {
  const int maxW = (p.w >= 4 * p.h && p.w > 256) ? 528 : 256;
  float scale = std::min({static_cast<float>(maxW) / p.w, 256.0f / p.h, 2.0f});
  Tile t;
  t.label = label;
  t.w = std::max(1, static_cast<int>(std::lround(p.w * scale)));
  t.h = std::max(1, static_cast<int>(std::lround(p.h * scale)));
  t.px.resize(static_cast<size_t>(t.w) * t.h);
  const float sx = static_cast<float>(p.w) / t.w, sy = static_cast<float>(p.h) / t.h;
  for (int y = 0; y < t.h; ++y)
    for (int x = 0; x < t.w; ++x) {
      const int x0 = static_cast<int>(x * sx), x1 = std::max(x0 + 1, static_cast<int>((x + 1) * sx));
      const int y0 = static_cast<int>(y * sy), y1 = std::max(y0 + 1, static_cast<int>((y + 1) * sy));
      Rgb sum;
      float asum = 0;
      int n = 0;
      for (int yy = y0; yy < std::min(y1, p.h); ++yy)
        for (int xx = x0; xx < std::min(x1, p.w); ++xx) {
          const size_t i = static_cast<size_t>(yy) * p.w + xx;
          const float a = useMask ? (mask ? (*mask)[i] : p.a[i]) : 1.0f;
          sum = sum + p.px[i] * a;
          asum += a;
          ++n;
        }
      const bool light = ((x / 8) + (y / 8)) % 2 == 0;
      const Rgb check = light ? rgb8(150, 150, 150) : rgb8(105, 105, 105);
      const float a = asum / std::max(1, n);
      const Rgb colour = asum > 0 ? sum * (1.0f / asum) : Rgb{};
      t.px[static_cast<size_t>(y) * t.w + x] = mix(check, colour, a);
    }
  return t;
}

// Front view of a mesh (model x across, model z up): black triangles on orange.
Tile meshTile(const MeshData& m) {
  Tile t;
  t.label = m.name;
  t.w = 256;
  t.h = 256;
  t.px.assign(static_cast<size_t>(t.w) * t.h, rgb8(186, 38, 0));
  float minX = 1e9f, maxX = -1e9f, minZ = 1e9f, maxZ = -1e9f;
  for (size_t i = 0; i < m.xyz.size(); i += 3) {
    minX = std::min(minX, m.xyz[i]);
    maxX = std::max(maxX, m.xyz[i]);
    minZ = std::min(minZ, m.xyz[i + 2]);
    maxZ = std::max(maxZ, m.xyz[i + 2]);
  }
  const float s = 236.0f / std::max(maxX - minX, maxZ - minZ);
  const float ox = (256 - (maxX - minX) * s) / 2, oy = 246;
  auto px = [&](uint16_t v) { return ox + (m.xyz[3 * v] - minX) * s; };
  auto py = [&](uint16_t v) { return oy - (m.xyz[3 * v + 2] - minZ) * s; };
  for (int y = 0; y < t.h; ++y)
    for (int x = 0; x < t.w; ++x) {
      const float cx = x + 0.5f, cy = y + 0.5f;
      for (size_t f = 0; f < m.faces.size(); f += 3) {
        const float ax = px(m.faces[f]), ay = py(m.faces[f]);
        const float bx = px(m.faces[f + 1]), by = py(m.faces[f + 1]);
        const float qx = px(m.faces[f + 2]), qy = py(m.faces[f + 2]);
        const float e0 = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
        const float e1 = (qx - bx) * (cy - by) - (qy - by) * (cx - bx);
        const float e2 = (ax - qx) * (cy - qy) - (ay - qy) * (cx - qx);
        if ((e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0)) {
          t.px[static_cast<size_t>(y) * t.w + x] = Rgb{};
          break;
        }
      }
    }
  return t;
}

}  // namespace

bool writeContactSheet(const std::string& path, const std::vector<Asset>& assets,
                       const std::vector<MeshData>& meshes) {
  std::vector<Tile> tiles;
  for (const Asset& a : assets) {
    tiles.push_back(pictureTile(a.pic, nullptr, a.pic.masked, a.pic.name));
    for (size_t n = 0; n < a.frames.size(); ++n)
      tiles.push_back(pictureTile(a.pic, &a.frames[n].v, true, "mask" + std::to_string(n) + "-" + a.pic.name));
  }
  for (const MeshData& m : meshes) tiles.push_back(meshTile(m));

  // Flow layout.
  struct Place { int x, y; };
  std::vector<Place> places;
  int x = kGap, y = kGap, rowH = 0;
  for (const Tile& t : tiles) {
    if (x + t.w + kGap > kSheetWidth) {
      x = kGap;
      y += rowH + kLabel + kGap;
      rowH = 0;
    }
    places.push_back({x, y});
    x += std::max(t.w, 96) + kGap;
    rowH = std::max(rowH, t.h);
  }
  const int height = y + rowH + kLabel + kGap;
  Picture sheet("sheet", kSheetWidth, height, false);
  for (auto& c : sheet.px) c = rgb8(32, 32, 36);
  for (size_t i = 0; i < tiles.size(); ++i) {
    const Tile& t = tiles[i];
    for (int ty = 0; ty < t.h; ++ty)
      for (int tx = 0; tx < t.w; ++tx) sheet.at(places[i].x + tx, places[i].y + ty) = t.px[static_cast<size_t>(ty) * t.w + tx];
    Field label(std::max(t.w, 96) + kGap, kLabel);
    const float size = fitText(t.label, Font::Sans, static_cast<float>(label.w - 2), 12);
    drawText(label, t.label, Font::Sans, size, label.w / 2.0f - kGap / 2.0f, kLabel / 2.0f);
    for (int ly = 0; ly < label.h; ++ly)
      for (int lx = 0; lx < label.w; ++lx) {
        const int sx = places[i].x + lx, sy = places[i].y + t.h + ly;
        if (sx < sheet.w && sy < sheet.h) sheet.at(sx, sy) = mix(sheet.at(sx, sy), rgb8(230, 230, 230), label.at(lx, ly));
      }
  }
  std::vector<unsigned char> bytes(static_cast<size_t>(sheet.w) * sheet.h * 3);
  for (size_t i = 0; i < sheet.px.size(); ++i) {
    bytes[3 * i] = toByte(sheet.px[i].r);
    bytes[3 * i + 1] = toByte(sheet.px[i].g);
    bytes[3 * i + 2] = toByte(sheet.px[i].b);
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(sheet.w);
  image.height = static_cast<png_uint_32>(sheet.h);
  image.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), 0, nullptr) != 0;
}

}  // namespace gen
