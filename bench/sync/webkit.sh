# The browser build in WebKitGTK's MiniBrowser (WebGL on llvmpipe; Web Audio through GStreamer's pulsesink) for bench/sync.sh: the page at 640x480 in a
# window at the screen's top-left corner, its position code drawn, sound
# allowed without a click, playing into the private PulseAudio server
# (bench/web_sync.mjs). Needs build-web/site (scripts/build-web.sh) and the
# browser driver (the browser checks install it under build-web/web-test).
sync_launch() {
  local build="$1" from="$2" out="$3"
  local top="${root:-$(cd "$build/.." && pwd)}"  # bench/sync.sh's root
  LANTERN_WEB_SITE="$top/build-web/site" LANTERN_BUILD_DIR="$build" LANTERN_WEB_DRIVER="$top/build-web/web-test" \
    node "$top/bench/web_sync.mjs" webkit "$from" >"$out/program.log" 2>&1 &
  SYNC_SHOW_PID=$!
}

sync_stop() {
  kill -TERM "$SYNC_SHOW_PID" 2>/dev/null
  wait "$SYNC_SHOW_PID" 2>/dev/null
  return 0
}
