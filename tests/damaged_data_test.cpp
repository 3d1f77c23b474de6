// Damaged data: the show's own files (from the build's data directory), one
// group at a time missing, empty, cut short, random bytes or of another
// size; meshes over capacity or naming vertices out of range; the music
// module missing, empty, cut short or not a module; an unreadable data
// directory. Every time: one stderr line per damaged file, naming it, and
// the show still loads and draws every scene to its end.
#include "platform/gl.h"
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/music_player.h"
#include "render/render_state.h"
#include "resources/mesh_loader.h"
#include "shell/data_directory.h"
#include "tests/support/gl_harness.h"
#include "timeline/clock.h"
#include "timeline/sequencer.h"

namespace fs = std::filesystem;

namespace {

enum class Group { kPictures, kMasks, kMeshes };
enum class Damage { kMissing, kEmpty, kTruncated, kRandomBytes, kWrongSize };

const char* GroupName(Group g) {
  switch (g) {
    case Group::kPictures: return "Pictures";
    case Group::kMasks: return "Masks";
    case Group::kMeshes: return "Meshes";
  }
  return "?";
}

const char* DamageName(Damage d) {
  switch (d) {
    case Damage::kMissing: return "Missing";
    case Damage::kEmpty: return "Empty";
    case Damage::kTruncated: return "Truncated";
    case Damage::kRandomBytes: return "RandomBytes";
    case Damage::kWrongSize: return "WrongSize";
  }
  return "?";
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The show's data files of a group, by name.
std::vector<std::string> DataFiles(Group group) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(LANTERN_DATA_DIR)) {
    const std::string name = entry.path().filename().string();
    const bool mask = name.rfind("mask", 0) == 0 && EndsWith(name, ".tga");
    const bool picture = !mask && EndsWith(name, ".tga");
    const bool mesh = EndsWith(name, ".3d");
    if ((group == Group::kPictures && picture) || (group == Group::kMasks && mask) ||
        (group == Group::kMeshes && mesh)) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// A well-formed Targa (colour or grey, as the original's header says) of
// another size: half the sides for even n, double for odd n.
std::vector<uint8_t> OtherSizeTarga(const std::vector<uint8_t>& original, int n) {
  std::vector<uint8_t> header(original.begin(), original.begin() + 18);
  int width = header[12] | (header[13] << 8);
  int height = header[14] | (header[15] << 8);
  width = n % 2 == 0 ? std::max(1, width / 2) : width * 2;
  height = n % 2 == 0 ? std::max(1, height / 2) : height * 2;
  header[12] = static_cast<uint8_t>(width & 0xFF);
  header[13] = static_cast<uint8_t>(width >> 8);
  header[14] = static_cast<uint8_t>(height & 0xFF);
  header[15] = static_cast<uint8_t>(height >> 8);
  const size_t bytesPerPixel = header[16] / 8;
  std::vector<uint8_t> bytes = header;
  bytes.resize(18 + static_cast<size_t>(width) * height * bytesPerPixel, 0x5A);
  return bytes;
}

// The ".3d" file with both counts raised to 65535, the records after them unchanged.
std::vector<uint8_t> CountsAboveCapacity(std::vector<uint8_t> bytes) {
  const size_t vertices = bytes[0] | (bytes[1] << 8);
  bytes[0] = bytes[1] = 0xFF;
  const size_t faceCountAt = 2 + 12 * vertices;
  bytes[faceCountAt] = bytes[faceCountAt + 1] = 0xFF;
  return bytes;
}

// The ".3d" file with some face corners at 65535 and at the vertex capacity.
std::vector<uint8_t> IndicesOutOfRange(std::vector<uint8_t> bytes, int vertexCapacity) {
  const size_t vertices = bytes[0] | (bytes[1] << 8);
  const size_t facesAt = 4 + 12 * vertices;
  const size_t faces = bytes[facesAt - 2] | (bytes[facesAt - 1] << 8);
  for (size_t f = 0; f < faces; f += 7) {
    const size_t corner = facesAt + 8 * f + 2 * (f % 3);
    const int value = f % 2 == 0 ? 0xFFFF : vertexCapacity;
    bytes[corner] = static_cast<uint8_t>(value & 0xFF);
    bytes[corner + 1] = static_cast<uint8_t>(value >> 8);
  }
  return bytes;
}

// The stderr lines that name a file (as "name"), and all lines.
int LinesNaming(const std::vector<std::string>& lines, const std::string& name) {
  const std::string quoted = "\"" + name + "\"";
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.find(quoted) != std::string::npos;
  }));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// Links every data file into the working directory (a scratch directory),
// so that single files can then be replaced or removed.
void LinkDataSet() {
  for (const auto& entry : fs::directory_iterator(LANTERN_DATA_DIR)) {
    fs::create_symlink(entry.path(), entry.path().filename());
  }
}

