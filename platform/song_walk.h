// The song walk: a module followed without a device, sample frame by sample
// frame, with the order and row it has reached. The skip-ahead, the capture
// tool and the data checker walk the song with it; the music player plays
// through the device.
#pragma once

#include <cstddef>
#include <cstdint>

struct openmpt_module;

// A music position, ordered as the song plays: order, then row.
struct ShowPosition {
  int32_t order;
  int32_t row;
};

inline bool operator<(const ShowPosition& a, const ShowPosition& b) {
  return a.order < b.order || (a.order == b.order && a.row < b.row);
}
inline bool operator<=(const ShowPosition& a, const ShowPosition& b) { return !(b < a); }

// A module followed without sound. The position after the song's last
// row stays on that row (libopenmpt already reports the restart point on
// its last short chunk).
struct SilentSong {
  openmpt_module* module;  // not owned
  int sampleRate;
  ShowPosition position;   // the position the song has reached
  bool ended;              // the song has played its last sample
  bool moved;              // the song has left its first position
};

// Prepares a song to be followed from its start: played once, no
// fade-out at the end. With forSound false the resampler is set to its
// cheapest (the position does not depend on it), for walks whose audio is
// thrown away.
void StartSilentSong(SilentSong* song, openmpt_module* module, int sampleRate, bool forSound);

// Renders count sample frames of interleaved stereo into out (2 * count
// floats; null throws them away) and moves the position on. Returns the
// sample frames the song supplied; once it has ended the rest is zeros.
int64_t AdvanceSilentSong(SilentSong* song, int64_t count, float* out);

// A module made from a whole file's bytes, ready for StartSilentSong; null
// when the bytes hold no module the player can play. CloseSongModule frees
// it (null does nothing).
openmpt_module* OpenSongModule(const char* bytes, size_t size);
void CloseSongModule(openmpt_module* module);
