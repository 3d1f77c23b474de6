// The generated data set: every file the load functions open, with the
// right Targa layout and size, real content, tiling where textures repeat,
// identical bytes on every run, and meshes that stand in the last scene's view.
#include <gtest/gtest.h>
#include <png.h>

#include "platform/gl.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "render/render_state.h"
#include "render/screen_quad.h"
#include "resources/texture_loader.h"
#include "scenes/scene7.h"
#include "scenes/scenes.h"
#include "tests/support/gl_harness.h"
#include "timeline/sequencer.h"

namespace fs = std::filesystem;

namespace {

const std::string kData = LANTERN_DATA_DIR;

// What the load functions open: file, width, height, mask flag.
struct Wanted {
  const char* name;
  int w, h, mask;
};
const Wanted kPictures[] = {
    {"loading.tga", 512, 128, 0},
    // Scene 1.
    {"cloud-b.tga", 256, 256, 1}, {"2.tga", 256, 256, 1}, {"4.tga", 256, 256, 1}, {"rightback.tga", 512, 256, 0},
    {"5.tga", 256, 256, 1}, {"6.tga", 256, 256, 1},
    // Scenes 2 and 3.
    {"farsky.tga", 256, 256, 0}, {"snowdrop.tga", 64, 64, 0}, {"guy.tga", 256, 256, 1}, {"rainb.tga", 640, 480, 0},
    // Scene 4.
    {"windows.tga", 256, 256, 0}, {"blue.tga", 256, 256, 0}, {"roundbox.tga", 256, 256, 1},
    {"outsidecity.tga", 512, 64, 0}, {"darksky.tga", 256, 256, 1}, {"cinema.tga", 512, 32, 1},
    {"moscow.tga", 1024, 32, 1}, {"goright.tga", 512, 32, 1}, {"nightup.tga", 256, 128, 1},
    {"metros.tga", 256, 16, 1}, {"700.tga", 128, 128, 1},
    // Scene 5.
    {"512cloud.tga", 256, 256, 1}, {"bus-front.tga", 64, 128, 0}, {"border.tga", 512, 16, 0},
    {"bus-left.tga", 512, 128, 0}, {"man.tga", 256, 256, 1}, {"backgr.tga", 512, 128, 1}, {"road.tga", 256, 128, 0},
    {"rain.tga", 16, 256, 1}, {"fara.tga", 128, 64, 0}, {"lighter.tga", 128, 256, 1}, {"bus-back.tga", 64, 128, 0},
    // Scene 6.
    {"plane.tga", 256, 256, 1}, {"map.tga", 512, 512, 0}, {"1.tga", 256, 256, 0},
    // Scene 7.
    {"sun.tga", 128, 128, 1}, {"white.tga", 256, 256, 1}, {"sunwaves.tga", 256, 256, 1}, {"mount.tga", 512, 256, 1},
    {"2kestrel.tga", 256, 128, 1}, {"2kest2.tga", 256, 64, 1}, {"zog.tga", 256, 64, 1}, {"night.tga", 128, 32, 1},
    {"never.tga", 128, 32, 1}, {"take.tga", 128, 32, 1}, {"zogcon.tga", 256, 64, 1}, {"metter.tga", 256, 32, 1},
    // Scene 8.
    {"pole.tga", 256, 256, 1}, {"travka.tga", 256, 256, 0}, {"blackhole.tga", 128, 128, 1},
    {"dedicated.tga", 256, 256, 1}, {"love.tga", 128, 128, 1}, {"end.tga", 512, 128, 1},
};
struct Frames {
  const char* name;
  int w, h, count;
};
const Frames kFrameSets[] = {{"times.tga", 64, 64, 8}, {"stage-image.tga", 128, 128, 12}};

// Textures the scenes scroll or repeat: (name, tiles across, tiles down).
struct Tiling {
  const char* name;
  bool across, down;
};
const Tiling kTiling[] = {{"cloud-b.tga", true, true}, {"farsky.tga", true, true}, {"outsidecity.tga", true, false},
                          {"512cloud.tga", true, true}, {"map.tga", true, true}, {"1.tga", true, true},
                          {"white.tga", true, true}};

// A Targa file read whole: header fields and the pixel bytes, first row first.
struct Tga {
  bool ok = false;
  int idLength = 0, mapType = 0, type = 0, w = 0, h = 0, bits = 0, descriptor = 0;
  size_t fileSize = 0;
  std::vector<uint8_t> px;
  int channels() const { return bits / 8; }
  uint8_t at(int x, int row, int c) const { return px[(static_cast<size_t>(row) * w + x) * channels() + c]; }
};

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Tga ReadTga(const std::string& path) {
  Tga t;
  const std::vector<uint8_t> b = ReadAll(path);
  t.fileSize = b.size();
  if (b.size() < 18) return t;
  t.idLength = b[0];
  t.mapType = b[1];
  t.type = b[2];
  t.w = b[12] | (b[13] << 8);
  t.h = b[14] | (b[15] << 8);
  t.bits = b[16];
  t.descriptor = b[17];
  t.px.assign(b.begin() + 18, b.end());
  t.ok = true;
  return t;
}

// Mean absolute difference between two columns (or rows) of a picture, over all channels.
double LineDiff(const Tga& t, bool columns, int a, int b) {
  double sum = 0;
  const int n = columns ? t.h : t.w;
  for (int i = 0; i < n; ++i)
    for (int c = 0; c < t.channels(); ++c) {
      const int va = columns ? t.at(a, i, c) : t.at(i, a, c);
      const int vb = columns ? t.at(b, i, c) : t.at(i, b, c);
      sum += std::abs(va - vb);
    }
  return sum / (n * t.channels());
}

// The seam across an edge compared with the picture's own neighbour-to-neighbour change.
void ExpectSeamless(const Tga& t, bool columns, const std::string& what) {
  const int n = columns ? t.w : t.h;
  double inner = 0;
  for (int i = 0; i + 1 < n; ++i) inner += LineDiff(t, columns, i, i + 1);
  inner /= (n - 1);
  const double seam = LineDiff(t, columns, n - 1, 0);
  EXPECT_LE(seam, 2.5 * inner + 1.0) << what << (columns ? " left/right" : " top/bottom") << " seam " << seam
                                     << " against " << inner << " inside";
}

TEST(AssetFiles, EveryPictureTheScenesLoadIsATargaOfTheCallersSize) {
  for (const Wanted& w : kPictures) {
    SCOPED_TRACE(w.name);
    const Tga t = ReadTga(kData + "/" + w.name);
    ASSERT_TRUE(t.ok) << "missing or empty";
    EXPECT_EQ(t.type, 2);
    EXPECT_EQ(t.bits, 24);
    EXPECT_EQ(t.idLength, 0);
    EXPECT_EQ(t.mapType, 0);
    EXPECT_EQ(t.descriptor & 0x30, 0) << "rows must be stored bottom first";
    EXPECT_EQ(t.w, w.w);
    EXPECT_EQ(t.h, w.h);
    EXPECT_EQ(t.fileSize, 18u + static_cast<size_t>(w.w) * w.h * 3);
    if (w.mask == 1) {
      const Tga m = ReadTga(kData + "/mask-" + w.name);
      ASSERT_TRUE(m.ok) << "mask missing";
      EXPECT_EQ(m.type, 3);
      EXPECT_EQ(m.bits, 8);
      EXPECT_EQ(m.idLength, 0);
      EXPECT_EQ(m.w, w.w);
      EXPECT_EQ(m.h, w.h);
      EXPECT_EQ(m.fileSize, 18u + static_cast<size_t>(w.w) * w.h);
    }
  }
  for (const Frames& f : kFrameSets) {
    const Tga t = ReadTga(kData + "/" + f.name);
    ASSERT_TRUE(t.ok) << f.name;
    EXPECT_EQ(t.w, f.w);
    EXPECT_EQ(t.h, f.h);
    for (int n = 0; n < f.count; ++n) {
      const Tga m = ReadTga(kData + "/mask" + std::to_string(n) + "-" + f.name);
      ASSERT_TRUE(m.ok) << "frame mask " << n << " of " << f.name;
      EXPECT_EQ(m.type, 3);
      EXPECT_EQ(m.w, f.w);
      EXPECT_EQ(m.h, f.h);
      EXPECT_EQ(m.fileSize, 18u + static_cast<size_t>(f.w) * f.h);
    }
  }
}

TEST(AssetFiles, MasksExistExactlyWhereTheLoadersReadThem) {
  std::set<std::string> expected;
  for (const Wanted& w : kPictures)
    if (w.mask == 1) expected.insert(std::string("mask-") + w.name);
  for (const Frames& f : kFrameSets)
    for (int n = 0; n < f.count; ++n) expected.insert("mask" + std::to_string(n) + "-" + f.name);
  std::set<std::string> found;
  for (const auto& e : fs::directory_iterator(kData)) {
    const std::string n = e.path().filename().string();
    if (n.rfind("mask", 0) == 0) found.insert(n);
  }
  EXPECT_EQ(found, expected);
}

TEST(AssetContent, NoPictureIsFlatAndShapeMasksCutAShape) {
  for (const Wanted& w : kPictures) {
    SCOPED_TRACE(w.name);
    const Tga t = ReadTga(kData + "/" + w.name);
    ASSERT_TRUE(t.ok);
    int lo = 255, hi = 0;
    for (uint8_t v : t.px) {
      lo = std::min<int>(lo, v);
      hi = std::max<int>(hi, v);
    }
    EXPECT_GT(hi - lo, 40) << "colour is nearly flat";
    if (w.mask != 1) continue;
    const Tga m = ReadTga(kData + "/mask-" + w.name);
    ASSERT_TRUE(m.ok);
    int mlo = 255, mhi = 0;
    for (uint8_t v : m.px) {
      mlo = std::min<int>(mlo, v);
      mhi = std::max<int>(mhi, v);
    }
    // The cloud ceiling covers the whole sky, thinly in places; all others cut shapes.
    if (std::string(w.name) != "512cloud.tga") {
      EXPECT_LE(mlo, 8) << "mask has no transparent part";
    }
    EXPECT_GE(mhi, 180) << "mask has no opaque part";
  }
}

TEST(AssetContent, FrameMasksAllDifferAndEachCutsAShape) {
  for (const Frames& f : kFrameSets) {
    std::vector<std::vector<uint8_t>> masks;
    for (int n = 0; n < f.count; ++n) {
      const Tga m = ReadTga(kData + "/mask" + std::to_string(n) + "-" + f.name);
      ASSERT_TRUE(m.ok);
      EXPECT_EQ(*std::min_element(m.px.begin(), m.px.end()), 0) << f.name << " frame " << n;
      EXPECT_EQ(*std::max_element(m.px.begin(), m.px.end()), 255) << f.name << " frame " << n;
      masks.push_back(m.px);
    }
    for (int a = 0; a < f.count; ++a)
      for (int b = a + 1; b < f.count; ++b) {
        size_t differing = 0;
        for (size_t i = 0; i < masks[a].size(); ++i) differing += std::abs(masks[a][i] - masks[b][i]) > 64;
        EXPECT_GT(differing, masks[a].size() / 200) << f.name << " frames " << a << " and " << b << " look alike";
      }
  }
}

TEST(AssetContent, RepeatingTexturesTileWithoutSeams) {
  for (const Tiling& t : kTiling) {
    const Tga c = ReadTga(kData + "/" + t.name);
    ASSERT_TRUE(c.ok) << t.name;
    if (t.across) ExpectSeamless(c, true, t.name);
    if (t.down) ExpectSeamless(c, false, t.name);
    const Tga m = ReadTga(kData + "/mask-" + t.name);
    if (!m.ok) continue;
    if (t.across) ExpectSeamless(m, true, std::string("mask-") + t.name);
    if (t.down) ExpectSeamless(m, false, std::string("mask-") + t.name);
  }
}

// Pictures drawn on their own over a scene, and the edges of each whose mask
// must have faded to nothing, so that no glow or shadow ends in a hard line
// where the picture stops. An edge that lies on or beyond the screen's edge
// where the scene draws it (or under another layer) is left out; tiling
// layers and full-width strips are not listed. band: outer rows that must
// all be clear (wide for glows, which must end well inside).
enum : unsigned { kTop = 1, kBottom = 2, kLeft = 4, kRight = 8, kAll = 15 };
struct ClearEdges {
  std::string mask;
  unsigned edges;
  int band;
};
std::vector<ClearEdges> FreeStandingMasks() {
  std::vector<ClearEdges> v = {
      // Scene 1: the hanging lantern and the branch come down from above the screen.
      {"mask-2.tga", kAll, 1}, {"mask-4.tga", kBottom | kLeft | kRight, 8}, {"mask-5.tga", kAll, 1},
      {"mask-6.tga", kBottom | kLeft | kRight, 1},
      // Scene 2: the figure stands in the lower right corner of the screen.
      {"mask-guy.tga", kTop | kLeft, 1},
      // Scene 4: haze and sky squares, the sign at the left edge, the strips.
      {"mask-roundbox.tga", kAll, 1}, {"mask-darksky.tga", kAll, 1}, {"mask-nightup.tga", kTop | kBottom | kRight, 1},
      {"mask-moscow.tga", kAll, 1}, {"mask-goright.tga", kTop | kBottom | kRight, 1}, {"mask-metros.tga", kAll, 1},
      {"mask-700.tga", kAll, 1},
      // Scene 5: the figure, the lamp (whose halo must end well inside), the rain streak.
      {"mask-man.tga", kAll, 1}, {"mask-lighter.tga", kAll, 8}, {"mask-rain.tga", kAll, 1},
      // Scene 6.
      {"mask-plane.tga", kAll, 1},
      // Scene 7: the tag and year run off the right edge; the mountains fill the bottom.
      {"mask-sun.tga", kAll, 1}, {"mask-sunwaves.tga", kAll, 1}, {"mask-mount.tga", kTop, 1},
      {"mask-2kestrel.tga", kAll, 1}, {"mask-2kest2.tga", kAll, 1}, {"mask-zog.tga", kAll, 1},
      {"mask-night.tga", kAll, 1}, {"mask-never.tga", kAll, 1}, {"mask-take.tga", kAll, 1},
      {"mask-zogcon.tga", kTop | kBottom | kLeft, 1}, {"mask-metter.tga", kTop | kBottom | kLeft, 1},
      // Scene 8: the words stand in the corners of the screen.
      {"mask-blackhole.tga", kAll, 1}, {"mask-dedicated.tga", kTop | kLeft, 1}, {"mask-love.tga", kTop | kRight, 1},
      {"mask-end.tga", kTop | kBottom | kLeft, 1},
  };
  for (int n = 0; n < 8; ++n) v.push_back({"mask" + std::to_string(n) + "-times.tga", kAll, 1});
  for (int n = 0; n < 12; ++n) v.push_back({"mask" + std::to_string(n) + "-stage-image.tga", kAll, 1});
  return v;
}

TEST(AssetContent, OverlayMasksFadeOutBeforeTheirFreeEdges) {
  for (const ClearEdges& c : FreeStandingMasks()) {
    SCOPED_TRACE(c.mask);
    const Tga m = ReadTga(kData + "/" + c.mask);
    ASSERT_TRUE(m.ok);
    ASSERT_EQ(m.channels(), 1);
    // File rows run bottom first: the picture's top edge is the last row.
    int worst = 0, wx = 0, wrow = 0;
    for (int row = 0; row < m.h; ++row)
      for (int x = 0; x < m.w; ++x) {
        const bool near = ((c.edges & kBottom) && row < c.band) || ((c.edges & kTop) && row >= m.h - c.band) ||
                          ((c.edges & kLeft) && x < c.band) || ((c.edges & kRight) && x >= m.w - c.band);
        if (near && m.at(x, row, 0) > worst) {
          worst = m.at(x, row, 0);
          wx = x;
          wrow = row;
        }
      }
    EXPECT_EQ(worst, 0) << "alpha " << worst << " at x " << wx << ", file row " << wrow;
  }
}

TEST(AssetContent, LayersAndSampledTexelsSuitHowTheScenesDrawThem) {
  // Additive layers are black where nothing should show.
  const Tga flake = ReadTga(kData + "/snowdrop.tga");
  ASSERT_TRUE(flake.ok);
  for (int c = 0; c < 3; ++c) EXPECT_LE(flake.at(0, 0, c), 4);
  EXPECT_GE(flake.at(32, 32, 0), 200);
  const Tga beam = ReadTga(kData + "/fara.tga");
  ASSERT_TRUE(beam.ok);
  EXPECT_LE(beam.at(0, 32, 0), 4) << "far end of the beam must fade to black";
  EXPECT_GE(beam.at(127, 32, 0), 150) << "the beam is bright at the lamp";
  // The aircraft's colour is premultiplied by its mask.
  const Tga plane = ReadTga(kData + "/plane.tga"), planeMask = ReadTga(kData + "/mask-plane.tga");
  ASSERT_TRUE(plane.ok && planeMask.ok);
  for (int row = 0; row < 256; ++row)
    for (int x = 0; x < 256; ++x)
      if (planeMask.at(x, row, 0) == 0) {
        ASSERT_EQ(plane.at(x, row, 2), 0) << x << "," << row;
      }
  // The floor of the city takes blue.tga's corner: a dark blue (file bytes are blue, green, red).
  const Tga blue = ReadTga(kData + "/blue.tga");
  ASSERT_TRUE(blue.ok);
  for (auto [x, row] : {std::pair{0, 0}, std::pair{255, 0}, std::pair{0, 255}, std::pair{255, 255}}) {
    EXPECT_GT(blue.at(x, row, 0), 60);
    EXPECT_LT(blue.at(x, row, 0), 140);
    EXPECT_GT(blue.at(x, row, 0), 2 * blue.at(x, row, 2));
  }
  // The bus body takes loading.tga's corner: a mid-dark neutral grey.
  const Tga loading = ReadTga(kData + "/loading.tga");
  ASSERT_TRUE(loading.ok);
  for (auto [x, row] : {std::pair{0, 0}, std::pair{511, 0}, std::pair{0, 127}, std::pair{511, 127}}) {
    const int b = loading.at(x, row, 0), g = loading.at(x, row, 1), r = loading.at(x, row, 2);
    EXPECT_GT(g, 30);
    EXPECT_LT(g, 120);
    EXPECT_LT(std::abs(r - g) + std::abs(b - g), 20);
  }
  // The backdrop is stored upright, bottom row first: dark street first, sky last.
  const Tga back = ReadTga(kData + "/rightback.tga");
  ASSERT_TRUE(back.ok);
  EXPECT_GT(back.at(256, 255, 0), 80) << "top row is the deep blue sky";
  EXPECT_LT(back.at(256, 0, 0) + back.at(256, 0, 1) + back.at(256, 0, 2), 120) << "bottom row is the dark street";
}

TEST(AssetGenerator, TwoRunsWriteIdenticalBytes) {
  const std::string tool = std::string(LANTERN_BUILD_DIR) + "/lantern-gen-assets";
  const fs::path base = fs::temp_directory_path() / ("lantern-assets-" + std::to_string(getpid()));
  fs::remove_all(base);
  const std::string a = (base / "a").string(), b = (base / "b").string();
  ASSERT_EQ(std::system((tool + " --out " + a + " > /dev/null").c_str()), 0);
  ASSERT_EQ(std::system(("LC_ALL=C.UTF-8 TZ=Asia/Tokyo " + tool + " --out " + b + " > /dev/null").c_str()), 0);
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(a)) {
    const std::string name = e.path().filename().string();
    EXPECT_EQ(ReadAll(e.path().string()), ReadAll(b + "/" + name)) << name;
    // And the same bytes as the build's data set.
    EXPECT_EQ(ReadAll(e.path().string()), ReadAll(kData + "/" + name)) << name << " differs from the build's copy";
    ++files;
  }
  size_t expected = 2;  // the two meshes
  for (const Wanted& w : kPictures) expected += w.mask == 1 ? 2 : 1;
  for (const Frames& f : kFrameSets) expected += 1 + static_cast<size_t>(f.count);
  EXPECT_EQ(files, expected) << "the generator writes files nothing opens, or misses some";
  fs::remove_all(base);
}

