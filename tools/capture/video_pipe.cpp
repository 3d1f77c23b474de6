// ffmpeg child process fed through two pipes (video on fd 4, audio on fd 3),
// each written by its own thread, and the presets' encoder settings.
#include "tools/capture/video_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "tools/capture/yuv.h"

extern char** environ;

namespace capture {

namespace {

constexpr int kChildAudioFd = 3;
constexpr int kChildVideoFd = 4;

// Writes every byte of the iovec list, continuing after partial writes.
bool WriteAllV(int fd, std::vector<iovec>* iov) {
  size_t first = 0;
  while (first < iov->size()) {
    const int count = static_cast<int>(std::min<size_t>(iov->size() - first, 1024));
    const ssize_t written = writev(fd, iov->data() + first, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    size_t left = static_cast<size_t>(written);
    while (left > 0 && first < iov->size()) {
      iovec& v = (*iov)[first];
      if (left >= v.iov_len) {
        left -= v.iov_len;
        ++first;
      } else {
        v.iov_base = static_cast<char*>(v.iov_base) + left;
        v.iov_len -= left;
        left = 0;
      }
    }
    while (first < iov->size() && (*iov)[first].iov_len == 0) ++first;
  }
  return true;
}

// The encoding (ffmpeg, and the threads feeding it) runs 10 nice levels
// below the drawing: it takes the CPU time the drawing leaves (llvmpipe's
// threads wait on each other every frame) before any the drawing wants,
// and falls behind at most as far as the frame queue lets it before the
// drawing waits for it. Side by side over orders 0 to 11 on two cores,
// 69 to 73 s against 76 s at equal priority. Linux keeps a nice value per
// thread, so this touches only the calling thread and what it starts.
void LowerThisThreadsPriority() {
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, 0);
  if (errno == 0) setpriority(PRIO_PROCESS, 0, std::min(current + 10, 19));
}

bool WriteAll(int fd, const void* data, size_t bytes) {
  std::vector<iovec> iov{{const_cast<void*>(data), bytes}};
  return WriteAllV(fd, &iov);
}

}  // namespace

bool ParseQuality(const std::string& text, Quality* quality) {
  if (text == "draft") {
    *quality = Quality::kDraft;
  } else if (text == "publish") {
    *quality = Quality::kPublish;
  } else if (text == "lossless") {
    *quality = Quality::kLossless;
  } else {
    return false;
  }
  return true;
}

bool CheckEncoders(const std::string& ffmpeg, Quality quality, std::string* error) {
  const std::vector<std::string> needed =
      quality == Quality::kLossless ? std::vector<std::string>{"ffv1", "flac"} : std::vector<std::string>{"libx264", "aac"};
  // ffmpeg lists one encoder a line: flags, name, description.
  const std::string command = "'" + ffmpeg + "' -hide_banner -encoders 2>/dev/null";
  FILE* list = popen(command.c_str(), "r");
  if (list == nullptr) {
    *error = "cannot run " + ffmpeg;
    return false;
  }
  std::vector<std::string> found;
  char line[512];
  while (std::fgets(line, sizeof line, list) != nullptr) {
    std::istringstream fields(line);
    std::string flags;
    std::string name;
    if (fields >> flags >> name) found.push_back(name);
  }
  pclose(list);
  for (const std::string& name : needed) {
    if (std::find(found.begin(), found.end(), name) == found.end()) {
      *error = ffmpeg + " has no " + name + " encoder, which --quality " +
               (quality == Quality::kDraft ? "draft" : quality == Quality::kPublish ? "publish" : "lossless") +
               " needs";
      return false;
    }
  }
  return true;
}

std::vector<std::string> EncoderArguments(Quality quality, const Rate& rate) {
  // The frames come already in BT.709 studio-range YUV 4:2:0 (made by the
  // video thread, see yuv.h); the stream is tagged as such, so that
  // players and sites turn it back into the right colours.
  const std::vector<std::string> bt709 = {
      "-colorspace", "bt709",
      "-color_primaries", "bt709", "-color_trc", "bt709", "-color_range", "tv"};
  std::vector<std::string> args;
  switch (quality) {
    case Quality::kDraft:
      args = {"-c:v", "libx264", "-preset", "ultrafast", "-crf", "20"};
      args.insert(args.end(), bt709.begin(), bt709.end());
      args.insert(args.end(), {"-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart"});
      break;
    case Quality::kPublish: {
      // What the big sites ask of an upload: High profile, two B-frames,
      // closed GOPs of half a second, a high bitrate (CRF 16 leaves their
      // own re-encode little to make worse), AAC-LC at 384 kb/s, the index
      // at the front.
      const long gop = std::max(1L, std::lround(FramesPerSecond(rate) / 2.0));
      args = {"-c:v", "libx264", "-preset", "slow", "-crf", "16", "-profile:v", "high", "-bf", "2",
              "-g", std::to_string(gop), "-flags", "+cgop"};
      args.insert(args.end(), bt709.begin(), bt709.end());
      args.insert(args.end(), {"-c:a", "aac", "-b:a", "384k", "-movflags", "+faststart"});
      break;
    }
    case Quality::kLossless:
      // FFV1 version 3 in 8-bit RGB: every frame a key frame, fixed slices
      // (so the bytes do not depend on the machine's thread count), each
      // with its CRC. The float music as 24-bit FLAC. Matroska, bit-exact:
      // no random segment ID or date.
      args = {"-c:v", "ffv1", "-level", "3", "-g", "1", "-slices", "4", "-slicecrc", "1", "-pix_fmt", "bgr0",
              "-c:a", "flac", "-f", "matroska", "-fflags", "+bitexact"};
      break;
  }
  return args;
}

bool TakesYuvFrames(Quality quality) { return quality != Quality::kLossless; }

const char* FramePixelFormat(Quality quality) { return TakesYuvFrames(quality) ? "yuv420p" : "bgr24"; }

std::string FindFfmpeg() {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/ffmpeg";
    struct stat info;
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return "";
}

VideoPipe::~VideoPipe() {
  std::string ignored;
  if (child_ > 0) Finish(&ignored);
}

bool VideoPipe::Start(const std::string& ffmpeg, const std::string& path, int frameWidth, int frameHeight,
                      const Rate& rate, Quality quality, PicturePool* pool, std::string* error) {
  // A dead ffmpeg must show up as a failed write, not kill the capture.
  signal(SIGPIPE, SIG_IGN);
  int video[2];
  int audio[2];
  if (pipe2(video, O_CLOEXEC) != 0 || pipe2(audio, O_CLOEXEC) != 0) {
    *error = std::string("cannot create pipes: ") + std::strerror(errno);
    return false;
  }
  // The child's ends must not sit on the descriptors they are moved to.
  for (int* fd : {&video[0], &audio[0]}) {
    const int moved = fcntl(*fd, F_DUPFD_CLOEXEC, 10);
    if (moved >= 0) {
      close(*fd);
      *fd = moved;
    }
  }
  // Bigger pipes mean fewer switches between this process and ffmpeg.
  fcntl(video[1], F_SETPIPE_SZ, 1 << 20);

  const std::string size = std::to_string(frameWidth) + "x" + std::to_string(frameHeight);
  const std::string fps = std::to_string(rate.num) + "/" + std::to_string(rate.den);
  const std::string videoIn = "pipe:" + std::to_string(kChildVideoFd);
  const std::string audioIn = "pipe:" + std::to_string(kChildAudioFd);
  std::vector<std::string> args = {
      ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
      "-probesize", "32", "-analyzeduration", "0", "-f", "rawvideo", "-pix_fmt", FramePixelFormat(quality),
      "-video_size", size,
      "-framerate", fps, "-i", videoIn,
      "-probesize", "32", "-analyzeduration", "0", "-f", "f32le", "-ar", "44100", "-ac", "2", "-i", audioIn,
      "-map", "0:v", "-map", "1:a"};
  const std::vector<std::string> encoders = EncoderArguments(quality, rate);
  args.insert(args.end(), encoders.begin(), encoders.end());
  args.push_back(path);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, audio[0], kChildAudioFd);
  posix_spawn_file_actions_adddup2(&actions, video[0], kChildVideoFd);
  // ffmpeg starts from a thread of lower priority and inherits it.
  int spawned = 0;
  std::thread([&] {
    LowerThisThreadsPriority();
    spawned = posix_spawn(&child_, ffmpeg.c_str(), &actions, nullptr, argv.data(), environ);
  }).join();
  posix_spawn_file_actions_destroy(&actions);
  close(video[0]);
  close(audio[0]);
  if (spawned != 0) {
    close(video[1]);
    close(audio[1]);
    child_ = -1;
    *error = "cannot start " + ffmpeg + ": " + std::strerror(spawned);
    return false;
  }
  videoFd_ = video[1];
  audioFd_ = audio[1];
  frameWidth_ = frameWidth;
  frameHeight_ = frameHeight;
  pool_ = pool;
  black_.assign(static_cast<size_t>(frameWidth) * 3, 0);
  closing_ = false;
  audioThread_ = std::thread(&VideoPipe::AudioLoop, this);
  videoThread_ = std::thread(&VideoPipe::VideoLoop, this);
  return true;
}

