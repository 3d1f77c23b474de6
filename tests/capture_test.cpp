// Tests of lantern-capture: the virtual clock's arithmetic and the frame
// layout, and the tool run as a user runs it (whole show, ranges,
// determinism, frame sizes, video presets, contact sheet, failures), with
// its files read back and checked.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <libopenmpt/libopenmpt.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "render/position_code.h"
#include "tools/capture/layout.h"
#include "tools/capture/virtual_clock.h"
#include "tools/capture/yuv.h"

namespace fs = std::filesystem;

namespace {

const std::string kCapture = std::string(LANTERN_BUILD_DIR) + "/lantern-capture";
const std::string kData = LANTERN_DATA_DIR;

struct Result {
  int status = -1;
  std::string err;
};

// Runs a shell command line; stderr is kept for the checks.
Result RunCommand(const std::string& line) {
  const fs::path errFile = fs::temp_directory_path() / ("capture-test-err-" + std::to_string(getpid()));
  const int raw = std::system((line + " 2>" + errFile.string()).c_str());
  Result r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream in(errFile);
  r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  fs::remove(errFile);
  return r;
}

Result Capture(const std::string& args) { return RunCommand(kCapture + " --quiet --data " + kData + " " + args); }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Row {
  long long frame;
  double seconds;
  int order;
  int row;
  long long ticks;
  long long delta;
  int scene;
};

std::vector<Row> ReadCsv(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "frame,seconds,order,row,ticks,delta,scene");
  std::vector<Row> rows;
  while (std::getline(in, line)) {
    Row r{};
    EXPECT_EQ(std::sscanf(line.c_str(), "%lld,%lf,%d,%d,%lld,%lld,%d", &r.frame, &r.seconds, &r.order, &r.row,
                          &r.ticks, &r.delta, &r.scene),
              7)
        << line;
    rows.push_back(r);
  }
  return rows;
}

// The float samples of a WAV the capture wrote (format tag 3, stereo).
std::vector<float> ReadWavSamples(const fs::path& path) {
  const std::string bytes = ReadFile(path);
  EXPECT_GE(bytes.size(), 58u);
  if (bytes.size() < 58) return {};
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(bytes.substr(8, 4), "WAVE");
  EXPECT_EQ(static_cast<uint8_t>(bytes[20]), 3);  // IEEE float
  EXPECT_EQ(static_cast<uint8_t>(bytes[22]), 2);  // stereo
  EXPECT_EQ(bytes.substr(50, 4), "data");
  uint32_t dataBytes = 0;
  std::memcpy(&dataBytes, bytes.data() + 54, 4);
  EXPECT_EQ(dataBytes, bytes.size() - 58);
  std::vector<float> samples((bytes.size() - 58) / sizeof(float));
  std::memcpy(samples.data(), bytes.data() + 58, samples.size() * sizeof(float));
  return samples;
}

struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

Image ReadPng(const fs::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Image out;
  if (!png_image_begin_read_from_file(&image, path.string().c_str())) {
    ADD_FAILURE() << "cannot read " << path;
    return out;
  }
  image.format = PNG_FORMAT_RGB;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr);
  return out;
}

