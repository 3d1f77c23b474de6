// The program's life: the full-screen question, window creation, the
// message loop that draws a frame whenever the queue is empty, Escape, the
// end of the show, the F1 toggle and the exit.
#pragma once

// Exit code when the window cannot be created (at start or after F1).
constexpr int kExitCreationFailed = 1;

// The answer to the start-up question given in advance (kAnswerYes or
// kAnswerNo), or 0 to ask it in a box.
extern int g_presetFullscreenAnswer;

// One frame of the show; DrawFrame unless a test installs its own.
extern bool (*g_drawFrameHook)();

// When set (LANTERN_TIMING=1), the program prints once, to stderr, how many
// milliseconds passed from the start of main to the first presented frame,
// and at the end how many frames it presented after that one, at what rate.
extern bool g_reportFirstFrame;

// Remembers when the program started and reads LANTERN_TIMING.
void StartTimingFromEnvironment();

// Reads LANTERN_FULLSCREEN ("yes" or "no") into g_presetFullscreenAnswer;
// any other value, or none, leaves the question to the box.
void ReadFullscreenAnswerFromEnvironment();

// Reads LANTERN_FROM ("ORDER" or "ORDER:ROW") into g_startFrom; a value
// that is neither gets one stderr line and leaves the show to start from
// its beginning.
void ReadStartPositionFromEnvironment();

// Runs the whole show; returns the exit code: the quit message's code after
// the window is closed, 0 after Escape or the end of the show,
// kExitCreationFailed when the window cannot be created. It is BeginDemo,
// RunDemoPass until it returns false, and EndDemo.
int RunDemo();

// The show in three steps, for a platform whose event loop calls the
// program back once per frame (the browser) instead of letting it block.
// BeginDemo asks the question (unless answered in advance) and creates the
// window; false when that failed (EndDemo then gives kExitCreationFailed).
bool BeginDemo();
// One pass of the loop: takes and handles every waiting message, then the
// idle pass (a frame and its swap, Escape, the end of the show, the F1
// toggle). False once the loop is over: quit message, Escape, end of the
// show, or a failed re-creation after F1.
bool RunDemoPass();
// Releases the window and returns RunDemo's exit code.
int EndDemo();
