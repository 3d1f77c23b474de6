// lantern-capture: renders the show offline on an offscreen GL context, on a
// virtual clock (frame k at k / fps), at any frame size with the 4:3 picture
// centred, to PNG frames, a WAV and frames.csv, to a video through ffmpeg,
// and to a contact sheet.
#include <SDL.h>
#include "platform/gl.h"
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "platform/system.h"
#include "render/position_code.h"
#include "render/render_state.h"
#include "shell/data_directory.h"
#include "timeline/clock.h"
#include "timeline/sequencer.h"
#include "timeline/skip_ahead.h"
#include "tools/capture/check_data.h"
#include "tools/capture/layout.h"
#include "tools/capture/music.h"
#include "tools/capture/readback.h"
#include "tools/capture/video_pipe.h"
#include "tools/capture/virtual_clock.h"
#include "tools/capture/writers.h"

namespace fs = std::filesystem;
using capture::Position;

namespace {

const char* const kUsage =
    "usage: lantern-capture [options]\n"
    "Renders the show offline, faster than real time, on a virtual clock.\n"
    "\n"
    "  --out DIR             write frame-000000.png..., audio.wav and frames.csv into DIR\n"
    "  --video FILE          encode the video and its sound through ffmpeg, as --quality says\n"
    "  --quality PRESET      what the video is for (default draft):\n"
    "                          draft     to look at soon: quick, H.264 (x264 ultrafast, CRF 20),\n"
    "                                    AAC 192 kb/s, MP4\n"
    "                          publish   to upload to a video site: H.264 High (x264 slow,\n"
    "                                    CRF 16), BT.709, AAC 384 kb/s, MP4 with its index first;\n"
    "                                    use with --size 1920x1080 or 3840x2160\n"
    "                          lossless  to edit: FFV1 RGB, exactly the frames --out writes,\n"
    "                                    and 24-bit FLAC, in Matroska (FILE.mkv)\n"
    "  --contact-sheet FILE  one picture: the first frame at row 32 of each order\n"
    "  --fps N               frames per second (default 60; 60000/1001 and 29.97 work)\n"
    "  --size WxH            frame size from 320x240 to 7680x4320 (default 640x480); the\n"
    "                        picture is drawn at the largest 4:3 size that fits, centred\n"
    "                        between black bars: 1920x1080 holds a 1440x1080 picture\n"
    "  --scale N             render N*640 by N*480, N from 1 to 8 (--size with no bars)\n"
    "  --from ORDER[:ROW]    first music position written (the show is still\n"
    "                        simulated from its start)\n"
    "  --to ORDER[:ROW]      last music position written (a bare ORDER includes all of it)\n"
    "  --data DIR            read the show's data from DIR (default: found beside this\n"
    "                        program as the live program finds it)\n"
    "  --stats               print the renderer and each scene's frame time (median, 99th\n"
    "                        percentile) on stdout\n"
    "  --quiet               no progress bar\n"
    "  --position-code       draw each frame's order and row as a strip of cells in its\n"
    "                        top-left corner, as the live program's LANTERN_POSITION_CODE\n"
    "  --check-data DIR      check a data set instead of capturing: load every file with\n"
    "                        the show's loaders and walk the music to its end; exit 0\n"
    "                        when the set is complete and sound, 1 otherwise\n"
    "  --version             the version\n"
    "  --help                this text\n"
    "\n"
    "The run ends with the frame that ends the show (order 30, row 63), which is\n"
    "not written, as it is never presented by the live program.\n";

struct Options {
  std::string outDir;
  std::string video;
  std::string contactSheet;
  std::string dataDir;
  std::string checkDir;
  capture::Rate rate;
  capture::Layout layout;
  capture::Quality quality = capture::Quality::kDraft;
  bool sizeGiven = false;
  bool scaleGiven = false;
  bool qualityGiven = false;
  Position from{0, 0};
  Position to{65535, std::numeric_limits<int32_t>::max()};
  bool toGiven = false;
  bool stats = false;
  bool quiet = false;
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "lantern-capture: %s\n", message.c_str());
  return 1;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "lantern-capture: %s\n(try --help)\n", message.c_str());
  return 2;
}

