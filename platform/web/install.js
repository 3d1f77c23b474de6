// The page as an app on a home screen: registers the service worker that
// keeps the show for offline viewing (sw.js), and where the browser has no
// Fullscreen API (an iPhone's) hides the full-screen control and says in
// one line how to get the show without the browser's bars.
(function () {
  "use strict";

  // Full screen is there when the document may ask for it (older WebKit
  // has only the prefixed names).
  function fullscreenAvailable() {
    return Boolean(document.fullscreenEnabled || document.webkitFullscreenEnabled);
  }

  // Started from the home screen: no browser bars already.
  function installed() {
    return (
      window.navigator.standalone === true ||
      (window.matchMedia !== undefined &&
        window.matchMedia("(display-mode: fullscreen), (display-mode: standalone)").matches)
    );
  }

  function explainFullScreen() {
    if (fullscreenAvailable()) return;
    document.documentElement.classList.add("no-fullscreen");
    document.getElementById("install-hint").hidden = installed();
  }

  // The worker lives beside the page, so that it serves the whole folder.
  // It is registered once the show has drawn its first frame, or ten
  // seconds after the page loaded while the question waits, so that its
  // downloads never hold up the start. A browser without service workers,
  // or a page not served over https (or from this machine), simply plays
  // online.
  function keepOffline() {
    if (!("serviceWorker" in navigator) || !window.isSecureContext) return;
    window.addEventListener("load", function () {
      var waited = 0;
      var timer = setInterval(function () {
        waited += 250;
        var show = window.lantern;
        if (waited < 10000 && !(show && show.firstFrameMs !== null)) return;
        clearInterval(timer);
        navigator.serviceWorker.register("sw.js").catch(function (error) {
          console.warn("lantern: the show cannot be kept for offline viewing (" + error + ")");
        });
      }, 250);
    });
  }

  explainFullScreen();
  keepOffline();
})();
