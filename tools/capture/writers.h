// What the capture writes to files: PNG frames, the float WAV of the music,
// and the contact sheet with its order labels.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace capture {

// A picture of 3 (or 4) bytes a pixel, and the frame it is written in.
// bottomUp: rows stored as OpenGL reads them back (the first row is the
// bottom of the picture). bgr: bytes in the order blue, green, red, else
// red, green, blue. The frame is
// frameWidth by frameHeight with the picture `left` and `top` pixels off its
// top-left corner, black elsewhere; a frame size of 0 means the picture
// alone.
struct Picture {
  int width = 0;
  int height = 0;
  bool bottomUp = false;
  bool bgr = false;
  // Bytes a pixel: 3, or 4 with the fourth unused (as the video's frames
  // are read back; only the video pipe takes those).
  int pixelBytes = 3;
  std::vector<uint8_t> pixels;
  int frameWidth = 0;
  int frameHeight = 0;
  int left = 0;
  int top = 0;

  int FrameWidth() const { return frameWidth > 0 ? frameWidth : width; }
  int FrameHeight() const { return frameHeight > 0 ? frameHeight : height; }
  // Row y of the picture, counted from its top.
  const uint8_t* Row(int y) const {
    const int stored = bottomUp ? height - 1 - y : y;
    return pixels.data() + static_cast<size_t>(stored) * static_cast<size_t>(width) * static_cast<size_t>(pixelBytes);
  }
};

// Picture buffers handed back and forth between the thread that reads the
// frames back and the threads that write them, so that big frames are not
// allocated and faulted in anew every time.
class PicturePool {
 public:
  // A picture whose pixels hold `bytes` (contents undefined).
  Picture Take(size_t bytes);
  void Give(Picture&& picture);

 private:
  std::mutex mutex_;
  std::vector<Picture> spare_;
};

// Writes the frame as an upright RGB PNG, bars included (deterministic:
// same pixels, same bytes). Level is zlib's, 1 (fast) to 9 (small).
bool WritePng(const std::string& path, const Picture& picture, std::string* error, int level = 3);

// PNG frames compressed on worker threads while the next frames are drawn.
// At most a few frames wait, so memory stays bounded.
class PngWriterPool {
 public:
  ~PngWriterPool();
  void Start(int threads);
  // Queues one frame; blocks while the queue is full. False once a write
  // has failed (Finish gives the message).
  bool Submit(std::string path, Picture picture);
  // Waits for every queued frame; false with the first error.
  bool Finish(std::string* error);

 private:
  struct Job {
    std::string path;
    Picture picture;
  };
  void Work();
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable room_;
  std::deque<Job> queue_;
  size_t limit_ = 4;
  bool closing_ = false;
  std::string error_;
};

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
  // Adds the frame's picture (not its bars) as the thumbnail of `order`,
  // box-filtered down.
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