// 0: parsed; 1: --help or --version shown; 2: usage error (already reported).
int ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 1;
    }
    if (arg == "--version") {
      std::printf("lantern-capture %s\n", LANTERN_VERSION);
      return 1;
    }
    if (arg == "--stats") {
      options->stats = true;
      continue;
    }
    if (arg == "--quiet") {
      options->quiet = true;
      continue;
    }
    if (arg == "--position-code") {
      g_drawPositionCode = true;
      continue;
    }
    const bool takesValue = arg == "--out" || arg == "--video" || arg == "--contact-sheet" || arg == "--fps" ||
                            arg == "--scale" || arg == "--size" || arg == "--quality" || arg == "--from" ||
                            arg == "--to" || arg == "--data" || arg == "--check-data";
    if (!takesValue) return UsageError("unknown option " + arg);
    if (i + 1 >= argc) return UsageError(arg + " needs a value");
    const std::string value = argv[++i];
    if (arg == "--out") {
      options->outDir = value;
    } else if (arg == "--video") {
      options->video = value;
    } else if (arg == "--contact-sheet") {
      options->contactSheet = value;
    } else if (arg == "--data") {
      options->dataDir = value;
    } else if (arg == "--check-data") {
      options->checkDir = value;
    } else if (arg == "--fps") {
      if (!capture::ParseRate(value, &options->rate)) {
        return UsageError("--fps wants a rate from 0.1 to 1000 like 60, 60000/1001 or 29.97, not " + value);
      }
    } else if (arg == "--scale") {
      int64_t scale = 0;
      if (!capture::ParseCount(value, &scale) || scale < 1 || scale > 8) {
        return UsageError("--scale wants a whole number from 1 to 8, not " + value);
      }
      options->layout = capture::FitPicture(640 * static_cast<int>(scale), 480 * static_cast<int>(scale));
      options->scaleGiven = true;
    } else if (arg == "--size") {
      int width = 0;
      int height = 0;
      if (!capture::ParseSize(value, &width, &height)) {
        return UsageError("--size wants WIDTHxHEIGHT from 320x240 to 7680x4320, not " + value);
      }
      options->layout = capture::FitPicture(width, height);
      options->sizeGiven = true;
    } else if (arg == "--quality") {
      if (!capture::ParseQuality(value, &options->quality)) {
        return UsageError("--quality wants draft, publish or lossless, not " + value);
      }
      options->qualityGiven = true;
    } else if (arg == "--from") {
      if (!capture::ParsePosition(value, false, &options->from)) {
        return UsageError("--from wants ORDER or ORDER:ROW, not " + value);
      }
    } else if (arg == "--to") {
      if (!capture::ParsePosition(value, true, &options->to)) {
        return UsageError("--to wants ORDER or ORDER:ROW, not " + value);
      }
      options->toGiven = true;
    }
  }
  if (options->to < options->from) return UsageError("--to lies before --from");
  if (options->sizeGiven && options->scaleGiven) return UsageError("--size and --scale both set the frame size");
  if (options->qualityGiven && options->video.empty()) return UsageError("--quality is for --video");
  const capture::Layout& layout = options->layout;
  if (!options->video.empty() && options->quality != capture::Quality::kLossless &&
      (layout.width % 2 != 0 || layout.height % 2 != 0)) {
    return UsageError("H.264 in 4:2:0 needs an even width and height, not " + std::to_string(layout.width) + "x" +
                      std::to_string(layout.height) + " (--quality lossless takes any size)");
  }
  if (options->quality == capture::Quality::kLossless && fs::path(options->video).extension() != ".mkv") {
    return UsageError("--quality lossless writes Matroska: name the video FILE.mkv");
  }
  return 0;
}

// The data beside this program, found as the live program finds it (its
// directory, its data/, the installed share/lantern or share/games/lantern);
// empty when none holds it, with *looked naming every place tried.
std::string DefaultDataDir(std::string* looked) {
  char executable[4096];
  if (!ExecutableDirectory(executable, sizeof executable)) {
    *looked = "the program's directory, which cannot be found";
    return "";
  }
  char candidate[4096];
  for (int n = 0; n < kDataCandidates; ++n) {
    if (!DataCandidate(executable, n, candidate, sizeof candidate)) continue;
    if (HoldsDataFiles(candidate)) return candidate;
    *looked += (looked->empty() ? "" : n + 1 == kDataCandidates ? " or " : ", ") + std::string(candidate);
  }
  return "";
}

std::string Absolute(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  const fs::path p = fs::absolute(path, ec);
  return ec ? path : p.string();
}

