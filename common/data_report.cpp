// One stderr line per finding about a data file, counted.
#include "common/data_report.h"

#include <cstdarg>
#include <cstdio>

int g_dataFindings = 0;

void ReportDataFinding(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "lantern: %s\n", line);
  ++g_dataFindings;
}
