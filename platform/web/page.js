// The show's page: fetches the show's data files into the program's file
// system, asks the start question (the click that browsers want before
// sound and full screen), starts the program with the answer, passes keys,
// the controls under the canvas, visibility and full-screen changes on as
// window messages, and shows the program's findings under the canvas and
// the end of the show.
//
// Address parameters: fullscreen=yes|no answers the start question
// (without a click the browser may refuse sound, and always refuses full
// screen); from=ORDER[:ROW] starts the show at that music position;
// positioncode=1 draws the position code on every frame (for the sync
// measurement, which reads it off the screen); framestoscreen=N sets how
// many frame intervals a drawn frame takes to reach the screen.
(function () {
  "use strict";

  // Window messages and answers as the program numbers them.
  var MSG_ACTIVATE = 0x0006;
  var MSG_KEYDOWN = 0x0100;
  var MSG_KEYUP = 0x0101;
  var ANSWER_YES = 6;
  var ANSWER_NO = 7;
  var VK_ESCAPE = 27;
  var VK_F1 = 0x70;

  var params = new URLSearchParams(window.location.search);
  var canvas = document.getElementById("canvas");
  // What goes full screen: the show and its controls under it.
  var stage = document.getElementById("stage");
  var toggleButton = document.getElementById("toggle-fullscreen");
  var endButton = document.getElementById("end-show");
  var question = document.getElementById("question");
  var findingsLine = document.getElementById("findings");

  // What the page knows, for people and for tests.
  var lantern = (window.lantern = {
    state: "loading", // loading, question, starting, running, ended
    answer: null,
    audio: null, // "web audio" or "silent"
    findings: [],
    // Uncaught errors and rejected promises, as the console shows them.
    errors: [],
    firstFrameMs: null,
    startMs: null,
    endedMs: null,
    exitCode: null,
    dataFiles: 0,
    frames: function () {
      return runtimeReady ? Module._lantern_presented_frames() : 0;
    },
    // The music position of the last frame drawn, [order, row].
    position: function () {
      if (!runtimeReady) return null;
      var word = Module._lantern_frame_position();
      return [Math.floor(word / 65536), word % 65536];
    },
    // The next frame drawn, with the position it was drawn with:
    // {position, png} (a data: address), copied as soon as it is drawn.
    grabFrame: function () {
      return new Promise(function (resolve) {
        pendingGrabs.push(resolve);
      });
    },
  });
  var pendingGrabs = [];

  window.addEventListener("error", function (event) {
    lantern.errors.push(String(event.message || event.error));
  });
  window.addEventListener("unhandledrejection", function (event) {
    lantern.errors.push("unhandled rejection: " + String(event.reason));
  });

  var runtimeReady = false;
  var dataReady = false;
  var audioSettled = false;
  var fullscreenWanted = false;

  function showFinding(text) {
    lantern.findings.push(text);
    var more = lantern.findings.length - 1;
    findingsLine.textContent =
      text + (more > 0 ? "  (" + more + " more in the console)" : "");
  }

  var Module = (window.Module = {
    canvas: canvas,
    print: function (text) {
      console.log(text);
    },
    // The program's findings (a missing or damaged file, no audio) go to
    // its stderr: the console and the line under the canvas.
    printErr: function (text) {
      console.warn(text);
      showFinding(text);
    },
    preRun: [fetchData],
  });

  // Every data file named in data/files.txt goes into /data, the program's
  // working directory. A file the server does not have is left out: the
  // program then reports it as the desktop program would.
  function fetchData() {
    Module.addRunDependency("lantern-data");
    Module.FS.mkdir("/data");
    fetch("data/files.txt")
      .then(function (response) {
        return response.ok ? response.text() : "";
      })
      .then(function (list) {
        var names = list.split("\n").filter(function (name) {
          return name !== "";
        });
        return Promise.all(
          names.map(function (name) {
            return fetch("data/" + encodeURIComponent(name))
              .then(function (response) {
                return response.ok ? response.arrayBuffer() : null;
              })
              .then(function (bytes) {
                if (bytes === null) return;
                Module.FS.writeFile("/data/" + name, new Uint8Array(bytes));
                lantern.dataFiles++;
              });
          })
        );
      })
      .catch(function (error) {
        showFinding("lantern: the data files could not be fetched (" + error + ")");
      })
      .then(function () {
        Module.FS.chdir("/data");
        dataReady = true;
        Module.removeRunDependency("lantern-data");
      });
  }

  Module.lanternReady = function () {
    runtimeReady = true;
    maybeStart();
  };

  // Frame intervals from the end of drawing a frame to its picture on the
  // screen, beyond what the program counts itself (its own drawing and the
  // clock's tick): framestoscreen=N, else what the sync measurement found
  // for the engine. Chromium hands each frame through its compositor and
  // GPU process, which takes three to four of its frames; Firefox and WebKit
  // show a frame with the paint that follows it.
  function framesToScreen() {
    var given = parseFloat(params.get("framestoscreen"));
    if (isFinite(given)) return given;
    var agent = navigator.userAgent;
    if (/Firefox\//.test(agent)) return 0;
    if (/Chrome\//.test(agent)) return 3.75;
    return 0;
  }

  function maybeStart() {
    if (!runtimeReady || !dataReady || !audioSettled || lantern.state !== "starting") return;
    lantern.state = "running";
    lantern.startMs = performance.now();
    updateControls();
    Module._lantern_set_frames_to_screen(framesToScreen());
    Module.ccall("lantern_start", null, ["number", "string", "number"], [
      lantern.answer === "yes" ? ANSWER_YES : ANSWER_NO,
      params.get("from") || "",
      params.get("positioncode") === "1" ? 1 : 0,
    ]);
  }

  // The audio context is made inside the answer's click, where browsers
  // allow sound; the show starts once it runs, or when the wait for it ends
  // (the program then keeps its clock silently). After a click, or where
  // the browser says it allows sound (Firefox), the context is only slow to
  // start (a sound server can take a second or two), so the wait is
  // longer; without either, half a second.
  function startAudio(gesture) {
    var Type = window.AudioContext || window.webkitAudioContext;
    var context = null;
    if (Type) {
      try {
        context = new Type({ sampleRate: 44100, latencyHint: "playback" });
      } catch (error) {
        context = null;
      }
    }
    Module.lanternAudioContext = context;
    var settle = function () {
      if (audioSettled) return;
      audioSettled = true;
      lantern.audio = context && context.state === "running" ? "web audio" : "silent";
      maybeStart();
    };
    if (context === null || context.state === "running") {
      settle();
      return;
    }
    var policy = null;
    if (navigator.getAutoplayPolicy) {
      try {
        policy = navigator.getAutoplayPolicy(context);
      } catch (error) {
        policy = null;
      }
    }
    if (policy === "disallowed") {
      settle();
      return;
    }
    context.resume().then(settle, settle);
    setTimeout(settle, gesture || policy === "allowed" ? 8000 : 500);
  }

  // The element shown full screen, or null (older WebKit has only the
  // prefixed names).
  function fullscreenElement() {
    return document.fullscreenElement || document.webkitFullscreenElement || null;
  }

  function enterFullscreen() {
    var request = stage.requestFullscreen || stage.webkitRequestFullscreen;
    if (!request) return;
    fullscreenWanted = true;
    var result = request.call(stage);
    if (result && result.catch) {
      result.catch(function () {
        fullscreenWanted = false;
      });
    }
  }

  Module.lanternLeaveFullscreen = function () {
    fullscreenWanted = false;
    if (!fullscreenElement()) return;
    var exit = document.exitFullscreen || document.webkitExitFullscreen;
    var result = exit ? exit.call(document) : null;
    if (result && result.catch) result.catch(function () {});
  };

  // F1's action: full screen on or off, switched here inside the gesture
  // (browsers grant full screen only in one); the program restarts the
  // show when the key reaches it.
  function toggleFullscreen() {
    if (fullscreenElement()) {
      Module.lanternLeaveFullscreen();
    } else {
      enterFullscreen();
    }
  }

  function answer(yes, gesture) {
    if (lantern.state !== "question" && lantern.state !== "loading") return;
    question.hidden = true;
    lantern.answer = yes ? "yes" : "no";
    lantern.state = "starting";
    if (yes) enterFullscreen();
    startAudio(gesture);
    canvas.focus();
  }

  function post(message, wParam, lParam) {
    if (lantern.state === "running") Module._lantern_post_message(message, wParam, lParam || 0);
  }

  function pressKey(virtualKey) {
    post(MSG_KEYDOWN, virtualKey);
    post(MSG_KEYUP, virtualKey);
  }

  // The controls under the canvas offer the two keys' actions to a viewer
  // without a keyboard; as buttons they take Enter and Space as well.
  function updateControls() {
    var running = lantern.state === "running";
    toggleButton.disabled = !running;
    endButton.disabled = !running;
    toggleButton.textContent = fullscreenElement() ? "Leave full screen" : "Full screen";
  }

  toggleButton.addEventListener("click", function () {
    if (lantern.state !== "running") return;
    toggleFullscreen();
    pressKey(VK_F1);
    canvas.focus();
  });
  endButton.addEventListener("click", function () {
    pressKey(VK_ESCAPE);
  });

  document.getElementById("answer-yes").addEventListener("click", function () {
    answer(true, true);
  });
  document.getElementById("answer-no").addEventListener("click", function () {
    answer(false, true);
  });

  window.addEventListener("keydown", function (event) {
    if (lantern.state === "question") {
      if (event.key === "y" || event.key === "Y") answer(true, true);
      if (event.key === "n" || event.key === "N") answer(false, true);
      return;
    }
    if (lantern.state !== "running") return;
    if (event.key === "F1" || event.key === "Escape") event.preventDefault();
    if (event.key === "F1") {
      if (event.repeat) return;
      toggleFullscreen();
    }
    post(MSG_KEYDOWN, event.keyCode & 0xff);
  });

  window.addEventListener("keyup", function (event) {
    if (event.key === "F1" || event.key === "Escape") event.preventDefault();
    post(MSG_KEYUP, event.keyCode & 0xff);
  });

  // Leaving full screen by the browser's own means (Escape, which browsers
  // keep for themselves in full screen) ends the show as Escape does.
  function onFullscreenChange() {
    if (!fullscreenElement() && fullscreenWanted) {
      fullscreenWanted = false;
      pressKey(VK_ESCAPE);
    }
    updateControls();
  }
  document.addEventListener("fullscreenchange", onFullscreenChange);
  document.addEventListener("webkitfullscreenchange", onFullscreenChange);

  // A hidden page is the minimised window: no frames, the music goes on.
  document.addEventListener("visibilitychange", function () {
    post(MSG_ACTIVATE, document.hidden ? 0x10000 : 1);
  });

  // Called by the program right after it drew a frame, while the canvas
  // still holds it: copies it for lantern.grabFrame.
  Module.lanternFrameDrawn = function () {
    if (pendingGrabs.length === 0) return;
    var copy = document.createElement("canvas");
    copy.width = canvas.width;
    copy.height = canvas.height;
    copy.getContext("2d").drawImage(canvas, 0, 0);
    var frame = { position: lantern.position(), png: copy.toDataURL("image/png") };
    pendingGrabs.splice(0).forEach(function (resolve) {
      resolve(frame);
    });
  };

  Module.lanternFirstFrame = function () {
    lantern.firstFrameMs = performance.now();
  };

  Module.lanternEnded = function (exitCode) {
    lantern.state = "ended";
    lantern.exitCode = exitCode;
    lantern.endedMs = performance.now();
    document.getElementById("ended").hidden = false;
    updateControls();
    document.getElementById("watch-again").focus();
  };

  // Watching again starts the show from its beginning.
  document.getElementById("watch-again").addEventListener("click", function () {
    var url = new URL(window.location.href);
    url.searchParams.delete("from");
    window.location.href = url.toString();
  });

  var preset = (params.get("fullscreen") || "").toLowerCase();
  if (preset === "yes" || preset === "no") {
    answer(preset === "yes", false);
  } else {
    lantern.state = "question";
    question.hidden = false;
    document.getElementById("answer-yes").focus();
  }
})();