std::vector<std::string> FrameFiles(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("frame-", 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The position the music has reached after `samples` frames, rendered the
// test's own way (one read, the player's fade-out switched off).
capture::Position PositionAfter(int64_t samples) {
  std::ifstream in(kData + "/TRK-MAIN.mo3", std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  openmpt::module module(bytes.data(), bytes.size());
  module.ctl_set_text("play.at_end", "stop");
  std::vector<float> scratch(static_cast<size_t>(samples) * 2);
  module.read_interleaved_stereo(44100, static_cast<size_t>(samples), scratch.data());
  return {module.get_current_order(), module.get_current_row()};
}

double SongSeconds() {
  std::ifstream in(kData + "/TRK-MAIN.mo3", std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  openmpt::module module(bytes.data(), bytes.size());
  return module.get_duration_seconds();
}

class ScratchOut {
 public:
  ScratchOut() {
    path_ = fs::temp_directory_path() / ("capture-test-" + std::to_string(getpid()) + "-" + std::to_string(next_++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchOut() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  static inline int next_ = 0;
  fs::path path_;
};

void RequireTool() {
  ASSERT_TRUE(fs::exists(kCapture)) << kCapture << " is not built";
  ASSERT_TRUE(fs::exists(kData + "/TRK-MAIN.mo3")) << "the show's data is not generated in " << kData;
}

bool HaveFfmpeg() { return RunCommand("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null").status == 0; }

// ffprobe's key=value lines for `entries` of a file, each key's values in order.
std::map<std::string, std::vector<std::string>> Probe(const fs::path& file, const std::string& entries) {
  const fs::path out = file.string() + ".probe";
  EXPECT_EQ(RunCommand("ffprobe -v error -show_entries " + entries + " -of default=noprint_wrappers=1 " +
                       file.string() + " > " + out.string())
                .status,
            0);
  std::map<std::string, std::vector<std::string>> fields;
  std::istringstream in(ReadFile(out));
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)].push_back(line.substr(eq + 1));
  }
  return fields;
}

// The picture of a letterboxed frame, area-averaged down to 640x480.
Image PictureAt640(const Image& frame, const capture::Layout& layout) {
  Image small{640, 480, std::vector<uint8_t>(640 * 480 * 3)};
  const double step = layout.pictureWidth / 640.0;
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      double sum[3] = {0, 0, 0};
      double weight = 0;
      const double x0 = x * step, x1 = x0 + step, y0 = y * step, y1 = y0 + step;
      for (int sy = static_cast<int>(y0); sy < std::ceil(y1); ++sy) {
        const double wy = std::min<double>(sy + 1, y1) - std::max<double>(sy, y0);
        for (int sx = static_cast<int>(x0); sx < std::ceil(x1); ++sx) {
          const double w = wy * (std::min<double>(sx + 1, x1) - std::max<double>(sx, x0));
          const uint8_t* p = &frame.rgb[((static_cast<size_t>(sy) + layout.top) * frame.width + sx + layout.left) * 3];
          for (int c = 0; c < 3; ++c) sum[c] += w * p[c];
          weight += w;
        }
      }
      for (int c = 0; c < 3; ++c) small.rgb[(static_cast<size_t>(y) * 640 + x) * 3 + c] = static_cast<uint8_t>(sum[c] / weight + 0.5);
    }
  }
  return small;
}

// The largest mean absolute difference of any 16x16 block of two 640x480
// pictures: a misplaced strip, line or edge shows in its block, where the
// resampling's small differences everywhere would drown it in a whole-frame
// mean.
double WorstBlockDifference(const Image& a, const Image& b) {
  double worst = 0;
  for (int by = 0; by < 480; by += 16) {
    for (int bx = 0; bx < 640; bx += 16) {
      double sum = 0;
      for (int y = by; y < by + 16; ++y) {
        for (int i = bx * 3; i < (bx + 16) * 3; ++i) sum += std::abs(a.rgb[y * 640 * 3 + i] - b.rgb[y * 640 * 3 + i]);
      }
      worst = std::max(worst, sum / (16 * 16 * 3));
    }
  }
  return worst;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double squares = 0;
  for (size_t i = 0; i < a.size(); ++i) squares += (a[i] - b[i]) * (a[i] - b[i]);
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / std::max(squares, 1.0));
}

// Every frame of a video decoded to RGB, one after another.
std::vector<uint8_t> DecodeRgb(const fs::path& video) {
  const fs::path raw = video.string() + ".rgb";
  EXPECT_EQ(RunCommand("ffmpeg -v error -i " + video.string() + " -f rawvideo -pix_fmt rgb24 -y " + raw.string()).status,
            0);
  const std::string bytes = ReadFile(raw);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace

// --- The virtual clock ----------------------------------------------------

TEST(VirtualClock, SampleCountsCarryTheFractionExactly) {
  capture::Rate ntsc;
  ASSERT_TRUE(capture::ParseRate("60000/1001", &ntsc));
  // 44100 * 1001 / 60000 = 735.735 samples a frame: the fraction is carried,
  // never rounded away, so 60000 frames hold exactly 1001 seconds of audio.
  EXPECT_EQ(capture::SamplesUpTo(ntsc, 1), 735);
  EXPECT_EQ(capture::SamplesUpTo(ntsc, 4), 2942);
  EXPECT_EQ(capture::SamplesUpTo(ntsc, 60000), 1001 * 44100);
  int64_t sum = 0;
  for (int64_t k = 0; k < 6000; ++k) sum += capture::SamplesUpTo(ntsc, k + 1) - capture::SamplesUpTo(ntsc, k);
  EXPECT_EQ(sum, capture::SamplesUpTo(ntsc, 6000));
  capture::Rate sixty;
  ASSERT_TRUE(capture::ParseRate("60", &sixty));
  EXPECT_EQ(capture::SamplesUpTo(sixty, 60), 44100);
}

TEST(VirtualClock, TicksAreWhole14MsStepsOfFrameTime) {
  capture::Rate sixty;
  ASSERT_TRUE(capture::ParseRate("60", &sixty));
  EXPECT_EQ(capture::TicksAt(sixty, 0), 0);
  EXPECT_EQ(capture::TicksAt(sixty, 1), 1);    // 16.7 ms
  EXPECT_EQ(capture::TicksAt(sixty, 2), 2);    // 33.3 ms
  EXPECT_EQ(capture::TicksAt(sixty, 42), 50);  // 700 ms exactly: 50 ticks, not 49.99
  EXPECT_EQ(capture::TicksAt(sixty, 60), 71);  // 1000 / 14 = 71.4
  capture::Rate four;
  ASSERT_TRUE(capture::ParseRate("4", &four));
  EXPECT_EQ(capture::TicksAt(four, 7), 125);  // 1750 ms
}

TEST(VirtualClock, RatesAndPositionsParseOrAreRefused) {
  capture::Rate r;
  ASSERT_TRUE(capture::ParseRate("29.97", &r));
  EXPECT_EQ(r.num, 2997);
  EXPECT_EQ(r.den, 100);
  ASSERT_TRUE(capture::ParseRate("50/2", &r));
  EXPECT_EQ(r.num, 25);
  EXPECT_EQ(r.den, 1);
  for (const char* bad : {"", "0", "abc", "60/0", "-5", "2000", "1/100", "6/", "60x"}) {
    EXPECT_FALSE(capture::ParseRate(bad, &r)) << bad;
  }
  capture::Position p;
  ASSERT_TRUE(capture::ParsePosition("12:32", false, &p));
  EXPECT_EQ(p.order, 12);
  EXPECT_EQ(p.row, 32);
  ASSERT_TRUE(capture::ParsePosition("12", false, &p));
  EXPECT_EQ(p.row, 0);
  ASSERT_TRUE(capture::ParsePosition("12", true, &p));
  EXPECT_TRUE((capture::Position{12, 63} < p));  // a bare ORDER as range end takes the whole order
  EXPECT_TRUE((p < capture::Position{13, 0}));
  for (const char* bad : {"", ":3", "12:", "a:1", "-1", "70000"}) EXPECT_FALSE(capture::ParsePosition(bad, false, &p)) << bad;
}

TEST(CaptureLayout, ThePictureIsTheLargest4By3RectangleCentredAndSizesParse) {
  struct Case {
    int width, height, pictureWidth, pictureHeight, left, top;
  };
  for (const Case& c : {Case{640, 480, 640, 480, 0, 0}, Case{1920, 1080, 1440, 1080, 240, 0},
                        Case{3840, 2160, 2880, 2160, 480, 0}, Case{1000, 1000, 1000, 750, 0, 125},
                        Case{321, 241, 320, 240, 0, 0}, Case{7680, 4320, 5760, 4320, 960, 0}}) {
    const capture::Layout l = capture::FitPicture(c.width, c.height);
    EXPECT_EQ(l.pictureWidth, c.pictureWidth) << c.width << "x" << c.height;
    EXPECT_EQ(l.pictureHeight, c.pictureHeight) << c.width << "x" << c.height;
    EXPECT_EQ(l.left, c.left) << c.width << "x" << c.height;
    EXPECT_EQ(l.top, c.top) << c.width << "x" << c.height;
  }
  int w = 0;
  int h = 0;
  ASSERT_TRUE(capture::ParseSize("320x240", &w, &h));
  EXPECT_EQ(w * 1000 + h, 320240);
  ASSERT_TRUE(capture::ParseSize("7680x4320", &w, &h));
  for (const char* bad : {"319x240", "320x239", "7681x4320", "7680x4321", "1920*1080", "x1080", "1920x", "", "1920x1080x"}) {
    EXPECT_FALSE(capture::ParseSize(bad, &w, &h)) << bad;
  }
}

// Every byte of the video's I420 frame against BT.709 worked out in floating
// point, for pictures whose pixels say where they are, set between bars on
// odd offsets (so that chroma blocks straddle the picture's edge), in both
// byte orders, wide enough for the vector loops and their scalar tails.
TEST(CaptureLayout, I420FramesHoldThePictureBetweenBlackBarsInBt709) {
  for (const auto& size : {std::pair<int, int>{22, 12}, {16, 14}, {46, 32}, {40, 30}}) {
    const capture::Layout l = capture::FitPicture(size.first, size.second);
    auto colour = [&](int px, int py, int channel) {  // py counted from the picture's top
      const int values[3] = {(16 * px + 3) % 256, (20 * py + 5) % 256, (px * py * 7 + 40) % 256};
      return values[channel];
    };
    for (const bool bgr : {false, true}) {
      std::vector<uint8_t> picture(static_cast<size_t>(l.pictureWidth * l.pictureHeight) * 4);
      for (int py = 0; py < l.pictureHeight; ++py) {
        for (int px = 0; px < l.pictureWidth; ++px) {
          uint8_t* p = &picture[(static_cast<size_t>(l.pictureHeight - 1 - py) * l.pictureWidth + px) * 4];
          p[bgr ? 2 : 0] = static_cast<uint8_t>(colour(px, py, 0));
          p[1] = static_cast<uint8_t>(colour(px, py, 1));
          p[bgr ? 0 : 2] = static_cast<uint8_t>(colour(px, py, 2));
          p[3] = 0x5a;  // unused
        }
      }
      std::vector<uint8_t> out(capture::I420Bytes(l.width, l.height) + 1, 0xee);
      capture::PictureToI420(picture.data(), bgr, l, out.data());
      ASSERT_EQ(out.back(), 0xee) << "wrote past the frame";
      // The frame's pixel at (x, y), y down, as 0..1 RGB; black in the bars.
      auto frame = [&](int x, int y, int channel) {
        const int px = x - l.left;
        const int py = y - l.top;
        if (px < 0 || py < 0 || px >= l.pictureWidth || py >= l.pictureHeight) return 0.0;
        return colour(px, py, channel) / 255.0;
      };
      const double kr = 0.2126, kb = 0.0722, kg = 1.0 - kr - kb;
      const std::string where = std::to_string(l.width) + "x" + std::to_string(l.height) + (bgr ? " BGR" : " RGB");
      for (int y = 0; y < l.height; ++y) {
        for (int x = 0; x < l.width; ++x) {
          const double luma = kr * frame(x, y, 0) + kg * frame(x, y, 1) + kb * frame(x, y, 2);
          EXPECT_NEAR(out[static_cast<size_t>(y * l.width + x)], 16.0 + 219.0 * luma, 1.0)
              << where << " Y at " << x << "," << y;
        }
      }
      const int cw = l.width / 2;
      const size_t uStart = static_cast<size_t>(l.width * l.height);
      const size_t vStart = uStart + static_cast<size_t>(cw * (l.height / 2));
      for (int cy = 0; cy < l.height / 2; ++cy) {
        for (int cx = 0; cx < cw; ++cx) {
          double rgb[3] = {0, 0, 0};
          for (int c = 0; c < 3; ++c) {
            rgb[c] = (frame(2 * cx, 2 * cy, c) + frame(2 * cx + 1, 2 * cy, c) + frame(2 * cx, 2 * cy + 1, c) +
                      frame(2 * cx + 1, 2 * cy + 1, c)) / 4.0;
          }
          const double luma = kr * rgb[0] + kg * rgb[1] + kb * rgb[2];
          const size_t i = static_cast<size_t>(cy * cw + cx);
          EXPECT_NEAR(out[uStart + i], 128.0 + 224.0 * (rgb[2] - luma) / (2.0 * (1.0 - kb)), 1.0)
              << where << " U at " << cx << "," << cy;
          EXPECT_NEAR(out[vStart + i], 128.0 + 224.0 * (rgb[0] - luma) / (2.0 * (1.0 - kr)), 1.0)
              << where << " V at " << cx << "," << cy;
        }
      }
    }
  }
}

// --- The tool, run as a user runs it ---------------------------------------

// One run of the whole show at 2 fps, checked for its own consistency, then
// a --from/--to range of it captured separately and compared frame by frame.
TEST(CaptureShow, WholeShowEndsAtOrder30Row63AndRangesMatchIt) {
  RequireTool();
  ScratchOut full;
  const Result run = Capture("--fps 2 --out " + full.path().string());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<Row> rows = ReadCsv(full.path() / "frames.csv");
  ASSERT_GT(rows.size(), 100u);

  // One PNG per row, frames numbered from 0 without gaps, times on the clock.
  const std::vector<std::string> files = FrameFiles(full.path());
  ASSERT_EQ(files.size(), rows.size());
  capture::Rate two{2, 1};
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    ASSERT_EQ(r.frame, static_cast<long long>(i));
    EXPECT_DOUBLE_EQ(r.seconds, r.frame / 2.0);
    EXPECT_EQ(r.ticks, capture::TicksAt(two, r.frame));
    EXPECT_EQ(r.delta, i == 0 ? 0 : r.ticks - rows[i - 1].ticks);
    if (i > 0) {
      const Row& p = rows[i - 1];
      EXPECT_TRUE(p.order < r.order || (p.order == r.order && p.row <= r.row))
          << "position went back at frame " << r.frame;
    }
  }
  const Row& last = rows.back();
  EXPECT_EQ(last.order, 30);
  EXPECT_LT(last.row, 63);
  EXPECT_EQ(last.scene, 8);
  // The next frame, which ends the show and is not written, stands at row 63.
  const capture::Position end = PositionAfter(capture::SamplesUpTo(two, last.frame + 1));
  EXPECT_EQ(end.order, 30);
  EXPECT_EQ(end.row, 63);
  // Every order of the song was seen, each in its scene.
  std::map<int, int> sceneOfOrder;
  for (const Row& r : rows) sceneOfOrder[r.order] = r.scene;
  EXPECT_EQ(sceneOfOrder.size(), 31u);
  EXPECT_EQ(sceneOfOrder[3], 1);
  EXPECT_EQ(sceneOfOrder[4], 2);
  EXPECT_EQ(sceneOfOrder[21], 7);
  EXPECT_EQ(sceneOfOrder[22], 8);

  // The audio lasts exactly as long as the song.
  const std::vector<float> audio = ReadWavSamples(full.path() / "audio.wav");
  EXPECT_NEAR(static_cast<double>(audio.size() / 2) / 44100.0, SongSeconds(), 0.01);
  EXPECT_GT(*std::max_element(audio.begin(), audio.end()), 0.01f) << "the audio is silent";

  // A range: exactly its frames, the same bytes as in the whole run, and
  // exactly the samples that belong to those frames.
  ScratchOut part;
  const Result ranged = Capture("--fps 2 --from 12:32 --to 14:8 --out " + part.path().string());
  ASSERT_EQ(ranged.status, 0) << ranged.err;
  std::vector<Row> expected;
  for (const Row& r : rows) {
    if ((r.order > 12 || (r.order == 12 && r.row >= 32)) && (r.order < 14 || (r.order == 14 && r.row <= 8))) {
      expected.push_back(r);
    }
  }
  ASSERT_GT(expected.size(), 10u);
  const std::vector<Row> partRows = ReadCsv(part.path() / "frames.csv");
  ASSERT_EQ(partRows.size(), expected.size());
  const std::vector<std::string> partFiles = FrameFiles(part.path());
  ASSERT_EQ(partFiles.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(partRows[i].frame, expected[i].frame);
    EXPECT_EQ(partRows[i].order, expected[i].order);
    EXPECT_EQ(partRows[i].row, expected[i].row);
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06lld.png", expected[i].frame);
    ASSERT_EQ(partFiles[i], name);
    EXPECT_TRUE(ReadFile(part.path() / name) == ReadFile(full.path() / name)) << name << " differs from the whole run";
  }
  const std::vector<float> partAudio = ReadWavSamples(part.path() / "audio.wav");
  const int64_t first = capture::SamplesUpTo(two, expected.front().frame);
  const int64_t after = capture::SamplesUpTo(two, expected.back().frame + 1);
  ASSERT_EQ(static_cast<int64_t>(partAudio.size()), (after - first) * 2);
  EXPECT_EQ(std::memcmp(partAudio.data(), audio.data() + first * 2, partAudio.size() * sizeof(float)), 0);
}

TEST(CaptureShow, TwoCapturesOfARangeAreByteIdentical) {
  RequireTool();
  ScratchOut a;
  ScratchOut b;
  // Across the end of scene 1, at a frame rate that is not a whole number,
  // and at double size.
  const std::string args = "--fps 60000/20020 --scale 2 --from 3:40 --to 4:48 --out ";
  const Result ra = Capture(args + a.path().string());
  const Result rb = Capture(args + b.path().string());
  ASSERT_EQ(ra.status, 0) << ra.err;
  ASSERT_EQ(rb.status, 0) << rb.err;
  const std::vector<std::string> files = FrameFiles(a.path());
  ASSERT_GT(files.size(), 12u);
  ASSERT_EQ(files, FrameFiles(b.path()));
  for (const std::string& name : files) {
    EXPECT_TRUE(ReadFile(a.path() / name) == ReadFile(b.path() / name)) << name;
  }
  EXPECT_TRUE(ReadFile(a.path() / "audio.wav") == ReadFile(b.path() / "audio.wav"));
  EXPECT_EQ(ReadFile(a.path() / "frames.csv"), ReadFile(b.path() / "frames.csv"));
  const Image image = ReadPng(a.path() / files.front());
  EXPECT_EQ(image.width, 1280);
  EXPECT_EQ(image.height, 960);
}

// 1920x1080 and 3840x2160 over a few frames of the night city (its lines
// among them) with the position code: each size twice, the same bytes;
// black bars around the centred picture; and the picture, averaged down,
// is the 640x480 capture's frame, strip included.
TEST(CaptureSizes, BigFramesAreIdenticalRunToRunLetterboxedAndMatchThe640Capture) {
  RequireTool();
  const std::string range = "--position-code --fps 4 --from 9:32 --to 9:40 --out ";
  ScratchOut small;
  const Result rs = Capture(range + small.path().string());
  ASSERT_EQ(rs.status, 0) << rs.err;
  const std::vector<std::string> files = FrameFiles(small.path());
  ASSERT_GE(files.size(), 3u);
  // The worst 16x16 block of any frame, measured: 16.9 levels at 1920x1080,
  // 15.8 at 3840x2160 (finer texture levels and edges); with the lines left
  // 1 pixel wide, 30.2 and 39.0; an unscaled strip or a misplaced picture
  // gives far more.
  constexpr double kBound = 20.0;
  for (const std::string size : {"1920x1080", "3840x2160"}) {
    ScratchOut a;
    ScratchOut b;
    const Result ra = Capture("--size " + size + " " + range + a.path().string());
    const Result rb = Capture("--size " + size + " " + range + b.path().string());
    ASSERT_EQ(ra.status, 0) << ra.err;
    ASSERT_EQ(rb.status, 0) << rb.err;
    ASSERT_EQ(FrameFiles(a.path()), files) << size;
    int width = 0;
    int height = 0;
    ASSERT_TRUE(capture::ParseSize(size, &width, &height));
    const capture::Layout layout = capture::FitPicture(width, height);
    double worst = 0;
    for (const std::string& name : files) {
      EXPECT_TRUE(ReadFile(a.path() / name) == ReadFile(b.path() / name)) << size << " " << name;
      const Image frame = ReadPng(a.path() / name);
      ASSERT_EQ(frame.width, width);
      ASSERT_EQ(frame.height, height);
      size_t lit = 0;
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          if (x >= layout.left && x < layout.left + layout.pictureWidth) continue;
          const uint8_t* p = &frame.rgb[(static_cast<size_t>(y) * width + x) * 3];
          lit += (p[0] | p[1] | p[2]) != 0;
        }
      }
      EXPECT_EQ(lit, 0u) << size << " " << name << ": the bars are not black";
      worst = std::max(worst, WorstBlockDifference(PictureAt640(frame, layout), ReadPng(small.path() / name)));
    }
    EXPECT_LT(worst, kBound) << size;
    std::printf("%s: worst block %.1f levels from the 640x480 frames\n", size.c_str(), worst);
  }
}

