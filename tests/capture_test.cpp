// Tests of lantern-capture: the virtual clock's arithmetic, and the tool run
// as a user runs it (whole show, ranges, determinism, video, contact sheet,
// failures), with its files read back and checked.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <libopenmpt/libopenmpt.hpp>

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
#include <vector>

#include "render/position_code.h"
#include "tools/capture/virtual_clock.h"

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

  for (const char* bad : {"--fps 0", "--scale 0", "--from x", "--from 5 --to 4", "--bogus", "--out"}) {
    r = RunCommand(kCapture + " " + bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("lantern-capture:"), std::string::npos) << bad;
  }
  r = RunCommand(kCapture + " --help > /dev/null");
  EXPECT_EQ(r.status, 0);
}
