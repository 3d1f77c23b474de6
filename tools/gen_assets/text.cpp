// FreeType rasterisation of text lines into coverage fields.
#include "tools/gen_assets/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <stdexcept>

namespace gen {

namespace {

const char* fontPath(Font f) {
  switch (f) {
    case Font::Sans: return "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    case Font::SansBold: return "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
    case Font::Serif: return "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
    case Font::SerifBold: return "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf";
    case Font::Mono: return "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf";
  }
  return "";
}

FT_Library library() {
  static FT_Library lib = [] {
    FT_Library l = nullptr;
    if (FT_Init_FreeType(&l) != 0) throw std::runtime_error("FreeType could not start");
    return l;
  }();
  return lib;
}

FT_Face face(Font f) {
  static FT_Face faces[5] = {};
  FT_Face& slot = faces[static_cast<int>(f)];
  if (!slot && FT_New_Face(library(), fontPath(f), 0, &slot) != 0) {
    slot = nullptr;
    throw std::runtime_error(std::string("cannot open font ") + fontPath(f));
  }
  return slot;
}

void setSize(FT_Face fc, float pixelSize) {
  FT_Set_Char_Size(fc, 0, static_cast<FT_F26Dot6>(pixelSize * 64.0f + 0.5f), 72, 72);
}

// Walks the glyphs of a line; visit(bitmap, left, top) with the pen in pixels.
template <class V>
float layout(const std::string& text, Font font, float pixelSize, float tracking, V visit) {
  FT_Face fc = face(font);
  setSize(fc, pixelSize);
  const bool kern = FT_HAS_KERNING(fc);
  float pen = 0;
  FT_UInt prev = 0;
  for (unsigned char ch : text) {
    const FT_UInt gi = FT_Get_Char_Index(fc, ch);
    if (kern && prev && gi) {
      FT_Vector delta;
      FT_Get_Kerning(fc, prev, gi, FT_KERNING_DEFAULT, &delta);
      pen += static_cast<float>(delta.x) / 64.0f;
    }
    if (FT_Load_Glyph(fc, gi, FT_LOAD_RENDER | FT_LOAD_NO_HINTING) == 0) {
      const FT_GlyphSlot g = fc->glyph;
      visit(g->bitmap, pen + static_cast<float>(g->bitmap_left), static_cast<float>(g->bitmap_top));
      pen += static_cast<float>(g->advance.x) / 64.0f + tracking;
    }
    prev = gi;
  }
  return pen - tracking;
}

}  // namespace

bool fontsAvailable(std::string* missing) {
  for (Font f : {Font::Sans, Font::SansBold, Font::Serif, Font::SerifBold, Font::Mono}) {
    FILE* file = std::fopen(fontPath(f), "rb");
    if (!file) {
      if (missing) *missing = fontPath(f);
      return false;
    }
    std::fclose(file);
  }
  return true;
}

TextBox measureText(const std::string& text, Font font, float pixelSize, float tracking) {
  TextBox box;
  float minX = 1e9f, maxX = -1e9f, top = 1e9f, bottom = -1e9f;
  layout(text, font, pixelSize, tracking, [&](const FT_Bitmap& bm, float left, float btop) {
    if (bm.width == 0 || bm.rows == 0) return;
    minX = std::min(minX, left);
    maxX = std::max(maxX, left + static_cast<float>(bm.width));
    top = std::min(top, -btop);
    bottom = std::max(bottom, -btop + static_cast<float>(bm.rows));
  });
  if (maxX < minX) return box;
  box.width = maxX - minX;
  box.top = top;
  box.bottom = bottom;
  return box;
}

void drawText(Field& f, const std::string& text, Font font, float pixelSize, float cx, float cy,
              float tracking) {
  float minX = 1e9f;
  layout(text, font, pixelSize, tracking, [&](const FT_Bitmap& bm, float left, float) {
    if (bm.width) minX = std::min(minX, left);
  });
  const TextBox box = measureText(text, font, pixelSize, tracking);
  const float originX = std::round(cx - box.width * 0.5f - minX);
  const float baseline = std::round(cy - (box.top + box.bottom) * 0.5f);
  layout(text, font, pixelSize, tracking, [&](const FT_Bitmap& bm, float left, float btop) {
    const int x0 = static_cast<int>(originX + left);
    const int y0 = static_cast<int>(baseline - btop);
    for (unsigned r = 0; r < bm.rows; ++r) {
      const int y = y0 + static_cast<int>(r);
      if (y < 0 || y >= f.h) continue;
      for (unsigned c = 0; c < bm.width; ++c) {
        const int x = x0 + static_cast<int>(c);
        if (x < 0 || x >= f.w) continue;
        const float k = bm.buffer[r * static_cast<unsigned>(bm.pitch) + c] / 255.0f;
        float& v = f.at(x, y);
        v = 1.0f - (1.0f - v) * (1.0f - k);
      }
    }
  });
}

float fitText(const std::string& text, Font font, float maxWidth, float maxSize, float tracking) {
  float size = maxSize;
  while (size > 4.0f && measureText(text, font, size, tracking).width > maxWidth) size -= 0.5f;
  return size;
}

}  // namespace gen
