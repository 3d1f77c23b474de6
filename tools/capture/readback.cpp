// The pixel-buffer ring: glReadPixels into a buffer object returns at once
// where the driver can copy on its own (a GPU), and a frame is mapped only
// when its fence says the read has finished.
#include "tools/capture/readback.h"

#include <cstdio>
#include <cstring>

namespace capture {

FrameReadback::~FrameReadback() { Release(); }

bool FrameReadback::Init(int width, int height, int slots, std::string* error) {
  int major = 0;
  int minor = 0;
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  if (version == nullptr || std::sscanf(version, "%d.%d", &major, &minor) != 2 || major * 10 + minor < 32) {
    *error = std::string("the OpenGL context is version ") + (version != nullptr ? version : "unknown") +
             "; reading the frames back needs 3.2 (pixel buffer objects and fences)";
    return false;
  }
  width_ = width;
  height_ = height;
  slots_.assign(static_cast<size_t>(slots), Slot{});
  const GLsizeiptr bytes = static_cast<GLsizeiptr>(width) * height * 3;
  for (Slot& slot : slots_) {
    glGenBuffers(1, &slot.buffer);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.buffer);
    glBufferData(GL_PIXEL_PACK_BUFFER, bytes, nullptr, GL_STREAM_READ);
  }
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  first_ = 0;
  count_ = 0;
  return true;
}

void FrameReadback::Read() {
  Slot& slot = slots_[static_cast<size_t>((first_ + count_) % static_cast<int>(slots_.size()))];
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.buffer);
  // BGR: ffmpeg turns it into YUV 4:2:0 on its fastest path (BGR24 is the
  // one packed RGB layout with a special unscaled converter); Mesa's
  // llvmpipe packs it as fast as RGB.
  glReadPixels(0, 0, width_, height_, GL_BGR, GL_UNSIGNED_BYTE, nullptr);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  slot.fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  // Sends the read on its way now rather than with the next frame.
  glFlush();
  ++count_;
}

void FrameReadback::Collect(Picture* picture) {
  Slot& slot = slots_[static_cast<size_t>(first_)];
  while (glClientWaitSync(slot.fence, GL_SYNC_FLUSH_COMMANDS_BIT, 1000000000) == GL_TIMEOUT_EXPIRED) {
  }
  glDeleteSync(slot.fence);
  slot.fence = nullptr;
  const size_t bytes = static_cast<size_t>(width_) * height_ * 3;
  picture->width = width_;
  picture->height = height_;
  picture->bottomUp = true;
  picture->bgr = true;
  picture->pixels.resize(bytes);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.buffer);
  const void* mapped = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(bytes), GL_MAP_READ_BIT);
  if (mapped != nullptr) {
    std::memcpy(picture->pixels.data(), mapped, bytes);
    glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
  }
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  first_ = (first_ + 1) % static_cast<int>(slots_.size());
  --count_;
}

void FrameReadback::Release() {
  for (Slot& slot : slots_) {
    if (slot.fence != nullptr) glDeleteSync(slot.fence);
    if (slot.buffer != 0) glDeleteBuffers(1, &slot.buffer);
  }
  slots_.clear();
  count_ = 0;
}

}  // namespace capture