// The offscreen window and context, sized 640N by 480N.
struct GlContext {
  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;
};

bool CreateContext(int width, int height, GlContext* gl, std::string* error) {
  // Never a visible window, whatever display there is; and Ctrl-C must stop
  // the capture, not become an SDL event nobody reads.
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    *error = std::string("cannot start SDL's offscreen video: ") + SDL_GetError();
    return false;
  }
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  gl->window = SDL_CreateWindow("lantern-capture", 0, 0, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (gl->window == nullptr) {
    *error = std::string("cannot create an offscreen OpenGL surface: ") + SDL_GetError();
    return false;
  }
  gl->context = SDL_GL_CreateContext(gl->window);
  if (gl->context == nullptr || SDL_GL_MakeCurrent(gl->window, gl->context) != 0) {
    *error = std::string("cannot create an OpenGL context: ") + SDL_GetError();
    return false;
  }
  return true;
}

void DestroyContext(GlContext* gl) {
  if (gl->context != nullptr) SDL_GL_DeleteContext(gl->context);
  if (gl->window != nullptr) SDL_DestroyWindow(gl->window);
  SDL_Quit();
}

// The music is driven by the capture's own clock: nothing to start.
void NoMusicStart() {}

std::string Clock(double seconds) {
  const int s = static_cast<int>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
  return text;
}

class Progress {
 public:
  Progress(bool enabled, double virtualEnd) : enabled_(enabled), end_(virtualEnd) {}

  void Update(double virtualNow, int64_t frame, const Position& position, bool force = false) {
    if (!enabled_) return;
    const double elapsed = Elapsed();
    if (!force && elapsed - lastDraw_ < 0.2) return;
    lastDraw_ = elapsed;
    const double fraction = end_ > 0.0 ? std::clamp(virtualNow / end_, 0.0, 1.0) : 0.0;
    constexpr int kBar = 30;
    const int filled = static_cast<int>(fraction * kBar);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBar - filled), '.');
    const std::string eta = fraction > 0.001 ? Clock(elapsed * (1.0 - fraction) / fraction) : "?";
    std::fprintf(stderr, "\r[%s] %3d%%  frame %lld  order %2d row %2d  elapsed %s  ETA %s ", bar.c_str(),
                 static_cast<int>(fraction * 100.0), static_cast<long long>(frame), position.order, position.row,
                 Clock(elapsed).c_str(), eta.c_str());
    drawn_ = true;
  }
  void Done() {
    if (drawn_) std::fputs("\n", stderr);
    drawn_ = false;
  }
  double Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  bool enabled_;
  double end_;
  double lastDraw_ = -1.0;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const size_t index = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
  return values[std::min(index, values.size() - 1)];
}

