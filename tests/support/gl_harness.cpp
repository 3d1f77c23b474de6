// Offscreen GL context, read-back and scratch files for the rendering tests.
#include "tests/support/gl_harness.h"

#include <SDL.h>
#include "platform/gl.h"
#include <png.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "render/render_state.h"

namespace harness {

namespace {
SDL_Window* g_window = nullptr;
SDL_GLContext g_context = nullptr;
bool g_started = false;
}  // namespace

bool StartGl() {
  if (g_started) return true;
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "harness: SDL video: %s\n", SDL_GetError());
    return false;
  }
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  g_window = SDL_CreateWindow("lantern test", 0, 0, 640, 480, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (g_window == nullptr) {
    std::fprintf(stderr, "harness: window: %s\n", SDL_GetError());
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  g_context = SDL_GL_CreateContext(g_window);
  if (g_context == nullptr || SDL_GL_MakeCurrent(g_window, g_context) != 0) {
    std::fprintf(stderr, "harness: GL context: %s\n", SDL_GetError());
    SDL_DestroyWindow(g_window);
    g_window = nullptr;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  glViewport(0, 0, 640, 480);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  g_started = true;
  return true;
}

void StopGl() {
  if (!g_started) return;
  SDL_GL_MakeCurrent(g_window, nullptr);
  SDL_GL_DeleteContext(g_context);
  SDL_DestroyWindow(g_window);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  g_context = nullptr;
  g_window = nullptr;
  g_started = false;
}

void GenerateTextureTables() {
  glGenTextures(kTextureSlots, g_textures);
  glGenTextures(kFrameTexturesA, g_frameTexturesA);
  glGenTextures(kFrameTexturesC, g_frameTexturesC);
}

void SetSceneProjection(double farPlane) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glFrustum(-1.0, 1.0, -1.0, 1.0, 1.0, farPlane);
  glScalef(1.0f, 1.33f, 1.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

Rgba ReadPixel(int x, int y) {
  Rgba pixel{0, 0, 0, 0};
  glReadBuffer(GL_BACK);
  glReadPixels(x, 479 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &pixel);
  return pixel;
}

std::vector<Rgba> ReadFrame() {
  std::vector<Rgba> bottomUp(640 * 480);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, 640, 480, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
  std::vector<Rgba> frame(640 * 480);
  for (int y = 0; y < 480; ++y) {
    std::copy_n(&bottomUp[(479 - y) * 640], 640, &frame[y * 640]);
  }
  return frame;
}

bool WriteFramePng(const std::string& path) {
  const std::vector<Rgba> frame = ReadFrame();
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = 640;
  image.height = 480;
  image.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&image, path.c_str(), 0, frame.data(), 640 * 4, nullptr) != 0;
}

static void WriteHeader(std::ofstream& out, int width, int height, bool grey) {
  unsigned char header[18] = {};
  header[2] = grey ? 3 : 2;
  header[12] = static_cast<unsigned char>(width & 0xFF);
  header[13] = static_cast<unsigned char>(width >> 8);
  header[14] = static_cast<unsigned char>(height & 0xFF);
  header[15] = static_cast<unsigned char>(height >> 8);
  header[16] = grey ? 8 : 24;
  out.write(reinterpret_cast<const char*>(header), 18);
}

void WriteTga(const std::string& path, int width, int height,
              const std::function<Rgb(int x, int row)>& colour) {
  std::ofstream out(path, std::ios::binary);
  WriteHeader(out, width, height, false);
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      const Rgb c = colour(x, row);
      const char bgr[3] = {static_cast<char>(c.b), static_cast<char>(c.g), static_cast<char>(c.r)};
      out.write(bgr, 3);
    }
  }
}

void WriteMask(const std::string& path, int width, int height,
               const std::function<uint8_t(int x, int row)>& alpha) {
  std::ofstream out(path, std::ios::binary);
  WriteHeader(out, width, height, true);
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) out.put(static_cast<char>(alpha(x, row)));
  }
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteCodedTga(const std::string& path, int width, int height, int id) {
  WriteTga(path, width, height, [&](int x, int row) {
    const int g = width > 1 ? x * 255 / (width - 1) : 0;
    const int b = height > 1 ? row * 255 / (height - 1) : 0;
    return Rgb{static_cast<uint8_t>(id * 32 + 16), static_cast<uint8_t>(g), static_cast<uint8_t>(b)};
  });
}

ScratchDir::ScratchDir() {
  previous_ = std::filesystem::current_path().string();
  std::string pattern = (std::filesystem::temp_directory_path() / "lantern-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a scratch directory";
    return;
  }
  path_ = pattern;
  std::filesystem::current_path(path_);
}

ScratchDir::~ScratchDir() {
  std::filesystem::current_path(previous_);
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

StderrCapture::StderrCapture() {
  std::fflush(stderr);
  char pattern[] = "/tmp/lantern-stderr-XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd < 0) return;
  path_ = pattern;
  savedFd_ = dup(STDERR_FILENO);
  dup2(fd, STDERR_FILENO);
  close(fd);
}

StderrCapture::~StderrCapture() { Text(); }

std::string StderrCapture::Text() {
  if (done_) return text_;
  done_ = true;
  if (savedFd_ < 0) return text_;
  std::fflush(stderr);
  dup2(savedFd_, STDERR_FILENO);
  close(savedFd_);
  std::ifstream in(path_, std::ios::binary);
  text_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::remove(path_.c_str());
  return text_;
}

void GlTest::SetUpTestSuite() { StartGl(); }
void GlTest::TearDownTestSuite() { StopGl(); }

void GlTest::SetUp() {
  ASSERT_TRUE(StartGl()) << "no offscreen OpenGL context";
  GenerateTextureTables();
  glViewport(0, 0, 640, 480);
}

}  // namespace harness

namespace harness {

std::vector<Rgba> ReadTextureLevel(unsigned texture, int level, int* width, int* height) {
  GLint previous = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
  glBindTexture(GL_TEXTURE_2D, texture);
  GLint w = 0;
  GLint h = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
  std::vector<Rgba> texels(static_cast<size_t>(w) * static_cast<size_t>(h));
  if (!texels.empty()) {
    glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  }
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  return texels;
}

void ClearFrame(uint8_t r, uint8_t g, uint8_t b) {
  glClearColor(r / 255.0f, g / 255.0f, b / 255.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

}  // namespace harness