TEST(CaptureShow, PositionCodeSpellsEachFramesPositionAndChangesNothingElse) {
  RequireTool();
  ScratchOut plain;
  ScratchOut coded;
  // Across the cut from scene 1 to scene 2, where each scene's state carries on.
  const std::string range = "--fps 25 --from 3:56 --to 4:6 --out ";
  const Result rp = Capture(range + plain.path().string());
  const Result rc = Capture("--position-code " + range + coded.path().string());
  ASSERT_EQ(rp.status, 0) << rp.err;
  ASSERT_EQ(rc.status, 0) << rc.err;
  const std::vector<Row> rows = ReadCsv(coded.path() / "frames.csv");
  const std::vector<std::string> files = FrameFiles(coded.path());
  ASSERT_EQ(files.size(), rows.size());
  ASSERT_GT(files.size(), 15u);
  const int stripWidth = kPositionCodeCells * kPositionCodeCell;
  for (size_t i = 0; i < files.size(); ++i) {
    const Image a = ReadPng(plain.path() / files[i]);
    const Image b = ReadPng(coded.path() / files[i]);
    ASSERT_EQ(a.rgb.size(), b.rgb.size());
    uint8_t cells[kPositionCodeCells];
    for (int c = 0; c < kPositionCodeCells; ++c) {
      const size_t at = (static_cast<size_t>(kPositionCodeCell / 2) * b.width + c * kPositionCodeCell + 4) * 3;
      cells[c] = b.rgb[at] > 128 ? 1 : 0;
    }
    int order = -1;
    int row = -1;
    ASSERT_TRUE(DecodePositionCode(cells, &order, &row)) << files[i];
    EXPECT_EQ(order, rows[i].order) << files[i];
    EXPECT_EQ(row, rows[i].row) << files[i];
    // Outside the strip every pixel is the plain capture's: the strip left
    // no state behind that a later frame would draw with.
    size_t differing = 0;
    for (int y = 0; y < a.height; ++y) {
      for (int x = 0; x < a.width; ++x) {
        if (y < kPositionCodeCell && x < stripWidth) continue;
        const size_t at = (static_cast<size_t>(y) * a.width + x) * 3;
        differing += std::memcmp(&a.rgb[at], &b.rgb[at], 3) != 0;
      }
    }
    EXPECT_EQ(differing, 0u) << files[i];
  }
}

