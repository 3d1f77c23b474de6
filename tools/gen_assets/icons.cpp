// The program's icon: each size drawn on its own at four times its pixels
// and averaged down, so that small sizes stay sharp and every run writes
// the same bytes; PNG files for desktop menus and phones' home screens, and
// one .ico for Windows.
#include "tools/gen_assets/icons.h"

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

#include "tools/gen_assets/art.h"

namespace gen {

namespace {

constexpr int kSupersample = 4;

// How each shape fills its square (see IconShape): the rounded square's
// corners are transparent; the phones' shapes are dusk to the edges, and
// the maskable one keeps the lantern inside the central circle of 80 % of
// the side that every mask leaves whole.
struct IconLayout {
  bool fullBleed;
  float lanternHeight;  // ring to tip, as a part of the side
};
constexpr IconLayout kDesktop{false, 0.76f};

IconLayout layoutOf(IconShape shape) {
  switch (shape) {
    case IconShape::kFullSquare: return {true, 0.76f};
    case IconShape::kMaskable: return {true, 0.58f};
    case IconShape::kRoundedSquare: break;
  }
  return kDesktop;
}

// The icon at n pixels a side, drawn at s = n * kSupersample.
Picture drawIcon(int n, IconLayout layout) {
  const int size = n * kSupersample;
  const float w = static_cast<float>(size);
  Picture p("lantern", size, size, true);
  const float c = w / 2;
  const float half = layout.fullBleed ? w : w * 0.47f;
  const float round = layout.fullBleed ? 0.0f : w * 0.18f;
  // Dusk: deep blue at the top to violet below, as the opening scene's sky.
  const Rgb top = rgb8(20, 26, 70), bottom = rgb8(92, 56, 104);
  p.paintShaded([=](float x, float y) { return sdBox(x, y, c, c, half, half, round); },
                [=](float, float y) { return mix(top, bottom, smooth(0.1f * w, 0.95f * w, y)); });
  // The lantern fills most of the height: ring (52 above the glass centre,
  // radius 8) to tip (54 below it) in "4.tga"'s pixels.
  const float scale = w * layout.lanternHeight / 114.0f;
  const float glassX = c, glassY = c + w * 0.06f * (layout.lanternHeight / kDesktop.lanternHeight);
  // Its warm halo, inside the square only.
  p.each([&](float x, float y, Rgb& colour, float& a) {
    if (a <= 0) return;
    const float d = std::hypot(x - glassX, (y - glassY) * 0.9f) / scale;
    const float glow = 0.75f * std::exp(-(d * d) / (2 * 40.0f * 40.0f));
    colour = mix(colour, rgb8(255, 168, 76), glow);
  });
  // A short length of chain from the top of the square down to the ring.
  const Rgb iron = rgb8(26, 22, 28);
  const float ringTop = glassY - 60 * scale;
  const float squareTop = std::max(0.0f, c - half);
  p.paint([=](float x, float y) {
    const float inSquare = sdBox(x, y, c, c, half, half, round);
    return std::max(sdBox(x, y, glassX, (squareTop + ringTop) / 2, 1.8f * scale, (ringTop - squareTop) / 2, 0), inSquare);
  }, iron);
  paintLantern(p, glassX, glassY, scale);
  return p;
}

// The icon at n pixels a side as straight (not premultiplied) RGBA, rows
// from the top.
std::vector<unsigned char> iconPixels(int n, IconLayout layout = kDesktop) {
  const Picture p = drawIcon(n, layout);
  std::vector<unsigned char> bytes(static_cast<size_t>(n) * n * 4);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      Rgb sum;
      float alpha = 0;
      for (int yy = 0; yy < kSupersample; ++yy)
        for (int xx = 0; xx < kSupersample; ++xx) {
          const int sx = x * kSupersample + xx, sy = y * kSupersample + yy;
          const float a = p.alpha(sx, sy);
          sum = sum + p.at(sx, sy) * a;
          alpha += a;
        }
      const Rgb colour = alpha > 0 ? sum * (1.0f / alpha) : Rgb{};
      unsigned char* out = &bytes[(static_cast<size_t>(y) * n + x) * 4];
      out[0] = toByte(colour.r);
      out[1] = toByte(colour.g);
      out[2] = toByte(colour.b);
      out[3] = toByte(alpha / (kSupersample * kSupersample));
    }
  return bytes;
}

png_image pngImage(int n) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(n);
  image.height = static_cast<png_uint_32>(n);
  image.format = PNG_FORMAT_RGBA;
  return image;
}

bool writePng(const std::string& path, const std::vector<unsigned char>& rgba, int n) {
  png_image image = pngImage(n);
  return png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr) != 0;
}

bool encodePng(const std::vector<unsigned char>& rgba, int n, std::vector<unsigned char>* out) {
  png_image image = pngImage(n);
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(image, size, 0, rgba.data(), 0, nullptr)) return false;
  out->resize(size);
  if (!png_image_write_to_memory(&image, out->data(), &size, 0, rgba.data(), 0, nullptr)) return false;
  out->resize(size);
  return true;
}

