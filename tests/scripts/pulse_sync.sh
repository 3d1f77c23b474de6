#!/usr/bin/env bash
# The Linux program heard through a real sound server (a private PulseAudio
# with a null sink) and seen on a private X server, measured by
# lantern-sync-meter:
#   1. 25 s from the show's start: the recorded music is the song, from its
#      beginning, without a gap, and the picture stands within 40 ms of it
#      (median; idle and busy machines measure within 10 ms of zero, and a
#      fault of 100 ms in the latency correction reads beyond 60 ms). The
#      meter's own chain must hold well under a frame, else the measurement
#      is not trusted.
#   2. The server frozen part-way (SIGSTOP) for good: the program says once
#      that the device stopped, goes on on the silent clock and ends by
#      itself at order 30, row 63. (A device that comes back, the server
#      killed and a new one started among them, is pulse_device.sh's.)
# Usage: pulse_sync.sh BUILD_DIR
set -uo pipefail

build="$(cd "${1:?usage: pulse_sync.sh BUILD_DIR}" && pwd)"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
for tool in Xvfb pulseaudio pactl; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
for program in lantern lantern-sync-meter; do
  [ -x "$build/$program" ] || { echo "FAIL: no $build/$program"; exit 1; }
done

source "$root/bench/sync/lib.sh"
source "$root/bench/sync/linux.sh"
work="$(mktemp -d /tmp/lantern-pulse-test.XXXXXX)"
trap 'sync_stop_all; rm -rf "$work"' EXIT
unset SDL_VIDEODRIVER SDL_AUDIODRIVER WAYLAND_DISPLAY
sync_start_servers "$work" || { echo "FAIL: no private X or sound server"; exit 1; }

fail() {
  echo "FAIL: $*"
  exit 1
}

# 1. Offset and gaps.
out="$work/sync"
mkdir -p "$out"
sync_measure "$build" 25 0 "$out" sync_launch sync_stop >"$work/meter.txt" 2>&1 ||
  { cat "$work/meter.txt"; fail "the meter could not measure the show"; }
cat "$work/meter.txt"
declare -A r
while IFS='=' read -r key value; do r[$key]=$value; done <"$out/report.txt"
check() {  # check EXPRESSION MESSAGE: EXPRESSION in bc, 1 for true
  [ "$(echo "$1" | bc -l)" = 1 ] || fail "$2"
}
check "${r[markers]} >= 20 && ${r[bias_p90_ms]} - ${r[bias_p10_ms]} < 8" \
  "the measurement chain is not steady (${r[markers]} markers, bias ${r[bias_p10_ms]} to ${r[bias_p90_ms]} ms)"
check "${r[sounding_s]} >= 18 && ${r[matched_s]} >= 0.9 * ${r[sounding_s]}" \
  "the recorded sound is not the song (${r[matched_s]} s of ${r[sounding_s]} s found in it)"
check "${r[song_first_s]} < 1" "the music did not start at the song's beginning (${r[song_first_s]} s)"
check "${r[gaps]} == 0" "the music has ${r[gaps]} gaps (longest ${r[longest_gap_ms]} ms)"
check "${r[row_changes]} >= 100" "only ${r[row_changes]} changes of row were seen"
check "${r[offset_median_ms]} >= -40 && ${r[offset_median_ms]} <= 40" \
  "the picture stands ${r[offset_median_ms]} ms from the sound (median)"

# 2. A device that stops for good: frozen.
stop_once() {  # stop_once SIGNAL
  local log="$work/stop-$1.log"
  LANTERN_FULLSCREEN=no LANTERN_FROM=30:0 LANTERN_TIMING=1 "$build/lantern" >"$log" 2>&1 &
  local pid=$!
  local waited=0
  until grep -q 'first frame after' "$log"; do
    sleep 0.1
    waited=$((waited + 1))
    [ $waited -lt 600 ] || { kill "$pid"; cat "$log"; fail "no first frame with the server running ($1)"; }
  done
  sleep 1.5
  kill "-$1" "$SYNC_PULSE_PID"
  waited=0
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.1
    waited=$((waited + 1))
    [ $waited -lt 300 ] || { kill "$pid"; cat "$log"; fail "the show did not end by itself within 30 s of the server's $1"; }
  done
  wait "$pid"
  local status=$?
  [ $status -eq 0 ] || { cat "$log"; fail "exit status $status after the server's $1"; }
  [ "$(grep -c 'the audio device stopped' "$log")" = 1 ] ||
    { cat "$log"; fail "not one line saying the device stopped after the server's $1"; }
  echo "server $1: $(grep 'the audio device stopped' "$log")"
}
stop_once STOP
echo "PASS"
