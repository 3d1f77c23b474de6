// Reading the drawn frames back without waiting for each: a ring of pixel
// buffer objects, each read fenced and collected a few frames later, while
// the next frames are drawn.
#pragma once

#define GL_GLEXT_PROTOTYPES 1
#include "platform/gl.h"

#include <string>
#include <vector>

#include "tools/capture/layout.h"
#include "tools/capture/writers.h"

namespace capture {

class FrameReadback {
 public:
  ~FrameReadback();
  // Buffers for `slots` frames of the layout's picture, read from the back
  // buffer; false with a message when the context has no pixel buffer
  // objects or fences (OpenGL 3.2 is needed).
  // With `video`, each read also takes the picture as R, G, B, unused for
  // the video.
  bool Init(const Layout& layout, int slots, bool video, std::string* error);
  // Starts reading the frame just drawn into the next slot: its BGR picture
  // where `bgr` is set, its four-byte one where Init asked for video. The
  // caller collects the oldest first when every slot is in flight.
  void Read(bool bgr);
  bool Full() const { return count_ == static_cast<int>(slots_.size()); }
  bool Empty() const { return count_ == 0; }
  // Waits for the oldest read and copies it out, bottom row first: *bgr
  // gets the BGR picture (where that slot read one), *video the four-byte
  // one (where Init asked for video). Either may be null.
  void Collect(Picture* bgr, Picture* video);
  // Frees the buffers; the context must still be current.
  void Release();

 private:
  struct Slot {
    GLuint bgrBuffer = 0;
    GLuint videoBuffer = 0;
    GLsync fence = nullptr;
    bool hasBgr = false;
  };

  std::vector<Slot> slots_;
  int width_ = 0;
  int height_ = 0;
  int first_ = 0;
  int count_ = 0;
  bool video_ = false;
};

}  // namespace capture
