// Shell tests on a fake window system that fails any step on demand and
// records every call, box and release: window creation and destruction,
// the window procedure, and the main loop's draining, Escape, F1 and exits;
// and the lookup of the data directory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "platform/window_system.h"
#include "shell/data_directory.h"
#include "shell/main_loop.h"
#include "shell/window.h"
#include "timeline/clock.h"

namespace {

struct Box {
  std::string text;
  std::string caption;
  unsigned style;
};

// A message the fake queue delivers after `emptyPolls` polls that find it empty.
struct Scheduled {
  int emptyPolls;
  WindowMessage message;
};

struct FakeState {
  std::vector<std::string> log;  // every window-system call and hook, in order
  std::vector<Box> boxes;
  std::string failStep;          // the call that fails
  std::deque<int> answers;       // answers to Yes/No boxes, in order
  std::deque<Scheduled> queue;
  int draws = 0;
  int drawsUntilEnd = -1;        // the frame that returns false (1-based), -1 never
  size_t queueSizeAtFirstDraw = 99;
  bool quitPosted = false;
  int quitCode = 0;
};

FakeState g_fake;
int g_handleCounter = 0;

void* NewHandle() { return reinterpret_cast<void*>(static_cast<intptr_t>(0x1000 + ++g_handleCounter)); }

bool Step(const std::string& name) {
  g_fake.log.push_back(name);
  return g_fake.failStep != name;
}

int FakeBox(const char* text, const char* caption, unsigned style) {
  g_fake.log.push_back(std::string("box:") + text);
  g_fake.boxes.push_back({text, caption, style});
  if ((style & kBoxButtonMask) != kBoxYesNo) return kAnswerOk;
  if (g_fake.answers.empty()) return kAnswerYes;
  int answer = g_fake.answers.front();
  g_fake.answers.pop_front();
  return answer;
}
bool FakeRegister(const char*) { return Step("registerClass"); }
bool FakeUnregister(const char*) { return Step("unregisterClass"); }
bool FakeSwitchMode(int, int, int) { return Step("switchMode"); }
void FakeRestoreMode() { Step("restoreMode"); }
void FakeShowCursor(bool show) { Step(show ? "showCursor" : "hideCursor"); }
WindowHandle FakeCreateWindow(const char*, const char*, int, int, bool fullscreen) {
  return Step(fullscreen ? "createWindow:fullscreen" : "createWindow:framed") ? NewHandle()
                                                                             : nullptr;
}
bool FakeDestroyWindow(WindowHandle) { return Step("destroyWindow"); }
DrawableHandle FakeAcquireDrawable(WindowHandle) {
  return Step("acquireDrawable") ? NewHandle() : nullptr;
}
bool FakeReleaseDrawable(WindowHandle, DrawableHandle) { return Step("releaseDrawable"); }
int FakeChoosePixelFormat(DrawableHandle, const PixelFormatRequest* request) {
  bool ok = Step("choosePixelFormat");
  EXPECT_EQ(request->colorBits, 32);
  EXPECT_GE(request->depthBits, 16);
  EXPECT_TRUE(request->doubleBuffer);
  return ok ? 7 : 0;
}
bool FakeSetPixelFormat(DrawableHandle, int format, const PixelFormatRequest*) {
  EXPECT_EQ(format, 7);
  return Step("setPixelFormat");
}
GlContextHandle FakeCreateContext(DrawableHandle) {
  return Step("createContext") ? NewHandle() : nullptr;
}
bool FakeMakeCurrent(DrawableHandle drawable, GlContextHandle context) {
  return Step(drawable == nullptr && context == nullptr ? "releaseCurrent" : "makeCurrent");
}
bool FakeDeleteContext(GlContextHandle) { return Step("deleteContext"); }
bool FakeContextIsCurrent() { return false; }
void FakeShowWindow(WindowHandle) { Step("showWindow"); }
bool FakeTakeMessage(WindowMessage* message) {
  if (!g_fake.queue.empty()) {
    Scheduled& next = g_fake.queue.front();
    if (next.emptyPolls == 0) {
      *message = next.message;
      g_fake.queue.pop_front();
      return true;
    }
    --next.emptyPolls;
    return false;
  }
  if (g_fake.quitPosted) {
    g_fake.quitPosted = false;
    *message = {kMsgQuit, static_cast<uint32_t>(g_fake.quitCode), 0};
    return true;
  }
  return false;
}
void FakePostQuit(int code) {
  g_fake.log.push_back("postQuit");
  g_fake.quitPosted = true;
  g_fake.quitCode = code;
}
void FakeSwap(DrawableHandle) { g_fake.log.push_back("swap"); }

const WindowSystem kFakeWindowSystem = {
    FakeBox,          FakeRegister,        FakeUnregister,       FakeSwitchMode,
    FakeRestoreMode,  FakeShowCursor,      FakeCreateWindow,     FakeDestroyWindow,
    FakeAcquireDrawable, FakeReleaseDrawable, FakeChoosePixelFormat, FakeSetPixelFormat,
    FakeCreateContext, FakeMakeCurrent,    FakeDeleteContext,    FakeContextIsCurrent,
    FakeShowWindow,   FakeTakeMessage,     FakePostQuit,         FakeSwap,
};

void RecordInitRenderState() { g_fake.log.push_back("initRenderState"); }
void RecordLoadAllScenes() { g_fake.log.push_back("loadAllScenes"); }
bool RecordDrawFrame() {
  ++g_fake.draws;
  g_fake.log.push_back("draw");
  if (g_fake.draws == 1) g_fake.queueSizeAtFirstDraw = g_fake.queue.size();
  return g_fake.draws != g_fake.drawsUntilEnd;
}

WindowMessage Key(bool down, int vk) { return {down ? kMsgKeyDown : kMsgKeyUp, static_cast<uint32_t>(vk), 0}; }

int Count(const std::string& entry) {
  int n = 0;
  for (const std::string& e : g_fake.log) n += e == entry ? 1 : 0;
  return n;
}

// The log entries from the first occurrence of `from` on.
std::vector<std::string> LogFrom(const std::string& from) {
  std::vector<std::string> tail;
  bool seen = false;
  for (const std::string& e : g_fake.log) {
    seen = seen || e == from;
    if (seen) tail.push_back(e);
  }
  return tail;
}

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_fake = FakeState();
    g_windowSystem = &kFakeWindowSystem;
    g_initRenderStateHook = RecordInitRenderState;
    g_loadAllScenesHook = RecordLoadAllScenes;
    g_drawFrameHook = RecordDrawFrame;
    g_presetFullscreenAnswer = 0;
    for (bool& key : g_keys) key = false;
    g_active = true;
    g_fullscreen = true;
    g_hWnd = g_hDC = g_hRC = nullptr;
    g_running.store(1);
  }
  void TearDown() override { g_windowSystem = &kSdlWindowSystem; }
};