// The program's icon in every hicolor size: a PNG of that size, the same
// bytes on every run and in the build, transparent corners, an opaque dusk
// square, and the lantern's glowing glass at its centre. The Windows .ico
// repeats exactly too, lists the Windows sizes, and holds bitmaps (bottom
// row first, BGRA) with the same pixels as the PNG of that size. The web
// page's home-screen icons repeat too; those phones cut their own outline
// from are opaque to the corners, and the maskable ones keep the lantern
// inside the central circle every mask leaves.
TEST(AssetIcons, EverySizeIsTheLanternOnADuskSquareAndRepeatsExactly) {
  const std::string tool = std::string(LANTERN_BUILD_DIR) + "/lantern-gen-assets";
  const fs::path base = fs::temp_directory_path() / ("lantern-icons-" + std::to_string(getpid()));
  fs::remove_all(base);
  const std::string a = (base / "a").string(), b = (base / "b").string();
  ASSERT_EQ(std::system((tool + " --icons " + a).c_str()), 0);
  ASSERT_EQ(std::system(("LC_ALL=C.UTF-8 TZ=Asia/Tokyo " + tool + " --icons " + b).c_str()), 0);
  // The icon at rel, the same in both runs and the build, as RGBA of
  // size by size; empty on any difference.
  auto icon = [&](const std::string& rel, int size) {
    const std::vector<uint8_t> bytes = ReadAll(a + rel);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::vector<uint8_t> rgba;
    if (bytes.empty() || bytes != ReadAll(b + rel) || bytes != ReadAll(std::string(LANTERN_BUILD_DIR) + "/icons" + rel) ||
        !png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) ||
        image.width != static_cast<png_uint_32>(size) || image.height != static_cast<png_uint_32>(size))
      return rgba;
    image.format = PNG_FORMAT_RGBA;
    rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) rgba.clear();
    return rgba;
  };
  std::vector<uint8_t> png32;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const std::string rel = "/hicolor/" + std::to_string(size) + "x" + std::to_string(size) + "/apps/lantern.png";
    const std::vector<uint8_t> rgba = icon(rel, size);
    ASSERT_FALSE(rgba.empty()) << rel << " is missing, of another size, or differs between runs or from the build's";
    auto px = [&](double fx, double fy, int c) {
      const int x = static_cast<int>(fx * size), y = static_cast<int>(fy * size);
      return static_cast<int>(rgba[(static_cast<size_t>(y) * size + x) * 4 + c]);
    };
    EXPECT_EQ(px(0, 0, 3), 0) << rel << ": corner";
    EXPECT_EQ(px(0.99, 0.99, 3), 0) << rel << ": corner";
    EXPECT_EQ(px(0.2, 0.15, 3), 255) << rel << ": square";
    EXPECT_GT(px(0.2, 0.15, 2), px(0.2, 0.15, 0)) << rel << ": dusk blue at the top";
    // The glass, just below the centre: warm and bright.
    EXPECT_EQ(px(0.42, 0.62, 3), 255) << rel;
    EXPECT_GT(px(0.42, 0.62, 0), 200) << rel;
    EXPECT_GT(px(0.42, 0.62, 0), px(0.42, 0.62, 2)) << rel;
    if (size == 32) png32 = rgba;
  }
  const std::vector<uint8_t> ico = ReadAll(a + "/lantern.ico");
  EXPECT_EQ(ico, ReadAll(b + "/lantern.ico"));
  EXPECT_EQ(ico, ReadAll(std::string(LANTERN_BUILD_DIR) + "/icons/lantern.ico"));
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(ico.at(at) | ico.at(at + 1) << 8 | ico.at(at + 2) << 16 | ico.at(at + 3) << 24);
  };
  ASSERT_EQ(u32(2), 1u | 8u << 16) << "an icon of 8 images";
  const uint32_t sizes[8] = {16, 20, 24, 32, 40, 48, 64, 256};
  for (uint32_t i = 0; i < 8; ++i) {
    const uint32_t n = sizes[i], at = u32(6 + 16 * i + 12);
    EXPECT_EQ(ico.at(6 + 16 * i), n & 0xFF);
    ASSERT_LE(at + u32(6 + 16 * i + 8), ico.size());
    if (n == 256) {
      EXPECT_EQ(std::memcmp(&ico[at], "\x89PNG", 4), 0) << "the 256-pixel image is not PNG";
    }
    if (n != 32) continue;
    ASSERT_EQ(u32(at + 8), 64u) << "a bitmap of colours and mask";
    for (uint32_t p = 0; p < n * n; ++p) {  // bottom row first, BGRA
      const uint8_t* bgra = &ico[at + 40 + ((n - 1 - p / n) * n + p % n) * 4];
      ASSERT_TRUE(bgra[0] == png32[p * 4 + 2] && bgra[1] == png32[p * 4 + 1] && bgra[2] == png32[p * 4] &&
                  bgra[3] == png32[p * 4 + 3])
          << "the 32-pixel bitmap differs from the PNG at pixel " << p;
    }
  }
  struct Web {
    const char* name;
    int size;
    bool opaque;     // dusk to the corners
    float lantern;   // the lantern's size against the desktop icon's
  };
  const Web web[] = {{"icon-192.png", 192, false, 1},         {"icon-512.png", 512, false, 1},
                     {"icon-maskable-192.png", 192, true, 0.76f}, {"icon-maskable-512.png", 512, true, 0.76f},
                     {"apple-touch-icon.png", 180, true, 1}};
  for (const Web& w : web) {
    const std::string rel = std::string("/web/") + w.name;
    const std::vector<uint8_t> rgba = icon(rel, w.size);
    ASSERT_FALSE(rgba.empty()) << rel << " is missing, of another size, or differs between runs or from the build's";
    auto px = [&](double fx, double fy, int c) {
      const int x = static_cast<int>(fx * w.size), y = static_cast<int>(fy * w.size);
      return static_cast<int>(rgba[(static_cast<size_t>(y) * w.size + x) * 4 + c]);
    };
    EXPECT_EQ(px(0, 0, 3), w.opaque ? 255 : 0) << rel << ": corner";
    EXPECT_EQ(px(0.99, 0.99, 3), w.opaque ? 255 : 0) << rel << ": corner";
    // The glass, warm and bright, where the desktop icon's is for its size.
    const double gx = 0.5 - 0.08 * w.lantern, gy = 0.5 + 0.12 * w.lantern;
    EXPECT_GT(px(gx, gy, 0), 200) << rel;
    EXPECT_GT(px(gx, gy, 0), px(gx, gy, 2)) << rel;
    if (w.lantern < 1) {
      // Nothing of the lantern but its chain (above the middle, a few
      // pixels either side of it) outside the circle of 40 % of the side:
      // dusk there.
      for (int y = 0; y < w.size; ++y)
        for (int x = 0; x < w.size; ++x) {
          const double dx = (x + 0.5) / w.size - 0.5, dy = (y + 0.5) / w.size - 0.5;
          if (std::hypot(dx, dy) <= 0.4 || (dy < 0 && std::abs(dx) < 0.02)) continue;
          const uint8_t* p = &rgba[(static_cast<size_t>(y) * w.size + x) * 4];
          ASSERT_GE(p[2], 50)
              << rel << ": the lantern's dark frame reaches " << x << "," << y << " outside the safe circle";
        }
    }
  }
  fs::remove_all(base);
}

