// The capture's video output: ffmpeg as a child process, raw frames on one
// pipe and float audio on another, each fed by a thread of its own, encoded
// with one of three quality presets.
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

// draft: quick to make, for looking at (x264 ultrafast, CRF 20, AAC, MP4).
// publish: for uploading to a video site (x264 slow, CRF 16, High profile,
// BT.709, AAC 384 kb/s, MP4 with the index first).
// lossless: for an editor (FFV1 RGB and 24-bit FLAC in Matroska).
enum class Quality { kDraft, kPublish, kLossless };

bool ParseQuality(const std::string& text, Quality* quality);

// The ffmpeg executable found in PATH, or "" when there is none.
std::string FindFfmpeg();

// Whether `ffmpeg` has the encoders `quality` needs; false with a one-line
// message naming the first one missing.
bool CheckEncoders(const std::string& ffmpeg, Quality quality, std::string* error);

// Whether the preset's frames go to ffmpeg as I420 (BT.709 studio range,
// the encoder's own format), made by the video thread from four-byte
// pictures; else as BGR.
bool TakesYuvFrames(Quality quality);
// ffmpeg's name for the frames' pixel format: "yuv420p" or "bgr24".
const char* FramePixelFormat(Quality quality);

// ffmpeg's arguments after its inputs: the encoders and their settings.
std::vector<std::string> EncoderArguments(Quality quality, const Rate& rate);

class VideoPipe {
 public:
  ~VideoPipe();
  // Starts ffmpeg writing `path` from frames of frameWidth by frameHeight;
  // false with a message when it cannot. Written pictures go back to `pool`.
  bool Start(const std::string& ffmpeg, const std::string& path, int frameWidth, int frameHeight, const Rate& rate,
             Quality quality, PicturePool* pool, std::string* error);
  // Queues one frame (its picture framed as it says: four bytes a pixel
  // where the preset takes I420, else BGR) for the video
  // thread; waits only while a few frames are already queued. False once
  // ffmpeg has stopped reading.
  bool WriteFrame(Picture&& frame);
  // Audio for the frames queued so far; handed to the audio thread so that
  // neither pipe can block the other.
  void WriteAudio(const float* interleaved, int64_t frames);
  // Writes what is queued, closes both pipes and waits for ffmpeg; false
  // when it failed.
  bool Finish(std::string* error);

 private:
  void AudioLoop();
  void VideoLoop();
  bool WriteRows(const Picture& frame);

  pid_t child_ = -1;
  int videoFd_ = -1;
  int audioFd_ = -1;
  int frameWidth_ = 0;
  int frameHeight_ = 0;
  PicturePool* pool_ = nullptr;
  std::vector<uint8_t> black_;
  std::vector<uint8_t> i420_;  // the video thread's frame being written
  std::thread audioThread_;
  std::thread videoThread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable room_;
  std::deque<std::vector<float>> audioQueue_;
  std::deque<Picture> videoQueue_;
  bool closing_ = false;
  bool audioFailed_ = false;
  bool videoFailed_ = false;
};

}  // namespace capture