TEST(CaptureVideo, FfprobeFindsOneVideoAndOneAudioStreamOfTheRightShape) {
  RequireTool();
  if (RunCommand("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null").status != 0) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  ScratchOut out;
  const fs::path video = out.path() / "part.mp4";
  const Result run = Capture("--fps 10000/1001 --from 6 --to 7 --out " + out.path().string() + " --video " +
                             video.string());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<Row> rows = ReadCsv(out.path() / "frames.csv");
  ASSERT_GT(rows.size(), 50u);
  const fs::path probe = out.path() / "probe.txt";
  ASSERT_EQ(RunCommand("ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,r_frame_rate,"
                       "duration,nb_frames,sample_rate,channels -of default=noprint_wrappers=1 " +
                       video.string() + " > " + probe.string())
                .status,
            0);
  std::map<std::string, std::vector<std::string>> fields;
  std::istringstream in(ReadFile(probe));
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)].push_back(line.substr(eq + 1));
  }
  ASSERT_EQ(fields["codec_type"].size(), 2u) << ReadFile(probe);
  EXPECT_EQ(fields["codec_type"][0], "video");
  EXPECT_EQ(fields["codec_type"][1], "audio");
  EXPECT_EQ(fields["codec_name"][0], "h264");
  EXPECT_EQ(fields["codec_name"][1], "aac");
  EXPECT_EQ(fields["width"][0], "640");
  EXPECT_EQ(fields["height"][0], "480");
  EXPECT_EQ(fields["r_frame_rate"][0], "10000/1001");
  EXPECT_EQ(std::stoul(fields["nb_frames"][0]), rows.size());
  EXPECT_EQ(fields["sample_rate"][0], "44100");
  EXPECT_EQ(fields["channels"][0], "2");
  // The audio covers exactly the frames written (AAC rounds to 1024-sample packets).
  const double seconds = static_cast<double>(rows.size()) * 1001.0 / 10000.0;
  EXPECT_NEAR(std::stod(fields["duration"][1]), seconds, 0.05);
  EXPECT_NEAR(std::stod(fields["duration"][0]), seconds, 0.05);
}