int Run(const Options& options) {
  std::string looked;
  const std::string dataDir = Absolute(options.dataDir.empty() ? DefaultDataDir(&looked) : options.dataDir);
  if (dataDir.empty()) {
    return Fail("no show data in " + looked + " (build the project first, or pass --data DIR)");
  }
  const std::string outDir = Absolute(options.outDir);
  const std::string video = Absolute(options.video);
  const std::string sheetPath = Absolute(options.contactSheet);
  std::string error;

  // Everything that can be checked before a frame is drawn is checked here.
  std::string ffmpeg;
  if (!video.empty()) {
    ffmpeg = capture::FindFfmpeg();
    if (ffmpeg.empty()) return Fail("--video needs ffmpeg, which is not in PATH (Debian package ffmpeg)");
    if (!capture::CheckEncoders(ffmpeg, options.quality, &error)) return Fail(error);
  }
  for (const std::string& file : {video, sheetPath}) {
    if (!file.empty() && !fs::is_directory(fs::path(file).parent_path())) {
      return Fail("cannot write " + file + ": its directory does not exist");
    }
  }
  if (!fs::is_directory(dataDir)) {
    return Fail("no show data: " + dataDir + " is not a directory (build the project first, or pass --data DIR)");
  }
  capture::MusicRenderer music;
  if (!fs::exists(fs::path(dataDir) / "TRK-MAIN.mo3")) {
    return Fail("no show data: " + dataDir + " has no TRK-MAIN.mo3 (build the project first, or pass --data DIR)");
  }
  if (!fs::exists(fs::path(dataDir) / "loading.tga")) {
    return Fail("no show data: " + dataDir + " has no pictures (loading.tga is missing)");
  }
  if (!music.Load((fs::path(dataDir) / "TRK-MAIN.mo3").string(), &error)) {
    return Fail("cannot load the music: " + error);
  }
  capture::ContactSheet sheet;
  if (!sheetPath.empty() && !sheet.Init(&error)) return Fail(error);
  capture::WavWriter wav;
  capture::PngWriterPool pngs;
  FILE* csv = nullptr;
  if (!outDir.empty()) {
    std::error_code ec;
    fs::create_directories(outDir, ec);
    if (ec || !fs::is_directory(outDir)) return Fail("cannot create " + outDir);
    if (!wav.Open(outDir + "/audio.wav", &error)) return Fail(error);
    csv = std::fopen((outDir + "/frames.csv").c_str(), "w");
    if (csv == nullptr) return Fail("cannot write " + outDir + "/frames.csv");
    std::fputs("frame,seconds,order,row,ticks,delta,scene\n", csv);
    pngs.Start(2);
  }

  const capture::Layout& layout = options.layout;
  const int width = layout.pictureWidth;
  const int height = layout.pictureHeight;
  // The show is drawn in the context's own framebuffer at the picture's
  // size; the bars are added as the frames are written.
  GlContext gl;
  if (!CreateContext(width, height, &gl, &error)) {
    DestroyContext(&gl);
    return Fail(error);
  }

  // The loaders open the data by relative names, as the live program does.
  if (chdir(dataDir.c_str()) != 0) return Fail("cannot enter " + dataDir);

  // As the live window's creation: viewport and default projection, the
  // initial render state, then every scene's load; the music is ours.
  glViewport(0, 0, 640, 480);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(45.0, 640.0 / 480.0, 0.1, 100.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  InitRenderState();
  capture::FrameReadback readback;
  const bool wantPixels = !outDir.empty() || !video.empty() || !sheetPath.empty();
  // H.264's frames come back as four-byte pictures (the video pipe makes
  // them I420); the PNGs, the contact sheet and FFV1 take BGR.
  const bool yuvVideo = !video.empty() && capture::TakesYuvFrames(options.quality);
  if (wantPixels && !readback.Init(layout, 3, yuvVideo, &error)) {
    readback.Release();
    DestroyContext(&gl);
    return Fail(error);
  }
  glViewport(0, 0, width, height);
  // Lines are as wide on the picture as the live program's 1-pixel lines
  // on its 640 by 480 window (the scenes never set a width themselves).
  const float pixelScale = static_cast<float>(width) / 640.0f;
  glLineWidth(pixelScale);
  glPointSize(pixelScale);
  const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  const std::string rendererName = renderer != nullptr ? renderer : "unknown";
  g_startMusicHook = NoMusicStart;
  LoadAllScenes();

  capture::PicturePool pool;
  capture::VideoPipe pipe;
  if (!video.empty() &&
      !pipe.Start(ffmpeg, video, layout.width, layout.height, options.rate, options.quality, &pool, &error)) {
    readback.Release();
    DestroyContext(&gl);
    return Fail(error);
  }

  double virtualEnd = music.durationSeconds();
  if (options.toGiven) {
    const Position after = options.to.row > 255 ? Position{options.to.order + 1, 0} : options.to;
    virtualEnd = std::min(virtualEnd, music.SecondsAt(after));
  }
  Progress progress(!options.quiet && isatty(2) != 0, virtualEnd);

  // Frames read back but not yet collected, oldest first: what each is for.
  struct Pending {
    int64_t frame;
    int order;
    bool sheet;
  };
  std::deque<Pending> pending;
  std::vector<bool> sheetTaken(256, false);
  // The oldest frame in flight, once read, goes to the contact sheet, the
  // PNG writers and ffmpeg; false when one of them failed.
  auto collect = [&]() -> bool {
    const Pending p = pending.front();
    pending.pop_front();
    capture::Picture picture = pool.Take(0);
    capture::Picture videoPicture;
    if (yuvVideo) videoPicture = pool.Take(0);
    readback.Collect(&picture, yuvVideo ? &videoPicture : nullptr);
    for (capture::Picture* framed : {&picture, &videoPicture}) {
      framed->frameWidth = layout.width;
      framed->frameHeight = layout.height;
      framed->left = layout.left;
      framed->top = layout.top;
    }
    if (p.sheet) sheet.Add(p.order, picture);
    if (!outDir.empty()) {
      char name[32];
      std::snprintf(name, sizeof name, "/frame-%06lld.png", static_cast<long long>(p.frame));
      const bool ok = video.empty() || yuvVideo ? pngs.Submit(outDir + name, std::move(picture))
                                    : pngs.Submit(outDir + name, picture);
      if (!ok) {
        pngs.Finish(&error);
        return false;
      }
    }
    if (!video.empty()) {
      if (!pipe.WriteFrame(std::move(yuvVideo ? videoPicture : picture))) {
        error = "ffmpeg stopped reading the video";
        return false;
      }
    }
    if (yuvVideo || (video.empty() && outDir.empty())) pool.Give(std::move(picture));
    return true;
  };

  std::vector<std::vector<double>> frameMs(9);
  std::vector<float> audio;
  double readMs = 0.0;  // --stats: time spent starting reads and collecting frames
  int64_t written = 0;
  bool previousWritten = false;
  bool reachedEnd = false;
  bool failed = false;
  // Frames drawn after the song ended without the show ending: a second's worth is the limit.
  int64_t framesAfterSong = 0;
  int64_t k = 0;
  // The frames before the range are the skip-ahead's: simulated from the
  // show's start, drawn through a 1-pixel viewport for their effect on the
  // scenes' state only, their music rendered and dropped. (--stats times
  // every frame, so it draws them all in full.)
  if (!options.stats) SkipAheadTo(music.song(), options.rate, options.from, 0.0f, &k);
  Position position = music.position();
  // Frames nobody looks at within the range (between the contact sheet's
  // pictures) go through the same 1-pixel viewport.
  bool fastForward = false;
  for (;; ++k) {
    const bool inRange = options.from <= position && position <= options.to;
    const bool sheetFrame = !sheetPath.empty() && position.row >= 32 && position.order < 256 &&
                            !sheetTaken[static_cast<size_t>(position.order)];
    const bool drawn = options.stats || (inRange && (!outDir.empty() || !video.empty() || sheetFrame));
    if (!drawn && !fastForward) {
      BeginUnseenFrames();
      fastForward = true;
    } else if (drawn && fastForward) {
      EndUnseenFrames();
      fastForward = false;
    }
    const int64_t ticks = capture::TicksAt(options.rate, k);
    SetSimulatedClock(position, static_cast<float>(ticks));

    const auto start = std::chrono::steady_clock::now();
    const bool goOn = DrawFrame();
    if (options.stats) {
      glFinish();
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      frameMs[static_cast<size_t>(SceneForOrder(g_scene))].push_back(ms);
    }
    if (!goOn) {
      reachedEnd = true;
      break;
    }
    const Position seen{g_scene, g_sceneRow};
    if (options.to < seen) break;
    const bool write = options.from <= seen;

    // Frame k's music, from t = k / fps to the next frame; the position it
    // reaches is the next frame's. It goes out before the frame's picture.
    const int64_t count = capture::SamplesUpTo(options.rate, k + 1) - capture::SamplesUpTo(options.rate, k);
    music.Render(count, &audio);
    if (write) {
      if (!outDir.empty() && !wav.Write(audio.data(), count)) {
        failed = true;
        error = "cannot write " + outDir + "/audio.wav";
        break;
      }
      if (!video.empty()) pipe.WriteAudio(audio.data(), count);
      if (!outDir.empty()) {
        std::fprintf(csv, "%lld,%.6f,%d,%d,%lld,%.0f,%d\n", static_cast<long long>(k),
                     capture::SecondsAt(options.rate, k), seen.order, seen.row, static_cast<long long>(ticks),
                     static_cast<double>(g_frameDelta), SceneForOrder(seen.order));
      }
      const bool toSheet = sheetFrame && seen.row >= 32;
      if (drawn && (!outDir.empty() || !video.empty() || toSheet)) {
        const auto readStart = std::chrono::steady_clock::now();
        // The read runs while the next frames are drawn; the oldest of
        // those in flight is collected once every buffer is taken.
        if (readback.Full() && !collect()) {
          failed = true;
          break;
        }
        readback.Read(!yuvVideo || !outDir.empty() || toSheet);
        pending.push_back({k, seen.order, toSheet});
        if (toSheet) sheetTaken[static_cast<size_t>(seen.order)] = true;
        if (options.stats) {
          readMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - readStart).count();
        }
      }
      if (!outDir.empty() || !video.empty()) ++written;
    } else {
      // Keep the software rasteriser's queue short on frames nobody reads.
      glFlush();
    }
    previousWritten = write;
    if (music.ended() && ++framesAfterSong > capture::FramesPerSecond(options.rate) + 1) {
      failed = true;
      error = "the music ended at order " + std::to_string(music.position().order) + ", row " +
              std::to_string(music.position().row) + " but the show did not end";
      break;
    }
    position = music.position();
    progress.Update(capture::SecondsAt(options.rate, k), k, seen);
  }
  while (!failed && !readback.Empty()) {
    if (!collect()) failed = true;
  }
  readback.Release();
  progress.Update(capture::SecondsAt(options.rate, k), k, position, true);
  progress.Done();

  // A range that reaches the end of the show takes the rest of the song, so
  // the audio lasts exactly as long as the music.
  if (!failed && reachedEnd && previousWritten) {
    audio.clear();
    music.RenderRest(&audio);
    const int64_t rest = static_cast<int64_t>(audio.size() / 2);
    if (!outDir.empty()) wav.Write(audio.data(), rest);
    if (!video.empty()) pipe.WriteAudio(audio.data(), rest);
  }

  if (csv != nullptr && std::fclose(csv) != 0 && !failed) {
    failed = true;
    error = "cannot write frames.csv";
  }
  std::string closeError;
  if (!outDir.empty() && !pngs.Finish(&closeError) && !failed) {
    failed = true;
    error = closeError;
  }
  if (!outDir.empty() && !wav.Close(&closeError) && !failed) {
    failed = true;
    error = closeError;
  }
  if (!video.empty() && !pipe.Finish(&closeError) && !failed) {
    failed = true;
    error = closeError;
  }
  if (!failed && !sheetPath.empty() && !sheet.Write(sheetPath, &error)) failed = true;
  DestroyContext(&gl);
  if (failed) return Fail(error);

  const double elapsed = progress.Elapsed();
  const double shown = capture::SecondsAt(options.rate, k);
  std::fprintf(stderr, "lantern-capture: %lld frames drawn, %lld written, %.1f s of show in %.1f s (%.2fx real time)%s\n",
               static_cast<long long>(k + 1), static_cast<long long>(written), shown, elapsed,
               elapsed > 0.0 ? shown / elapsed : 0.0, reachedEnd ? ", end of show reached" : "");
  if (options.stats) {
    std::printf("renderer %s\n", rendererName.c_str());
    std::printf("scene frames median_ms p99_ms\n");
    for (int s = 1; s <= 8; ++s) {
      const std::vector<double>& v = frameMs[static_cast<size_t>(s)];
      std::printf("%d %zu %.3f %.3f\n", s, v.size(), Percentile(v, 0.5), Percentile(v, 0.99));
    }
    if (written > 0) {
      // What the drawing waited for: starting each read and collecting the
      // oldest frame (its wait, copy and hand-over to the writers).
      std::printf("readback_ms_per_frame %.3f\n", readMs / static_cast<double>(written));
    }
  }
  return 0;
}

