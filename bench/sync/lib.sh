# Shared by bench/sync.sh and the sync tests: a private X server and a
# private PulseAudio server (one null sink) in a private runtime folder, busy
# loops, and the sync meter. Nothing of the user's own session is touched:
# every server is started here, on a free display and a private socket, and
# stopped by sync_stop_all. Sourced, not run.

SYNC_PIDS=()
SYNC_BUSY_PIDS=()

# The sink's rate: not the show's 44.1 kHz, so the show is resampled as on a
# usual desktop, and the meter's 23 kHz markers lie above anything the show
# can play.
SYNC_RATE=48000

# sync_start_servers DIR: Xvfb and PulseAudio for the measurement; exports
# DISPLAY and PULSE_SERVER. The X screen leaves room beside a 640x480 window
# for the marker patch.
sync_start_servers() {
  SYNC_DIR="$1"
  mkdir -p "$SYNC_DIR/run" "$SYNC_DIR/home"
  chmod 700 "$SYNC_DIR/run"
  local fifo="$SYNC_DIR/displayfd"
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset -nolisten tcp 3>"$fifo" >"$SYNC_DIR/xvfb.log" 2>&1 &
  SYNC_PIDS+=($!)
  local number
  read -r -t 20 number <"$fifo" || { echo "sync: Xvfb did not start" >&2; return 1; }
  rm -f "$fifo"
  export DISPLAY=":$number"
  sync_start_pulse
}

# sync_start_pulse: (again) the PulseAudio server in SYNC_DIR, with the
# null sink "lantern"; exports PULSE_SERVER, sets SYNC_PULSE_PID.
sync_start_pulse() {
  export PULSE_SERVER="unix:$SYNC_DIR/run/native"
  XDG_RUNTIME_DIR="$SYNC_DIR/run" HOME="$SYNC_DIR/home" pulseaudio -n --daemonize=no ${SYNC_PULSE_DEBUG:+-vvvv} \
    --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$SYNC_DIR/run/native" \
    -L "module-null-sink sink_name=lantern rate=$SYNC_RATE format=float32le channels=2" \
    >>"$SYNC_DIR/pulseaudio.log" 2>&1 &
  SYNC_PULSE_PID=$!
  SYNC_PIDS+=($SYNC_PULSE_PID)
  local i
  for i in $(seq 100); do
    pactl info >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "sync: the PulseAudio server did not start; its log:" >&2
  tail -n 20 "$SYNC_DIR/pulseaudio.log" >&2
  return 1
}

# One busy loop per core.
sync_busy_start() {
  local i
  for i in $(seq "$(nproc)"); do
    (while :; do :; done) &
    SYNC_BUSY_PIDS+=($!)
  done
}

sync_busy_stop() {
  [ ${#SYNC_BUSY_PIDS[@]} -eq 0 ] && return 0
  kill "${SYNC_BUSY_PIDS[@]}" 2>/dev/null || true
  wait "${SYNC_BUSY_PIDS[@]}" 2>/dev/null || true
  SYNC_BUSY_PIDS=()
}

sync_stop_all() {
  sync_busy_stop
  if [ ${#SYNC_PIDS[@]} -gt 0 ]; then
    kill -CONT "${SYNC_PIDS[@]}" 2>/dev/null || true
    kill "${SYNC_PIDS[@]}" 2>/dev/null || true
    wait "${SYNC_PIDS[@]}" 2>/dev/null || true
  fi
  SYNC_PIDS=()
}

# sync_measure BUILD_DIR SECONDS FROM OUT LAUNCH STOP: records SECONDS of
# the screen and the sink while LAUNCH starts the show (showing its position
# code, from FROM, playing into PULSE_SERVER), then STOP ends it and the
# meter prints its figures; OUT keeps the recording and report.txt.
sync_measure() {
  local build="$1" seconds="$2" from="$3" out="$4" launch="$5" stop="$6"
  local meter=(nice -n -10 "$build/lantern-sync-meter" --song "$build/data/TRK-MAIN.mo3" --from "$from"
               --rate "$SYNC_RATE" --out "$out")
  "${meter[@]}" --seconds "$seconds" --record-only &
  local meter_pid=$!
  sleep 1
  "$launch" "$build" "$from" "$out"
  local status=0
  wait "$meter_pid" || status=$?
  "$stop"
  [ $status -eq 0 ] || return $status
  "${meter[@]}" --analyse "$out"
}

# The browser targets' launch and stop: the page at 640x480 in a window at
# the screen's top-left corner, its position code drawn, sound allowed
# without a click, playing into the private PulseAudio server
# (bench/web_sync.mjs). Needs build-web/site (scripts/build-web.sh) and the
# browser driver (the browser checks install it under build-web/web-test).
# sync_browser_launch ENGINE BUILD_DIR FROM OUT
sync_browser_launch() {
  local engine="$1" build="$2" from="$3" out="$4"
  local top="${root:-$(cd "$build/.." && pwd)}"  # bench/sync.sh's root
  LANTERN_WEB_SITE="$top/build-web/site" LANTERN_BUILD_DIR="$build" LANTERN_WEB_DRIVER="$top/build-web/web-test" \
    node "$top/bench/web_sync.mjs" "$engine" "$from" >"$out/program.log" 2>&1 &
  SYNC_SHOW_PID=$!
}

sync_browser_stop() {
  kill -TERM "$SYNC_SHOW_PID" 2>/dev/null
  wait "$SYNC_SHOW_PID" 2>/dev/null
  return 0
}