// ---- Creation and destruction -------------------------------------------

TEST_F(ShellTest, CreationRunsEveryStepInOrderAndReleasesInFixedOrder) {
  ASSERT_TRUE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, true));
  std::vector<std::string> expected = {
      "registerClass", "switchMode",   "hideCursor",  "createWindow:fullscreen",
      "acquireDrawable", "choosePixelFormat", "setPixelFormat", "createContext",
      "makeCurrent",   "showWindow",   "initRenderState", "swap", "loadAllScenes"};
  EXPECT_EQ(g_fake.log, expected);
  EXPECT_TRUE(g_fake.boxes.empty());

  g_fake.log.clear();
  DestroyDemoWindow();
  std::vector<std::string> released = {"restoreMode",     "showCursor",    "releaseCurrent",
                                       "deleteContext",   "releaseDrawable", "destroyWindow",
                                       "unregisterClass"};
  EXPECT_EQ(g_fake.log, released);
  EXPECT_EQ(g_hWnd, nullptr);
  EXPECT_EQ(g_hDC, nullptr);
  EXPECT_EQ(g_hRC, nullptr);
}

struct FailureCase {
  const char* step;
  const char* text;
  std::vector<std::string> releases;  // what the failure releases before its box (framed window)
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.step; }

std::string StepName(const ::testing::TestParamInfo<FailureCase>& info) {
  std::string name;
  for (const char* p = info.param.step; *p != '\0'; ++p) {
    if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
  }
  return name;
}

