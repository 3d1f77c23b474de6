// The lantern program's entry point: finds its data, runs the show, and
// stops the clock thread and the music before the process ends.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/music_player.h"
#include "shell/data_directory.h"
#include "render/position_code.h"
#include "shell/main_loop.h"
#include "timeline/clock.h"

namespace {

void PrintUsage() {
  std::printf(
      "lantern: a real-time audiovisual demo in a 640x480 OpenGL window.\n"
      "\n"
      "Usage: lantern [--help | --version]\n"
      "\n"
      "At start a box asks whether to run full screen. Keys: Escape quits,\n"
      "F1 switches between full screen and a window and restarts the show.\n"
      "The data files (TRK-MAIN.mo3 and the .tga and .3d files) are read from\n"
      "the working directory, else from the program's directory, its data/\n"
      "folder, or the installed ../share/lantern or ../share/games/lantern\n"
      "beside the program's folder.\n"
      "\n"
      "Environment:\n"
      "  LANTERN_FULLSCREEN=yes|no  answer the full-screen question without the box\n"
      "  LANTERN_FROM=ORDER[:ROW]   start at that music position, every scene as if\n"
      "                             the show had played up to it\n"
      "  LANTERN_TIMING=1           print the time from start to the first frame, and\n"
      "                             at the end the frame rate after it\n"
      "  LANTERN_POSITION_CODE=1    draw each frame's music order and row as a strip of\n"
      "                             cells in its top-left corner (for sync measurements)\n");
}

// Stops the clock thread and the music. Also registered with atexit, since
// a library may end the process with exit() (Xlib does when the display
// goes away), and joinable threads must not outlive main's statics.
void StopThreads() {
  StopClockThread();
  ShutdownMusicOutput();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    PrintUsage();
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("lantern %s\n", LANTERN_VERSION);
    return 0;
  }
  std::atexit(StopThreads);
  StartTimingFromEnvironment();
  ReadFullscreenAnswerFromEnvironment();
  ReadStartPositionFromEnvironment();
  const char* positionCode = std::getenv("LANTERN_POSITION_CODE");
  g_drawPositionCode = positionCode != nullptr && positionCode[0] != '\0' && positionCode[0] != '0';
  ChangeToDataDirectory();
  // The sound device opens now, paused, so that what it takes to start (a
  // sound server may hold a new stream for up to two seconds before it
  // plays it) passes while the window opens and the scenes load.
  InitMusicOutput(kMusicSampleRate);
  const int exitCode = RunDemo();
  StopThreads();
  return exitCode;
}
