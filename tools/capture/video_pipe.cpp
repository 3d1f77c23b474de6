// ffmpeg child process fed through two pipes (video on fd 4, audio on fd 3).
#include "tools/capture/video_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

bool WriteAll(int fd, const void* data, size_t bytes) {
  std::vector<iovec> iov{{const_cast<void*>(data), bytes}};
  return WriteAllV(fd, &iov);
}

}  // namespace

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

bool VideoPipe::Start(const std::string& ffmpeg, const std::string& path, int width, int height, const Rate& rate,
                      std::string* error) {
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

  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::string fps = std::to_string(rate.num) + "/" + std::to_string(rate.den);
  const std::string videoIn = "pipe:" + std::to_string(kChildVideoFd);
  const std::string audioIn = "pipe:" + std::to_string(kChildAudioFd);
  std::vector<std::string> args = {
      ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
      "-probesize", "32", "-analyzeduration", "0", "-f", "rawvideo", "-pix_fmt", "rgb24", "-video_size", size, "-framerate", fps, "-i", videoIn,
      "-probesize", "32", "-analyzeduration", "0", "-f", "f32le", "-ar", "44100", "-ac", "2", "-i", audioIn,
      "-map", "0:v", "-map", "1:a",
      "-c:v", "libx264", "-preset", "ultrafast", "-crf", "20", "-pix_fmt", "yuv420p",
      "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", path};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, audio[0], kChildAudioFd);
  posix_spawn_file_actions_adddup2(&actions, video[0], kChildVideoFd);
  const int spawned = posix_spawn(&child_, ffmpeg.c_str(), &actions, nullptr, argv.data(), environ);
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
  closing_ = false;
  audioThread_ = std::thread(&VideoPipe::AudioLoop, this);
  return true;
}

bool VideoPipe::WriteFrame(const Picture& frame) {
  if (videoFailed_) return false;
  // OpenGL reads bottom-up; hand ffmpeg the rows top first without a copy.
  std::vector<iovec> rows(static_cast<size_t>(frame.height));
  const size_t stride = static_cast<size_t>(frame.width) * 3;
  for (int y = 0; y < frame.height; ++y) {
    const int source = frame.bottomUp ? frame.height - 1 - y : y;
    rows[static_cast<size_t>(y)].iov_base = const_cast<uint8_t*>(frame.rgb.data() + static_cast<size_t>(source) * stride);
    rows[static_cast<size_t>(y)].iov_len = stride;
  }
  if (!WriteAllV(videoFd_, &rows)) videoFailed_ = true;
  return !videoFailed_;
}

void VideoPipe::WriteAudio(const float* interleaved, int64_t frames) {
  if (frames <= 0) return;
  std::vector<float> chunk(interleaved, interleaved + frames * 2);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(chunk));
  }
  wake_.notify_one();
}

void VideoPipe::AudioLoop() {
  for (;;) {
    std::vector<float> chunk;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      chunk = std::move(queue_.front());
      queue_.pop_front();
    }
    if (!audioFailed_ && !WriteAll(audioFd_, chunk.data(), chunk.size() * sizeof(float))) {
      std::lock_guard<std::mutex> lock(mutex_);
      audioFailed_ = true;
    }
  }
}

bool VideoPipe::Finish(std::string* error) {
  if (child_ <= 0) return true;
  if (videoFd_ >= 0) close(videoFd_);
  videoFd_ = -1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  wake_.notify_one();
  if (audioThread_.joinable()) audioThread_.join();
  if (audioFd_ >= 0) close(audioFd_);
  audioFd_ = -1;
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