// Meshes in the ".3d" format.
struct MeshFile {
  bool ok = false;
  std::vector<float> xyz;
  std::vector<uint16_t> faces;
  size_t size = 0;
};

MeshFile ReadMesh(const std::string& path) {
  MeshFile m;
  const std::vector<uint8_t> b = ReadAll(path);
  m.size = b.size();
  if (b.size() < 4) return m;
  const size_t nv = b[0] | (b[1] << 8);
  if (b.size() < 4 + 12 * nv) return m;
  m.xyz.resize(nv * 3);
  std::memcpy(m.xyz.data(), b.data() + 2, nv * 12);
  const size_t at = 2 + nv * 12;
  const size_t nf = b[at] | (b[at + 1] << 8);
  if (b.size() != at + 2 + nf * 8) return m;
  for (size_t f = 0; f < nf; ++f)
    for (int k = 0; k < 3; ++k) m.faces.push_back(static_cast<uint16_t>(b[at + 2 + f * 8 + 2 * k] | (b[at + 3 + f * 8 + 2 * k] << 8)));
  m.ok = true;
  return m;
}

// The last scene's placement and camera: model (x, y, z) goes to world
// (x, z - 800, -y - 1500); the eye at (-86, 160, ez) looks at (-86, 200, -1000);
// projection glFrustum(-1, 1, -1, 1, 1, 5000) then y scaled by 1.33.
struct Ndc {
  double x, y, depth;
};
Ndc Project(double mx, double my, double mz, double eyeZ) {
  const double wx = mx, wy = mz - 800, wz = -my - 1500;
  const double ex = -86, ey = 160, ez = eyeZ;
  double fx = 0, fy = 200 - ey, fz = -1000 - ez;  // forward
  const double fl = std::sqrt(fx * fx + fy * fy + fz * fz);
  fx /= fl, fy /= fl, fz /= fl;
  // side = forward x up(0,1,0); up' = side x forward
  double sx = -fz, sy = 0, sz = fx;
  const double sl = std::sqrt(sx * sx + sz * sz);
  sx /= sl, sz /= sl;
  const double ux = sy * fz - sz * fy, uy = sz * fx - sx * fz, uz = sx * fy - sy * fx;
  const double dx = wx - ex, dy = wy - ey, dz = wz - ez;
  const double cx = sx * dx + sy * dy + sz * dz, cy = ux * dx + uy * dy + uz * dz, cz = fx * dx + fy * dy + fz * dz;
  return {cx / cz, 1.33 * cy / cz, cz};
}

