// Times what the viewer waits for at start and after every F1: loading every
// picture slot and animation frame of the show into a fresh offscreen
// context. The pictures are synthetic files of the show's names, sizes and
// mask use, written once into a scratch directory. Prints the median over
// several runs, and how much of it the mipmap builds take.
#include "platform/gl.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "render/render_state.h"
#include "resources/texture_loader.h"
#include "tests/support/gl_harness.h"

namespace {

struct Picture {
  int slot;
  const char* file;
  int mask;
  int width, height;
};

// Every slot the show loads, in the order the scenes load them.
const Picture kPictures[] = {
    {0, "loading.tga", 0, 512, 128},
    {1, "cloud-b.tga", 1, 256, 256}, {2, "2.tga", 1, 256, 256}, {3, "4.tga", 1, 256, 256},
    {5, "rightback.tga", 0, 512, 256}, {6, "5.tga", 1, 256, 256}, {7, "6.tga", 1, 256, 256},
    {8, "farsky.tga", 0, 256, 256}, {9, "snowdrop.tga", 0, 64, 64}, {10, "guy.tga", 1, 256, 256},
    {11, "rainb.tga", 0, 640, 480},
    {12, "windows.tga", 0, 256, 256}, {13, "blue.tga", 0, 256, 256}, {14, "roundbox.tga", 1, 256, 256},
    {15, "outsidecity.tga", 0, 512, 64}, {16, "darksky.tga", 1, 256, 256}, {17, "cinema.tga", 1, 512, 32},
    {18, "moscow.tga", 1, 1024, 32}, {44, "goright.tga", 1, 512, 32}, {45, "nightup.tga", 1, 256, 128},
    {46, "metros.tga", 1, 256, 16}, {47, "700.tga", 1, 128, 128},
    {19, "512cloud.tga", 1, 256, 256}, {20, "bus-front.tga", 0, 64, 128}, {21, "border.tga", 0, 512, 16},
    {22, "bus-left.tga", 0, 512, 128}, {23, "man.tga", 1, 256, 256}, {24, "backgr.tga", 1, 512, 128},
    {25, "road.tga", 0, 256, 128}, {26, "rain.tga", 1, 16, 256}, {27, "fara.tga", 0, 128, 64},
    {28, "lighter.tga", 1, 128, 256}, {53, "bus-back.tga", 0, 64, 128},
    {29, "plane.tga", 1, 256, 256}, {30, "map.tga", 0, 512, 512}, {31, "1.tga", 0, 256, 256},
    {32, "sun.tga", 1, 128, 128}, {33, "white.tga", 1, 256, 256}, {34, "sunwaves.tga", 1, 256, 256},
    {35, "mount.tga", 1, 512, 256}, {36, "2kestrel.tga", 1, 256, 128}, {37, "2kest2.tga", 1, 256, 64},
    {38, "zog.tga", 1, 256, 64}, {39, "night.tga", 1, 128, 32}, {40, "never.tga", 1, 128, 32},
    {41, "take.tga", 1, 128, 32}, {42, "zogcon.tga", 1, 256, 64}, {43, "metter.tga", 1, 256, 32},
    {48, "pole.tga", 1, 256, 256}, {49, "travka.tga", 0, 256, 256}, {50, "blackhole.tga", 1, 128, 128},
    {51, "dedicated.tga", 1, 256, 256}, {52, "love.tga", 1, 128, 128}, {54, "end.tga", 1, 512, 128},
};

struct Animation {
  const char* file;
  int frames;
  int width, height;
  int table;
};
const Animation kAnimations[] = {
    {"times.tga", 8, 64, 64, 2},
    {"stage-image.tga", 12, 128, 128, 0},
};

void WriteShowPictures() {
  for (const Picture& p : kPictures) {
    harness::WriteCodedTga(p.file, p.width, p.height, p.slot % 8);
    if (p.mask == 1) {
      harness::WriteMask(std::string("mask-") + p.file, p.width, p.height,
                         [](int x, int row) { return static_cast<uint8_t>(x ^ row); });
    }
  }
  for (const Animation& a : kAnimations) {
    harness::WriteCodedTga(a.file, a.width, a.height, 3);
    for (int n = 0; n < a.frames; ++n) {
      harness::WriteMask("mask" + std::to_string(n) + "-" + a.file, a.width, a.height,
                         [n](int x, int row) { return static_cast<uint8_t>(x + row + n * 16); });
    }
  }
}

// CPU time of the whole process (llvmpipe's threads included), in ms: on a
// shared machine it says more than the wall clock.
double CpuMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double Milliseconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

void LoadEverything() {
  glGenTextures(kTextureSlots, g_textures);
  glGenTextures(kFrameTexturesA, g_frameTexturesA);
  glGenTextures(kFrameTexturesC, g_frameTexturesC);
  for (const Picture& p : kPictures) LoadTexture(p.mask, p.file, p.width, p.height, p.slot);
  for (const Animation& a : kAnimations) LoadTextureFrames(a.frames, a.file, a.width, a.height, a.table);
  glFinish();
}

// The mipmap builds alone: the same sizes and count, from memory.
void BuildMipmapsOnly(std::vector<unsigned char>& rgba) {
  GLuint names[kTextureSlots + kFrameTexturesA + kFrameTexturesC];
  glGenTextures(static_cast<GLsizei>(std::size(names)), names);
  int next = 0;
  auto build = [&](int w, int h) {
    glBindTexture(GL_TEXTURE_2D, names[next++]);
    gluBuild2DMipmaps(GL_TEXTURE_2D, 4, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  };
  for (const Picture& p : kPictures) build(p.width, p.height);
  for (const Animation& a : kAnimations) {
    for (int n = 0; n < a.frames; ++n) build(a.width, a.height);
  }
  glFinish();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  harness::ScratchDir dir;
  WriteShowPictures();
  std::vector<unsigned char> rgba(640 * 480 * 4, 128);

  std::vector<double> total, totalCpu, mipmaps, context;
  for (int run = 0; run < runs; ++run) {
    auto start = std::chrono::steady_clock::now();
    if (!harness::StartGl()) return 1;
    context.push_back(Milliseconds(start));
    start = std::chrono::steady_clock::now();
    const double cpuStart = CpuMilliseconds();
    LoadEverything();
    total.push_back(Milliseconds(start));
    totalCpu.push_back(CpuMilliseconds() - cpuStart);
    harness::StopGl();
    // The mipmap builds alone, also in a fresh context.
    if (!harness::StartGl()) return 1;
    const double mipStart = CpuMilliseconds();
    BuildMipmapsOnly(rgba);
    mipmaps.push_back(CpuMilliseconds() - mipStart);
    harness::StopGl();
  }
  int frames = 0;
  for (const Animation& a : kAnimations) frames += a.frames;
  const char* renderer = "unknown";
  if (harness::StartGl()) {
    renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  }
  std::printf("load_textures: %zu pictures and %d animation frames into a fresh context (%s)\n",
              std::size(kPictures), frames, renderer);
  std::printf("load_textures: median %.1f ms, min %.1f, max %.1f over %d runs (target < 150 ms)\n",
              Median(total), *std::min_element(total.begin(), total.end()),
              *std::max_element(total.begin(), total.end()), runs);
  std::printf("load_textures: CPU time median %.1f ms, min %.1f\n", Median(totalCpu),
              *std::min_element(totalCpu.begin(), totalCpu.end()));
  std::printf("load_textures: of which the mipmap builds alone take %.1f ms of CPU; context creation %.1f ms\n",
              Median(mipmaps), Median(context));
  harness::StopGl();
  return 0;
}
