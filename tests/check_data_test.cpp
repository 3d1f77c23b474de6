// The data checker, run as a user runs it (lantern-capture --check-data DIR)
// on the generated set and on sets with one thing wrong: it passes the
// first and fails each of the others with one finding naming the file, the
// line the show itself prints where the show prints one.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/gl_harness.h"
#include "tests/support/test_module.h"
#include "tests/support/text_lines.h"

namespace fs = std::filesystem;

namespace {

using harness::Lines;

const std::string kCapture = std::string(LANTERN_BUILD_DIR) + "/lantern-capture";

struct Result {
  int status = -1;
  std::string out;
  std::vector<std::string> errLines;
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put16(std::vector<uint8_t>* out, int value) {
  out->push_back(static_cast<uint8_t>(value & 0xFF));
  out->push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

// A .3d mesh: vertexCount vertices at the origin, then the given faces.
std::vector<uint8_t> Mesh(int vertexCount, const std::vector<std::vector<int>>& faces) {
  std::vector<uint8_t> out;
  Put16(&out, vertexCount);
  out.insert(out.end(), static_cast<size_t>(vertexCount) * 12, 0);
  Put16(&out, static_cast<int>(faces.size()));
  for (const auto& f : faces) {
    for (int i = 0; i < 4; ++i) Put16(&out, f[static_cast<size_t>(i)]);
  }
  return out;
}

// A data set in a scratch folder: every file of the generated set linked
// in, so that single files can be replaced or removed.
class CheckDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kCapture)) << kCapture << " is not built";
    for (const auto& entry : fs::directory_iterator(LANTERN_DATA_DIR)) {
      fs::create_symlink(entry.path(), set_.path() + "/" + entry.path().filename().string());
    }
  }
  void Replace(const std::string& name, const std::vector<uint8_t>& bytes) {
    fs::remove(set_.path() + "/" + name);
    harness::WriteBytes(set_.path() + "/" + name, bytes);
  }
  Result Check() {
    const std::string out = set_.path() + "/../check-out-" + std::to_string(getpid());
    const std::string err = out + "-err";
    const std::string line = kCapture + " --check-data " + set_.path() + " >" + out + " 2>" + err;
    const int raw = std::system(line.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadText(out);
    r.errLines = Lines(ReadText(err));
    fs::remove(out);
    fs::remove(err);
    return r;
  }
  // One finding, naming the file, and the summary that counts it.
  static void ExpectOneFinding(const Result& r, const std::string& file, const std::string& text) {
    EXPECT_EQ(r.status, 1) << file;
    ASSERT_EQ(r.errLines.size(), 1u) << file << ": " << ::testing::PrintToString(r.errLines);
    EXPECT_EQ(r.errLines[0].rfind("lantern: ", 0), 0u) << r.errLines[0];
    EXPECT_NE(r.errLines[0].find("\"" + file + "\""), std::string::npos) << r.errLines[0];
    EXPECT_NE(r.errLines[0].find(text), std::string::npos) << r.errLines[0];
    EXPECT_NE(r.out.find("1 finding in "), std::string::npos) << r.out;
  }
  harness::ScratchDir set_;
};

TEST_F(CheckDataTest, TheGeneratedSetIsCompleteAndSound) {
  const Result r = Check();
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.errLines.empty()) << ::testing::PrintToString(r.errLines);
  EXPECT_NE(r.out.find("is complete and sound; the music ends the show at order 30, row 63 after 238.0 s"),
            std::string::npos)
      << r.out;
}

