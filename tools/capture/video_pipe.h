// The capture's MP4 output: ffmpeg as a child process, raw RGB frames on
// one pipe and float audio on another, encoded to H.264 and AAC.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/capture/virtual_clock.h"
#include "tools/capture/writers.h"

namespace capture {

// The ffmpeg executable found in PATH, or "" when there is none.
std::string FindFfmpeg();

class VideoPipe {
 public:
  ~VideoPipe();
  // Starts ffmpeg writing `path`; false with a message when it cannot.
  bool Start(const std::string& ffmpeg, const std::string& path, int width, int height, const Rate& rate,
             std::string* error);
  // One frame of width * height RGB pixels.
  bool WriteFrame(const Picture& frame);
  // Audio for the frames written so far; handed to a writer thread so that
  // neither pipe can block the other.
  void WriteAudio(const float* interleaved, int64_t frames);
  // Closes both pipes and waits for ffmpeg; false when it failed.
  bool Finish(std::string* error);

 private:
  void AudioLoop();

  pid_t child_ = -1;
  int videoFd_ = -1;
  int audioFd_ = -1;
  bool videoFailed_ = false;
  std::thread audioThread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::vector<float>> queue_;
  bool closing_ = false;
  bool audioFailed_ = false;
};

}  // namespace capture