void Replace(const std::string& name, const std::vector<uint8_t>& bytes) {
  fs::remove(name);
  harness::WriteBytes(name, bytes);
}

void NoMusic() {}

// The start-up as window creation runs it, without the music start.
void LoadShow() {
  void (*saved)() = g_startMusicHook;
  g_startMusicHook = NoMusic;
  InitRenderState();
  LoadAllScenes();
  g_startMusicHook = saved;
}

// Frames of every scene through to the end, the clock set by hand: three
// ticks a frame, rows 0, 20, 40 and 62 of every order, then order 30 row
// 63, which must end the show. Fails on any GL error.
void DrawWholeShow() {
  g_quit = 0;
  float ticks = g_prevTicks;
  for (int order = 0; order <= 30; ++order) {
    for (int row : {0, 20, 40, 62}) {
      g_order.store(order);
      g_row.store(row);
      ticks += 3.0f;
      g_ticks.store(ticks);
      ASSERT_TRUE(DrawFrame()) << "the show ended at order " << order << " row " << row;
    }
  }
  g_row.store(63);
  g_ticks.store(ticks + 3.0f);
  EXPECT_FALSE(DrawFrame()) << "order 30 row 63 must end the show";
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  g_quit = 0;
}

// ---- Pictures, masks and meshes --------------------------------------------

struct Case {
  Group group;
  Damage damage;
};

class DamagedFilesTest : public harness::GlTest, public ::testing::WithParamInterface<Case> {
 protected:
  harness::ScratchDir dir_;
};

