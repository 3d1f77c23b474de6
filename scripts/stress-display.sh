#!/usr/bin/env bash
# Display stress: the live program started and ended again and again under
# Xvfb while a second Xvfb session runs tests/scripts/xvfb_keys.sh in a loop,
# a CPU hog and a disk writer that syncs run beside it; then xvfb_keys.sh
# several times in a row under the same load. Any start without a window,
# and any failed xvfb_keys.sh run, is a failure (its stderr is printed).
#   usage: bash scripts/stress-display.sh [BUILD_DIR]   (default build)
#   LANTERN_STRESS_STARTS (100) and LANTERN_STRESS_KEYS_RUNS (10) set the counts.
# The starts run under an Xvfb with its default reset (it starts afresh each
# time its last client leaves, dropping whoever is connecting just then), so
# they also prove that the program rides out that race.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
lantern="$build/lantern"
starts="${LANTERN_STRESS_STARTS:-100}"
keys_runs="${LANTERN_STRESS_KEYS_RUNS:-10}"
[ -x "$lantern" ] || { echo "stress: no program at $lantern" >&2; exit 1; }
for tool in xvfb-run xwininfo setsid; do
  command -v "$tool" >/dev/null || { echo "stress: $tool is not installed" >&2; exit 1; }
done

work="$(mktemp -d /tmp/lantern-stress.XXXXXX)"
load_groups=()
stop_load() {
  local group
  for group in "${load_groups[@]}"; do kill -- "-$group" 2>/dev/null; done
  wait 2>/dev/null
  load_groups=()
}
trap 'stop_load; rm -rf "$work"' EXIT

# Each load runs in its own process group, so that stopping it also stops
# what it started (xvfb-run, Xvfb, the program).
start_load() {
  setsid bash -c "$1" >/dev/null 2>&1 &
  load_groups+=($!)
}
start_load 'exec yes >/dev/null'
start_load "while :; do dd if=/dev/zero of='$work/disk' bs=1M count=300 conv=fsync status=none; done"
mkdir -p "$work/background"
start_load "n=0; while :; do n=\$((n + 1));
  if bash '$root/tests/scripts/xvfb_keys.sh' '$build' >'$work/background/run' 2>&1;
  then echo pass >>'$work/background/results';
  else echo fail >>'$work/background/results'; cp '$work/background/run' '$work/background/failed-'\$n; fi; done"

began=$(date +%s)

# ---- The live program started and ended -------------------------------------------
cat >"$work/starts.sh" <<'STARTS'
set -uo pipefail
lantern="$1"; work="$2"; starts="$3"
unset SDL_VIDEODRIVER WAYLAND_DISPLAY
title='"lantern from kestrel":'
shown() { xwininfo -root -children 2>/dev/null | grep -qF "$title"; }
failed=0
retried=0
for n in $(seq "$starts"); do
  # The previous window is gone before the next start is judged.
  for _ in $(seq 50); do shown || break; sleep 0.1; done
  if shown; then echo "start $n: the previous window is still there"; exit 1; fi
  LANTERN_FULLSCREEN=no "$lantern" >/dev/null 2>"$work/start.err" &
  pid=$!
  ok=0
  for _ in $(seq 150); do  # up to 15 s for the window
    if shown; then ok=1; break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if [ "$ok" -eq 0 ]; then
    failed=$((failed + 1))
    echo "start $n: no window within 15 s; stderr:"
    grep -v '^ALSA lib' "$work/start.err" | sed 's/^/  /'
  elif grep -q 'started on try' "$work/start.err"; then
    retried=$((retried + 1))
    echo "start $n: $(grep 'started on try' "$work/start.err")"
  fi
  [ $((n % 10)) -eq 0 ] && echo "$n started, $failed failed ($(date +%T))"
done
echo "starts: $starts tried, $failed failed, $retried reached the display on a later try"
[ "$failed" -eq 0 ]
STARTS

echo "== $starts starts of the live program"
xvfb-run -a -s "-screen 0 640x480x24" bash "$work/starts.sh" "$lantern" "$work" "$starts" |
  tee "$work/starts.log"
starts_status=${PIPESTATUS[0]}
starts_took=$(( $(date +%s) - began ))

# ---- xvfb_keys.sh in a row ---------------------------------------------------------
echo "== xvfb_keys.sh $keys_runs times in a row"
keys_began=$(date +%s)
passed=0
for n in $(seq "$keys_runs"); do
  run_began=$(date +%s)
  if bash "$root/tests/scripts/xvfb_keys.sh" "$build" >"$work/keys.log" 2>&1; then
    passed=$((passed + 1))
    echo "run $n: PASS ($(( $(date +%s) - run_began )) s)"
  else
    echo "run $n: FAIL ($(( $(date +%s) - run_began )) s)"
    tail -30 "$work/keys.log" | sed 's/^/  /'
  fi
done
keys_took=$(( $(date +%s) - keys_began ))
stop_load

background_pass=$(grep -c pass "$work/background/results" 2>/dev/null)
background_fail=$(grep -c fail "$work/background/results" 2>/dev/null)
for f in "$work"/background/failed-*; do
  [ -f "$f" ] || continue
  echo "background xvfb_keys.sh run ${f##*-} failed:"
  tail -20 "$f" | sed 's/^/  /'
done

echo
echo "starts: $(grep -o '[0-9]* tried, .*' "$work/starts.log" || echo 'did not finish'), $starts_took s"
echo "xvfb_keys.sh: $passed of $keys_runs passed, $keys_took s"
echo "background xvfb_keys.sh (load): ${background_pass:-0} passed, ${background_fail:-0} failed (the run cut short at the end not counted)"
echo "total: $(( $(date +%s) - began )) s"
[ "$starts_status" -eq 0 ] && [ "$passed" -eq "$keys_runs" ]
