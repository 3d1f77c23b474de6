// The capture's frame layout: the output size asked for (--size, --scale)
// and the 4:3 picture the show is drawn at, centred in it between black bars.
#pragma once

#include <algorithm>
#include <string>

#include "tools/capture/virtual_clock.h"

namespace capture {

constexpr int kMinFrameWidth = 320;
constexpr int kMinFrameHeight = 240;
constexpr int kMaxFrameWidth = 7680;
constexpr int kMaxFrameHeight = 4320;

// A frame of width by height pixels; the picture, exactly 4:3, covers
// pictureWidth by pictureHeight of it from `left` pixels off its left edge
// and `top` pixels off its top edge. Everything else is black.
struct Layout {
  int width = 640;
  int height = 480;
  int pictureWidth = 640;
  int pictureHeight = 480;
  int left = 0;
  int top = 0;
};

// The largest 4:3 picture that fits in width by height, centred (an odd
// leftover puts the extra pixel right of or below the picture).
inline Layout FitPicture(int width, int height) {
  Layout layout;
  layout.width = width;
  layout.height = height;
  const int unit = std::min(width / 4, height / 3);
  layout.pictureWidth = unit * 4;
  layout.pictureHeight = unit * 3;
  layout.left = (width - layout.pictureWidth) / 2;
  layout.top = (height - layout.pictureHeight) / 2;
  return layout;
}

// "WxH" within the sizes the capture supports; false on anything else.
inline bool ParseSize(const std::string& text, int* width, int* height) {
  const size_t x = text.find('x');
  int64_t w = 0;
  int64_t h = 0;
  if (x == std::string::npos || !ParseCount(text.substr(0, x), &w) || !ParseCount(text.substr(x + 1), &h)) {
    return false;
  }
  if (w < kMinFrameWidth || h < kMinFrameHeight || w > kMaxFrameWidth || h > kMaxFrameHeight) return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

}  // namespace capture
