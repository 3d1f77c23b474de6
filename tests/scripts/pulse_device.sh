#!/usr/bin/env bash
# The Linux program's music through a sound device that stops and comes
# back: a private PulseAudio server whose sink runs at 44.1 kHz (Debian's
# default), a private X server, and lantern-sync-meter, whose clock
# (--now) dates each event. One case each:
#   start    after a second of sound at 48 kHz (the idle sink switches to it
#            and back to 44.1 kHz for the show), the show started with nobody
#            reading the sink's monitor until its first second is over: the
#            song heard from 2.5 s after the launch on (from 0.25 s after the
#            show's first frame where a loaded machine starts it later than
#            2.25 s: the song cannot sound before the show starts), in step.
#   suspend  the sink suspended for 2.5 s mid-show: the song back within
#            0.5 s of the resume, in step over the 10 s after it.
#   restart  the server killed mid-show, a new one at the same address 1 s
#            later: the song back within 2 s of the new server (within 0.5 s
#            of its sink's first sound where that comes later: a fresh null
#            sink renders 2 s ahead before anyone connects, and answers no
#            new stream until that is played), in step.
#   move     the show's stream moved to a second sink (both monitors
#            recorded): at most 50 ms of the song lost.
# In step after it means pulse_sync.sh's bound, the picture's median offset
# from the sound within 40 ms (over at least 40 rows; 15 in the 3 s after
# the move), with the meter's chain steady, and the song staying: at most
# 500 ms of it missing or skipped (50 ms after the move), and at most 500 ms
# of it late, as when the show's clock stood still while the song was
# silent: a second's silence or standstill fails, the underruns of a
# machine loaded far past its cores do not (pulse_sync.sh's steady run
# allows no gap at all).
# Usage: pulse_device.sh BUILD_DIR [CASE...]   (all four by default)
set -uo pipefail

build="$(cd "${1:?usage: pulse_device.sh BUILD_DIR [CASE...]}" && pwd)"
shift
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(start suspend restart move)
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
for tool in Xvfb pulseaudio pactl paplay sox bc; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
for program in lantern lantern-sync-meter; do
  [ -x "$build/$program" ] || { echo "FAIL: no $build/$program"; exit 1; }
done

source "$root/bench/sync/lib.sh"
source "$root/bench/sync/linux.sh"
SYNC_RATE=44100
work="$(mktemp -d /tmp/lantern-pulse-device.XXXXXX)"
# PULSE_DEVICE_KEEP=1 keeps the recordings (and says where).
trap 'sync_stop_all; if [ -n "${PULSE_DEVICE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi' EXIT
unset SDL_VIDEODRIVER SDL_AUDIODRIVER WAYLAND_DISPLAY
sync_start_servers "$work" || { echo "FAIL: no private X or sound server"; exit 1; }

meter=(nice -n -10 "$build/lantern-sync-meter" --song "$build/data/TRK-MAIN.mo3" --rate "$SYNC_RATE")
now() { "$build/lantern-sync-meter" --now; }
failed=0
fail() {  # the case ends here
  echo "FAIL ($name): $*"
  [ -f "$out/program.log" ] && sed 's/^/  program: /' "$out/program.log"
  failed=1
  return 1
}

# record SECONDS [METER OPTION...]: the meter records into $out, in the background.
record() {
  local seconds="$1"
  shift
  "${meter[@]}" --out "$out" --seconds "$seconds" --record-only "$@" >"$out/meter.log" 2>&1 &
  meter_pid=$!
}

# finish EVENT WINDOW: waits for the recording, ends the show (which must
# still run) and reads the meter's figures over WINDOW s after EVENT into r.
finish() {
  local status=0
  wait "$meter_pid" || status=$?
  kill -0 "$SYNC_SHOW_PID" 2>/dev/null || { sync_stop; fail "the show ended early"; return 1; }
  sync_stop
  [ $status -eq 0 ] || { cat "$out/meter.log"; fail "the meter could not record"; return 1; }
  "${meter[@]}" --analyse "$out" --event "$1" --window "$2" >"$out/analysis.txt" 2>&1 ||
    { cat "$out/analysis.txt"; fail "the meter could not analyse the recording"; return 1; }
  sed "s/^/  $name: /" "$out/analysis.txt"
  unset r
  declare -gA r
  while IFS='=' read -r key value; do r[$key]=$value; done <"$out/report.txt"
  printf 'figures (%s): heard %.3f s, offset %+.1f ms over %d rows, missing %.1f ms, skipped %.1f ms, late %.1f ms, bias %.1f to %.1f ms over %d markers, load %s\n' \
    "$name" "${r[event_heard_s]}" "${r[window_offset_median_ms]}" "${r[window_rows]}" "${r[window_missing_ms]}" \
    "${r[window_lost_ms]}" "${r[window_inserted_ms]}" "${r[bias_p10_ms]}" "${r[bias_p90_ms]}" "${r[markers]}" \
    "$(cut -d' ' -f1 /proc/loadavg)"
}

check() {  # check EXPRESSION MESSAGE: EXPRESSION in bc, 1 for true
  [ "$(echo "$1" | bc -l)" = 1 ] || fail "$2"
}