// --check-data: the set loaded headless with the show's loaders; 0 when it
// is complete and sound, 1 otherwise (each finding already on stderr).
int RunCheck(const Options& options) {
  const std::string dir = Absolute(options.checkDir);
  if (!fs::is_directory(dir)) return Fail("cannot check " + dir + ": it is not a directory");
  GlContext gl;
  std::string error;
  if (!CreateContext(640, 480, &gl, &error)) {
    DestroyContext(&gl);
    return Fail("cannot check the data: " + error);
  }
  if (chdir(dir.c_str()) != 0) {
    DestroyContext(&gl);
    return Fail("cannot enter " + dir);
  }
  capture::MusicWalk walk;
  const int findings = capture::CheckDataSet(&walk);
  DestroyContext(&gl);
  if (findings > 0) {
    std::printf("lantern-capture: %d finding%s in %s\n", findings, findings == 1 ? "" : "s", dir.c_str());
    return 1;
  }
  std::printf("lantern-capture: the data in %s is complete and sound; the music ends the show at order 30, "
              "row 63 after %.1f s\n",
              dir.c_str(), walk.endSeconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int parsed = ParseOptions(argc, argv, &options);
  if (parsed == 1) return 0;
  if (parsed != 0) return parsed;
  if (!options.checkDir.empty()) return RunCheck(options);
  return Run(options);
}
