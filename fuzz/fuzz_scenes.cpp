// Fuzzes the start-up of the scenes from a damaged copy of the show's data,
// and then their frames. The data set is linked into a private directory and
// the whole start-up runs once, recording each loader call the scenes make;
// each input damages a few files (removed, emptied, cut short, or replaced
// by bytes of the input), repeats just the recorded calls that read them,
// draws frames at positions the input picks, puts the files back and repeats
// those calls once more, so that every run starts from the intact show.
// OpenGL and GLU are replaced here by functions that read everything they
// are given (AddressSanitizer sees a read past any array) and check the
// texture names and sizes.
#include "platform/gl.h"
#include <dirent.h>
#include <sys/stat.h>
#include <sanitizer/asan_interface.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "render/render_state.h"
#include "resources/mesh_loader.h"
#include "resources/texture_loader.h"
#include "scenes/scenes.h"
#include "timeline/clock.h"
#include "timeline/sequencer.h"

// The music clock without music: the frames take their position from the input.
std::atomic<int32_t> g_running{1};
std::atomic<uint32_t> g_music{0};
std::atomic<int32_t> g_order{0};
std::atomic<int32_t> g_row{0};
std::atomic<float> g_ticks{0.0f};
void StartMusic() {}

namespace {

std::vector<std::string> g_files;  // the data set's file names
// A loader call as the start-up made it.
struct LoadCall {
  enum { kTexture, kFrames, kMesh } kind;
  int number;  // mask flag, or frame count
  std::string name;
  int width, height, slot;  // slot, or frame table
  Mesh* mesh;
};
std::vector<LoadCall> g_calls;  // in start-up order
bool g_recording = false;
// For each data file, the calls (indices into g_calls) that open it.
std::vector<std::vector<size_t>> g_readers;
std::string g_dataDir;
GLuint g_nextName = 1;
volatile float g_sink;

// An image handed to GL must lie wholly inside live memory: asks
// AddressSanitizer's shadow at once rather than reading every byte.
void Consume(const void* data, size_t bytes) {
  if (__asan_region_is_poisoned(const_cast<void*>(data), bytes) != nullptr) {
    fuzz::Fail("an upload reads past its array");
  }
}

bool KnownTexture(GLuint name) {
  if (name == 0) return true;
  for (GLuint n : g_textures) if (n == name) return true;
  for (GLuint n : g_frameTexturesA) if (n == name) return true;
  for (GLuint n : g_frameTexturesC) if (n == name) return true;
  return false;
}

void Restore(const std::string& name) {
  std::remove(name.c_str());
  if (symlink((g_dataDir + "/" + name).c_str(), name.c_str()) != 0) fuzz::Fail("cannot link a data file");
}

void Repeat(const LoadCall& call) {
  switch (call.kind) {
    case LoadCall::kTexture: LoadTexture(call.number, call.name.c_str(), call.width, call.height, call.slot); break;
    case LoadCall::kFrames: LoadTextureFrames(call.number, call.name.c_str(), call.width, call.height, call.slot); break;
    case LoadCall::kMesh: LoadMesh(call.name.c_str(), call.mesh); break;
  }
}

// Repeats a call with stderr sent to a scratch file and returns the names it
// quoted: with files removed, its reports name every file it opens.
std::set<std::string> NamesReported(const LoadCall& call) {
  std::fflush(stderr);
  FILE* capture = std::tmpfile();
  const int saved = dup(2);
  if (capture == nullptr || saved < 0 || dup2(fileno(capture), 2) < 0) fuzz::Fail("cannot capture stderr");
  Repeat(call);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::rewind(capture);
  std::set<std::string> names;
  char line[1024];
  while (std::fgets(line, sizeof line, capture) != nullptr) {
    const char* open = std::strchr(line, '"');
    const char* close = open != nullptr ? std::strchr(open + 1, '"') : nullptr;
    if (close != nullptr) names.insert(std::string(open + 1, close));
  }
  std::fclose(capture);
  return names;
}

// Which calls open which files: every file removed (a missing picture's
// mask is not opened), then the masks alone.
void MapReaders() {
  g_readers.assign(g_files.size(), {});
  for (bool masksOnly : {false, true}) {
    for (const std::string& name : g_files) {
      if (!masksOnly || name.compare(0, 4, "mask") == 0) std::remove(name.c_str());
    }
    for (size_t c = 0; c < g_calls.size(); ++c) {
      const std::set<std::string> names = NamesReported(g_calls[c]);
      for (size_t f = 0; f < g_files.size(); ++f) {
        if (names.count(g_files[f]) != 0) g_readers[f].push_back(c);
      }
    }
    for (const std::string& name : g_files) Restore(name);
  }
}

}  // namespace