// Every file of the group damaged at once: each gets exactly one line that
// names it and no other file is mentioned; the show then plays to its end.
TEST_P(DamagedFilesTest, EachFileGetsOneLineAndTheShowGoesOn) {
  const Case c = GetParam();
  LinkDataSet();
  const std::vector<std::string> files = DataFiles(c.group);
  ASSERT_FALSE(files.empty());
  int n = 0;
  for (const std::string& name : files) {
    const std::vector<uint8_t> original = ReadAll(std::string(LANTERN_DATA_DIR) + "/" + name);
    ASSERT_GT(original.size(), 18u) << name;
    switch (c.damage) {
      case Damage::kMissing:
        fs::remove(name);
        break;
      case Damage::kEmpty:
        Replace(name, {});
        break;
      case Damage::kTruncated:
        Replace(name, std::vector<uint8_t>(original.begin(), original.begin() + original.size() / 2));
        break;
      case Damage::kRandomBytes:
        Replace(name, RandomBytes(original.size(), 1000 + n));
        break;
      case Damage::kWrongSize:
        if (c.group == Group::kMeshes) {
          Replace(name, CountsAboveCapacity(original));
        } else {
          Replace(name, OtherSizeTarga(original, n));
        }
        break;
    }
    ++n;
  }

  harness::StderrCapture capture;
  LoadShow();
  const std::vector<std::string> lines = Lines(capture.Text());
  for (const std::string& name : files) {
    EXPECT_EQ(LinesNaming(lines, name), 1) << name;
  }
  EXPECT_EQ(lines.size(), files.size()) << capture.Text();
  DrawWholeShow();
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return std::string(GroupName(info.param.group)) + DamageName(info.param.damage);
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (Group g : {Group::kPictures, Group::kMasks, Group::kMeshes}) {
    for (Damage d : {Damage::kMissing, Damage::kEmpty, Damage::kTruncated, Damage::kRandomBytes,
                     Damage::kWrongSize}) {
      cases.push_back({g, d});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryGroupAndDamage, DamagedFilesTest, ::testing::ValuesIn(AllCases()),
                         CaseName);

class DamagedDataTest : public harness::GlTest {
 protected:
  harness::ScratchDir dir_;
};

// One damaged file among intact ones: its line only, and a missing picture
// draws nothing where it would have been (its texture is transparent).
TEST_F(DamagedDataTest, OneMissingPictureIsTheOnlyOneNamedAndDrawsNothing) {
  LinkDataSet();
  fs::remove("rainb.tga");
  harness::StderrCapture capture;
  LoadShow();
  const std::vector<std::string> lines = Lines(capture.Text());
  ASSERT_EQ(lines.size(), 1u) << capture.Text();
  EXPECT_EQ(LinesNaming(lines, "rainb.tga"), 1);
  // The full-screen picture of scene 3 is transparent: the frame is what
  // scene 3 draws behind and over it, never the picture's own colours,
  // and far from the intact frame's.
  harness::ClearFrame(0, 0, 0);
  g_order.store(7);
  g_row.store(10);
  g_ticks.store(g_prevTicks + 1.0f);
  ASSERT_TRUE(DrawFrame());
  const std::vector<harness::Rgba> damaged = harness::ReadFrame();
  fs::remove("rainb.tga");
  fs::create_symlink(std::string(LANTERN_DATA_DIR) + "/rainb.tga", "rainb.tga");
  LoadShow();
  g_ticks.store(g_prevTicks + 1.0f);
  ASSERT_TRUE(DrawFrame());
  const std::vector<harness::Rgba> intact = harness::ReadFrame();
  int differing = 0;
  for (size_t i = 0; i < intact.size(); ++i) {
    const int d = std::abs(intact[i].r - damaged[i].r) + std::abs(intact[i].g - damaged[i].g) +
                  std::abs(intact[i].b - damaged[i].b);
    differing += d > 24 ? 1 : 0;
  }
  EXPECT_GT(differing, 640 * 480 / 2) << "the missing picture still shows";
  DrawWholeShow();
}

// Mesh counts above the capacities and faces naming vertices out of range:
// one line per file, counts within capacity, no face kept that names a
// vertex at or above the capacity.
TEST_F(DamagedDataTest, MeshCountsAboveCapacityAndIndicesOutOfRange) {
  LinkDataSet();
  const std::vector<uint8_t> chel = ReadAll(std::string(LANTERN_DATA_DIR) + "/chel.3d");
  const std::vector<uint8_t> zavod = ReadAll(std::string(LANTERN_DATA_DIR) + "/zavod.3d");
  Replace("chel.3d", CountsAboveCapacity(chel));
  Replace("zavod.3d", IndicesOutOfRange(zavod, kZavodVertexCapacity));
  harness::StderrCapture capture;
  LoadShow();
  const std::vector<std::string> lines = Lines(capture.Text());
  ASSERT_EQ(lines.size(), 2u) << capture.Text();
  EXPECT_EQ(LinesNaming(lines, "chel.3d"), 1);
  EXPECT_EQ(LinesNaming(lines, "zavod.3d"), 1);
  EXPECT_NE(capture.Text().find("65535 vertices"), std::string::npos) << capture.Text();
  EXPECT_NE(capture.Text().find("dropped"), std::string::npos) << capture.Text();
  for (const Mesh* mesh : {&g_chelMesh, &g_zavodMesh}) {
    EXPECT_LE(mesh->vertexCount, mesh->vertexCapacity);
    EXPECT_LE(mesh->faceCount, mesh->faceCapacity);
    for (int f = 0; f < mesh->faceCount; ++f) {
      const MeshFace& face = mesh->faces[f];
      ASSERT_LT(std::max({face.a, face.b, face.c}), mesh->vertexCapacity) << "face " << f;
    }
  }
  const size_t zavodFaces = zavod[4 + 12 * (zavod[0] | (zavod[1] << 8)) - 2] |
                            (zavod[4 + 12 * (zavod[0] | (zavod[1] << 8)) - 1] << 8);
  EXPECT_EQ(g_zavodMesh.faceCount, static_cast<int>(zavodFaces - (zavodFaces + 6) / 7));
  DrawWholeShow();
}

// An unreadable data directory: every file the show opens first (each
// picture, the loading screen, the meshes) is named once, and the show
// draws to its end; the directory lookup says it found no data.
TEST_F(DamagedDataTest, UnreadableDataDirectory) {
  LinkDataSet();
  const uid_t nobody = 65534;
  ASSERT_EQ(chmod(".", 0), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(seteuid(nobody), 0);
  }
  harness::StderrCapture capture;
  ChangeToDataDirectory();
  LoadShow();
  const std::string text = capture.Text();
  if (root) {
    ASSERT_EQ(seteuid(0), 0);
  }
  ASSERT_EQ(chmod(".", 0700), 0);
  EXPECT_EQ(fs::current_path(), fs::path(dir_.path())) << "the lookup moved elsewhere";
  const std::vector<std::string> lines = Lines(text);
  std::vector<std::string> named = DataFiles(Group::kPictures);
  for (const std::string& mesh : DataFiles(Group::kMeshes)) named.push_back(mesh);
  for (const std::string& name : named) EXPECT_EQ(LinesNaming(lines, name), 1) << name;
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("no data files") != std::string::npos; }),
            1)
      << text;
  EXPECT_EQ(lines.size(), named.size() + 1) << text;
  DrawWholeShow();
}

// ---- The music module ------------------------------------------------------

class DamagedMusicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // As on a machine without a sound card: the silent player takes over.
    setenv("SDL_AUDIODRIVER", "lantern-no-such-driver", 1);
    g_running.store(1);
    LinkDataSet();
  }
  void TearDown() override {
    StopClockThread();
    g_running.store(1);
    ShutdownMusicOutput();
    g_music.store(0);
    unsetenv("SDL_AUDIODRIVER");
  }
  // Runs the music start; returns its stderr but for the line that says
  // the music plays silently (there is no audio device here).
  std::string Start() {
    harness::StderrCapture capture;
    StartMusic();
    std::string kept;
    for (const std::string& line : Lines(capture.Text())) {
      if (line.find("no audio device") == std::string::npos) kept += line + "\n";
    }
    return kept;
  }
  // True when the clock thread counts ticks (about one per 14 ms).
  static bool ClockRuns() {
    const float before = g_ticks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return g_ticks.load() >= before + 3.0f;
  }
  harness::ScratchDir dir_;
};

// Missing, empty, cut inside its song data, random bytes, a picture under
// its name, a directory of its name: one line naming it, no music, and the
// clock runs on the failed position (order 65535, row -1), which draws scene
// 8 and never ends the show by itself.
TEST_F(DamagedMusicTest, UnplayableModuleIsNamedAndTheClockStillRuns) {
  const std::vector<uint8_t> module = ReadAll(std::string(LANTERN_DATA_DIR) + "/TRK-MAIN.mo3");
  ASSERT_GT(module.size(), 4000u);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> damages = {
      {"empty", {}},
      {"cut in its song data", std::vector<uint8_t>(module.begin(), module.begin() + 3000)},
      {"random bytes", RandomBytes(module.size(), 7)},
      {"a picture", ReadAll(std::string(LANTERN_DATA_DIR) + "/loading.tga")},
  };
  auto check = [&](const std::string& what) {
    const std::string text = Start();
    const std::vector<std::string> lines = Lines(text);
    EXPECT_EQ(lines.size(), 1u) << what << ": " << text;
    EXPECT_EQ(LinesNaming(lines, "TRK-MAIN.mo3"), 1) << what << ": " << text;
    EXPECT_EQ(g_music.load(), 0u) << what;
    EXPECT_TRUE(ClockRuns()) << what;
    EXPECT_EQ(g_order.load(), 65535) << what;
    EXPECT_EQ(g_row.load(), -1) << what;
    EXPECT_EQ(SceneForOrder(g_order.load()), 8) << what;
  };
  fs::remove("TRK-MAIN.mo3");
  check("missing");
  for (const auto& damage : damages) {
    Replace("TRK-MAIN.mo3", damage.second);
    check(damage.first);
  }
  fs::remove("TRK-MAIN.mo3");
  fs::create_directory("TRK-MAIN.mo3");
  check("a directory");
}

// Cut inside its sample data, the module still loads (libopenmpt plays
// the missing sample data as silence) and the show follows it from order 0.
TEST_F(DamagedMusicTest, ModuleCutInItsSampleDataStillPlaysFromTheStart) {
  const std::vector<uint8_t> module = ReadAll(std::string(LANTERN_DATA_DIR) + "/TRK-MAIN.mo3");
  Replace("TRK-MAIN.mo3", std::vector<uint8_t>(module.begin(), module.begin() + module.size() / 2));
  Start();
  EXPECT_NE(g_music.load(), 0u);
  EXPECT_TRUE(ClockRuns());
  EXPECT_EQ(g_order.load(), 0);
  EXPECT_GE(g_row.load(), 0);
}

// No audio device: one line naming the device's failure, once per opening
// of the output (not at every restart), and the clock runs on the music.
TEST_F(DamagedMusicTest, NoAudioDeviceIsSaidOnceAndTheClockRuns) {
  harness::StderrCapture capture;
  StartMusic();
  StartMusic();
  const std::vector<std::string> lines = Lines(capture.Text());
  ASSERT_EQ(lines.size(), 1u) << capture.Text();
  EXPECT_NE(lines[0].find("no audio device"), std::string::npos) << lines[0];
  EXPECT_TRUE(MusicOutputIsSilent());
  EXPECT_NE(g_music.load(), 0u);
  EXPECT_TRUE(ClockRuns());
  EXPECT_EQ(g_order.load(), 0);
}

// A music start after an unplayable one (F1 with the file repaired) plays.
TEST_F(DamagedMusicTest, RestartAfterAFailedLoadPlays) {
  Replace("TRK-MAIN.mo3", RandomBytes(5000, 3));
  Start();
  EXPECT_EQ(g_music.load(), 0u);
  fs::remove("TRK-MAIN.mo3");
  fs::create_symlink(std::string(LANTERN_DATA_DIR) + "/TRK-MAIN.mo3", "TRK-MAIN.mo3");
  EXPECT_EQ(Start(), "");
  EXPECT_NE(g_music.load(), 0u);
  EXPECT_EQ(ClockThreadsRunning(), 1);
  EXPECT_EQ(g_order.load(), 0);
  EXPECT_EQ(g_row.load() >= 0 && g_row.load() < 64, true);
}

}  // namespace
