// The audio context's state as the viewer meets it: when the browser
// suspends or interrupts the music (a call, a locked screen, its own
// policy), the page asks for it back; where the browser wants a gesture
// for that, one line under the picture says so and the next tap, click or
// key brings the music back. The program's audio device hands it the
// context (lanternAudioState.watch) and takes it back at the end.
(function () {
  "use strict";

  // How long a request for the context may go unanswered (ms) before the
  // viewer is asked: an interrupted context's request waits, unanswered,
  // until the interruption ends.
  var ANSWER_MS = 1000;
  var GESTURES = ["pointerdown", "touchend", "keydown"];

  var context = null;
  var listening = false;
  var asked = 0;

  function line() {
    return document.getElementById("audio-paused");
  }

  function say(text) {
    var element = line();
    if (!element) return;
    element.textContent = text;
    element.hidden = text === "";
  }

  function running() {
    return context !== null && context.state === "running";
  }

  function listen(on) {
    if (listening === on) return;
    listening = on;
    GESTURES.forEach(function (type) {
      if (on) window.addEventListener(type, onGesture, true);
      else window.removeEventListener(type, onGesture, true);
    });
  }

  // The music is back (or the show over): nothing more to ask.
  function settle() {
    if (context !== null && !running()) return;
    say("");
    listen(false);
  }

  function askViewer() {
    if (context === null || running()) return;
    say(
      context.state === "interrupted"
        ? "The music is interrupted (a call, or the screen locked). Tap, click or press a key once it is over to hear it again."
        : "The browser has paused the music. Tap, click or press a key to hear it again."
    );
    listen(true);
  }

  // Asks for the context back; inside a gesture the browser lets it run.
  function ask(inGesture) {
    if (context === null || running()) return;
    var request = ++asked;
    var answer = null;
    try {
      answer = context.resume();
    } catch (error) {
      answer = null;
    }
    if (answer && answer.then) {
      answer.then(settle, function () {
        if (request === asked) askViewer();
      });
    } else if (!inGesture) {
      askViewer();
    }
    if (!inGesture) {
      setTimeout(function () {
        if (request === asked) askViewer();
      }, ANSWER_MS);
    }
  }

  function onGesture() {
    ask(true);
  }

  function onStateChange() {
    if (running()) settle();
    else ask(false);
  }

  window.lanternAudioState = {
    watch: function (audioContext) {
      if (context === audioContext) return;
      this.release();
      context = audioContext;
      context.addEventListener("statechange", onStateChange);
      onStateChange();
    },
    release: function () {
      if (context !== null) context.removeEventListener("statechange", onStateChange);
      context = null;
      ++asked;
      settle();
    },
  };
})();