class CreationFailureTest : public ShellTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CreationFailureTest, ShowsItsBoxAfterReleasingWhatWasHeld) {
  const FailureCase& c = GetParam();
  g_fake.failStep = c.step;
  EXPECT_FALSE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, false));
  ASSERT_EQ(g_fake.boxes.size(), 1u);
  EXPECT_EQ(g_fake.boxes[0].text, c.text);
  EXPECT_EQ(g_fake.boxes[0].caption, "ERROR");
  EXPECT_EQ(g_fake.boxes[0].style, kBoxOk | kBoxIconExclamation);
  std::vector<std::string> after = LogFrom(c.step);
  std::vector<std::string> expected = {c.step};
  expected.insert(expected.end(), c.releases.begin(), c.releases.end());
  expected.push_back(std::string("box:") + c.text);
  EXPECT_EQ(after, expected);
  EXPECT_EQ(Count("initRenderState"), 0);
  EXPECT_EQ(Count("loadAllScenes"), 0);
  EXPECT_EQ(g_hWnd, nullptr);
  EXPECT_EQ(g_hDC, nullptr);
  EXPECT_EQ(g_hRC, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, CreationFailureTest,
    ::testing::Values(
        FailureCase{"createWindow:framed", "Window Creation Error.", {"unregisterClass"}},
        FailureCase{"acquireDrawable",
                    "Can't Create A GL Device Context.",
                    {"destroyWindow", "unregisterClass"}},
        FailureCase{"choosePixelFormat",
                    "Can't Find A Suitable PixelFormat.",
                    {"releaseDrawable", "destroyWindow", "unregisterClass"}},
        FailureCase{"setPixelFormat",
                    "Can't Set The PixelFormat.",
                    {"releaseDrawable", "destroyWindow", "unregisterClass"}},
        FailureCase{"createContext",
                    "Can't Create A GL Rendering Context.",
                    {"releaseDrawable", "destroyWindow", "unregisterClass"}},
        FailureCase{"makeCurrent",
                    "Can't Activate The GL Rendering Context.",
                    {"releaseCurrent", "deleteContext", "releaseDrawable", "destroyWindow",
                     "unregisterClass"}}),
    StepName);

TEST_F(ShellTest, FullScreenWindowFailureRestoresModeAndCursorBeforeItsBox) {
  g_fake.failStep = "createWindow:fullscreen";
  EXPECT_FALSE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, true));
  std::vector<std::string> expected = {"createWindow:fullscreen", "restoreMode", "showCursor",
                                       "unregisterClass", "box:Window Creation Error."};
  EXPECT_EQ(LogFrom("createWindow:fullscreen"), expected);
}

TEST_F(ShellTest, EarlyFailuresReleaseNothing) {
  g_fake.failStep = "registerClass";
  EXPECT_FALSE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, true));
  std::vector<std::string> expected = {"registerClass", "box:Failed To Register The Window Class."};
  EXPECT_EQ(g_fake.log, expected);
  EXPECT_EQ(g_fake.boxes[0].caption, "ERROR");
  EXPECT_EQ(g_fake.boxes[0].style, kBoxOk | kBoxIconExclamation);

  // The viewer declines a window when the full-screen mode is refused.
  SetUp();
  g_fake.failStep = "switchMode";
  g_fake.answers = {kAnswerNo};
  EXPECT_FALSE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, true));
  ASSERT_EQ(g_fake.boxes.size(), 2u);
  EXPECT_EQ(g_fake.boxes[0].text,
            "The Requested Fullscreen Mode Is Not Supported By\nYour Video Card. Use Windowed "
            "Mode Instead?");
  EXPECT_EQ(g_fake.boxes[0].caption, "lantern by kestrel");
  EXPECT_EQ(g_fake.boxes[0].style, kBoxYesNo | kBoxIconExclamation);
  EXPECT_EQ(g_fake.boxes[1].text, "Program Will Now Close.");
  EXPECT_EQ(g_fake.boxes[1].caption, "ERROR");
  EXPECT_EQ(g_fake.boxes[1].style, kBoxOk | kBoxIconStop);
  EXPECT_EQ(Count("unregisterClass"), 0);
  EXPECT_EQ(Count("restoreMode"), 0);
  EXPECT_EQ(Count("createWindow:fullscreen") + Count("createWindow:framed"), 0);
}

