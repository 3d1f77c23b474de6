#!/usr/bin/env bash
# LANTERN_FROM in the real program under Xvfb: started at order 29, row 40,
# the first frame shown is the last scene (the orange sky of the field, not
# the blue dusk of the first scene), and the show then ends by itself at
# order 30, row 63 with exit code 0, no sooner than the music can play the
# 87 rows in between (10.44 s): the time from the program's start to its end,
# less the time to its first frame that it reports itself, is at least 10 s.
# Usage: xvfb_lantern_from.sh BUILD_DIR
set -euo pipefail

build="$(cd "${1:?usage: xvfb_lantern_from.sh BUILD_DIR}" && pwd)"
lantern="$build/lantern"
for tool in xvfb-run import convert; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
[ -x "$lantern" ] || { echo "FAIL: no program at $lantern"; exit 1; }

work="$(mktemp -d /tmp/lantern-from-test.XXXXXX)"
trap 'rm -rf "$work"' EXIT

cat >"$work/inside.sh" <<'INSIDE'
set -uo pipefail
lantern="$1"
work="$2"
unset SDL_VIDEODRIVER WAYLAND_DISPLAY
cd "$work"
launch=$(date +%s%N)
LANTERN_FROM=29:40 LANTERN_FULLSCREEN=no LANTERN_TIMING=1 "$lantern" >"$work/out" 2>"$work/err" &
pid=$!

fail() {
  echo "FAIL: $*"
  grep -v 'ALSA lib' "$work/err" | tail -20
  kill "$pid" 2>/dev/null
  exit 1
}

# The first frame comes once the show has been simulated up to order 29.
for _ in $(seq 1200); do
  grep -q 'first frame after' "$work/err" && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended before its first frame"
  sleep 0.1
done
grep -q 'first frame after' "$work/err" || fail "no first frame within 120 s"
first_ms="$(sed -n 's/^lantern: first frame after \([0-9]*\) ms$/\1/p' "$work/err")"
echo "first frame after $first_ms ms"
grep -q 'cannot start the show' "$work/err" && fail "the start position was refused"

sleep 0.5
import -window root "$work/shot.png" 2>/dev/null || fail "cannot take a screenshot"
# The sky above the field, left of the sun's picture.
read -r r g b < <(convert "$work/shot.png" -crop 1x1+40+60 -depth 8 txt:- |
  sed -n 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p')
echo "sky at (40, 60): $r $g $b"
[ "${r:-0}" -gt 120 ] && [ "$r" -gt $((2 * ${b:-255})) ] || fail "not the orange sky of the last scene"

for _ in $(seq 600); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the show did not end by itself within 60 s of its first frame"
wait "$pid"
rc=$?
# Both ends of this span can only be late, never early.
elapsed=$(( ($(date +%s%N) - launch) / 1000000 - first_ms ))
echo "ended by itself $elapsed ms after the first frame, exit code $rc"
[ "$rc" -eq 0 ] || fail "exit code $rc"
[ "$elapsed" -ge 10000 ] || fail "ended after $elapsed ms: sooner than the music from order 29, row 40 allows"
echo "PASS"
INSIDE

xvfb-run -a -s "-screen 0 640x480x24 -noreset" bash "$work/inside.sh" "$lantern" "$work"
