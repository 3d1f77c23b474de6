// Targa pictures and masks turned into mipmapped RGBA textures. All staging
// is static and reused by every load; nothing is allocated.
#include "resources/texture_loader.h"

#include "platform/gl.h"

#include <cstdio>
#include <cstring>

#include "common/data_report.h"
#include "render/render_state.h"

namespace {

constexpr int kMaxPixels = 640 * 480;       // the largest picture
constexpr int kMaxMaskPixels = 512 * 512;   // the largest masked picture
constexpr int kNameSize = 64;               // a mask name with its prefix, NUL included
constexpr long kPixelOffset = 18;           // pixels follow the 18-byte header

// Staging areas; their contents persist from one load to the next, so a
// file shorter than its size leaves the bytes of an earlier load in place.
unsigned char g_stageColor[kMaxPixels * 3];
unsigned char g_stageRgba[kMaxPixels * 4];
unsigned char g_stageMask[kMaxMaskPixels];

// What reading a file found: it could not be opened, or it opened and
// its header does not describe the size and depth asked for, or it ended
// before width x height pixels (either or both).
struct ReadResult {
  bool missing;
  bool wrongHeader;
  bool shortFile;
};

// True when an 18-byte Targa header describes an uncompressed picture of
// width x height at the given depth (type 2, 24 bits for colour; type 3,
// 8 bits for a grey mask), with no identification field or colour map, so
// that the pixels start right after it.
bool HeaderMatches(const unsigned char* header, int width, int height, bool grey) {
  return header[0] == 0 && header[1] == 0 && header[2] == (grey ? 3 : 2) &&
         (header[12] | (header[13] << 8)) == width && (header[14] | (header[15] << 8)) == height &&
         header[16] == (grey ? 8 : 24);
}

// Reads size bytes from offset 18 of fileName into dest. The header is read
// only to be checked: the pixels are read from offset 18 whatever it says.
ReadResult ReadPixels(const char* fileName, unsigned char* dest, int width, int height, bool grey) {
  ReadResult result = {false, false, false};
  FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) {
    result.missing = true;
    return result;
  }
  const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * (grey ? 1 : 3);
  unsigned char header[kPixelOffset];
  const size_t headerGot = std::fread(header, 1, sizeof header, file);
  result.wrongHeader = headerGot != sizeof header || !HeaderMatches(header, width, height, grey);
  size_t got = 0;
  if (std::fseek(file, kPixelOffset, SEEK_SET) == 0) got = std::fread(dest, 1, size, file);
  std::fclose(file);
  result.shortFile = got != size;
  return result;
}

// One stderr line for whatever is wrong with a file that opened.
void ReportDamage(const char* kind, const char* fileName, const ReadResult& result, int width,
                  int height, const char* depth) {
  if (result.wrongHeader && result.shortFile) {
    ReportDataFinding("%s \"%s\" is not a %d by %d %s Targa and is shorter than its size",
                      kind, fileName, width, height, depth);
  } else if (result.wrongHeader) {
    ReportDataFinding("%s \"%s\" is not a %d by %d %s Targa; its pixels are read as one",
                      kind, fileName, width, height, depth);
  } else if (result.shortFile) {
    ReportDataFinding("%s \"%s\" is shorter than its size", kind, fileName);
  }
}

// Reads a picture's colour bytes, reporting what went wrong. Returns false
// when the file could not be opened.
bool ReadColor(const char* fileName, int width, int height, bool report) {
  const ReadResult result = ReadPixels(fileName, g_stageColor, width, height, false);
  if (result.missing) {
    if (report) ReportDataFinding("cannot open picture \"%s\"", fileName);
    return false;
  }
  if (report) ReportDamage("picture", fileName, result, width, height, "24-bit");
  return true;
}

// Reads a mask into the mask area. Returns false when it could not be opened.
bool ReadMask(const char* maskName, int width, int height) {
  const ReadResult result = ReadPixels(maskName, g_stageMask, width, height, true);
  if (result.missing) {
    ReportDataFinding("cannot open mask \"%s\"", maskName);
    return false;
  }
  ReportDamage("mask", maskName, result, width, height, "8-bit grey");
  return true;
}