TEST_F(ShellTest, AcceptingAWindowAfterARefusedModeGoesOnFramed) {
  g_fake.failStep = "switchMode";
  g_fake.answers = {kAnswerYes};
  ASSERT_TRUE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, true));
  EXPECT_FALSE(g_fullscreen);
  EXPECT_EQ(Count("createWindow:framed"), 1);
  EXPECT_EQ(Count("hideCursor"), 0);
}

TEST_F(ShellTest, ShutdownFailuresEachShowTheirBoxAndTheLaterStepsStillRun) {
  struct {
    const char* step;
    const char* text;
  } cases[] = {{"releaseCurrent", "Release Of DC And RC Failed."},
               {"deleteContext", "Release Rendering Context Failed."},
               {"releaseDrawable", "Release Device Context Failed."},
               {"destroyWindow", "Could Not Release hWnd."},
               {"unregisterClass", "Could Not Unregister Class."}};
  for (const auto& c : cases) {
    SetUp();
    g_fullscreen = false;
    ASSERT_TRUE(CreateDemoWindow("lantern from kestrel", 640, 480, 32, false));
    g_fake.log.clear();
    g_fake.failStep = c.step;
    DestroyDemoWindow();
    ASSERT_EQ(g_fake.boxes.size(), 1u) << c.step;
    EXPECT_EQ(g_fake.boxes[0].text, c.text);
    EXPECT_EQ(g_fake.boxes[0].caption, "SHUTDOWN ERROR");
    EXPECT_EQ(g_fake.boxes[0].style, kBoxOk | kBoxIconInformation);
    EXPECT_EQ(Count("unregisterClass"), 1) << c.step;
    EXPECT_EQ(Count("destroyWindow"), 1) << c.step;
    EXPECT_EQ(g_hWnd, nullptr);
    EXPECT_EQ(g_hRC, nullptr);
  }
}

// ---- Window procedure -----------------------------------------------------

TEST_F(ShellTest, WindowProcedureKeysActivationAndSystemMessages) {
  DemoWindowProc(nullptr, kMsgKeyDown, 'A', 0);
  EXPECT_TRUE(g_keys['A']);
  DemoWindowProc(nullptr, kMsgKeyUp, 'A', 0);
  EXPECT_FALSE(g_keys['A']);

  // Keys pressed with Alt (and F10) arrive as system keys and never reach the table.
  DemoWindowProc(nullptr, kMsgSysKeyDown, kVkF1, 0);
  DemoWindowProc(nullptr, kMsgSysKeyDown, 121, 0);
  EXPECT_FALSE(g_keys[kVkF1]);
  EXPECT_FALSE(g_keys[121]);

  // Active unless minimised, focus or not.
  DemoWindowProc(nullptr, kMsgActivate, 0x10001, 0);
  EXPECT_FALSE(g_active);
  DemoWindowProc(nullptr, kMsgActivate, 0, 0);
  EXPECT_TRUE(g_active);
  DemoWindowProc(nullptr, kMsgActivate, 0x10000, 0);
  EXPECT_FALSE(g_active);
  DemoWindowProc(nullptr, kMsgActivate, 1, 0);
  EXPECT_TRUE(g_active);

  EXPECT_EQ(DemoWindowProc(nullptr, kMsgSysCommand, kSysCommandScreenSave, 0), 0);
  EXPECT_EQ(DemoWindowProc(nullptr, kMsgClose, 0, 0), 0);
  EXPECT_EQ(Count("postQuit"), 1);
  EXPECT_EQ(Count("destroyWindow"), 0);  // closing leaves the window to DestroyDemoWindow
}

// ---- Main loop ---------------------------------------------------------------

