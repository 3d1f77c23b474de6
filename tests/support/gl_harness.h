// Test support: an offscreen OpenGL context (SDL's offscreen driver on Mesa
// llvmpipe), pixel read-back in screen units, scratch data directories and
// small Targa pictures written for a test.
//
// Screen units here are pixels of the 640 by 480 viewport, x to the right,
// y DOWN from the top edge (the scenes' convention). Picture rows are
// counted as stored in the file: row 0 is the first row, which becomes
// texture row 0 and lands at the bottom of a screen quad.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace harness {

struct Rgba {
  uint8_t r, g, b, a;
};
struct Rgb {
  uint8_t r, g, b;
};

// Creates the 640 by 480 offscreen context and makes it current; false (and
// a message on stderr) when no context can be had.
bool StartGl();
// Destroys the context and shuts SDL's video down.
void StopGl();
// Generates fresh names for the three texture tables (as every context creation does).
void GenerateTextureTables();
// The scenes' projection: glFrustum(-1, 1, -1, 1, 1, far), glScalef(1, 1.33, 1);
// leaves the matrix mode GL_MODELVIEW with the identity loaded.
void SetSceneProjection(double farPlane = 1500.0);

// One pixel of the back buffer, in screen units (y down).
Rgba ReadPixel(int x, int y);
// The whole 640 by 480 back buffer, top row first.
std::vector<Rgba> ReadFrame();
// Writes the back buffer as a PNG (for looking at a test's picture).
bool WriteFramePng(const std::string& path);

// Writes an uncompressed 24-bit Targa; colour(x, row) gives each pixel, row 0
// being the first row stored (bottom-left origin, as the loader expects).
void WriteTga(const std::string& path, int width, int height,
              const std::function<Rgb(int x, int row)>& colour);
// Writes an uncompressed 8-bit grey Targa mask.
void WriteMask(const std::string& path, int width, int height,
               const std::function<uint8_t(int x, int row)>& alpha);
// Writes raw bytes to a file.
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A picture whose texels say which picture and which texel they are: red is
// id * 32 + 16, green the column and blue the row, scaled to 0..255 over
// the picture (so a 16-wide picture steps by 17).
void WriteCodedTga(const std::string& path, int width, int height, int id);

// A fresh temporary directory that becomes the working directory for the
// scope's life (the loaders open files by relative names); removed afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};

// Captures what the code under test writes to stderr while it lives.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  // Stops capturing (if still capturing) and returns everything written.
  std::string Text();

 private:
  int savedFd_ = -1;
  std::string path_;
  std::string text_;
  bool done_ = false;
};

// A GoogleTest fixture with one offscreen context per test suite and fresh
// texture tables for every test; a test fails when no context can be had.
class GlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
};

}  // namespace harness

namespace harness {

// The image of one mipmap level of a texture, row 0 first (texture row 0 =
// the first row of the picture file); width and height receive its size.
std::vector<Rgba> ReadTextureLevel(unsigned texture, int level, int* width, int* height);
// Clears the colour and depth buffers to one colour (0..255 per channel).
void ClearFrame(uint8_t r, uint8_t g, uint8_t b);

}  // namespace harness
