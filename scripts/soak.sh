#!/usr/bin/env bash
# Soak run: the live program plays the whole show twice in a row in a real
# window under Xvfb, untouched. Each run must end by itself (the show's end
# at order 30, row 63) with exit code 0, after about the song's length, and
# the second run's peak memory must not exceed the first's by more than 5%.
# Prints each run's time, peak and late RSS, and the thread count.
#   usage: bash scripts/soak.sh [BUILD_DIR]   (default build; about 8.5 minutes)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
lantern="$build/lantern"
data="$build/data"
[ -x "$lantern" ] || { echo "soak: no program at $lantern" >&2; exit 1; }
[ -f "$data/TRK-MAIN.mo3" ] || { echo "soak: no show data in $data" >&2; exit 1; }
for tool in xvfb-run openmpt123; do
  command -v "$tool" >/dev/null || { echo "soak: $tool is not installed" >&2; exit 1; }
done

# The song's length: the show ends on its last row.
song=$(openmpt123 --info "$data/TRK-MAIN.mo3" 2>/dev/null |
       awk -F'[.:]+' '/^Duration/ {print $2 * 60 + $3}')
[ -n "$song" ] || { echo "soak: cannot read the song's length" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat >"$work/inside.sh" <<'INSIDE'
set -uo pipefail
lantern="$1"; work="$2"; song="$3"
unset SDL_VIDEODRIVER WAYLAND_DISPLAY
status=0
for run in 1 2; do
  start=$(date +%s)
  LANTERN_FULLSCREEN=no "$lantern" >"$work/out$run" 2>"$work/err$run" &
  pid=$!
  peak=0; late=0; threads=0; rss_early=0
  limit=$(( song + 90 ))
  while kill -0 "$pid" 2>/dev/null; do
    elapsed=$(( $(date +%s) - start ))
    if [ "$elapsed" -gt "$limit" ]; then
      echo "run $run: still running after $elapsed s; stopped"
      kill -9 "$pid"
      status=1
      break
    fi
    hwm=$(awk '/^VmHWM:/ {print $2}' /proc/$pid/status 2>/dev/null || echo 0)
    rss=$(awk '/^VmRSS:/ {print $2}' /proc/$pid/status 2>/dev/null || echo 0)
    [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
    if [ -n "$rss" ] && [ "$rss" -gt 0 ]; then
      [ "$elapsed" -ge 30 ] && [ "$rss_early" -eq 0 ] && rss_early=$rss
      late=$rss
      threads=$(ls /proc/$pid/task 2>/dev/null | wc -l)
    fi
    sleep 1
  done
  rc=0
  wait "$pid" || rc=$?
  took=$(( $(date +%s) - start ))
  echo "run $run: exit code $rc after $took s (song $song s); peak RSS $peak kB;" \
       "RSS $rss_early kB at 30 s, $late kB at the end; $threads threads"
  echo "$peak" >"$work/peak$run"
  if [ "$rc" -ne 0 ]; then status=1; echo "run $run: exit code $rc"; fi
  # Ending by itself means at the song's last row: not before the song's
  # length (less the start-up) and not long after it.
  if [ "$took" -lt $(( song - 5 )) ] || [ "$took" -gt $(( song + 30 )) ]; then
    status=1
    echo "run $run: ended after $took s, not at the end of the $song s song"
  fi
  if grep -E '^(ERROR|SHUTDOWN ERROR|lantern by kestrel):|lantern:' "$work/err$run" | grep -v 'no audio device'; then
    status=1
    echo "run $run: reported something on stderr"
  fi
done
exit $status
INSIDE

status=0
xvfb-run -a -s "-screen 0 640x480x24" bash "$work/inside.sh" "$lantern" "$work" "$song" || status=1
if [ -f "$work/peak1" ] && [ -f "$work/peak2" ]; then
  peak1=$(cat "$work/peak1"); peak2=$(cat "$work/peak2")
  if [ $(( peak2 * 100 )) -gt $(( peak1 * 105 )) ]; then
    echo "soak: peak memory grew from $peak1 kB to $peak2 kB"
    status=1
  fi
fi
if [ "$status" -eq 0 ]; then echo "soak: PASS"; else echo "soak: FAIL"; fi
exit $status