TEST_F(ShellTest, QuestionDecidesTheModeAndAPresetAnswerSkipsIt) {
  g_fake.answers = {kAnswerNo};
  g_fake.queue = {{0, Key(true, kVkEscape)}};
  EXPECT_EQ(RunDemo(), 0);
  ASSERT_FALSE(g_fake.boxes.empty());
  EXPECT_EQ(g_fake.boxes[0].text, "Would You Like To Run In Fullscreen Mode?");
  EXPECT_EQ(g_fake.boxes[0].caption, "Start FullScreen?");
  EXPECT_EQ(g_fake.boxes[0].style, kBoxYesNo | kBoxIconQuestion);
  EXPECT_EQ(Count("createWindow:framed"), 1);

  SetUp();
  g_fake.answers = {kAnswerYes};
  g_fake.queue = {{0, Key(true, kVkEscape)}};
  RunDemo();
  EXPECT_EQ(Count("createWindow:fullscreen"), 1);

  SetUp();
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.queue = {{0, Key(true, kVkEscape)}};
  RunDemo();
  EXPECT_TRUE(g_fake.boxes.empty());
  EXPECT_EQ(Count("createWindow:framed"), 1);
}

TEST_F(ShellTest, FailedCreationEndsWithNonZeroExitCode) {
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.failStep = "createContext";
  EXPECT_EQ(RunDemo(), kExitCreationFailed);
  EXPECT_NE(kExitCreationFailed, 0);
  EXPECT_EQ(g_fake.draws, 0);
}

TEST_F(ShellTest, BusyQueueIsDrainedBeforeAFrameIsDrawn) {
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.queue = {{0, Key(true, 'A')}, {0, Key(false, 'A')}, {0, {kMsgSize, 0, 640 | (480 << 16)}},
                  {0, {kMsgActivate, 1, 0}}, {0, Key(true, 'B')}};
  g_fake.drawsUntilEnd = 2;
  EXPECT_EQ(RunDemo(), 0);
  EXPECT_EQ(g_fake.queueSizeAtFirstDraw, 0u);
  EXPECT_TRUE(g_keys['B']);
  EXPECT_EQ(g_fake.draws, 2);
  // The first frame is presented; the last one, which ends the show, is not.
  std::vector<std::string> expected = {"draw",          "swap",           "draw",
                                       "releaseCurrent", "deleteContext", "releaseDrawable",
                                       "destroyWindow", "unregisterClass"};
  EXPECT_EQ(LogFrom("draw"), expected);
  EXPECT_EQ(g_running.load(), 0);
  EXPECT_EQ(Count("destroyWindow"), 1);
}

