// PNG frames (libpng), the float WAV and the labelled contact sheet (FreeType).
#include "tools/capture/writers.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace capture {

namespace {

const char* const kLabelFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr int kLabelPixels = 16;

void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

bool WritePng(const std::string& path, const Picture& picture, std::string* error, int level) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    *error = "libpng could not start";
    return false;
  }
  const int frameWidth = picture.FrameWidth();
  const int frameHeight = picture.FrameHeight();
  // One row at a time: the bars are zeros around the picture's row.
  std::vector<uint8_t> row(static_cast<size_t>(frameWidth) * 3, 0);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    *error = "cannot write " + path;
    return false;
  }
  png_init_io(png, file);
  // Fast settings: frames are many and large; the bytes stay deterministic.
  png_set_compression_level(png, level);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB | PNG_FILTER_UP);
  png_set_IHDR(png, info, static_cast<png_uint_32>(frameWidth), static_cast<png_uint_32>(frameHeight), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  if (picture.bgr) png_set_bgr(png);
  const size_t pictureBytes = static_cast<size_t>(picture.width) * 3;
  for (int y = 0; y < frameHeight; ++y) {
    const int py = y - picture.top;
    const bool inPicture = py >= 0 && py < picture.height;
    if (inPicture && frameWidth == picture.width) {
      png_write_row(png, picture.Row(py));
      continue;
    }
    if (inPicture) {
      std::memcpy(row.data() + static_cast<size_t>(picture.left) * 3, picture.Row(py), pictureBytes);
    } else {
      std::fill(row.begin(), row.end(), 0);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(file) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

Picture PicturePool::Take(size_t bytes) {
  Picture picture;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!spare_.empty()) {
      picture = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  picture.pixels.resize(bytes);
  return picture;
}

void PicturePool::Give(Picture&& picture) {
  std::lock_guard<std::mutex> lock(mutex_);
  spare_.push_back(std::move(picture));
}

PngWriterPool::~PngWriterPool() {
  std::string ignored;
  Finish(&ignored);
}

void PngWriterPool::Start(int threads) {
  closing_ = false;
  limit_ = static_cast<size_t>(threads) * 2;
  for (int i = 0; i < threads; ++i) workers_.emplace_back(&PngWriterPool::Work, this);
}

bool PngWriterPool::Submit(std::string path, Picture picture) {
  std::unique_lock<std::mutex> lock(mutex_);
  room_.wait(lock, [this] { return queue_.size() < limit_; });
  if (!error_.empty()) return false;
  queue_.push_back(Job{std::move(path), std::move(picture)});
  wake_.notify_one();
  return true;
}

void PngWriterPool::Work() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
      room_.notify_one();
    }
    std::string error;
    if (!WritePng(job.path, job.picture, &error)) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (error_.empty()) error_ = error;
    }
  }
}

bool PngWriterPool::Finish(std::string* error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
  workers_.clear();
  if (!error_.empty()) {
    *error = error_;
    return false;
  }
  return true;
}

WavWriter::~WavWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

bool WavWriter::Open(const std::string& path, std::string* error) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t header[58] = {};
  std::fwrite(header, 1, sizeof header, file_);  // filled in by Close
  return true;
}

bool WavWriter::Write(const float* interleaved, int64_t frames) {
  if (file_ == nullptr || frames <= 0) return true;
  const size_t count = static_cast<size_t>(frames) * 2;
  if (std::fwrite(interleaved, sizeof(float), count, file_) != count) failed_ = true;
  frames_ += frames;
  return !failed_;
}

bool WavWriter::Close(std::string* error) {
  if (file_ == nullptr) return true;
  // RIFF/WAVE, IEEE float format tag 3 with the cbSize field and a fact chunk.
  const uint32_t dataBytes = static_cast<uint32_t>(frames_ * 8);
  uint8_t h[58];
  std::memcpy(h, "RIFF", 4);
  PutLe32(h + 4, 50 + dataBytes);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutLe32(h + 16, 18);
  PutLe16(h + 20, 3);
  PutLe16(h + 22, 2);
  PutLe32(h + 24, 44100);
  PutLe32(h + 28, 44100 * 8);
  PutLe16(h + 32, 8);
  PutLe16(h + 34, 32);
  PutLe16(h + 36, 0);
  std::memcpy(h + 38, "fact", 4);
  PutLe32(h + 42, 4);
  PutLe32(h + 46, static_cast<uint32_t>(frames_));
  std::memcpy(h + 50, "data", 4);
  PutLe32(h + 54, dataBytes);
  bool ok = !failed_ && std::fseek(file_, 0, SEEK_SET) == 0 && std::fwrite(h, 1, sizeof h, file_) == sizeof h;
  ok = (std::fclose(file_) == 0) && ok;
  file_ = nullptr;
  if (!ok) *error = "could not write the audio file";
  return ok;
}

ContactSheet::~ContactSheet() {
  if (face_ != nullptr) FT_Done_Face(static_cast<FT_Face>(face_));
  if (library_ != nullptr) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

bool ContactSheet::Init(std::string* error) {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    *error = "FreeType could not start";
    return false;
  }
  library_ = library;
  FT_Face face = nullptr;
  if (FT_New_Face(library, kLabelFont, 0, &face) != 0) {
    *error = std::string("cannot load the label font ") + kLabelFont + " (Debian package fonts-dejavu-core)";
    return false;
  }
  face_ = face;
  FT_Set_Pixel_Sizes(face, 0, kLabelPixels);
  return true;
}