// Pictures and meshes: the show's own lines for a missing picture, a picture
// of the wrong size and a mesh over its capacity; the checker's own line for
// faces naming vertices the file does not hold.
TEST_F(CheckDataTest, DamagedPicturesAndMeshesAreNamed) {
  fs::remove(set_.path() + "/guy.tga");
  ExpectOneFinding(Check(), "guy.tga", "cannot open picture");
  fs::create_symlink(std::string(LANTERN_DATA_DIR) + "/guy.tga", set_.path() + "/guy.tga");

  // A sound Targa, but 256 by 256 where the show wants 512 by 512.
  harness::WriteTga(set_.path() + "/map-small.tga", 256, 256, [](int x, int row) {
    return harness::Rgb{static_cast<uint8_t>(x), static_cast<uint8_t>(row), 40};
  });
  fs::remove(set_.path() + "/map.tga");
  fs::rename(set_.path() + "/map-small.tga", set_.path() + "/map.tga");
  ExpectOneFinding(Check(), "map.tga", "is not a 512 by 512 24-bit Targa");
  fs::remove(set_.path() + "/map.tga");
  fs::create_symlink(std::string(LANTERN_DATA_DIR) + "/map.tga", set_.path() + "/map.tga");

  Replace("chel.3d", Mesh(9000, {{0, 1, 2, 0}}));
  ExpectOneFinding(Check(), "chel.3d", "declares 9000 vertices, 8000 are read");

  Replace("zavod.3d", Mesh(3, {{0, 1, 2, 0}, {0, 1, 7, 0}, {5, 1, 2, 0}}));
  Replace("chel.3d", Mesh(3, {{0, 1, 2, 0}}));
  ExpectOneFinding(Check(), "zavod.3d", "has 2 faces naming vertices beyond its own 3");
}

// The module: not a module at all; a song that never stands at order 30,
// row 63 (too few orders, an order 30 of 32 rows); a fast song that passes
// that row in 10 ms and goes on. A fast song that ends on that row is sound:
// the show holds the last row once the song has ended.
TEST_F(CheckDataTest, ModulesThatCannotEndTheShowAreNamed) {
  Replace("TRK-MAIN.mo3", std::vector<uint8_t>(5000, 0x42));
  ExpectOneFinding(Check(), "TRK-MAIN.mo3", "is not a module libopenmpt can play");

  Replace("TRK-MAIN.mo3", testmodule::SilentXm(30, 64, 1, 255));
  Result r = Check();
  ExpectOneFinding(r, "TRK-MAIN.mo3", "never stands at order 30, row 63");
  if (!r.errLines.empty()) {
    EXPECT_NE(r.errLines[0].find("only 30 orders"), std::string::npos) << r.errLines[0];
    EXPECT_NE(r.errLines[0].find("ends at order 29, row 63"), std::string::npos) << r.errLines[0];
  }

  Replace("TRK-MAIN.mo3", testmodule::SilentXm(31, 32, 1, 255));
  r = Check();
  ExpectOneFinding(r, "TRK-MAIN.mo3", "never stands at order 30, row 63");
  if (!r.errLines.empty()) {
    EXPECT_NE(r.errLines[0].find("order 30 has only 32 rows"), std::string::npos) << r.errLines[0];
  }

  // A row of speed 1 at 255 BPM lasts 9.8 ms; the walk steps by 1 ms.
  Replace("TRK-MAIN.mo3", testmodule::SilentXm(32, 64, 1, 255));
  r = Check();
  ExpectOneFinding(r, "TRK-MAIN.mo3", "stands at order 30, row 63 for only ");
  if (!r.errLines.empty()) {
    int ms = 0;
    const size_t at = r.errLines[0].find("for only ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(std::sscanf(r.errLines[0].c_str() + at, "for only %d ms before it moves on", &ms), 1);
    EXPECT_GE(ms, 9);
    EXPECT_LE(ms, 11);
  }

  Replace("TRK-MAIN.mo3", testmodule::SilentXm(31, 64, 1, 255));
  r = Check();
  EXPECT_EQ(r.status, 0) << ::testing::PrintToString(r.errLines);
  EXPECT_TRUE(r.errLines.empty()) << ::testing::PrintToString(r.errLines);
}

TEST_F(CheckDataTest, ANameThatIsNoDirectoryIsRefused) {
  const std::string missing = set_.path() + "/no-such-folder";
  const int raw = std::system((kCapture + " --check-data " + missing + " >/dev/null 2>&1").c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1);
}

}  // namespace
