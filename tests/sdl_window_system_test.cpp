// Tests of the SDL window system on SDL's offscreen driver: creation refused
// where nobody could see the window, a real context when allowed, events
// turned into window messages, keys into virtual-key codes, boxes to stderr;
// and the display's driver chosen from the environment and retried, not
// swapped for an invisible one, when its X server drops every connection.
#include "platform/gl.h"
#include <SDL.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>

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

TEST(DisplayVideoDrivers, TheNamedDisplaysDriversInSdlsOrderUnlessSdlVideoDriverChooses) {
  struct {
    const char* requested;
    const char* display;
    const char* wayland;
    std::string expected;
  } cases[] = {{nullptr, ":0", nullptr, "x11"},
               {"", ":0", "", "x11"},
               {nullptr, nullptr, "wayland-0", "wayland"},
               {nullptr, ":0", "wayland-0", "x11 wayland"},
               {nullptr, nullptr, nullptr, ""},  // SDL's own choice
               {"", "", "", ""},
               {"offscreen", ":0", "wayland-0", ""},  // SDL honours SDL_VIDEODRIVER
               {"x11", ":0", nullptr, ""}};
  for (const auto& c : cases) {
    const char* drivers[2] = {nullptr, nullptr};
    int count = DisplayVideoDrivers(c.requested, c.display, c.wayland, drivers);
    std::string got;
    for (int i = 0; i < count; ++i) got += (i > 0 ? " " : "") + std::string(drivers[i]);
    EXPECT_EQ(got, c.expected) << (c.requested ? c.requested : "-") << " "
                               << (c.display ? c.display : "-") << " "
                               << (c.wayland ? c.wayland : "-");
  }
}

// An X server at display :number that accepts every connection and closes it
// at once, as Xvfb does to a client that connects while it resets.
class DroppingXServer {
 public:
  DroppingXServer() {
    for (number_ = 7000 + getpid() % 1000; number_ < 9000 && listener_ < 0; ++number_) {
      int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address = {};
      address.sun_family = AF_UNIX;
      std::string name = "/tmp/.X11-unix/X" + std::to_string(number_);
      std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract, as libxcb tries first
      socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
      if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd, 16) == 0) {
        listener_ = fd;
        break;
      }
      close(fd);
    }
    thread_ = std::thread([this] {
      while (!stop_.load()) {
        pollfd waiting = {listener_, POLLIN, 0};
        if (poll(&waiting, 1, 20) <= 0) continue;
        int client = accept(listener_, nullptr, nullptr);
        if (client < 0) continue;
        connections_.fetch_add(1);
        close(client);
      }
    });
  }
  ~DroppingXServer() {
    stop_.store(true);
    thread_.join();
    if (listener_ >= 0) close(listener_);
  }
  bool Listening() const { return listener_ >= 0; }
  std::string Display() const { return ":" + std::to_string(number_); }
  int Connections() const { return connections_.load(); }

 private:
  int number_ = 0;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(DisplayConnection, DroppedConnectionsAreRetriedSaidAndNeverSwappedForAnInvisibleDriver) {
  DroppingXServer server;
  ASSERT_TRUE(server.Listening());
  ScopedEnvironment display("DISPLAY", server.Display().c_str());
  ScopedEnvironment requested("SDL_VIDEODRIVER", nullptr);
  ScopedEnvironment wayland("WAYLAND_DISPLAY", nullptr);
  while (SDL_WasInit(SDL_INIT_VIDEO) != 0) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  g_displayRetrySeconds = 0.4;
  std::string where = "(the x11 video driver on DISPLAY \"" + server.Display() + "\")";

  // A box before the video starts: tried again until the time is spent.
  harness::StderrCapture boxCapture;
  EXPECT_EQ(kSdlWindowSystem.showMessageBox("Would You Like To Run In Fullscreen Mode?",
                                            "Start FullScreen?", kBoxYesNo | kBoxIconQuestion),
            kAnswerNone);
  std::string boxText = boxCapture.Text();
  EXPECT_NE(boxText.find("lantern: the \"Start FullScreen?\" box could not be shown " + where +
                         ", "),
            std::string::npos)
      << boxText;
  EXPECT_EQ(boxText.find(", 1 try"), std::string::npos) << boxText;
  int afterBox = server.Connections();
  EXPECT_GE(afterBox, 3);

  // The video: the X server tried again and again, then the reason; SDL is
  // not left running on its offscreen driver.
  harness::StderrCapture startCapture;
  EXPECT_FALSE(kSdlWindowSystem.registerWindowClass("OpenGL"));
  std::string startText = startCapture.Text();
  EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
  EXPECT_GE(server.Connections() - afterBox, 3);
  EXPECT_NE(startText.find("lantern: cannot reach the display " + where), std::string::npos)
      << startText;
  EXPECT_NE(startText.find("x11 not available"), std::string::npos) << startText;

  // Once the display was given up on, a box tries once.
  int afterStart = server.Connections();
  harness::StderrCapture errorCapture;
  EXPECT_EQ(kSdlWindowSystem.showMessageBox("Program Will Now Close.", "ERROR",
                                            kBoxOk | kBoxIconStop),
            kAnswerNone);
  EXPECT_NE(errorCapture.Text().find("box could not be shown " + where + ", 1 try:"),
            std::string::npos)
      << errorCapture.Text();
  EXPECT_EQ(server.Connections() - afterStart, 1);
  g_displayRetrySeconds = 3.0;
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
