// Fuzzes the Targa reader without OpenGL. The first 8 bytes of an input pick
// the call (LoadTexture with mask flag 0, 1 or 2, or LoadTextureFrames), the
// size, the name length, the slot or frame count and table, and which files
// exist; the rest is split between the colour file and the mask file(s).
// The two GL calls the reader makes are replaced here: the upload reads the
// whole RGBA image it is given (AddressSanitizer sees any read past the
// staging area) and checks the name bound, the size and the alpha.
#include "platform/gl.h"
#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_common.h"
#include "render/render_state.h"
#include "resources/texture_loader.h"

GLuint g_textures[kTextureSlots];
GLuint g_frameTexturesA[kFrameTexturesA];
GLuint g_frameTexturesC[kFrameTexturesC];

namespace {

constexpr GLuint kSlotBase = 1000;
constexpr GLuint kFrameABase = 2000;
constexpr GLuint kFrameCBase = 3000;

// What the current input asked for, and what the reader did with it.
struct Expectation {
  GLuint firstName;   // name the first upload must bind; later uploads follow on
  int maxUploads;
  int width, height;
  bool opaque;        // every alpha must be 255
  bool transparent;   // every byte must be 0 (the picture is missing)
};
Expectation g_expect;
GLuint g_bound;
int g_uploads;

// A side from two bytes: mostly small (quick runs), with the high bit of the
// second byte up to 1095, past what the staging areas hold; -4 to 0 included.
int Side(uint8_t low, uint8_t high) {
  if (high & 0x80) return (low | ((high & 0x7F) << 8)) % 1100 - 4;
  return low % 68 - 4;
}

// The whole image must lie in live memory (AddressSanitizer's shadow is
// asked at once) and hold what the call promised. This scan of up to a
// megabyte is the harness's, not the reader's: it is kept out of coverage
// and comparison tracing, which would cost more than the load itself.
__attribute__((no_sanitize("coverage"))) void CheckImage(const unsigned char* rgba, size_t bytes) {
  if (__asan_region_is_poisoned(const_cast<unsigned char*>(rgba), bytes) != nullptr) {
    fuzz::Fail("an upload reads past the staging area");
  }
  for (size_t i = 0; g_expect.transparent && i < bytes; ++i) {
    if (rgba[i] != 0) fuzz::Fail("a missing picture is not fully transparent");
  }
  for (size_t i = 3; g_expect.opaque && i < bytes; i += 4) {
    if (rgba[i] != 255) fuzz::Fail("an unmasked picture is not opaque");
  }
}

}  // namespace

void glBindTexture(GLenum target, GLuint texture) {
  if (target != GL_TEXTURE_2D) fuzz::Fail("bound a target other than GL_TEXTURE_2D");
  g_bound = texture;
}

GLint gluBuild2DMipmaps(GLenum target, GLint components, GLsizei width, GLsizei height, GLenum format,
                        GLenum type, const void* data) {
  if (target != GL_TEXTURE_2D || components != 4 || format != GL_RGBA || type != GL_UNSIGNED_BYTE) {
    fuzz::Fail("upload with the wrong format");
  }
  if (g_uploads >= g_expect.maxUploads) fuzz::Fail("more uploads than frames or slots");
  if (g_bound != g_expect.firstName + static_cast<GLuint>(g_uploads)) fuzz::Fail("upload into the wrong name");
  if (width != g_expect.width || height != g_expect.height) fuzz::Fail("upload of the wrong size");
  if (width <= 0 || height <= 0 || width * height > 640 * 480) fuzz::Fail("upload of a size the staging cannot hold");
  ++g_uploads;
  CheckImage(static_cast<const unsigned char*>(data), 4 * static_cast<size_t>(width) * static_cast<size_t>(height));
  return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterWorkDir();
  for (int i = 0; i < kTextureSlots; ++i) g_textures[i] = kSlotBase + i;
  for (int i = 0; i < kFrameTexturesA; ++i) g_frameTexturesA[i] = kFrameABase + i;
  for (int i = 0; i < kFrameTexturesC; ++i) g_frameTexturesC[i] = kFrameCBase + i;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const int kind = data[0] & 3;  // 0, 1, 2: LoadTexture mask flag; 3: frames
  const bool noPicture = (data[0] & 4) != 0;
  const bool noMask = (data[0] & 8) != 0;
  const int width = Side(data[1], data[2]);
  const int height = Side(data[3], data[4]);
  const std::string name = std::string(data[5] % 70, 'n') + ".tga";
  const size_t payload = size - 8;
  const size_t split = payload * data[7] / 255;
  const unsigned char* colour = data + 8;
  const unsigned char* mask = data + 8 + split;

  // Files from earlier inputs would change what this one reads.
  std::remove(name.c_str());
  if (!noPicture) fuzz::WriteFile(name, colour, split);

  g_uploads = 0;
  g_bound = 0;
  g_expect = Expectation{0, 0, width, height, false, noPicture};
  if (kind < 3) {
    const int slot = data[6] % 70 - 2;
    const std::string maskName = "mask-" + name;
    std::remove(maskName.c_str());
    if (!noMask) fuzz::WriteFile(maskName, mask, payload - split);
    g_expect.firstName = kSlotBase + static_cast<GLuint>(slot);
    g_expect.maxUploads = 1;
    g_expect.opaque = kind != 1 && !noPicture;
    LoadTexture(kind, name.c_str(), width, height, slot);
  } else {
    const int frameCount = data[6] % 24 - 1;
    const int table = data[7] % 4;
    for (int n = 0; n < 24; ++n) {
      const std::string maskName = "mask" + std::to_string(n) + "-" + name;
      std::remove(maskName.c_str());
      if (!noMask && n < frameCount) fuzz::WriteFile(maskName, mask, payload - split);
    }
    g_expect.firstName = table == 0 ? kFrameABase : kFrameCBase;
    g_expect.maxUploads = table == 0 ? kFrameTexturesA : table == 2 ? kFrameTexturesC : 0;
    if (frameCount < g_expect.maxUploads) g_expect.maxUploads = frameCount < 0 ? 0 : frameCount;
    LoadTextureFrames(frameCount, name.c_str(), width, height, table);
  }
  return 0;
}