// Builds the RGBA area: colour bytes blue, green, red become red, green,
// blue; the alpha is the mask byte, or 255 without a mask. No premultiplication.
void BuildRgba(int pixels, bool useMask) {
  for (int i = 0; i < pixels; ++i) {
    g_stageRgba[4 * i + 0] = g_stageColor[3 * i + 2];
    g_stageRgba[4 * i + 1] = g_stageColor[3 * i + 1];
    g_stageRgba[4 * i + 2] = g_stageColor[3 * i + 0];
    g_stageRgba[4 * i + 3] = useMask ? g_stageMask[i] : 255;
  }
}

// The image a picture that cannot be opened gets: fully transparent.
void BuildTransparent(int pixels) {
  std::memset(g_stageRgba, 0, static_cast<size_t>(pixels) * 4);
}

void Upload(GLuint name, int width, int height) {
  glBindTexture(GL_TEXTURE_2D, name);
  gluBuild2DMipmaps(GL_TEXTURE_2D, 4, width, height, GL_RGBA, GL_UNSIGNED_BYTE, g_stageRgba);
}

bool SizeFits(const char* fileName, int width, int height, int maxPixels) {
  if (width > 0 && height > 0 && width <= maxPixels / height) return true;
  ReportDataFinding("picture \"%s\" of %d by %d is not a size the loader holds",
                    fileName, width, height);
  return false;
}

}  // namespace

void LoadTexture(int maskFlag, const char* fileName, int width, int height, int slot) {
  if (slot < 0 || slot >= kTextureSlots) {
    ReportDataFinding("picture \"%s\" names slot %d, which does not exist", fileName, slot);
    return;
  }
  const bool masked = maskFlag == 1;
  if (!SizeFits(fileName, width, height, masked ? kMaxMaskPixels : kMaxPixels)) return;
  char maskName[kNameSize];
  if (masked) {
    const int length = std::snprintf(maskName, sizeof maskName, "mask-%s", fileName);
    if (length < 0 || length >= kNameSize) {
      ReportDataFinding("picture name \"%s\" is too long for its mask name", fileName);
      return;
    }
  }

  const int pixels = width * height;
  if (!ReadColor(fileName, width, height, true)) {
    BuildTransparent(pixels);
  } else {
    const bool haveMask = masked && ReadMask(maskName, width, height);
    BuildRgba(pixels, haveMask);
  }
  Upload(g_textures[slot], width, height);
}

void LoadTextureFrames(int frameCount, const char* fileName, int width, int height, int table) {
  GLuint* names = nullptr;
  int entries = 0;
  if (table == 0) {
    names = g_frameTexturesA;
    entries = kFrameTexturesA;
  } else if (table == 2) {
    names = g_frameTexturesC;
    entries = kFrameTexturesC;
  } else {
    ReportDataFinding("animation \"%s\" names table %d, which does not exist", fileName, table);
    return;
  }
  if (frameCount > entries) {
    ReportDataFinding("animation \"%s\" has %d frames, its table holds %d", fileName,
                      frameCount, entries);
    frameCount = entries;
  }
  if (!SizeFits(fileName, width, height, kMaxMaskPixels)) return;
  const int pixels = width * height;

  // The last frame has the longest mask name: if it fits, every one does,
  // so an animation is either loaded whole or not at all.
  char maskName[kNameSize];
  if (frameCount > 0) {
    const int length = std::snprintf(maskName, sizeof maskName, "mask%d-%s", frameCount - 1, fileName);
    if (length < 0 || length >= kNameSize) {
      ReportDataFinding("picture name \"%s\" is too long for its mask name", fileName);
      return;
    }
  }

  for (int n = 0; n < frameCount; ++n) {
    std::snprintf(maskName, sizeof maskName, "mask%d-%s", n, fileName);
    // Each frame reads the colour file again; a missing one is reported once.
    if (!ReadColor(fileName, width, height, n == 0)) {
      BuildTransparent(pixels);
    } else {
      BuildRgba(pixels, ReadMask(maskName, width, height));
    }
    Upload(names[n], width, height);
  }
}
