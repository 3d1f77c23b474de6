// Tests of the SDL window system on SDL's offscreen driver: creation refused
// where nobody could see the window, a real context when allowed, events
// turned into window messages, keys into virtual-key codes, boxes to stderr.
#include "platform/gl.h"
#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/window_system.h"
#include "shell/window.h"
#include "tests/support/gl_harness.h"

namespace {

int g_renderStateInits = 0;
int g_sceneLoads = 0;
void CountRenderStateInit() { ++g_renderStateInits; }
void CountSceneLoad() { ++g_sceneLoads; }

class SdlWindowSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    g_windowSystem = &kSdlWindowSystem;
    g_initRenderStateHook = CountRenderStateInit;
    g_loadAllScenesHook = CountSceneLoad;
    g_renderStateInits = g_sceneLoads = 0;
    g_allowInvisibleWindow = false;
    g_hWnd = g_hDC = g_hRC = nullptr;
  }
  void TearDown() override {
    g_allowInvisibleWindow = false;
    if (g_hWnd != nullptr) DestroyDemoWindow();
  }

  // Takes messages until one arrives or the queue is empty.
  static bool Take(WindowMessage* message) { return kSdlWindowSystem.takeMessage(message); }
};

TEST_F(SdlWindowSystemTest, OnlyTheInvisibleDriverMeansWindowCreationError) {
  harness::StderrCapture capture;
  EXPECT_FALSE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, false));
  std::string text = capture.Text();
  EXPECT_NE(text.find("ERROR: Window Creation Error."), std::string::npos) << text;
  EXPECT_EQ(g_hWnd, nullptr);
  EXPECT_EQ(g_sceneLoads, 0);
  // The class was given back too: a second try fails at the window again,
  // not at the registration.
  harness::StderrCapture again;
  EXPECT_FALSE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, false));
  EXPECT_EQ(again.Text().find("Register"), std::string::npos);
}

TEST_F(SdlWindowSystemTest, BoxesGoToStderrAndAnswerNothingWithoutADisplay) {
  EXPECT_TRUE(NoVisibleDisplay());
  harness::StderrCapture capture;
  int answer = kSdlWindowSystem.showMessageBox("Would You Like To Run In Fullscreen Mode?",
                                               "Start FullScreen?", kBoxYesNo | kBoxIconQuestion);
  EXPECT_EQ(answer, kAnswerNone);
  EXPECT_EQ(capture.Text(), "Start FullScreen?: Would You Like To Run In Fullscreen Mode?\n");
}

TEST_F(SdlWindowSystemTest, AllowedOffscreenWindowHasTheContextTheShowNeedsAndRecreates) {
  g_allowInvisibleWindow = true;
  for (int round = 0; round < 2; ++round) {  // creation, then again as after F1
    harness::StderrCapture capture;
    ASSERT_TRUE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, false));
    EXPECT_TRUE(kSdlWindowSystem.glContextIsCurrent());
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(static_cast<SDL_Window*>(g_hWnd), &width, &height);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    EXPECT_STREQ(SDL_GetWindowTitle(static_cast<SDL_Window*>(g_hWnd)), "lantern from kestrel");
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    EXPECT_GE(depthBits, 16);  // (offscreen pbuffers are single buffered)
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);
    EXPECT_EQ(g_renderStateInits, round + 1);
    EXPECT_EQ(g_sceneLoads, round + 1);

    DestroyDemoWindow();
    EXPECT_EQ(capture.Text(), "");  // no shutdown boxes
    EXPECT_EQ(g_hWnd, nullptr);
    EXPECT_EQ(g_hRC, nullptr);
    EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
  }
}

TEST_F(SdlWindowSystemTest, ResizeToZeroHeightGivesOnePixelAndAspectWidthOverOne) {
  g_allowInvisibleWindow = true;
  ASSERT_TRUE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, false));
  DemoWindowProc(g_hWnd, kMsgSize, 0, 320u | (0u << 16));
  GLint viewport[4] = {};
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 320);
  EXPECT_EQ(viewport[3], 1);
  GLfloat projection[16] = {};
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  // gluPerspective: [0] = f / aspect, [5] = f, with f = 1 / tan(22.5 degrees).
  double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
  EXPECT_NEAR(projection[5], f, 1e-4);
  EXPECT_NEAR(projection[5] / projection[0], 320.0, 0.05);
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);
}

