// The program's icon: each size drawn on its own at four times its pixels
// and averaged down, so that small sizes stay sharp and every run writes
// the same bytes.
#include "tools/gen_assets/icons.h"

#include <png.h>

#include <filesystem>
#include <system_error>

#include "tools/gen_assets/art.h"

namespace gen {

namespace {

constexpr int kSupersample = 4;

// The icon at n pixels a side, drawn at s = n * kSupersample.
Picture drawIcon(int n) {
  const int size = n * kSupersample;
  const float w = static_cast<float>(size);
  Picture p("lantern", size, size, true);
  const float c = w / 2;
  const float half = w * 0.47f;
  const float round = w * 0.18f;
  // Dusk: deep blue at the top to violet below, as the opening scene's sky.
  const Rgb top = rgb8(20, 26, 70), bottom = rgb8(92, 56, 104);
  p.paintShaded([=](float x, float y) { return sdBox(x, y, c, c, half, half, round); },
                [=](float, float y) { return mix(top, bottom, smooth(0.1f * w, 0.95f * w, y)); });
  // The lantern fills most of the height: ring (52 above the glass centre,
  // radius 8) to tip (54 below it) in "4.tga"'s pixels.
  const float scale = w * 0.76f / 114.0f;
  const float glassX = c, glassY = c + w * 0.06f;
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
  p.paint([=](float x, float y) {
    const float inSquare = sdBox(x, y, c, c, half, half, round);
    return std::max(sdBox(x, y, glassX, (c - half + ringTop) / 2, 1.8f * scale, (ringTop - (c - half)) / 2, 0), inSquare);
  }, iron);
  paintLantern(p, glassX, glassY, scale);
  return p;
}

bool writePng(const std::string& path, const Picture& p, int n) {
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
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(n);
  image.height = static_cast<png_uint_32>(n);
  image.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), 0, nullptr) != 0;
}

}  // namespace

const std::vector<int>& iconSizes() {
  static const std::vector<int> sizes = {16, 22, 24, 32, 48, 64, 128, 256};
  return sizes;
}

bool writeIcons(const std::string& dir) {
  for (int n : iconSizes()) {
    const std::string folder = dir + "/hicolor/" + std::to_string(n) + "x" + std::to_string(n) + "/apps";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!writePng(folder + "/lantern.png", drawIcon(n), n)) return false;
  }
  return true;
}

}  // namespace gen