void put16(std::vector<unsigned char>* out, unsigned v) {
  out->push_back(static_cast<unsigned char>(v & 0xFF));
  out->push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

void put32(std::vector<unsigned char>* out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// One icon image as Windows has stored them since Windows 95: a 40-byte
// BITMAPINFOHEADER of twice the height, the 32-bit BGRA colours bottom row
// first, then the 1-bit mask (set where fully transparent), rows padded to
// four bytes. Windows XP and later read the alpha channel.
std::vector<unsigned char> iconBitmap(const std::vector<unsigned char>& rgba, int n) {
  const size_t maskRow = static_cast<size_t>((n + 31) / 32) * 4;
  std::vector<unsigned char> out;
  put32(&out, 40);
  put32(&out, static_cast<uint32_t>(n));
  put32(&out, static_cast<uint32_t>(2 * n));
  put16(&out, 1);   // planes
  put16(&out, 32);  // bits per pixel
  put32(&out, 0);   // BI_RGB
  put32(&out, static_cast<uint32_t>(n * n * 4 + maskRow * n));
  for (int i = 0; i < 4; ++i) put32(&out, 0);  // resolution, palette
  for (int y = n - 1; y >= 0; --y)
    for (int x = 0; x < n; ++x) {
      const unsigned char* px = &rgba[(static_cast<size_t>(y) * n + x) * 4];
      out.push_back(px[2]);
      out.push_back(px[1]);
      out.push_back(px[0]);
      out.push_back(px[3]);
    }
  for (int y = n - 1; y >= 0; --y) {
    std::vector<unsigned char> row(maskRow, 0);
    for (int x = 0; x < n; ++x)
      if (rgba[(static_cast<size_t>(y) * n + x) * 4 + 3] == 0) row[x / 8] |= 0x80 >> (x % 8);
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

// The .ico file: ICONDIR, one 16-byte entry per size, then the images. The
// 256-pixel image is PNG (as Windows Vista and later store it, a tenth of
// the bitmap's size); the others are bitmaps, which every Windows reads.
bool writeIco(const std::string& path, const std::map<int, std::vector<unsigned char>>& pixels) {
  std::vector<std::vector<unsigned char>> images;
  for (int n : windowsIconSizes()) {
    std::vector<unsigned char> image;
    if (n >= 256) {
      if (!encodePng(pixels.at(n), n, &image)) return false;
    } else {
      image = iconBitmap(pixels.at(n), n);
    }
    images.push_back(std::move(image));
  }
  std::vector<unsigned char> out;
  put16(&out, 0);
  put16(&out, 1);  // an icon, not a cursor
  put16(&out, static_cast<unsigned>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    const int n = windowsIconSizes()[i];
    out.push_back(static_cast<unsigned char>(n >= 256 ? 0 : n));  // 0 means 256
    out.push_back(static_cast<unsigned char>(n >= 256 ? 0 : n));
    out.push_back(0);  // no palette
    out.push_back(0);
    put16(&out, 1);   // planes
    put16(&out, 32);  // bits per pixel
    put32(&out, static_cast<uint32_t>(images[i].size()));
    put32(&out, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

const std::vector<int>& iconSizes() {
  static const std::vector<int> sizes = {16, 22, 24, 32, 48, 64, 128, 256};
  return sizes;
}

const std::vector<WebIcon>& webIcons() {
  // Android's launcher and splash screen take 192 and 512 pixels, plain
  // ("any") and maskable; an iPhone's home screen takes 180 pixels.
  static const std::vector<WebIcon> icons = {
      {"icon-192.png", 192, IconShape::kRoundedSquare},
      {"icon-512.png", 512, IconShape::kRoundedSquare},
      {"icon-maskable-192.png", 192, IconShape::kMaskable},
      {"icon-maskable-512.png", 512, IconShape::kMaskable},
      {"apple-touch-icon.png", 180, IconShape::kFullSquare},
  };
  return icons;
}

const std::vector<int>& windowsIconSizes() {
  // The small icon at 100, 125 and 150 % (title bar, taskbar), the large at
  // 100 and 125 %, Explorer's medium views, and its large and extra large
  // views, which scale the 256-pixel image down.
  static const std::vector<int> sizes = {16, 20, 24, 32, 40, 48, 64, 256};
  return sizes;
}

bool writeIcons(const std::string& dir) {
  std::map<int, std::vector<unsigned char>> pixels;
  for (int n : iconSizes()) pixels[n] = iconPixels(n);
  for (int n : windowsIconSizes())
    if (pixels.count(n) == 0) pixels[n] = iconPixels(n);
  for (int n : iconSizes()) {
    const std::string folder = dir + "/hicolor/" + std::to_string(n) + "x" + std::to_string(n) + "/apps";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!writePng(folder + "/lantern.png", pixels[n], n)) return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(dir + "/web", ec);
  for (const WebIcon& icon : webIcons()) {
    const bool drawn = icon.shape == IconShape::kRoundedSquare && pixels.count(icon.size) != 0;
    const std::vector<unsigned char> rgba = drawn ? pixels[icon.size] : iconPixels(icon.size, layoutOf(icon.shape));
    if (!writePng(dir + "/web/" + icon.name, rgba, icon.size)) return false;
  }
  return writeIco(dir + "/lantern.ico", pixels);
}

}  // namespace gen
