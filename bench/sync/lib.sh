# Shared by bench/sync.sh and the sync tests: a private X server and a
# private PulseAudio server (one null sink) in a private runtime folder, busy
# loops, and the sync meter. Nothing of the user's own session is touched:
# every server is started here, on a free display and a private socket, and
# stopped by sync_stop_all. Sourced, not run.

SYNC_PIDS=()
SYNC_BUSY_PIDS=()

# The sink's rate: 48 kHz, not the show's 44.1 kHz, so the show is
# resampled as on a usual desktop and the meter's 23 kHz markers lie above
# anything the show can play; or 44.1 kHz, Debian's PulseAudio default
# (the meter's markers then at 21.6 kHz). Either way the server's
# alternate rate is 48 kHz, and an idle sink switches to a stream's rate.
SYNC_RATE=${SYNC_RATE:-48000}

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

# sync_restart_pulse: a fresh server in place of the running one (at
# SYNC_RATE now).
sync_restart_pulse() {
  sync_kill_pulse TERM
  sync_start_pulse
}

# sync_kill_pulse [SIGNAL]: ends the server (KILL by default: gone at once).
sync_kill_pulse() {
  [ -n "${SYNC_PULSE_PID:-}" ] || return 0
  kill "-${1:-KILL}" "$SYNC_PULSE_PID" 2>/dev/null
  wait "$SYNC_PULSE_PID" 2>/dev/null
  SYNC_PULSE_PID=""
}

# sync_sink_rate SINK: the sink's sample rate now, in Hz.
sync_sink_rate() {
  pactl list sinks short | awk -F'\t' -v sink="$1" '$2 == sink {split($4, format, " "); sub("Hz", "", format[3]); print format[3]}'
}

# sync_show_input: the sink input of the show's stream (the native
# program's, "lantern music").
sync_show_input() {
  pactl list sink-inputs | awk '/^Sink Input #/ {id = substr($3, 2)} /media.name = "lantern music"/ {print id; exit}'
}

# sync_other_sound RATE: one second of a tone at RATE Hz played to its end
# on the default sink (as a notification or a browser plays before the
# show, on a desktop whose sink then goes idle).
sync_other_sound() {
  sox -q -n -r "$1" -c 2 -b 16 "$SYNC_DIR/other-$1.wav" synth 1 sine 440 vol 0.3 &&
    paplay "$SYNC_DIR/other-$1.wav"
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

# sync_measure_start BUILD_DIR SECONDS FROM OUT LAUNCH STOP: as sync_measure,
# but the show starts on a sink left idle for a second after a second of
# sound at 48 kHz, and the meter starts a second after the launch; its
# figures add when the song was first heard after the launch, and the
# offsets, gaps and song missing from then on.
sync_measure_start() {
  local build="$1" seconds="$2" from="$3" out="$4" launch="$5" stop="$6"
  local meter=(nice -n -10 "$build/lantern-sync-meter" --song "$build/data/TRK-MAIN.mo3" --from "$from"
               --rate "$SYNC_RATE" --out "$out")
  sync_other_sound 48000 || return 1
  sleep 1
  local launched status=0
  launched="$("$build/lantern-sync-meter" --now)"
  "$launch" "$build" "$from" "$out"
  "${meter[@]}" --seconds "$seconds" --record-only --begin $((launched + 1000000000)) || status=$?
  "$stop"
  [ $status -eq 0 ] || return $status
  "${meter[@]}" --analyse "$out" --event "$launched" --window "$((seconds + 1))"
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