TEST_F(ShellTest, TimingReportsTheFirstFrameOnceAndCountsOnlyPresentedFramesAfterIt) {
  setenv("LANTERN_TIMING", "1", 1);
  StartTimingFromEnvironment();
  unsetenv("LANTERN_TIMING");
  ASSERT_TRUE(g_reportFirstFrame);
  g_presetFullscreenAnswer = kAnswerNo;
  // Minimised from the start: no frame; restored: five frames presented,
  // the sixth ends the show and is not presented.
  g_fake.queue = {{0, {kMsgActivate, 0x10000, 0}}, {3, {kMsgActivate, 1, 0}}};
  g_fake.drawsUntilEnd = 6;
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunDemo(), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("first frame after"), err.rfind("first frame after")) << err;
  EXPECT_NE(err.find("lantern: first frame after"), std::string::npos) << err;
  EXPECT_NE(err.find("lantern: 4 frames in "), std::string::npos) << err;
  EXPECT_FALSE(g_reportFirstFrame);

  // A later start counts afresh; without LANTERN_TIMING nothing is printed.
  SetUp();
  StartTimingFromEnvironment();
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.drawsUntilEnd = 3;
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunDemo(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(ShellTest, EscapeEndsTheLoopWhetherOrNotTheWindowIsActive) {
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.queue = {{0, {kMsgActivate, 0x10000, 0}}, {3, Key(true, kVkEscape)}};
  EXPECT_EQ(RunDemo(), 0);
  EXPECT_EQ(g_fake.draws, 0);
  EXPECT_EQ(g_running.load(), 0);
  EXPECT_EQ(Count("destroyWindow"), 1);

  SetUp();
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.queue = {{2, Key(true, kVkEscape)}};
  EXPECT_EQ(RunDemo(), 0);
  EXPECT_EQ(g_fake.draws, 3);  // two idle frames, then the Escape pass still draws first
  EXPECT_EQ(Count("swap"), 1 + 2);  // loading screen, then two presented frames
  EXPECT_EQ(g_running.load(), 0);
}

TEST_F(ShellTest, NoFrameIsDrawnWhileMinimisedButBuffersAreStillSwapped) {
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.queue = {{0, {kMsgActivate, 0x10000, 0}},
                  {5, {kMsgActivate, 1, 0}},
                  {2, Key(true, kVkEscape)}};
  RunDemo();
  // Five idle passes minimised, then two active ones and the Escape pass.
  EXPECT_EQ(g_fake.draws, 3);
  EXPECT_EQ(Count("swap"), 1 + 5 + 2);
}

TEST_F(ShellTest, OneF1PressTogglesOnceAndRecreates) {
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.queue = {{0, Key(true, 'A')}, {0, Key(true, kVkF1)}, {4, Key(true, kVkEscape)}};
  RunDemo();
  EXPECT_EQ(Count("createWindow:framed"), 1);
  EXPECT_EQ(Count("createWindow:fullscreen"), 1);
  EXPECT_EQ(Count("loadAllScenes"), 2);
  EXPECT_EQ(Count("destroyWindow"), 2);
  EXPECT_TRUE(g_fullscreen);
  EXPECT_FALSE(g_keys[kVkF1]);
  EXPECT_TRUE(g_keys['A']);  // a held key survives the re-creation
}

// As when the loop was held up for a whole press (a slow pass on a busy
// machine): the press and its release come off the queue in one drain.
TEST_F(ShellTest, PressAndReleaseTakenInOneDrainStillActAtTheNextIdlePass) {
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.queue = {{0, Key(true, kVkF1)},
                  {0, Key(false, kVkF1)},
                  {4, Key(true, kVkEscape)},
                  {0, Key(false, kVkEscape)}};
  EXPECT_EQ(RunDemo(), 0);
  EXPECT_EQ(Count("createWindow:framed"), 1);
  EXPECT_EQ(Count("createWindow:fullscreen"), 1);  // once, not again at later passes
  EXPECT_EQ(Count("destroyWindow"), 2);
  EXPECT_EQ(g_running.load(), 0);
}

TEST_F(ShellTest, F1InThePassWhereTheShowEndsStillRecreatesOnce) {
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.queue = {{0, Key(true, kVkF1)}};
  g_fake.drawsUntilEnd = 1;
  EXPECT_EQ(RunDemo(), 0);
  EXPECT_EQ(g_fake.draws, 1);
  EXPECT_EQ(Count("createWindow:framed"), 1);
  EXPECT_EQ(Count("createWindow:fullscreen"), 1);
  EXPECT_EQ(Count("destroyWindow"), 2);
  EXPECT_EQ(g_running.load(), 0);
}

TEST_F(ShellTest, FailedRecreationAfterF1EndsWithNonZeroExitCode) {
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.queue = {{0, Key(true, kVkF1)}};
  g_fake.drawsUntilEnd = 1000;
  // The first creation succeeds; make the second fail at its window.
  g_fake.failStep = "createWindow:fullscreen";
  EXPECT_EQ(RunDemo(), kExitCreationFailed);
  ASSERT_FALSE(g_fake.boxes.empty());
  EXPECT_EQ(g_fake.boxes.back().text, "Window Creation Error.");
}

TEST_F(ShellTest, CloseRequestExitsWithZeroAndLeavesTheClockRunning) {
  g_presetFullscreenAnswer = kAnswerNo;
  g_fake.queue = {{2, {kMsgClose, 0, 0}}};
  EXPECT_EQ(RunDemo(), 0);
  EXPECT_EQ(Count("postQuit"), 1);
  EXPECT_EQ(Count("destroyWindow"), 1);
  EXPECT_EQ(g_running.load(), 1);
  EXPECT_EQ(g_fake.draws, 2);
}

}  // namespace

