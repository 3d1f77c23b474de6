/* The silences in a recording of a sound server's sink: reads 16-bit
 * stereo frames (parec --raw --format=s16le --channels=2) from stdin and
 * prints each stretch of at least 20 ms in which no sample reaches LEVEL,
 * "silent FROM TO" in seconds of the recording, then "recorded SECONDS".
 *
 * With --stopped SECONDS (the server was stopped that long while the sink
 * was recorded): the stop is the first silence after the first sound that
 * is at most 100 ms shorter, pieces of sound of up to 50 ms inside it
 * counted as silence (a stopped null sink renders the time it
 * missed at once when it runs again, so the recording keeps the wall
 * clock; the silence begins once what the server held has played, and may
 * end with a few stale milliseconds the server is handed as it runs
 * again). The server ran again where the silence began plus the stop,
 * less 50 ms for what it held; "back SECONDS" says how long after that the
 * music was heard: the first 5 ms, from 100 ms on (past anything stale),
 * from which at least a quarter of the next 300 ms sounds (a sound server
 * running dry on a busy machine chops the music into short pieces). "back
 * none" when the music did not come back; "stopped none" when no silence
 * is that long.
 * Usage: sink_silences RATE LEVEL [--stopped SECONDS] < recording */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if ((argc != 3 && !(argc == 5 && strcmp(argv[3], "--stopped") == 0)) || atoi(argv[1]) <= 0) {
    fprintf(stderr, "usage: sink_silences RATE LEVEL [--stopped SECONDS] < s16le stereo\n");
    return 2;
  }
  const long rate = atol(argv[1]);
  const int level = atoi(argv[2]);
  const double stopped = argc == 5 ? atof(argv[4]) : -1.0;
  const long window = rate / 200; /* 5 ms */
  /* Per window, whether it sounds. */
  size_t count = 0, capacity = 1 << 16;
  char* sounds = malloc(capacity);
  short frame[2];
  long frames = 0;
  int peak = 0;
  while (sounds != NULL && fread(frame, sizeof frame, 1, stdin) == 1) {
    for (int c = 0; c < 2; ++c) {
      const int magnitude = abs(frame[c]);
      if (magnitude > peak) peak = magnitude;
    }
    if (++frames % window != 0) continue;
    if (count == capacity) sounds = realloc(sounds, capacity *= 2);
    if (sounds != NULL) sounds[count++] = peak >= level;
    peak = 0;
  }
  if (sounds == NULL) {
    fprintf(stderr, "sink_silences: out of memory\n");
    return 1;
  }
  const double seconds = 0.005;
  /* A silence as long as the stop may hold one stray piece of at most
   * 50 ms: the server asks for sound while it renders the missed time at
   * once, and what the client hands it then lands inside that time. */
  const size_t strayWindows = 10;
  long stopFrom = -1;
  long runFrom = -1; /* the silence, strays included, that ends at the last one */
  size_t runTo = 0;
  for (size_t from = 0; from < count;) {
    if (sounds[from]) {
      ++from;
      continue;
    }
    size_t to = from;
    while (to < count && !sounds[to]) ++to;
    if (to - from >= 4) {
      printf("silent %.3f %.3f\n", from * seconds, to * seconds);
      if (from > 0) {
        if (runFrom < 0 || from - runTo > strayWindows) runFrom = (long)from;
        runTo = to;
        if (stopped > 0 && stopFrom < 0 && (runTo - (size_t)runFrom) * seconds >= stopped - 0.1) stopFrom = runFrom;
      }
    }
    from = to;
  }
  printf("recorded %.3f\n", (double)frames / rate);
  if (stopped <= 0) return 0;
  if (stopFrom < 0) {
    printf("stopped none\n");
    return 0;
  }
  printf("stopped %.3f\n", stopFrom * seconds);
  const size_t ranAgain = (size_t)(stopFrom + (long)((stopped - 0.05) / seconds));
  const size_t span = 60; /* 300 ms */
  for (size_t at = ranAgain + 20; at + span <= count; ++at) {
    if (!sounds[at]) continue;
    size_t sounding = 0;
    for (size_t i = at; i < at + span; ++i) sounding += (size_t)sounds[i];
    if (4 * sounding >= span) {
      printf("back %.3f\n", (at - ranAgain) * seconds);
      return 0;
    }
  }
  printf("back none\n");
  return 0;
}