// The sunset's saturated reds, where a wrong colour matrix shows.
TEST(CaptureVideo, PublishAndLosslessPresetsWriteWhatTheyPromise) {
  RequireTool();
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  ScratchOut out;
  const fs::path publish = out.path() / "publish.mp4";
  const fs::path lossless = out.path() / "lossless.mkv";
  const std::string range = "--fps 10 --from 20:32 --to 20:48 --size 800x500 ";
  const Result rp = Capture(range + "--quality publish --video " + publish.string());
  ASSERT_EQ(rp.status, 0) << rp.err;
  const Result rl = Capture(range + "--quality lossless --out " + out.path().string() + " --video " + lossless.string());
  ASSERT_EQ(rl.status, 0) << rl.err;
  const std::vector<std::string> files = FrameFiles(out.path());
  ASSERT_GE(files.size(), 15u);

  // publish: High-profile H.264 in 4:2:0, BT.709 throughout in studio
  // range, B-frames, AAC at 320 kb/s or more, the index before the media.
  auto p = Probe(publish, "stream=codec_name,profile,pix_fmt,color_space,color_primaries,color_transfer,"
                          "color_range,has_b_frames,bit_rate");
  ASSERT_EQ(p["codec_name"].size(), 2u);
  EXPECT_EQ(p["codec_name"][0], "h264");
  EXPECT_EQ(p["profile"][0], "High");
  EXPECT_EQ(p["pix_fmt"][0], "yuv420p");
  for (const char* key : {"color_space", "color_primaries", "color_transfer"}) EXPECT_EQ(p[key][0], "bt709") << key;
  EXPECT_EQ(p["color_range"][0], "tv");
  EXPECT_EQ(p["has_b_frames"][0], "2");
  EXPECT_EQ(p["codec_name"][1], "aac");
  EXPECT_GE(std::stol(p["bit_rate"][1]), 320000);
  const std::string head = ReadFile(publish).substr(0, 64);
  EXPECT_EQ(head.substr(36, 4), "moov") << "the index is not at the front (+faststart)";
  // Decoded as its tags say, each frame is close to the PNG (39.5 dB
  // measured on the first); decoded with BT.601's matrix, 30.7 dB.
  const std::vector<uint8_t> decoded = DecodeRgb(publish);
  const size_t frameBytes = 800 * 500 * 3;
  ASSERT_EQ(decoded.size(), files.size() * frameBytes);
  for (size_t i = 0; i < files.size(); i += 5) {
    const Image png = ReadPng(out.path() / files[i]);
    const std::vector<uint8_t> frame(decoded.begin() + i * frameBytes, decoded.begin() + (i + 1) * frameBytes);
    EXPECT_GT(Psnr(frame, png.rgb), 36.0) << files[i];
  }

  // lossless: FFV1 RGB and 24-bit FLAC in Matroska, decoding to exactly
  // the frames --out wrote and to the music within 24-bit rounding.
  auto l = Probe(lossless, "stream=codec_name,pix_fmt,bits_per_raw_sample:format=format_name");
  ASSERT_EQ(l["codec_name"].size(), 2u);
  EXPECT_EQ(l["codec_name"][0], "ffv1");
  EXPECT_EQ(l["pix_fmt"][0], "bgr0");
  EXPECT_EQ(l["codec_name"][1], "flac");
  EXPECT_EQ(l["bits_per_raw_sample"][1], "24");
  EXPECT_EQ(l["format_name"][0], "matroska,webm");
  const std::vector<uint8_t> exact = DecodeRgb(lossless);
  ASSERT_EQ(exact.size(), files.size() * frameBytes);
  for (size_t i = 0; i < files.size(); ++i) {
    const Image png = ReadPng(out.path() / files[i]);
    EXPECT_TRUE(std::equal(png.rgb.begin(), png.rgb.end(), exact.begin() + i * frameBytes))
        << files[i] << " differs in the lossless video";
  }
  const fs::path sound = out.path() / "sound.f32";
  ASSERT_EQ(RunCommand("ffmpeg -v error -i " + lossless.string() + " -f f32le -y " + sound.string()).status, 0);
  const std::string decodedSound = ReadFile(sound);
  const std::vector<float> wav = ReadWavSamples(out.path() / "audio.wav");
  ASSERT_EQ(decodedSound.size(), wav.size() * sizeof(float));
  float worst = 0.0f;
  for (size_t i = 0; i < wav.size(); ++i) {
    float v;
    std::memcpy(&v, decodedSound.data() + i * sizeof(float), sizeof v);
    worst = std::max(worst, std::abs(v - std::clamp(wav[i], -1.0f, 1.0f)));
  }
  EXPECT_LE(worst, 1.0f / (1 << 23));
}