// ---- Data directory ------------------------------------------------------------

namespace {

class DataDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lantern-data-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    previous_ = getcwd(buffer_, sizeof buffer_);
    ASSERT_EQ(mkdir((root_ + "/elsewhere").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root_ + "/program").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root_ + "/program/data").c_str(), 0755), 0);
    ASSERT_EQ(chdir((root_ + "/elsewhere").c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(previous_.c_str()), 0);
    std::string command = "rm -rf '" + root_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  void Touch(const std::string& path) {
    FILE* file = std::fopen((root_ + "/" + path).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
  }
  std::string Find() {
    char out[4096];
    return FindDataDirectory((root_ + "/program").c_str(), out, sizeof out) ? out : "";
  }
  std::string root_;
  std::string previous_;
  char buffer_[4096];
};

TEST_F(DataDirectoryTest, WorkingDirectoryThenProgramDirectoryThenItsDataFolder) {
  EXPECT_EQ(Find(), "");  // nowhere: stay
  Touch("program/data/loading.tga");
  EXPECT_EQ(Find(), root_ + "/program/data");
  Touch("program/TRK-MAIN.mo3");
  EXPECT_EQ(Find(), root_ + "/program");
  Touch("elsewhere/TRK-MAIN.mo3");
  EXPECT_EQ(Find(), "");  // the working directory holds the data: stay
}

// An installed tree: the program in PREFIX/bin or PREFIX/games, the data in
// PREFIX/share/lantern or (Debian) PREFIX/share/games/lantern, found from
// wherever the prefix lies; the places beside the program come first.
TEST_F(DataDirectoryTest, InstalledDataBesideTheProgramsFolderComesAfterTheProgramsOwn) {
  for (const char* dir : {"prefix", "prefix/games", "prefix/share", "prefix/share/games", "prefix/share/games/lantern",
                          "prefix/share/lantern"}) {
    ASSERT_EQ(mkdir((root_ + "/" + dir).c_str(), 0755), 0) << dir;
  }
  const std::string program = root_ + "/prefix/games";
  auto find = [&] {
    char out[4096];
    return FindDataDirectory(program.c_str(), out, sizeof out) ? std::string(out) : std::string();
  };
  EXPECT_EQ(find(), "");
  Touch("prefix/share/games/lantern/TRK-MAIN.mo3");
  EXPECT_EQ(find(), root_ + "/prefix/share/games/lantern");
  Touch("prefix/share/lantern/loading.tga");
  EXPECT_EQ(find(), root_ + "/prefix/share/lantern");
  Touch("prefix/games/loading.tga");
  EXPECT_EQ(find(), program);

  // The candidates, ".." steps taken out, for the message that lists them.
  char candidate[4096];
  const std::vector<std::string> expected = {"/usr/games", "/usr/games/data", "/usr/share/lantern",
                                             "/usr/share/games/lantern"};
  for (int n = 0; n < kDataCandidates; ++n) {
    ASSERT_TRUE(DataCandidate("/usr/games", n, candidate, sizeof candidate));
    EXPECT_EQ(std::string(candidate), expected[static_cast<size_t>(n)]);
  }
  ASSERT_TRUE(DataCandidate("/", 2, candidate, sizeof candidate));
  EXPECT_EQ(std::string(candidate), "/../share/lantern") << "nothing lies above the root";
  ASSERT_TRUE(DataCandidate("/opt/x/../lantern/bin", 3, candidate, sizeof candidate));
  EXPECT_EQ(std::string(candidate), "/opt/lantern/share/games/lantern");
  EXPECT_FALSE(DataCandidate("/usr/games", 2, candidate, 10)) << "a path that does not fit";
}

TEST_F(DataDirectoryTest, ADirectoryNamedLikeADataFileDoesNotCount) {
  ASSERT_EQ(mkdir((root_ + "/program/loading.tga").c_str(), 0755), 0);
  EXPECT_FALSE(HoldsDataFiles((root_ + "/program").c_str()));
  EXPECT_EQ(Find(), "");
}

}  // namespace