// ---- OpenGL and GLU, as far as the show uses them ----------------------------

extern "C" {
void glGenTextures(GLsizei n, GLuint* names) {
  for (GLsizei i = 0; i < n; ++i) names[i] = g_nextName++;
}
void glBindTexture(GLenum, GLuint texture) {
  if (!KnownTexture(texture)) fuzz::Fail("bound a texture name that was never generated");
}
GLint gluBuild2DMipmaps(GLenum, GLint components, GLsizei width, GLsizei height, GLenum format, GLenum type,
                        const void* data) {
  if (components != 4 || format != GL_RGBA || type != GL_UNSIGNED_BYTE) fuzz::Fail("upload format");
  if (width <= 0 || height <= 0 || width * height > 640 * 480) fuzz::Fail("upload size");
  Consume(data, static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  return 0;
}
void glVertex3fv(const GLfloat* v) { g_sink = v[0] + v[1] + v[2]; }
void glVertex3f(GLfloat x, GLfloat y, GLfloat z) { g_sink = x + y + z; }
void glTexCoord2f(GLfloat s, GLfloat t) { g_sink = s + t; }
void glColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) { g_sink = r + g + b + a; }
void glMatrixMode(GLenum) {}
void glLoadIdentity() {}
void glBegin(GLenum) {}
void glEnd() {}
void glEnable(GLenum) {}
void glDisable(GLenum) {}
void glBlendFunc(GLenum, GLenum) {}
void glTranslatef(GLfloat, GLfloat, GLfloat) {}
void glRotatef(GLfloat, GLfloat, GLfloat, GLfloat) {}
void glScalef(GLfloat, GLfloat, GLfloat) {}
void glPushMatrix() {}
void glPopMatrix() {}
void glFrustum(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble) {}
void glClear(GLbitfield) {}
void glScissor(GLint, GLint, GLsizei, GLsizei) {}
void glGetIntegerv(GLenum, GLint* values) {
  for (int i = 0; i < 4; ++i) values[i] = 0;
}
void glGetFloatv(GLenum, GLfloat* values) {
  for (int i = 0; i < 4; ++i) values[i] = 0.0f;
}
GLboolean glIsEnabled(GLenum) { return GL_FALSE; }
void glClearColor(GLfloat, GLfloat, GLfloat, GLfloat) {}
void glFlush() {}
void glViewport(GLint, GLint, GLsizei, GLsizei) {}
void glShadeModel(GLenum) {}
void gluLookAt(GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble) {}
struct GLUquadric {
  int unused;
};
GLUquadric* gluNewQuadric() {
  static GLUquadric quadric;
  return &quadric;
}
void gluQuadricTexture(GLUquadric*, GLboolean) {}
void gluQuadricOrientation(GLUquadric*, GLenum) {}
void gluCylinder(GLUquadric*, GLdouble, GLdouble, GLdouble, GLint, GLint) {}
}

// ---- The loaders as the scenes call them --------------------------------------
// fuzz/CMakeLists.txt renames the scenes' and the render state's calls of
// LoadTexture, LoadTextureFrames and LoadMesh to these, which record them
// during the start-up and pass them on.

void FuzzLoadTexture(int maskFlag, const char* fileName, int width, int height, int slot) {
  if (g_recording) g_calls.push_back({LoadCall::kTexture, maskFlag, fileName, width, height, slot, nullptr});
  LoadTexture(maskFlag, fileName, width, height, slot);
}
void FuzzLoadTextureFrames(int frameCount, const char* fileName, int width, int height, int table) {
  if (g_recording) g_calls.push_back({LoadCall::kFrames, frameCount, fileName, width, height, table, nullptr});
  LoadTextureFrames(frameCount, fileName, width, height, table);
}
void FuzzLoadMesh(const char* fileName, Mesh* mesh) {
  if (g_recording) g_calls.push_back({LoadCall::kMesh, 0, fileName, 0, 0, 0, mesh});
  LoadMesh(fileName, mesh);
}