TEST_F(SdlWindowSystemTest, EventsBecomeTheMessagesTheWindowProcedureHandles) {
  g_allowInvisibleWindow = true;
  ASSERT_TRUE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, false));
  WindowMessage message;
  while (Take(&message)) {
  }  // whatever creation queued

  Uint32 id = SDL_GetWindowID(static_cast<SDL_Window*>(g_hWnd));
  auto push_key = [](Uint32 type, SDL_Keycode key, Uint16 mod) {
    SDL_Event event = {};
    event.type = type;
    event.key.keysym.sym = key;
    event.key.keysym.mod = mod;
    SDL_PushEvent(&event);
  };
  auto push_window = [id](Uint8 what, int data1, int data2) {
    SDL_Event event = {};
    event.type = SDL_WINDOWEVENT;
    event.window.windowID = id;
    event.window.event = what;
    event.window.data1 = data1;
    event.window.data2 = data2;
    SDL_PushEvent(&event);
  };

  push_key(SDL_KEYDOWN, SDLK_F1, KMOD_NONE);
  push_key(SDL_KEYUP, SDLK_ESCAPE, KMOD_NONE);
  push_key(SDL_KEYDOWN, SDLK_F1, KMOD_LALT);
  push_key(SDL_KEYDOWN, SDLK_F10, KMOD_NONE);
  push_window(SDL_WINDOWEVENT_SIZE_CHANGED, 800, 600);
  push_window(SDL_WINDOWEVENT_MINIMIZED, 0, 0);
  push_window(SDL_WINDOWEVENT_CLOSE, 0, 0);

  struct {
    uint32_t message;
    uint32_t wParam;
    uint32_t lParam;
  } expected[] = {{kMsgKeyDown, 112, 0},
                  {kMsgKeyUp, 27, 0},
                  {kMsgSysKeyDown, 112, 0},
                  {kMsgSysKeyDown, 121, 0},
                  {kMsgSize, 0, 800u | (600u << 16)},
                  {kMsgActivate, 0x10000, 0},
                  {kMsgClose, 0, 0}};
  for (const auto& e : expected) {
    ASSERT_TRUE(Take(&message));
    EXPECT_EQ(message.message, e.message);
    EXPECT_EQ(message.wParam, e.wParam);
    EXPECT_EQ(message.lParam, e.lParam);
  }

  // A quit request comes once the queue holds nothing else.
  kSdlWindowSystem.postQuitMessage(5);
  push_key(SDL_KEYDOWN, SDLK_a, KMOD_NONE);
  ASSERT_TRUE(Take(&message));
  EXPECT_EQ(message.message, kMsgKeyDown);
  EXPECT_EQ(message.wParam, static_cast<uint32_t>('A'));
  ASSERT_TRUE(Take(&message));
  EXPECT_EQ(message.message, kMsgQuit);
  EXPECT_EQ(message.wParam, 5u);
  EXPECT_FALSE(Take(&message));
}

TEST(VirtualKeys, SdlKeysMapToWin32VirtualKeyCodes) {
  struct {
    SDL_Keycode key;
    int vk;
  } cases[] = {{SDLK_ESCAPE, 27}, {SDLK_F1, 112},    {SDLK_F12, 123},   {SDLK_F13, 124},
               {SDLK_F24, 135},   {SDLK_a, 'A'},     {SDLK_z, 'Z'},     {SDLK_0, '0'},
               {SDLK_9, '9'},     {SDLK_SPACE, 32},  {SDLK_RETURN, 13}, {SDLK_KP_ENTER, 13},
               {SDLK_LEFT, 37},   {SDLK_UP, 38},     {SDLK_RIGHT, 39},  {SDLK_DOWN, 40},
               {SDLK_KP_0, 96},   {SDLK_KP_1, 97},   {SDLK_KP_9, 105},  {SDLK_LSHIFT, 16},
               {SDLK_RCTRL, 17},  {SDLK_TAB, 9},     {SDLK_BACKSPACE, 8}, {SDLK_DELETE, 46},
               {SDLK_MINUS, 189}, {SDLK_SLASH, 191}, {SDLK_QUOTE, 222}, {SDLK_UNKNOWN, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(VirtualKeyFromSdlKeycode(c.key), c.vk) << SDL_GetKeyName(c.key);
  }
}

}  // namespace