# heard BOUND WHAT: the song heard within BOUND s of the event, which WHAT
# names. (A sink that renders nothing gives its monitor nothing either: a
# recording that begins after the event heard nothing before it began.)
heard() {
  local late=""
  [ "$(echo "${r[event_recorded_s]} > 0" | bc)" = 1 ] &&
    late="; the sink gave its monitor nothing until ${r[event_recorded_s]} s after it"
  local when="${r[event_heard_s]} s after $2 (at most $1 s$late)"
  [ "$(echo "${r[event_heard_s]} < 0" | bc)" = 1 ] && when="nowhere after $2$late"
  check "${r[event_heard_s]} >= 0 && ${r[event_heard_s]} <= $1" "the song was heard $when"
}

# in_step ROWS LOST: from the song's return on, the picture in step with it
# over at least ROWS rows, the chain steady, at most LOST ms of the song
# missing or skipped, and at most 500 ms of it late (the show's clock held
# up while the song was silent).
in_step() {
  check "${r[markers]} >= 8 && ${r[bias_p90_ms]} - ${r[bias_p10_ms]} < 8" \
    "the measurement chain is not steady (${r[markers]} markers, bias ${r[bias_p10_ms]} to ${r[bias_p90_ms]} ms)" &&
    check "${r[window_rows]} >= $1 && ${r[window_offset_median_ms]} >= -40 && ${r[window_offset_median_ms]} <= 40" \
      "the picture stands ${r[window_offset_median_ms]} ms from the sound over ${r[window_rows]} rows" &&
    check "${r[window_missing_ms]} + ${r[window_lost_ms]} <= $2" \
      "${r[window_missing_ms]} ms of the song went missing and ${r[window_lost_ms]} ms were skipped (at most $2 ms)" &&
    check "${r[window_inserted_ms]} <= 500" "the song came ${r[window_inserted_ms]} ms late (at most 500 ms)"
}

case_start() {
  sync_restart_pulse || return 1
  sync_other_sound 48000 || { fail "the other sound did not play"; return 1; }
  [ "$(sync_sink_rate lantern)" = 48000 ] || { fail "the sink did not switch to the other sound's rate"; return 1; }
  sleep 1
  local launch event first i
  launch=$(now)
  LANTERN_TIMING=1 sync_launch "$build" 0 "$out"
  record 12 --begin $((launch + 1000000000))
  sleep 2
  [ "$(sync_sink_rate lantern)" = 44100 ] || { fail "the sink did not switch back to 44.1 kHz for the show"; return 1; }
  # The song cannot sound before the show starts: where a loaded machine
  # starts it later than 2.25 s, the count is from 0.25 s after its first frame.
  for i in $(seq 80); do
    first=$(sed -n 's/^lantern: first frame after \([0-9]*\) ms$/\1/p' "$out/program.log")
    [ -n "$first" ] && break
    sleep 0.1
  done
  [ -n "$first" ] || { fail "no first frame 10 s after the launch"; return 1; }
  event=$((launch + (first > 2250 ? first + 250 : 2500) * 1000000))
  finish "$event" 8 || return 1
  heard 0.05 "the launch's $(((event - launch) / 1000000)) ms (first frame after $first ms)" && in_step 40 500
}

case_suspend() {
  sync_restart_pulse || return 1
  record 18
  sleep 1
  sync_launch "$build" 0 "$out"
  sleep 4
  pactl suspend-sink lantern 1 || { fail "pactl could not suspend the sink"; return 1; }
  sleep 2.5
  pactl suspend-sink lantern 0
  local event
  event=$(now)
  finish "$event" 10 || return 1
  heard 0.5 "the resume" && in_step 40 500
}

case_restart() {
  sync_restart_pulse || return 1
  record 17
  sleep 1
  sync_launch "$build" 0 "$out"
  sleep 4
  sync_kill_pulse KILL
  sleep 1
  sync_start_pulse || { fail "the new server did not start"; return 1; }
  local event bound=2
  event=$(now)
  finish "$event" 10 || return 1
  # A fresh null sink renders 2 s ahead before anyone connects and answers
  # no stream before that is played: then 0.5 s from its first sound.
  [ "$(echo "${r[event_sink_s]} + 0.5 > 2" | bc)" = 1 ] && bound=$(echo "${r[event_sink_s]} + 0.5" | bc)
  heard "$bound" "the new server (its sink sounding from ${r[event_sink_s]} s)" && in_step 40 500
}

case_move() {
  sync_restart_pulse || return 1
  pactl load-module module-null-sink sink_name=second rate="$SYNC_RATE" format=float32le channels=2 >/dev/null ||
    { fail "no second sink"; return 1; }
  record 12 --source @DEFAULT_MONITOR@ --source second.monitor
  sleep 1
  sync_launch "$build" 0 "$out"
  sleep 4
  local input event
  input=$(sync_show_input)
  event=$(now)
  [ -n "$input" ] && pactl move-sink-input "$input" second || { fail "the show's stream could not be moved"; return 1; }
  finish "$event" 3 || return 1
  heard 0.05 "the move" && in_step 15 50
}

SYNC_SHOW_PID=""
meter_pid=""
for name in "${cases[@]}"; do
  declare -F "case_$name" >/dev/null || { echo "FAIL: no case $name"; exit 1; }
  out="$work/$name"
  mkdir -p "$out"
  echo "== $name"
  "case_$name" && echo "ok ($name)"
  kill "$meter_pid" 2>/dev/null
  wait "$meter_pid" 2>/dev/null
  sync_stop
done
[ $failed -eq 0 ] && echo PASS
exit $failed
