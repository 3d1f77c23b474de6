// The audio device under the music player: one interleaved stereo float
// stream at a fixed rate, which the device pulls through
// RenderMusicForDevice on its own thread. One implementation per platform.
#pragma once

#include <cstddef>
#include <cstdint>

// How the heard audio relates to what the device was last handed.
struct AudioDeviceTiming {
  // Frames by which the heard audio trails the end of the last hand-over.
  int64_t latencyFrames;
  // How far past the last hand-over the heard frame may be extrapolated
  // (about one device buffer; the next hand-over moves the reference on).
  int64_t extrapolationLimitFrames;
};

// Opens the default output at frequency Hz, stereo float, paused. False
// when no device opens, with the reason (the driver's own words) in reason.
// Called on the main thread at start, and again by the music player's
// reopening thread, after CloseAudioDevice, once a device was lost.
bool OpenAudioDevice(int frequency, AudioDeviceTiming* timing, char* reason, size_t reasonSize);

// Lets the opened device start pulling.
void ResumeAudioDevice();

// Stops and closes the device; harmless when none is open.
void CloseAudioDevice();

// Implemented by the music player: fills frames of interleaved stereo into
// out and marks them as handed to the device now. Called on the device's
// thread only. While the music is silent (the device took no sound for a
// while, or was opened again after it was lost) this pull re-joins it: the
// stream skips ahead to what the show will be at when these frames are
// heard, taken to be the latency last given (which trails the end of this
// hand-over) from now, or starts with the few ms of silence by which the
// silent player ran ahead of that, and fades in.
void RenderMusicForDevice(float* out, int frames);

// The same, for a device that knows how much it already holds when it
// asks for more (a sound server's buffer): frames handed over now are
// heard queuedFrames from now.
void RenderMusicForDeviceQueued(float* out, int frames, int64_t queuedFrames);

// Implemented by the music player, for a device whose latency changes as it
// plays (the browser schedules its buffers ahead of its audio clock): from
// the last RenderMusicForDevice on, the heard audio trails the end of what
// was handed over by latencyFrames. Called on the device's thread only.
void UpdateDeviceLatency(int64_t latencyFrames);

// Implemented by the music player, for a device that learns its latency
// between pulls too (a sound server's timing reports): at this moment the
// heard audio trails the end of everything handed over by latencyFrames.
// Called on the device's thread only. While the music is silent it is kept
// for the re-join and moves nothing.
void DeviceLatencyNow(int64_t latencyFrames);

// Implemented by the music player, for a device that takes no sound for
// now but may again (its server suspended it, its thread is starved): the
// music goes on on the silent clock from the position heard, and re-joins
// at the device's next pull. Any thread. The player also finds it itself
// when a resumed device pulls nothing for a second longer than the latency
// it last reported.
void AudioDeviceStalled(const char* reason);

// Implemented by the music player, for a device that will take no more
// sound (its stream failed, its server went away, its writes fail, it was
// removed): the music goes on on the silent clock, the player closes the
// device and opens the default output again, about once a second and less
// often as it stays away, and the music re-joins once one plays. Any
// thread; later pulls of the lost device get silence.
void AudioDeviceLost(const char* reason);