TEST(CaptureContactSheet, OneLabelledThumbnailPerOrderEightToARow) {
  RequireTool();
  ScratchOut out;
  const fs::path sheetPath = out.path() / "sheet.png";
  const Result run = Capture("--fps 4 --to 9 --out " + out.path().string() + " --contact-sheet " + sheetPath.string());
  ASSERT_EQ(run.status, 0) << run.err;
  const Image sheet = ReadPng(sheetPath);
  // Orders 0 to 9: eight in the first row, two in the second.
  constexpr int kW = 160, kH = 120, kGap = 4;
  ASSERT_EQ(sheet.width, 8 * kW + 9 * kGap);
  ASSERT_EQ(sheet.height, 2 * kH + 3 * kGap);
  const std::vector<Row> rows = ReadCsv(out.path() / "frames.csv");
  for (int order = 0; order <= 9; ++order) {
    const Row* pick = nullptr;
    for (const Row& r : rows) {
      if (r.order == order && r.row >= 32) {
        pick = &r;
        break;
      }
    }
    ASSERT_NE(pick, nullptr) << "order " << order;
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06lld.png", pick->frame);
    const Image frame = ReadPng(out.path() / name);
    const int cellX = kGap + (order % 8) * (kW + kGap);
    const int cellY = kGap + (order / 8) * (kH + kGap);
    // Away from the label, each thumbnail pixel is the 4x4 average of its frame.
    int worst = 0;
    for (int ty = 40; ty < kH; ty += 7) {
      for (int tx = 40; tx < kW; tx += 7) {
        for (int c = 0; c < 3; ++c) {
          int sum = 0;
          for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) sum += frame.rgb[((ty * 4 + y) * 640 + tx * 4 + x) * 3 + c];
          }
          const int thumb = sheet.rgb[((cellY + ty) * sheet.width + cellX + tx) * 3 + c];
          worst = std::max(worst, std::abs(thumb - (sum + 8) / 16));
        }
      }
    }
    EXPECT_LE(worst, 1) << "thumbnail of order " << order << " is not frame " << pick->frame;
    // The label: bright glyph pixels on a darkened box in the top-left corner.
    int bright = 0;
    for (int y = 2; y < 26; ++y) {
      for (int x = 2; x < 30; ++x) {
        const uint8_t* p = &sheet.rgb[((cellY + y) * sheet.width + cellX + x) * 3];
        if (p[0] > 200 && p[1] > 200 && p[2] > 200) ++bright;
      }
    }
    EXPECT_GT(bright, 10) << "no label on order " << order;
  }
}

