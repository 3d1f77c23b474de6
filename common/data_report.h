// Findings about the show's data files (a picture, mask, mesh or module
// that is missing or damaged): one stderr line each, counted, so that the
// data checker reports exactly what the show reports and can tell a sound
// set from a damaged one.
#pragma once

// Findings reported since program start (or the last reset). Main thread only.
extern int g_dataFindings;

// Prints "lantern: " and the formatted text as one stderr line, and counts it.
void ReportDataFinding(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