bool VideoPipe::WriteFrame(Picture&& frame) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Up to 24 MB of frames queued (at least three, at most twelve) ride out
  // the uneven pace of the drawing (its cheap scenes run ahead) and of
  // ffmpeg without holding many big frames.
  const size_t queued = std::clamp<size_t>((24u << 20) / std::max<size_t>(frame.pixels.size(), 1), 3, 12);
  room_.wait(lock, [this, queued] { return videoQueue_.size() < queued || videoFailed_; });
  if (videoFailed_) return false;
  videoQueue_.push_back(std::move(frame));
  wake_.notify_all();
  return true;
}

void VideoPipe::WriteAudio(const float* interleaved, int64_t frames) {
  if (frames <= 0) return;
  std::vector<float> chunk(interleaved, interleaved + frames * 2);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    audioQueue_.push_back(std::move(chunk));
  }
  wake_.notify_all();
}

// A four-byte picture as the whole I420 frame; a BGR one as the frame's
// rows top first, the bars from one row of zeros, handed to the pipe
// without a copy.
bool VideoPipe::WriteRows(const Picture& frame) {
  if (frame.pixelBytes == 4) {
    // Turned into the encoder's I420 here, beside the drawing: half the
    // bytes through the pipe and no conversion in ffmpeg.
    Layout layout;
    layout.width = frameWidth_;
    layout.height = frameHeight_;
    layout.pictureWidth = frame.width;
    layout.pictureHeight = frame.height;
    layout.left = frame.left;
    layout.top = frame.top;
    i420_.resize(I420Bytes(frameWidth_, frameHeight_));
    PictureToI420(frame.pixels.data(), frame.bgr, layout, i420_.data());
    return WriteAll(videoFd_, i420_.data(), i420_.size());
  }
  std::vector<iovec> parts;
  parts.reserve(static_cast<size_t>(frameHeight_) * 3);
  const size_t full = static_cast<size_t>(frameWidth_) * 3;
  const size_t leftBytes = static_cast<size_t>(frame.left) * 3;
  const size_t pictureBytes = static_cast<size_t>(frame.width) * 3;
  const size_t rightBytes = full - leftBytes - pictureBytes;
  for (int y = 0; y < frameHeight_; ++y) {
    const int py = y - frame.top;
    if (py < 0 || py >= frame.height) {
      parts.push_back({black_.data(), full});
      continue;
    }
    if (leftBytes > 0) parts.push_back({black_.data(), leftBytes});
    parts.push_back({const_cast<uint8_t*>(frame.Row(py)), pictureBytes});
    if (rightBytes > 0) parts.push_back({black_.data(), rightBytes});
  }
  return WriteAllV(videoFd_, &parts);
}