TEST(CaptureFailures, ClearMessagesAndNonZeroStatus) {
  RequireTool();
  ScratchOut out;
  Result r = RunCommand(kCapture + " --quiet --data " + (out.path() / "nothing").string() + " --out " +
                        out.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no show data"), std::string::npos) << r.err;

  r = RunCommand("env PATH=/nonexistent " + kCapture + " --quiet --data " + kData + " --video " +
                 (out.path() / "v.mp4").string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ffmpeg"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out.path() / "v.mp4"));

  r = RunCommand("env SDL_VIDEO_EGL_DRIVER=/nonexistent/libEGL.so " + kCapture + " --quiet --data " + kData +
                 " --to 0:4 --out " + out.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("OpenGL"), std::string::npos) << r.err;

  // A frame that cannot be written stops the run with its name.
  fs::create_directories(out.path() / "blocked" / "frame-000003.png");
  r = Capture("--to 0:8 --out " + (out.path() / "blocked").string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("frame-000003.png"), std::string::npos) << r.err;

  // An ffmpeg without the encoders a preset needs is named at once.
  fs::create_directories(out.path() / "bin");
  {
    std::ofstream fake(out.path() / "bin" / "ffmpeg");
    fake << "#!/bin/sh\necho ' V....D libx264              H.264'\necho ' A..... aac                  AAC'\n";
  }
  fs::permissions(out.path() / "bin" / "ffmpeg", fs::perms::owner_all);
  r = RunCommand("env PATH=" + (out.path() / "bin").string() + ":/usr/bin:/bin " + kCapture + " --quiet --data " +
                 kData + " --quality lossless --video " + (out.path() / "v.mkv").string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no ffv1 encoder"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;

  for (const char* bad : {"--fps 0", "--scale 0", "--from x", "--from 5 --to 4", "--bogus", "--out", "--size 319x240",
                          "--size 1920x1080 --scale 2", "--quality best --video v.mp4", "--quality publish",
                          "--size 1921x1080 --video v.mp4", "--quality lossless --video v.mp4"}) {
    r = RunCommand(kCapture + " " + bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("lantern-capture:"), std::string::npos) << bad;
  }
  r = RunCommand(kCapture + " --help > /dev/null");
  EXPECT_EQ(r.status, 0);
}
