// Operating-system services the shell and timeline need beyond standard C++:
// where the executable lies, changing directory, plain-file checks and
// thread names. One implementation per operating system.
#pragma once

#include <cstddef>

// Whether the platform runs threads. Without them (the browser, served
// without cross-origin isolation) the clock and the silent music player
// have no threads of their own: the platform's timers call their passes
// (ClockPass, PumpSilentPlayer) instead.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
constexpr bool kPlatformHasThreads = false;
#else
constexpr bool kPlatformHasThreads = true;
#endif

// The directory holding the running executable, without a trailing
// separator; false (out empty) when it cannot be found or does not fit.
bool ExecutableDirectory(char* out, size_t outSize);

// Makes directory the working directory; false on failure.
bool ChangeDirectory(const char* directory);

// True when path names an existing plain file (not a directory or device).
bool IsRegularFile(const char* path);

// Names the calling thread for debuggers and process listings (at most 15
// characters are kept); does nothing where names are not supported.
void NameCurrentThread(const char* name);
