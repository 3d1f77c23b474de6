// The Targa loader: texel contents read back from the textures it builds,
// mask naming, sampling state and the handling of missing or short files.
#include "platform/gl.h"

#include <cstdio>
#include <string>
#include <vector>

#include "render/render_state.h"
#include "resources/texture_loader.h"
#include "tests/support/gl_harness.h"

using harness::Rgb;
using harness::Rgba;

namespace {

class TextureLoaderTest : public harness::GlTest {
 protected:
  harness::ScratchDir dir_;
};

// Level 0 of a texture; fails the test when its size is not width by height.
std::vector<Rgba> Level0(GLuint texture, int width, int height) {
  int w = 0;
  int h = 0;
  std::vector<Rgba> texels = harness::ReadTextureLevel(texture, 0, &w, &h);
  EXPECT_EQ(w, width);
  EXPECT_EQ(h, height);
  if (w != width || h != height) texels.assign(static_cast<size_t>(width) * height, Rgba{});
  return texels;
}

int CountAlphaNot(const std::vector<Rgba>& texels, int alpha) {
  int n = 0;
  for (const Rgba& t : texels) n += t.a == alpha ? 0 : 1;
  return n;
}

bool Mentions(const std::string& text, const std::string& name) {
  return text.find("\"" + name + "\"") != std::string::npos;
}

int Occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST_F(TextureLoaderTest, ColourBytesBecomeRgbaInFileOrderWithMaskAsAlpha) {
  // Every texel distinct in every channel; rows as stored become texture rows.
  auto colour = [](int x, int row) {
    return Rgb{static_cast<uint8_t>(x * 16 + row), static_cast<uint8_t>(200 - x - row * 8),
               static_cast<uint8_t>(x * 3 + row * 50)};
  };
  auto alpha = [](int x, int row) { return static_cast<uint8_t>(x * 31 + row * 7); };
  harness::WriteTga("guy.tga", 8, 4, colour);
  harness::WriteMask("mask-guy.tga", 8, 4, alpha);
  LoadTexture(1, "guy.tga", 8, 4, 10);
  const std::vector<Rgba> texels = Level0(g_textures[10], 8, 4);
  for (int row = 0; row < 4; ++row) {
    for (int x = 0; x < 8; ++x) {
      const Rgba t = texels[row * 8 + x];
      const Rgb c = colour(x, row);
      EXPECT_EQ(t.r, c.r) << x << "," << row;
      EXPECT_EQ(t.g, c.g) << x << "," << row;
      EXPECT_EQ(t.b, c.b) << x << "," << row;
      EXPECT_EQ(t.a, alpha(x, row)) << x << "," << row;
    }
  }
}

TEST_F(TextureLoaderTest, MaskByte128IsAlpha128AndLeavesTheColourAlone) {
  harness::WriteTga("man.tga", 4, 4, [](int, int) { return Rgb{240, 120, 60}; });
  harness::WriteMask("mask-man.tga", 4, 4, [](int, int) { return uint8_t{128}; });
  LoadTexture(1, "man.tga", 4, 4, 23);
  for (const Rgba& t : Level0(g_textures[23], 4, 4)) {
    EXPECT_EQ(t.r, 240);
    EXPECT_EQ(t.g, 120);
    EXPECT_EQ(t.b, 60);
    EXPECT_EQ(t.a, 128);
  }
}

TEST_F(TextureLoaderTest, MaskFlagsOtherThanOneAreOpaqueAndOpenNoMask) {
  // A mask of zeros lies beside the picture: reading it would make the
  // texture transparent.
  harness::WriteTga("road.tga", 16, 8, [](int x, int) { return Rgb{static_cast<uint8_t>(x), 1, 2}; });
  harness::WriteMask("mask-road.tga", 16, 8, [](int, int) { return uint8_t{0}; });
  for (int flag : {0, 2, -1}) {
    LoadTexture(flag, "road.tga", 16, 8, 25);
    EXPECT_EQ(CountAlphaNot(Level0(g_textures[25], 16, 8), 255), 0) << "mask flag " << flag;
  }
  // Without the mask file nothing is reported: nothing tried to open it.
  std::remove("mask-road.tga");
  harness::StderrCapture capture;
  LoadTexture(0, "road.tga", 16, 8, 25);
  LoadTexture(2, "road.tga", 16, 8, 25);
  EXPECT_EQ(capture.Text(), "");
}

TEST_F(TextureLoaderTest, FullScreenPictureWithoutMaskIsOpaqueEverywhere) {
  harness::WriteTga("rainb.tga", 640, 480, [](int x, int row) {
    return Rgb{static_cast<uint8_t>(x), static_cast<uint8_t>(row), 77};
  });
  LoadTexture(0, "rainb.tga", 640, 480, 11);
  // GLU scales the picture to power-of-two sides before building the levels.
  int w = 0;
  int h = 0;
  const std::vector<Rgba> texels = harness::ReadTextureLevel(g_textures[11], 0, &w, &h);
  ASSERT_GT(w * h, 0);
  EXPECT_EQ(w & (w - 1), 0) << w;
  EXPECT_EQ(h & (h - 1), 0) << h;
  EXPECT_EQ(CountAlphaNot(texels, 255), 0);
  EXPECT_EQ(texels[0].b, 77);
}

TEST_F(TextureLoaderTest, MipmapsDefaultSamplingAndReplacementOnASecondLoad) {
  harness::WriteTga("a.tga", 32, 16, [](int, int) { return Rgb{255, 0, 0}; });
  harness::WriteTga("b.tga", 32, 16, [](int, int) { return Rgb{0, 0, 255}; });
  LoadTexture(0, "a.tga", 32, 16, 30);
  LoadTexture(0, "b.tga", 32, 16, 30);
  // Every level down to 1 by 1 exists and holds the second picture.
  const int sizes[][2] = {{32, 16}, {16, 8}, {8, 4}, {4, 2}, {2, 1}, {1, 1}};
  for (int level = 0; level < 6; ++level) {
    int w = 0;
    int h = 0;
    const std::vector<Rgba> texels = harness::ReadTextureLevel(g_textures[30], level, &w, &h);
    EXPECT_EQ(w, sizes[level][0]) << "level " << level;
    EXPECT_EQ(h, sizes[level][1]) << "level " << level;
    for (const Rgba& t : texels) {
      EXPECT_EQ(t.r, 0) << "level " << level;
      EXPECT_EQ(t.b, 255) << "level " << level;
    }
  }
  glBindTexture(GL_TEXTURE_2D, g_textures[30]);
  GLint minFilter = 0, magFilter = 0, wrapS = 0, wrapT = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
  EXPECT_EQ(minFilter, GL_NEAREST_MIPMAP_LINEAR);
  EXPECT_EQ(magFilter, GL_LINEAR);
  EXPECT_EQ(wrapS, GL_REPEAT);
  EXPECT_EQ(wrapT, GL_REPEAT);
}

TEST_F(TextureLoaderTest, FramesShareThePictureAndTakeTheirOwnNumberedMasks) {
  harness::WriteTga("stage-image.tga", 8, 8, [](int x, int row) {
    return Rgb{static_cast<uint8_t>(x * 30), static_cast<uint8_t>(row * 30), 99};
  });
  for (int n = 0; n < 12; ++n) {
    harness::WriteMask("mask" + std::to_string(n) + "-stage-image.tga", 8, 8,
                       [n](int, int) { return static_cast<uint8_t>(n * 20 + 5); });
  }
  harness::StderrCapture capture;
  LoadTextureFrames(12, "stage-image.tga", 8, 8, 0);
  EXPECT_EQ(capture.Text(), "");
  for (int n = 0; n < 12; ++n) {
    const std::vector<Rgba> texels = Level0(g_frameTexturesA[n], 8, 8);
    EXPECT_EQ(CountAlphaNot(texels, n * 20 + 5), 0) << "frame " << n;
    EXPECT_EQ(texels[8 * 3 + 2].r, 60) << "frame " << n;
    EXPECT_EQ(texels[8 * 3 + 2].g, 90) << "frame " << n;
  }
  // Entries past the frame count stay without an image.
  int w = -1;
  harness::ReadTextureLevel(g_frameTexturesA[12], 0, &w, nullptr);
  EXPECT_EQ(w, 0);

  // Table 2 is g_frameTexturesC; a second load replaces the frames' images.
  harness::WriteTga("times.tga", 4, 4, [](int, int) { return Rgb{1, 2, 3}; });
  for (int n = 0; n < 8; ++n) {
    harness::WriteMask("mask" + std::to_string(n) + "-times.tga", 4, 4,
                       [n](int, int) { return static_cast<uint8_t>(255 - n); });
  }
  LoadTextureFrames(8, "times.tga", 4, 4, 2);
  harness::WriteTga("times.tga", 4, 4, [](int, int) { return Rgb{7, 8, 9}; });
  LoadTextureFrames(8, "times.tga", 4, 4, 2);
  for (int n = 0; n < 8; ++n) {
    const std::vector<Rgba> texels = Level0(g_frameTexturesC[n], 4, 4);
    EXPECT_EQ(CountAlphaNot(texels, 255 - n), 0) << "frame " << n;
    EXPECT_EQ(texels[5].r, 7) << "frame " << n;
  }
}

TEST_F(TextureLoaderTest, FrameTablesOutOfRangeAreRefused) {
  harness::WriteTga("anim.tga", 4, 4, [](int, int) { return Rgb{1, 2, 3}; });
  for (int n = 0; n < 20; ++n) {
    harness::WriteMask("mask" + std::to_string(n) + "-anim.tga", 4, 4, [](int, int) { return uint8_t{9}; });
  }
  harness::StderrCapture capture;
  LoadTextureFrames(4, "anim.tga", 4, 4, 1);    // no such table
  LoadTextureFrames(12, "anim.tga", 4, 4, 2);   // 8 entries only: 8 are loaded
  const std::string text = capture.Text();
  EXPECT_TRUE(Mentions(text, "anim.tga")) << text;
  EXPECT_EQ(CountAlphaNot(Level0(g_frameTexturesC[7], 4, 4), 9), 0);
  int w = -1;
  harness::ReadTextureLevel(g_frameTexturesA[0], 0, &w, nullptr);
  EXPECT_EQ(w, 0) << "table 1 must not fall back to another table";
}

TEST_F(TextureLoaderTest, MissingFilesAreReportedOnceAndNeverCrash) {
  // A missing picture: a fully transparent image of its size.
  {
    harness::StderrCapture capture;
    LoadTexture(1, "nowhere.tga", 16, 16, 5);
    const std::string text = capture.Text();
    EXPECT_EQ(Occurrences(text, "\"nowhere.tga\""), 1) << text;
    EXPECT_FALSE(Mentions(text, "mask-nowhere.tga")) << text;
    EXPECT_EQ(CountAlphaNot(Level0(g_textures[5], 16, 16), 0), 0);
  }
  // A missing mask: the picture, opaque.
  {
    harness::WriteTga("bare.tga", 16, 16, [](int, int) { return Rgb{10, 20, 30}; });
    harness::StderrCapture capture;
    LoadTexture(1, "bare.tga", 16, 16, 6);
    const std::string text = capture.Text();
    EXPECT_EQ(Occurrences(text, "\"mask-bare.tga\""), 1) << text;
    const std::vector<Rgba> texels = Level0(g_textures[6], 16, 16);
    EXPECT_EQ(CountAlphaNot(texels, 255), 0);
    EXPECT_EQ(texels[0].g, 20);
  }
  // A missing animation picture: reported once for all its frames, every
  // frame transparent; a missing frame mask: that frame opaque.
  {
    harness::StderrCapture capture;
    LoadTextureFrames(12, "gone.tga", 8, 8, 0);
    const std::string text = capture.Text();
    EXPECT_EQ(Occurrences(text, "\"gone.tga\""), 1) << text;
    for (int n = 0; n < 12; ++n) EXPECT_EQ(CountAlphaNot(Level0(g_frameTexturesA[n], 8, 8), 0), 0);
  }
  {
    harness::WriteTga("part.tga", 4, 4, [](int, int) { return Rgb{1, 1, 1}; });
    harness::WriteMask("mask0-part.tga", 4, 4, [](int, int) { return uint8_t{50}; });
    harness::StderrCapture capture;
    LoadTextureFrames(2, "part.tga", 4, 4, 2);
    const std::string text = capture.Text();
    EXPECT_TRUE(Mentions(text, "mask1-part.tga")) << text;
    EXPECT_EQ(CountAlphaNot(Level0(g_frameTexturesC[0], 4, 4), 50), 0);
    EXPECT_EQ(CountAlphaNot(Level0(g_frameTexturesC[1], 4, 4), 255), 0);
  }
}

TEST_F(TextureLoaderTest, ShortFileKeepsTheBytesOfTheEarlierLoadAndIsReported) {
  harness::WriteTga("full.tga", 8, 8, [](int, int) { return Rgb{200, 150, 100}; });
  LoadTexture(0, "full.tga", 8, 8, 12);
  // Header and the first 3 rows only (3 bytes a pixel).
  std::vector<uint8_t> bytes(18 + 8 * 3 * 3, 0);
  for (size_t i = 18; i < bytes.size(); i += 3) {
    bytes[i] = 3;  // blue
    bytes[i + 1] = 2;
    bytes[i + 2] = 1;  // red
  }
  harness::WriteBytes("short.tga", bytes);
  harness::StderrCapture capture;
  LoadTexture(0, "short.tga", 8, 8, 13);
  EXPECT_TRUE(Mentions(capture.Text(), "short.tga"));
  const std::vector<Rgba> texels = Level0(g_textures[13], 8, 8);
  EXPECT_EQ(texels[2 * 8 + 7].r, 1);    // row 2, read from the short file
  EXPECT_EQ(texels[2 * 8 + 7].b, 3);
  EXPECT_EQ(texels[3 * 8 + 0].r, 200);  // row 3 on, left from "full.tga"
  EXPECT_EQ(texels[7 * 8 + 7].b, 100);
}

TEST_F(TextureLoaderTest, NamesTooLongForTheirMaskNameAreRefused) {
  // A mask name must fit 63 characters: "mask-" leaves 58 for the picture,
  // "mask11-" leaves 56 and "mask7-" leaves 57.
  const std::string name58 = std::string(54, 'p') + ".tga";
  const std::string name59 = std::string(55, 'p') + ".tga";
  const std::string name57 = std::string(53, 'q') + ".tga";
  for (const std::string& name : {name58, name59, name57}) {
    harness::WriteTga(name, 4, 4, [](int, int) { return Rgb{5, 5, 5}; });
    harness::WriteMask("mask-" + name, 4, 4, [](int, int) { return uint8_t{7}; });
    for (int n = 0; n < 12; ++n) {
      harness::WriteMask("mask" + std::to_string(n) + "-" + name, 4, 4, [](int, int) { return uint8_t{7}; });
    }
  }
  harness::StderrCapture capture;
  LoadTexture(1, name58.c_str(), 4, 4, 40);
  LoadTexture(1, name59.c_str(), 4, 4, 41);
  LoadTexture(0, name59.c_str(), 4, 4, 42);            // no mask: any length does
  LoadTextureFrames(8, name57.c_str(), 4, 4, 2);       // "mask7-" + 57 = 63
  LoadTextureFrames(12, name57.c_str(), 4, 4, 0);      // "mask11-" + 57 = 64
  const std::string text = capture.Text();
  EXPECT_EQ(Occurrences(text, "too long"), 2) << text;

  EXPECT_EQ(CountAlphaNot(Level0(g_textures[40], 4, 4), 7), 0);
  int w = -1;
  harness::ReadTextureLevel(g_textures[41], 0, &w, nullptr);
  EXPECT_EQ(w, 0) << "a picture whose mask name overflows is not loaded";
  EXPECT_EQ(CountAlphaNot(Level0(g_textures[42], 4, 4), 255), 0);
  EXPECT_EQ(CountAlphaNot(Level0(g_frameTexturesC[7], 4, 4), 7), 0);
  for (int n = 0; n < 12; ++n) {
    harness::ReadTextureLevel(g_frameTexturesA[n], 0, &w, nullptr);
    EXPECT_EQ(w, 0) << "frame " << n << " of an animation whose last mask name overflows";
  }
}

TEST_F(TextureLoaderTest, SizesAndSlotsOutsideTheStagingAreasAreRefused) {
  harness::WriteTga("big.tga", 4, 4, [](int, int) { return Rgb{5, 5, 5}; });
  harness::StderrCapture capture;
  LoadTexture(0, "big.tga", 641, 480, 14);   // more pixels than the colour area
  LoadTexture(1, "big.tga", 640, 480, 15);   // more pixels than the mask area
  LoadTexture(0, "big.tga", 0, 16, 16);
  LoadTexture(0, "big.tga", -4, -4, 17);
  LoadTexture(0, "big.tga", 4, 4, 65);
  LoadTexture(0, "big.tga", 4, 4, -1);
  LoadTextureFrames(2, "big.tga", 1024, 512, 0);
  EXPECT_EQ(Occurrences(capture.Text(), "\"big.tga\""), 7) << capture.Text();
  for (int slot : {14, 15, 16, 17}) {
    int w = -1;
    harness::ReadTextureLevel(g_textures[slot], 0, &w, nullptr);
    EXPECT_EQ(w, 0) << "slot " << slot;
  }
}

}  // namespace
