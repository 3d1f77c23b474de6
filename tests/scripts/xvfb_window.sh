#!/usr/bin/env bash
# The real program in a real X window under Xvfb: the full-screen question
# answered No (LANTERN_FULLSCREEN=no), a 640x480 window titled "lantern from
# kestrel", F1 (full screen on Xvfb's 640x480 screen), then Escape, and a
# prompt exit with code 0 once the clock thread has stopped.
# Usage: xvfb_window.sh BUILD_DIR
set -euo pipefail

build="$(cd "${1:?usage: xvfb_window.sh BUILD_DIR}" && pwd)"
lantern="$build/lantern"
for tool in xvfb-run xdotool xwininfo; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
[ -x "$lantern" ] || { echo "FAIL: no program at $lantern"; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat >"$work/inside.sh" <<'INSIDE'
set -uo pipefail
lantern="$1"
build="$2"
work="$3"
unset SDL_VIDEODRIVER WAYLAND_DISPLAY
cd "$work"  # not the data directory: the program finds its data itself

LANTERN_FULLSCREEN=no "$lantern" >"$work/out" 2>"$work/err" &
pid=$!

fail() {
  echo "FAIL: $*"
  grep -v 'cannot open' "$work/err" | tail -20
  kill "$pid" 2>/dev/null
  exit 1
}

size_of() {
  xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'
}

# Any window with the title, other than $1.
window_other_than() {
  xdotool search --onlyvisible --name '^lantern from kestrel$' 2>/dev/null | grep -v "^$1\$" | head -1
}

first=""
for _ in $(seq 300); do
  first="$(window_other_than none)"
  [ -n "$first" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended before its window appeared"
  sleep 0.1
done
[ -n "$first" ] || fail "no window titled 'lantern from kestrel' within 30 s"
size="$(size_of "$first")"
[ "$size" = "640x480" ] || fail "window is $size, not 640x480"
echo "window $first: $size"

if [ -f "$build/data/TRK-MAIN.mo3" ] || [ -f "$build/data/loading.tga" ]; then
  cwd="$(readlink "/proc/$pid/cwd")"
  [ "$cwd" = "$build/data" ] || fail "working directory is $cwd, not $build/data"
  echo "data directory: $cwd"
fi

# A key held for a while, as a person presses it: a press and release that
# both wait in the queue for the same pass cancel out before the loop looks.
press() {
  xdotool windowfocus --sync "$1" keydown "$2"
  sleep 0.3
  xdotool keyup "$2"
}

sleep 1
press "$first" F1

second=""
for _ in $(seq 300); do
  second="$(window_other_than "$first")"
  [ -n "$second" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended after F1"
  sleep 0.1
done
[ -n "$second" ] || fail "no new window after F1 within 30 s"
size="$(size_of "$second")"
[ "$size" = "640x480" ] || fail "window after F1 is $size, not 640x480"
echo "window after F1 $second: $size"

# Let the reloading finish, then Escape.
sleep 3
kill -0 "$pid" 2>/dev/null || fail "the program ended before Escape"
start=$(date +%s%N)
press "$second" Escape
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "still running 10 s after Escape"
wait "$pid"
rc=$?
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
echo "exited $elapsed ms after Escape with code $rc"
[ "$rc" -eq 0 ] || fail "exit code $rc"
if grep -E '^(ERROR|SHUTDOWN ERROR|lantern by kestrel):' "$work/err"; then
  fail "a box was shown"
fi
echo "PASS"
INSIDE

# -noreset: Xvfb would otherwise start afresh whenever its last client
# leaves, dropping whoever connects just then; -r: no auto-repeat, so a
# held key is one press however busy the machine (see xvfb_keys.sh).
xvfb-run -a -s "-screen 0 640x480x24 -noreset -r" bash "$work/inside.sh" "$lantern" "$build" "$work"
