// Tracker-music playback on libopenmpt with SDL2 audio output, and a silent
// real-time player when no audio device opens, so the music clock always runs.
#pragma once

#include <cstdint>

// Position word of an unknown handle or a failed load: all bits set.
constexpr uint32_t kNoMusicPosition = 0xFFFFFFFFu;

// Sample rate everything is rendered at.
constexpr int kMusicSampleRate = 44100;

// Opens the audio output at frequency Hz stereo, or the silent real-time
// player when no device opens (said in one stderr line naming the device's
// error). Repeated calls keep the output already open.
void InitMusicOutput(int frequency);

// Lets the output run (the device starts paused until now).
void StartMusicOutput();

// Loads a module file by name (relative to the current directory), ready to
// play once from its beginning. Returns its handle, 0 on failure: a file
// that cannot be opened or read, is empty or is no module libopenmpt plays,
// each reported in one stderr line naming the file.
uint32_t LoadMusicFile(const char* fileName);

// Stops and frees a module; handle 0 or an unknown handle does nothing.
void FreeMusic(uint32_t handle);

// Plays the module from its beginning, once.
void PlayMusic(uint32_t handle);

// Plays the module once from the start of the given row of the given order;
// notes struck earlier that still sound there are picked up where they
// stand. Until the audio reaches the listener the position reported is that
// order and row. A position the module does not have plays it from its
// beginning.
void PlayMusicFrom(uint32_t handle, int order, int row);

// The position of the audio being heard now (or after the lead set with
// SetMusicPositionLead): order in the low 16 bits, row in the high 16. Before playback reaches the listener it is the start
// (order 0, row 0); after the song's last row it stays on that row.
// kNoMusicPosition for handle 0 or an unknown handle.
uint32_t GetMusicPosition(uint32_t handle);

// Closes the output and frees every module (at exit, or before tests
// re-open the output another way). InitMusicOutput may follow.
void ShutdownMusicOutput();

// The position GetMusicPosition reports is the one heard this many
// microseconds from now: how long a frame drawn with it takes to reach the
// screen, so that the picture shows what is heard as it appears. 0 (heard
// now) until set. Main thread.
void SetMusicPositionLead(int64_t micros);

// True while the silent real-time player stands in for an audio device.
bool MusicOutputIsSilent();

// One pass of the silent player: renders (and drops) the stream up to a
// little ahead of the listener's real-time clock. Its thread calls this
// every 2 ms; it is public for platforms that drive it from a timer.
void PumpSilentPlayer();
