// The pixel-buffer ring: glReadPixels into a buffer object returns at once
// where the driver can copy on its own (a GPU), and a frame is mapped only
// when its fence says the read has finished. With Mesa's llvmpipe the read
// is done at once by the drawing thread, from its B, G, R, unused back
// buffer: packing BGR costs that thread 0.67 ms a 640x480 frame, RGBA
// 0.50 ms.
#include "tools/capture/readback.h"

#include <cstdio>
#include <cstring>

namespace capture {

namespace {

void CopyOut(GLuint buffer, size_t bytes, std::vector<uint8_t>* pixels) {
  pixels->resize(bytes);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
  const void* mapped = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(bytes), GL_MAP_READ_BIT);
  if (mapped != nullptr) {
    std::memcpy(pixels->data(), mapped, bytes);
    glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
  }
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

}  // namespace

FrameReadback::~FrameReadback() { Release(); }

bool FrameReadback::Init(const Layout& layout, int slots, bool video, std::string* error) {
  int major = 0;
  int minor = 0;
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  if (version == nullptr || std::sscanf(version, "%d.%d", &major, &minor) != 2 || major * 10 + minor < 32) {
    *error = std::string("the OpenGL context is version ") + (version != nullptr ? version : "unknown") +
             "; reading the frames back needs 3.2 (pixel buffer objects and fences)";
    return false;
  }
  width_ = layout.pictureWidth;
  height_ = layout.pictureHeight;
  video_ = video;
  slots_.assign(static_cast<size_t>(slots), Slot{});
  const GLsizeiptr pixels = static_cast<GLsizeiptr>(width_) * height_;
  // BGR buffers are made at the first read that wants one: a video-only
  // capture never does, and at 7680x4320 three of them are 224 MB.
  for (Slot& slot : slots_) {
    if (video_) {
      glGenBuffers(1, &slot.videoBuffer);
      glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.videoBuffer);
      glBufferData(GL_PIXEL_PACK_BUFFER, pixels * 4, nullptr, GL_STREAM_READ);
    }
  }
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  first_ = 0;
  count_ = 0;
  return true;
}

void FrameReadback::Read(bool bgr) {
  Slot& slot = slots_[static_cast<size_t>((first_ + count_) % static_cast<int>(slots_.size()))];
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  slot.hasBgr = bgr;
  if (bgr) {
    if (slot.bgrBuffer == 0) {
      glGenBuffers(1, &slot.bgrBuffer);
      glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.bgrBuffer);
      glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(width_) * height_ * 3, nullptr, GL_STREAM_READ);
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.bgrBuffer);
    // BGR, as the PNG writers, the contact sheet and FFV1's bgr0 take it.
    glReadPixels(0, 0, width_, height_, GL_BGR, GL_UNSIGNED_BYTE, nullptr);
  }
  if (video_) {
    glBindBuffer(GL_PIXEL_PACK_BUFFER, slot.videoBuffer);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  }
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  slot.fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  // Sends the read on its way now rather than with the next frame.
  glFlush();
  ++count_;
}

void FrameReadback::Collect(Picture* bgr, Picture* video) {
  Slot& slot = slots_[static_cast<size_t>(first_)];
  while (glClientWaitSync(slot.fence, GL_SYNC_FLUSH_COMMANDS_BIT, 1000000000) == GL_TIMEOUT_EXPIRED) {
  }
  glDeleteSync(slot.fence);
  slot.fence = nullptr;
  // A bottom-up picture of the buffer's pixels: BGR, or R, G, B, unused.
  auto fill = [this](GLuint buffer, int pixelBytes, Picture* picture) {
    picture->width = width_;
    picture->height = height_;
    picture->bottomUp = true;
    picture->bgr = pixelBytes == 3;
    picture->pixelBytes = pixelBytes;
    CopyOut(buffer, static_cast<size_t>(width_) * static_cast<size_t>(height_) * pixelBytes, &picture->pixels);
  };
  if (bgr != nullptr && slot.hasBgr) fill(slot.bgrBuffer, 3, bgr);
  if (video != nullptr && video_) fill(slot.videoBuffer, 4, video);
  first_ = (first_ + 1) % static_cast<int>(slots_.size());
  --count_;
}

void FrameReadback::Release() {
  for (Slot& slot : slots_) {
    if (slot.fence != nullptr) glDeleteSync(slot.fence);
    if (slot.bgrBuffer != 0) glDeleteBuffers(1, &slot.bgrBuffer);
    if (slot.videoBuffer != 0) glDeleteBuffers(1, &slot.videoBuffer);
  }
  slots_.clear();
  count_ = 0;
}

}  // namespace capture
