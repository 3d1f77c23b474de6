// What the capture writes to files: PNG frames, the float WAV of the music,
// and the contact sheet with its order labels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace capture {

// An RGB picture, 3 bytes a pixel. bottomUp: rows stored as OpenGL reads
// them back (first row is the bottom of the picture).
struct Picture {
  int width = 0;
  int height = 0;
  bool bottomUp = false;
  std::vector<uint8_t> rgb;
};

// Writes an upright PNG (deterministic: same pixels, same bytes). Level is
// zlib's, 1 (fast) to 9 (small).
bool WritePng(const std::string& path, const Picture& picture, std::string* error, int level = 3);

// A 32-bit float stereo WAV at 44100 Hz, sizes fixed up on Close.
class WavWriter {
 public:
  ~WavWriter();
  bool Open(const std::string& path, std::string* error);
  bool Write(const float* interleaved, int64_t frames);
  bool Close(std::string* error);

 private:
  std::FILE* file_ = nullptr;
  int64_t frames_ = 0;
  bool failed_ = false;
};

// One thumbnail per order, eight to a row, each labelled with its order.
class ContactSheet {
 public:
  static constexpr int kThumbWidth = 160;
  static constexpr int kThumbHeight = 120;
  static constexpr int kColumns = 8;
  static constexpr int kGap = 4;

  // Loads the label font; false with a message when it cannot be had.
  bool Init(std::string* error);
  // Adds the frame as the thumbnail of `order`, box-filtered down.
  void Add(int order, const Picture& frame);
  bool Has(int order) const;
  bool Write(const std::string& path, std::string* error) const;

  ~ContactSheet();

 private:
  struct Thumb {
    int order;
    std::vector<uint8_t> rgb;
  };
  void DrawLabel(std::vector<uint8_t>* rgb, int stride, int x, int y, const std::string& text) const;
  std::vector<Thumb> thumbs_;
  void* library_ = nullptr;
  void* face_ = nullptr;
};

}  // namespace capture
