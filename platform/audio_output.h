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
bool OpenAudioDevice(int frequency, AudioDeviceTiming* timing, char* reason, size_t reasonSize);

// Lets the opened device start pulling.
void ResumeAudioDevice();

// Stops and closes the device; harmless when none is open.
void CloseAudioDevice();

// Implemented by the music player: fills frames of interleaved stereo into
// out and marks them as handed to the device now. Called on the device's
// thread only.
void RenderMusicForDevice(float* out, int frames);

// Implemented by the music player, for a device whose latency changes as it
// plays (the browser schedules its buffers ahead of its audio clock): from
// the last RenderMusicForDevice on, the heard audio trails the end of what
// was handed over by latencyFrames. Called on the device's thread only.
void UpdateDeviceLatency(int64_t latencyFrames);

// Implemented by the music player, for a device that learns its latency
// between pulls too (a sound server's timing reports): at this moment the
// heard audio trails the end of everything handed over by latencyFrames.
// Called on the device's thread only.
void DeviceLatencyNow(int64_t latencyFrames);

// Implemented by the music player, for a device that will take no more
// sound (its server went away, its writes fail): the music goes on on the
// silent clock from the position heard, and one stderr line gives reason.
// Any thread; only the first call counts. The player also calls it itself
// when a resumed device pulls nothing for a second longer than the latency
// it last reported.
void AudioDeviceStopped(const char* reason);
