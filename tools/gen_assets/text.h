// Text set with FreeType from the Debian DejaVu fonts, as anti-aliased
// coverage (the glyphs' own coverage becomes the picture's mask).
#pragma once

#include <string>

#include "tools/gen_assets/canvas.h"

namespace gen {

enum class Font { Sans, SansBold, Serif, SerifBold, Mono };

// Ink extent of a line of text at a pixel size: width and the ink's top
// and bottom relative to the baseline (top negative, y down).
struct TextBox {
  float width = 0, top = 0, bottom = 0;
};
TextBox measureText(const std::string& text, Font font, float pixelSize, float tracking = 0);

// Adds the coverage of one line of text to f, its ink box centred on
// (cx, cy); tracking is extra space between letters in pixels.
void drawText(Field& f, const std::string& text, Font font, float pixelSize, float cx, float cy,
              float tracking = 0);
// The largest pixel size (up to maxSize) at which text fits maxWidth.
float fitText(const std::string& text, Font font, float maxWidth, float maxSize, float tracking = 0);

// Whether the font files could be opened (false: the generator stops).
bool fontsAvailable(std::string* missing);

}  // namespace gen