// ---- The target --------------------------------------------------------------

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* data = std::getenv("LANTERN_FUZZ_DATA");
  g_dataDir = data != nullptr && *data != '\0' ? data : LANTERN_FUZZ_DEFAULT_DATA;
  DIR* dir = opendir(g_dataDir.c_str());
  if (dir == nullptr) {
    std::fprintf(stderr, "fuzz_scenes: no data directory %s (set LANTERN_FUZZ_DATA)\n", g_dataDir.c_str());
    std::exit(1);
  }
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name[0] != '.') g_files.push_back(name);
  }
  closedir(dir);
  std::sort(g_files.begin(), g_files.end());
  if (g_files.empty()) fuzz::Fail("empty data directory");
  fuzz::EnterWorkDir();
  for (const std::string& name : g_files) Restore(name);
  g_startMusicHook = StartMusic;
  g_recording = true;
  InitRenderState();
  LoadAllScenes();
  g_recording = false;
  if (g_calls.empty()) fuzz::Fail("the start-up made no loader call");
  MapReaders();
  size_t read = 0;
  for (const std::vector<size_t>& readers : g_readers) read += !readers.empty();
  std::fprintf(stderr, "fuzz_scenes: %zu loader calls at start-up read %zu of the %zu data files\n", g_calls.size(),
               read, g_files.size());
  for (const LoadCall& call : g_calls) Repeat(call);  // the intact show, as every run finds it
  return 0;
}

// Input: a count of damages (low 2 bits of byte 0, 1 to 4), then per damage
// 4 bytes (file index, kind, two bytes of length), then two bytes per frame
// (order, row), the rest being the bytes that replacements take.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int damages = (data[0] & 3) + 1;
  size_t at = 1;
  std::vector<std::string> damaged;
  std::set<size_t> calls;  // ordered as the start-up made them
  const uint8_t* payload = data + std::min(size, static_cast<size_t>(1 + 4 * damages + 16));
  const size_t payloadSize = size - static_cast<size_t>(payload - data);
  for (int d = 0; d < damages && at + 4 <= size; ++d, at += 4) {
    const size_t file = data[at] % g_files.size();
    const std::string& name = g_files[file];
    const int kind = data[at + 1] % 4;
    const size_t length = data[at + 2] | (data[at + 3] << 8);
    // The link goes, never the data file it points to.
    struct stat info;
    std::remove(name.c_str());
    if (lstat(name.c_str(), &info) == 0) fuzz::Fail("cannot unlink a data file");
    damaged.push_back(name);
    calls.insert(g_readers[file].begin(), g_readers[file].end());
    if (kind == 0) continue;  // removed
    std::vector<uint8_t> bytes;
    if (kind == 2) {  // cut short: the start of the real file
      FILE* original = std::fopen((g_dataDir + "/" + name).c_str(), "rb");
      if (original == nullptr) fuzz::Fail("cannot read a data file");
      bytes.resize(length * 16);
      bytes.resize(std::fread(bytes.data(), 1, bytes.size(), original));
      std::fclose(original);
    } else if (kind == 3) {  // the input's own bytes
      bytes.assign(payload, payload + std::min(payloadSize, length));
    }  // kind 1: empty
    fuzz::WriteFile(name, bytes.data(), bytes.size());
  }

  for (size_t c : calls) Repeat(g_calls[c]);
  for (const Mesh* mesh : {&g_chelMesh, &g_zavodMesh}) {
    if (mesh->vertexCount < 0 || mesh->vertexCount > mesh->vertexCapacity) fuzz::Fail("vertex count");
    if (mesh->faceCount < 0 || mesh->faceCount > mesh->faceCapacity) fuzz::Fail("face count");
  }

  // Frames at the positions the input gives (orders beyond the show's
  // included, rows negative too), one tick apart.
  for (size_t f = 0; f < 8 && at + 2 <= size; ++f, at += 2) {
    g_order.store(static_cast<int8_t>(data[at]) < 0 ? 65535 : data[at] % 32);
    g_row.store(static_cast<int8_t>(data[at + 1]) < 0 ? -1 : data[at + 1] % 64);
    g_ticks.store(g_ticks.load() + 1.0f);
    DrawFrame();
  }
  g_quit = 0;

  for (const std::string& name : damaged) Restore(name);
  for (size_t c : calls) Repeat(g_calls[c]);
  return 0;
}
