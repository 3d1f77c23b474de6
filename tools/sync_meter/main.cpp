// lantern-sync-meter: records a build of the show as it is seen (the
// position-code strip on the X screen) and heard (the PulseAudio sink's
// monitor), and reports the picture's offset from the sound, the gaps in
// the music and the recording chain's own bias, over the whole recording
// and over a window after an event.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <time.h>

#include "timeline/skip_ahead.h"
#include "tools/sync_meter/analysis.h"
#include "tools/sync_meter/recorder.h"

namespace {

void Usage(FILE* out) {
  std::fprintf(out,
               "Usage: lantern-sync-meter --song FILE [--from ORDER[:ROW]] [--seconds N] [--out DIR]\n"
               "                          [--rate HZ] [--source NAME]... [--sink NAME] [--no-markers] [--record-only]\n"
               "                          [--begin NANOS] [--event NANOS [--window SECONDS]]\n"
               "       lantern-sync-meter --analyse DIR --song FILE [--from ORDER[:ROW]] [--event NANOS\n"
               "                          [--window SECONDS]] [--verbose]\n"
               "       lantern-sync-meter --now\n"
               "\n"
               "Records the X screen (DISPLAY) and the PulseAudio server's sink monitor\n"
               "(PULSE_SERVER) for N seconds (default 60) while a build of the show, drawing\n"
               "its position code (LANTERN_POSITION_CODE=1), plays into that sink. Then\n"
               "prints the picture's offset from the sound, the music's gaps and the chain's\n"
               "bias, and writes the recording and report.txt (key=value) into DIR.\n"
               "--from names where the show starts, so that the music is looked for there.\n"
               "--source names a monitor to record (default @DEFAULT_MONITOR@); given more\n"
               "than once, the monitors are mixed (a stream moved between their sinks).\n"
               "A server that goes away is reached again when it answers; a suspended sink\n"
               "and a server away are recorded as silence.\n"
               "--begin waits until a moment on the meter's clock before it records.\n"
               "--event takes a moment on the meter's clock (CLOCK_MONOTONIC nanoseconds, as\n"
               "--now prints it): the report adds when the music was first heard at or after\n"
               "it, and from then to the event plus --window seconds (default 10) the offsets,\n"
               "gaps and song missing.\n"
               "--record-only stops after writing DIR; --analyse DIR reads it back;\n"
               "--verbose lists every gap and marker on stderr.\n");
}

}  // namespace

int main(int argc, char** argv) {
  syncmeter::RecordOptions options;
  std::string song;
  std::string out = "sync-recording";
  std::string analyseDir;
  bool recordOnly = false;
  bool verbose = false;
  ShowPosition from = {0, 0};
  syncmeter::Window window;
  bool sourceGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "lantern-sync-meter: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (arg == "--song") {
      song = value();
    } else if (arg == "--seconds") {
      options.seconds = std::atof(value());
    } else if (arg == "--out") {
      out = value();
    } else if (arg == "--rate") {
      options.rate = std::atoi(value());
    } else if (arg == "--now") {
      timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      std::printf("%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
      return 0;
    } else if (arg == "--begin") {
      options.beginNanos = std::atoll(value());
    } else if (arg == "--event") {
      window.eventNanos = std::atoll(value());
      if (window.seconds <= 0.0) window.seconds = 10.0;
    } else if (arg == "--window") {
      window.seconds = std::atof(value());
    } else if (arg == "--source") {
      if (!sourceGiven) options.sources.clear();
      sourceGiven = true;
      options.sources.push_back(value());
    } else if (arg == "--sink") {
      options.sink = value();
    } else if (arg == "--no-markers") {
      options.markers = false;
    } else if (arg == "--verbose") {
      verbose = true;
    } else if (arg == "--record-only") {
      recordOnly = true;
    } else if (arg == "--analyse") {
      analyseDir = value();
    } else if (arg == "--from") {
      if (!ParseShowPosition(value(), &from, nullptr)) {
        std::fprintf(stderr, "lantern-sync-meter: --from takes ORDER or ORDER:ROW\n");
        return 2;
      }
    } else {
      std::fprintf(stderr, "lantern-sync-meter: unknown option %s\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
  }
  if (window.eventNanos == 0) window.seconds = 0.0;
  if (song.empty() || options.seconds <= 0.0 || options.rate < 8000) {
    Usage(stderr);
    return 2;
  }

  std::string why;
  syncmeter::Recording recording;
  if (analyseDir.empty()) {
    if (!syncmeter::Record(options, &recording, &why) || !syncmeter::WriteRecording(recording, out, &why)) {
      std::fprintf(stderr, "lantern-sync-meter: %s\n", why.c_str());
      return 1;
    }
    if (recordOnly) return 0;
  } else {
    out = analyseDir;
    if (!syncmeter::ReadRecording(analyseDir, &recording, &why)) {
      std::fprintf(stderr, "lantern-sync-meter: %s\n", why.c_str());
      return 1;
    }
  }
  if (recording.overflows > 0) {
    std::fprintf(stderr, "lantern-sync-meter: the server dropped recorded sound %lld times\n",
                 static_cast<long long>(recording.overflows));
  }
  syncmeter::Reference reference;
  syncmeter::Report report;
  if (!syncmeter::RenderReference(song, recording.rate, &reference, &why)) {
    std::fprintf(stderr, "lantern-sync-meter: %s\n", why.c_str());
    return 1;
  }
  const double fromSeconds = std::max(0.0, syncmeter::RowSeconds(reference, from.order, from.row));
  if (!syncmeter::Analyse(recording, reference, fromSeconds, window, &report, &why, verbose ? stderr : nullptr)) {
    std::fprintf(stderr, "lantern-sync-meter: %s\n", why.c_str());
    return 1;
  }
  std::fputs(syncmeter::FormatReport(report).c_str(), stdout);
  std::ofstream keys(out + "/report.txt");
  keys << syncmeter::FormatKeys(report);
  std::ofstream offsets(out + "/offsets.txt");  // when seen (the meter's clock, ns) and the offset, ms
  for (size_t i = 0; i < report.offsets.size(); ++i) offsets << report.offsetNanos[i] << ' ' << report.offsets[i] << '\n';
  return 0;
}