TEST(AssetMeshes, CountsIndicesAndPlacementOnTheField) {
  struct Cap {
    const char* name;
    size_t vertices, faces;
    double shiftX, shiftZ;
  };
  for (const Cap& cap : {Cap{"chel.3d", 8000, 3000, -100, -3}, Cap{"zavod.3d", 10000, 10000, 0, 0}}) {
    SCOPED_TRACE(cap.name);
    const MeshFile m = ReadMesh(kData + "/" + cap.name);
    ASSERT_TRUE(m.ok) << "missing or not exactly 4 + 12 NV + 8 NF bytes";
    const size_t nv = m.xyz.size() / 3, nf = m.faces.size() / 3;
    EXPECT_GT(nf, 20u);
    EXPECT_LE(nv, cap.vertices);
    EXPECT_LE(nf, cap.faces);
    for (uint16_t i : m.faces) ASSERT_LT(i, nv);
    double minZ = 1e9, maxZ = -1e9;
    for (size_t v = 0; v < nv; ++v) {
      minZ = std::min(minZ, m.xyz[3 * v + 2] + cap.shiftZ);
      maxZ = std::max(maxZ, m.xyz[3 * v + 2] + cap.shiftZ);
      const double wx = m.xyz[3 * v] + cap.shiftX, wz = -m.xyz[3 * v + 1] - 1500;
      EXPECT_TRUE(wx > -6000 && wx < 6000 && wz > -7000 && wz < 1000) << "vertex " << v << " off the field";
    }
    // Standing on the ground (model z 500), not floating or sunk.
    EXPECT_NEAR(minZ, 500, 3);
    EXPECT_GT(maxZ - minZ, 200) << "too small to read as a silhouette";
    // In view, and facing the camera, for the whole scene (eye z -800 to about +850).
    for (double eyeZ = -800; eyeZ <= 860; eyeZ += 83) {
      for (size_t v = 0; v < nv; ++v) {
        const Ndc p = Project(m.xyz[3 * v] + cap.shiftX, m.xyz[3 * v + 1], m.xyz[3 * v + 2] + cap.shiftZ, eyeZ);
        ASSERT_TRUE(p.depth > 1 && p.depth < 5000 && std::fabs(p.x) <= 1 && std::fabs(p.y) <= 1)
            << "vertex " << v << " out of view at eye z " << eyeZ << ": " << p.x << ", " << p.y << ", " << p.depth;
      }
      for (size_t f = 0; f < nf; ++f) {
        Ndc c[3];
        for (int k = 0; k < 3; ++k) {
          const size_t v = m.faces[3 * f + k];
          c[k] = Project(m.xyz[3 * v] + cap.shiftX, m.xyz[3 * v + 1], m.xyz[3 * v + 2] + cap.shiftZ, eyeZ);
        }
        const double area = (c[1].x - c[0].x) * (c[2].y - c[0].y) - (c[2].x - c[0].x) * (c[1].y - c[0].y);
        ASSERT_GT(area, 0) << "face " << f << " is wound away from the camera at eye z " << eyeZ;
      }
    }
  }
}

