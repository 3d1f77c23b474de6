# The Linux program for bench/sync.sh: a 640x480 window, its position code
# drawn, playing through the private PulseAudio server.
sync_launch() {
  local build="$1" from="$2" out="$3"
  LANTERN_FULLSCREEN=no LANTERN_POSITION_CODE=1 LANTERN_FROM="$from" \
    "$build/lantern" >"$out/program.log" 2>&1 &
  SYNC_SHOW_PID=$!
}

sync_stop() {
  kill "$SYNC_SHOW_PID" 2>/dev/null || true
  wait "$SYNC_SHOW_PID" 2>/dev/null || true
  return 0
}