void VideoPipe::VideoLoop() {
  LowerThisThreadsPriority();
  for (;;) {
    Picture frame;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return closing_ || !videoQueue_.empty(); });
      if (videoQueue_.empty()) {
        // Closed as soon as written out: ffmpeg sees the end of this input
        // whatever the other thread still has to write.
        close(videoFd_);
        videoFd_ = -1;
        return;
      }
      frame = std::move(videoQueue_.front());
      videoQueue_.pop_front();
    }
    const bool ok = !videoFailed_ && WriteRows(frame);
    if (pool_ != nullptr) pool_->Give(std::move(frame));
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ok) videoFailed_ = true;
    room_.notify_all();
  }
}

void VideoPipe::AudioLoop() {
  LowerThisThreadsPriority();
  for (;;) {
    std::vector<float> chunk;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return closing_ || !audioQueue_.empty(); });
      if (audioQueue_.empty()) {
        close(audioFd_);
        audioFd_ = -1;
        return;
      }
      chunk = std::move(audioQueue_.front());
      audioQueue_.pop_front();
    }
    if (!audioFailed_ && !WriteAll(audioFd_, chunk.data(), chunk.size() * sizeof(float))) {
      std::lock_guard<std::mutex> lock(mutex_);
      audioFailed_ = true;
    }
  }
}

bool VideoPipe::Finish(std::string* error) {
  if (child_ <= 0) return true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  wake_.notify_all();
  // Each thread writes what is queued, then closes its pipe.
  if (videoThread_.joinable()) videoThread_.join();
  if (audioThread_.joinable()) audioThread_.join();
  int status = 0;
  while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
  }
  child_ = -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *error = "ffmpeg failed (exit status " +
             std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")";
    return false;
  }
  if (videoFailed_ || audioFailed_) {
    *error = "ffmpeg stopped reading its input";
    return false;
  }
  return true;
}

}  // namespace capture
