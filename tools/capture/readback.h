// Reading the drawn frames back without waiting for each: a ring of pixel
// buffer objects, each read fenced and collected a few frames later, while
// the next frames are drawn.
#pragma once

#define GL_GLEXT_PROTOTYPES 1
#include "platform/gl.h"

#include <string>
#include <vector>

#include "tools/capture/writers.h"

namespace capture {

class FrameReadback {
 public:
  ~FrameReadback();
  // Buffers for `slots` frames of width by height, read from the back
  // buffer; false with a message when the context has no pixel buffer
  // objects or fences (OpenGL 3.2 is needed).
  bool Init(int width, int height, int slots, std::string* error);
  // Starts reading the frame just drawn into the next slot. The caller
  // collects the oldest first when every slot is in flight.
  void Read();
  bool Full() const { return count_ == static_cast<int>(slots_.size()); }
  bool Empty() const { return count_ == 0; }
  // Waits for the oldest read and copies it into *picture: bottom-up BGR.
  void Collect(Picture* picture);
  // Frees the buffers; the context must still be current.
  void Release();

 private:
  struct Slot {
    GLuint buffer = 0;
    GLsync fence = nullptr;
  };
  std::vector<Slot> slots_;
  int width_ = 0;
  int height_ = 0;
  int first_ = 0;
  int count_ = 0;
};

}  // namespace capture
