// What the browser's platform files offer each other and the page's entry
// (shell/web_main.cpp): the audio pump and the presented-frame count.
#pragma once

// Schedules more of the music stream into Web Audio while the device plays,
// so that a little more than kWebAudioLeadSeconds lies ahead of what is
// heard (kWebAudioHiddenLeadSeconds or more while the page is hidden);
// hands the song to the silent clock while the audio context does not run,
// and re-joins it once the context runs again. The page's timers, every
// frame and every change of the page's visibility call it.
void PumpWebAudio();

// False while the audio device plays but what it was first handed is not
// yet heard (an audio context can take a second or more to start its
// output); true otherwise, silent player included.
bool WebMusicHeard();

// How long a frame drawn now takes to reach the screen (s): the music
// position is then taken as heard that much later, so that the picture
// shows what is heard when it appears. Set by the page's entry every
// animation frame.
void SetWebPresentationDelay(double seconds);

// Seconds of audio kept scheduled ahead of the audio clock: what the main
// thread may stall (a slow frame) before the sound breaks up.
constexpr double kWebAudioLeadSeconds = 0.2;

// At least this much while the page is hidden, where browsers run its
// timers about once a second (more where they come less often).
constexpr double kWebAudioHiddenLeadSeconds = 4.0;

// Frames presented (buffer swaps) since the page started.
int WebPresentedFrames();