// The pictures on the offscreen context, loaded by the program's own loaders.
class AssetGl : public harness::GlTest {
 protected:
  void SetUp() override {
    harness::GlTest::SetUp();
    ASSERT_EQ(getcwd(previous_, sizeof previous_), previous_);
    ASSERT_EQ(chdir(kData.c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(chdir(previous_), 0); }
  char previous_[4096];
};

TEST_F(AssetGl, StartUpAndEveryLoadFunctionFindAllTheirFiles) {
  harness::StderrCapture err;
  InitRenderState();
  LoadScene1();
  LoadScene2();
  LoadScene3();
  LoadScene4();
  LoadScene5();
  LoadScene6();
  LoadScene7();
  LoadScene8();
  const std::string text = err.Text();
  EXPECT_EQ(text.find("cannot open"), std::string::npos) << text;
  EXPECT_EQ(text.find("shorter"), std::string::npos) << text;
  EXPECT_EQ(text.find("lantern:"), std::string::npos) << text;
}

TEST_F(AssetGl, PicturesAppearUprightOnScreen) {
  // The mountains cover the lower part of their picture, the sky above is
  // transparent: drawn full screen over black, the bottom is lit and the top is not.
  LoadTexture(1, "mount.tga", 512, 256, 35);
  LoadTexture(0, "rightback.tga", 512, 256, 5);
  harness::SetSceneProjection();
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  g_quad = {0, 0, 640, 480, 1};
  DrawScreenQuad(g_quad, g_textures[35]);
  const harness::Rgba top = harness::ReadPixel(320, 10), bottom = harness::ReadPixel(320, 470);
  EXPECT_LT(top.r + top.g + top.b, 30) << "mountain sky should be transparent at the top";
  EXPECT_GT(bottom.r + bottom.g + bottom.b, 30) << "mountains should stand at the bottom";
  // The dusk backdrop: sky (blue above red) at the top, the dark street at the bottom.
  DrawScreenQuad(g_quad, g_textures[5]);
  const harness::Rgba sky = harness::ReadPixel(320, 5), street = harness::ReadPixel(320, 476);
  EXPECT_GT(sky.b, sky.r);
  EXPECT_GT(sky.b, 80);
  EXPECT_LT(street.r + street.g + street.b, 150);
}

// Largest colour step between two pixels, over the three channels.
int Step(const harness::Rgba& a, const harness::Rgba& b) {
  return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

TEST_F(AssetGl, GlowingOverlaysShowNoEdgeOfTheirPicture) {
  // The street lamp of the bus scene and the hanging lantern of the opening,
  // drawn where the scenes draw them over a dark sky: the picture's outline
  // (the lantern's lower edge is at screen y 127) must not show as a step.
  LoadTexture(1, "lighter.tga", 128, 256, 28);
  LoadTexture(1, "4.tga", 256, 256, 3);
  harness::SetSceneProjection();
  glClearColor(0.04f, 0.05f, 0.12f, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  g_quad = {120, 95, 128, 256, 1};
  DrawScreenQuad(g_quad, g_textures[28]);
  int worst = 0;
  for (int x = 120; x < 248; ++x) {
    worst = std::max(worst, Step(harness::ReadPixel(x, 95), harness::ReadPixel(x, 93)));
    worst = std::max(worst, Step(harness::ReadPixel(x, 350), harness::ReadPixel(x, 352)));
  }
  for (int y = 95; y < 351; ++y) {
    worst = std::max(worst, Step(harness::ReadPixel(120, y), harness::ReadPixel(118, y)));
    worst = std::max(worst, Step(harness::ReadPixel(247, y), harness::ReadPixel(249, y)));
  }
  EXPECT_LE(worst, 3) << "the lamp's picture shows its outline";
  // The lamp itself is there: its head glows well above the dark sky.
  int brightest = 0;
  for (int y = 95; y < 351; ++y)
    for (int x = 120; x < 248; x += 2) brightest = std::max(brightest, static_cast<int>(harness::ReadPixel(x, y).r));
  EXPECT_GT(brightest, 180);

  glClear(GL_COLOR_BUFFER_BIT);
  g_quad = {0, -128, 256, 256, 1};
  DrawScreenQuad(g_quad, g_textures[3]);
  worst = 0;
  for (int x = 0; x < 256; ++x) worst = std::max(worst, Step(harness::ReadPixel(x, 127), harness::ReadPixel(x, 129)));
  for (int y = 0; y < 128; ++y) worst = std::max(worst, Step(harness::ReadPixel(255, y), harness::ReadPixel(257, y)));
  EXPECT_LE(worst, 3) << "the lantern's picture shows its lower or right edge";
}

TEST_F(AssetGl, FourCloudLayersAddUpShortOfWhite) {
  // The aircraft scene adds "1.tga" four times, with colours 0.3, 0.3, 0.4
  // and 0.4, over the map. Where the four coincide the sum must stay short
  // of white, and wide gaps must stay dark so that the map shows through.
  LoadTexture(0, "1.tga", 256, 256, 31);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE);
  glBindTexture(GL_TEXTURE_2D, g_textures[31]);
  for (float k : {0.3f, 0.3f, 0.4f, 0.4f}) {
    glColor4f(k, k, k, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(-1, -1);
    glTexCoord2f(1, 0);
    glVertex2f(1, -1);
    glTexCoord2f(1, 1);
    glVertex2f(1, 1);
    glTexCoord2f(0, 1);
    glVertex2f(-1, 1);
    glEnd();
  }
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  const std::vector<harness::Rgba> frame = harness::ReadFrame();
  size_t white = 0, dark = 0;
  int brightest = 0;
  for (const harness::Rgba& p : frame) {
    white += p.g >= 252;
    dark += p.g <= 12;
    brightest = std::max(brightest, static_cast<int>(p.g));
  }
  EXPECT_LT(white, frame.size() / 100) << "the clouds burn out to white";
  EXPECT_GT(dark, frame.size() * 3 / 10) << "too few gaps between the clouds";
  EXPECT_GT(brightest, 200) << "the clouds are too faint to see";
}

// A picture's ink: the texels its mask covers at least half (a glyph with
// the dense part of its shadow), as columns and rows from the top left.
struct Ink {
  int w = 0, h = 0, top = 0, bottom = 0;  // bottom: one past the last inked row
  std::vector<std::pair<int, int>> texels;
};

Ink ReadInk(const std::string& picture) {
  Ink ink;
  const Tga m = ReadTga(kData + "/mask-" + picture);
  if (!m.ok) return ink;
  ink.w = m.w;
  ink.h = m.h;
  ink.top = m.h;
  for (int row = 0; row < m.h; ++row)
    for (int x = 0; x < m.w; ++x)
      if (m.at(x, row, 0) >= 128) {
        const int y = m.h - 1 - row;
        ink.texels.push_back({x, y});
        ink.top = std::min(ink.top, y);
        ink.bottom = std::max(ink.bottom, y + 1);
      }
  return ink;
}

// A word drawn at x, y, w, h (screen units) with an alpha, and its ink's box there.
struct Shown {
  float x = 0, y = 0, w = 0, h = 0, alpha = 0;
  float left = 0, top = 0, right = 0, bottom = 0;
  // Height of its letters at the picture's own proportions, in screen units across.
  float letters = 0;
};

Shown Place(const Ink& ink, float x, float y, float w, float h, float alpha) {
  Shown s{x, y, w, h, alpha, 1e9f, 1e9f, -1e9f, -1e9f, 0};
  for (auto [u, v] : ink.texels) {
    s.left = std::min(s.left, x + u * w / ink.w);
    s.right = std::max(s.right, x + (u + 1) * w / ink.w);
    s.top = std::min(s.top, y + v * h / ink.h);
    s.bottom = std::max(s.bottom, y + (v + 1) * h / ink.h);
  }
  s.letters = static_cast<float>(ink.bottom - ink.top) * w / ink.w;
  return s;
}

// Texels of a's ink whose centres fall inside b's ink box.
int InkInside(const Ink& ink, const Shown& a, const Shown& b) {
  int n = 0;
  for (auto [u, v] : ink.texels) {
    const float sx = a.x + (u + 0.5f) * a.w / ink.w, sy = a.y + (v + 0.5f) * a.h / ink.h;
    n += sx > b.left && sx < b.right && sy > b.top && sy < b.bottom;
  }
  return n;
}

TEST_F(AssetGl, SunsetTitlesAndWordsStandApartWhereTheSceneDrawsThem) {
  // Order 20 shows three titles on three lines ("kestrel", "presents",
  // "a night"), the first two sliding across each other; order 21 shows three
  // words on one line ("never", "lantern", "take") that grow or shrink about
  // their centres. The scene runs every tick of both orders (8 4/7 ticks a
  // row) and each picture's ink is laid onto the screen at its place.
  const char* names[6] = {"2kestrel.tga", "2kest2.tga", "night.tga", "never.tga", "zog.tga", "take.tga"};
  Ink inks[6];
  for (int i = 0; i < 6; ++i) {
    inks[i] = ReadInk(names[i]);
    ASSERT_FALSE(inks[i].texels.empty()) << names[i];
  }
  {
    harness::StderrCapture quiet;
    LoadScene7();
  }
  struct Moment {
    int order, row;
    Shown words[6];
  };
  std::vector<Moment> moments;
  float peak[6] = {};
  g_s7FirstFrame = 1;
  g_s7NightAlpha = 0;
  g_s7Fade = 0;
  auto frame = [](int order, int row, float delta) {
    g_scene = order;
    g_sceneRow = row;
    g_frameDelta = delta;
    DrawScene7();
  };
  frame(20, 0, 0);  // the first-frame reset
  for (int order : {20, 21}) {
    for (int tick = 0; tick * 14 < 64 * 120; ++tick) {
      const int row = tick * 14 / 120;
      // Places are taken before the frame moves them, alphas after it changes them.
      const float x1 = g_s7Title1X, x2 = g_s7Title2X;
      const float gN = g_s7NeverGrow, gL = g_s7LogoGrow, gT = g_s7TakeGrow;
      frame(order, row, 1);
      const bool titles = order == 20;
      Moment m{order, row, {}};
      m.words[0] = Place(inks[0], x1, 35, 256, 128, titles ? g_s7Title1Alpha : 0);
      m.words[1] = Place(inks[1], x2, 90, 256, 64, titles ? g_s7Title2Alpha : 0);
      m.words[2] = Place(inks[2], 150, 130, 128, 32, titles ? g_s7NightAlpha : 0);
      m.words[3] = Place(inks[3], 184 - gN, 380 - gN, 128 + 2 * gN, 32 + 2 * gN, titles ? 0 : g_s7NeverAlpha);
      m.words[4] = Place(inks[4], 284 - gL, 400 - gL, 200 + 2 * gL, 50 + 2 * gL, titles ? 0 : g_s7LogoAlpha);
      m.words[5] = Place(inks[5], 450 - gT, 420 - gT, 128 + 2 * gT, 32 + 2 * gT, titles ? 0 : g_s7TakeAlpha);
      for (int i = 0; i < 6; ++i) peak[i] = std::max(peak[i], m.words[i].alpha);
      moments.push_back(m);
    }
  }
  for (int i = 0; i < 6; ++i) ASSERT_GT(peak[i], 0.2f) << names[i] << " never shows";

  // No ink of one word in another's box while both change the picture
  // (alpha of at least one 8-bit step).
  int overlaps = 0;
  for (const Moment& m : moments)
    for (int a = 0; a < 6; ++a)
      for (int b = 0; b < 6; ++b) {
        if (a == b || m.words[a].alpha < 1 / 255.0f || m.words[b].alpha < 1 / 255.0f) continue;
        const int n = InkInside(inks[a], m.words[a], m.words[b]);
        if (n > 0 && overlaps++ < 3)
          ADD_FAILURE() << "order " << m.order << " row " << m.row << ": " << n << " texels of " << names[a]
                        << " inside the ink of " << names[b];
      }
  EXPECT_EQ(overlaps, 0) << "moments and pairs with overlapping words";

  // Neighbours on the order-21 line, while both are plainly shown (at least
  // half their highest alpha): the gap between their inks is a word space,
  // from a quarter to 1.25 times the height of the larger word's letters.
  for (auto [a, b] : {std::pair{3, 4}, std::pair{4, 5}}) {
    float least = 1e9f, most = -1e9f;
    int checked = 0;
    for (const Moment& m : moments) {
      const Shown &l = m.words[a], &r = m.words[b];
      if (l.alpha < peak[a] / 2 || r.alpha < peak[b] / 2) continue;
      const float space = (r.left - l.right) / std::max(l.letters, r.letters);
      least = std::min(least, space);
      most = std::max(most, space);
      ++checked;
    }
    EXPECT_GT(checked, 50) << names[a] << " and " << names[b] << " are never plainly shown together";
    EXPECT_GE(least, 0.25f) << names[a] << " and " << names[b] << ": gap in letter heights";
    EXPECT_LE(most, 1.25f) << names[a] << " and " << names[b] << ": gap in letter heights";
  }
}

}  // namespace
