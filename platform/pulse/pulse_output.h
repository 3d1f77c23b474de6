// The audio device on a PulseAudio server (or PipeWire's PulseAudio
// service): one float stereo playback stream whose server reports, as it
// plays, how far the heard audio trails what was written.
#pragma once

#include <cstddef>

#include "platform/audio_output.h"

// Connects to the default server (never starting one) and opens a paused
// stream at frequency Hz. False when no server answers or the stream cannot
// be made, with the reason in reason.
bool OpenPulseOutput(int frequency, AudioDeviceTiming* timing, char* reason, size_t reasonSize);

// Lets the stream play.
void ResumePulseOutput();

// Closes the stream and the connection; harmless when none is open.
void ClosePulseOutput();