bool ContactSheet::Has(int order) const {
  return std::any_of(thumbs_.begin(), thumbs_.end(), [order](const Thumb& t) { return t.order == order; });
}

void ContactSheet::Add(int order, const Picture& frame) {
  Thumb thumb{order, std::vector<uint8_t>(static_cast<size_t>(kThumbWidth) * kThumbHeight * 3)};
  // Box filter: each thumbnail pixel averages the frame pixels it covers.
  for (int ty = 0; ty < kThumbHeight; ++ty) {
    const int y0 = ty * frame.height / kThumbHeight;
    const int y1 = std::max(y0 + 1, (ty + 1) * frame.height / kThumbHeight);
    for (int tx = 0; tx < kThumbWidth; ++tx) {
      const int x0 = tx * frame.width / kThumbWidth;
      const int x1 = std::max(x0 + 1, (tx + 1) * frame.width / kThumbWidth);
      uint32_t sum[3] = {0, 0, 0};
      for (int y = y0; y < y1; ++y) {
        const uint8_t* p = frame.Row(y) + static_cast<size_t>(x0) * 3;
        for (int x = x0; x < x1; ++x, p += 3) {
          sum[0] += p[0];
          sum[1] += p[1];
          sum[2] += p[2];
        }
      }
      if (frame.bgr) std::swap(sum[0], sum[2]);
      const uint32_t n = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
      uint8_t* out = thumb.rgb.data() + (static_cast<size_t>(ty) * kThumbWidth + tx) * 3;
      for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
    }
  }
  thumbs_.push_back(std::move(thumb));
}

void ContactSheet::DrawLabel(std::vector<uint8_t>* rgb, int stride, int x, int y, const std::string& text) const {
  FT_Face face = static_cast<FT_Face>(face_);
  // Measure, darken a box behind the text, then blend the glyphs in white.
  int width = 0;
  for (char c : text) {
    if (FT_Load_Char(face, static_cast<FT_ULong>(c), FT_LOAD_DEFAULT) == 0) {
      width += static_cast<int>(face->glyph->advance.x >> 6);
    }
  }
  const int boxW = width + 8;
  const int boxH = kLabelPixels + 6;
  for (int by = y; by < y + boxH; ++by) {
    for (int bx = x; bx < x + boxW; ++bx) {
      uint8_t* p = rgb->data() + (static_cast<size_t>(by) * stride + bx) * 3;
      for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(p[c] / 4);
    }
  }
  int penX = x + 4;
  const int baseline = y + 3 + kLabelPixels - 3;
  for (char c : text) {
    if (FT_Load_Char(face, static_cast<FT_ULong>(c), FT_LOAD_RENDER) != 0) continue;
    const FT_GlyphSlot g = face->glyph;
    for (unsigned gy = 0; gy < g->bitmap.rows; ++gy) {
      for (unsigned gx = 0; gx < g->bitmap.width; ++gx) {
        const int px = penX + g->bitmap_left + static_cast<int>(gx);
        const int py = baseline - g->bitmap_top + static_cast<int>(gy);
        if (px < x || py < y || px >= x + boxW || py >= y + boxH) continue;
        const uint8_t cover = g->bitmap.buffer[gy * static_cast<unsigned>(g->bitmap.pitch) + gx];
        uint8_t* p = rgb->data() + (static_cast<size_t>(py) * stride + px) * 3;
        for (int ch = 0; ch < 3; ++ch) p[ch] = static_cast<uint8_t>((p[ch] * (255 - cover) + 255 * cover) / 255);
      }
    }
    penX += static_cast<int>(g->advance.x >> 6);
  }
}

bool ContactSheet::Write(const std::string& path, std::string* error) const {
  if (thumbs_.empty()) {
    *error = "no order reached row 32 in the captured range, the contact sheet would be empty";
    return false;
  }
  const int count = static_cast<int>(thumbs_.size());
  const int columns = std::min(count, kColumns);
  const int rows = (count + kColumns - 1) / kColumns;
  Picture sheet;
  sheet.width = columns * kThumbWidth + (columns + 1) * kGap;
  sheet.height = rows * kThumbHeight + (rows + 1) * kGap;
  sheet.pixels.assign(static_cast<size_t>(sheet.width) * sheet.height * 3, 24);
  for (int i = 0; i < count; ++i) {
    const int x = kGap + (i % kColumns) * (kThumbWidth + kGap);
    const int y = kGap + (i / kColumns) * (kThumbHeight + kGap);
    for (int ty = 0; ty < kThumbHeight; ++ty) {
      std::memcpy(sheet.pixels.data() + (static_cast<size_t>(y + ty) * sheet.width + x) * 3,
                  thumbs_[static_cast<size_t>(i)].rgb.data() + static_cast<size_t>(ty) * kThumbWidth * 3,
                  static_cast<size_t>(kThumbWidth) * 3);
    }
    DrawLabel(&sheet.pixels, sheet.width, x + 2, y + 2, std::to_string(thumbs_[static_cast<size_t>(i)].order));
  }
  return WritePng(path, sheet, error, 9);
}

}  // namespace capture
