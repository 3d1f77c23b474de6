#!/usr/bin/env bash
# The Linux program and the Windows build under Wine, side by side on one
# Xvfb in one run: time to first frame (as the program reports it from the
# start of main, and from launch, which under Wine includes Wine's own
# start-up) and frames per second over the first seconds of the show; and
# the Windows zip's size. Runs alternate between the two programs, so both
# see the same machine load. Prints rows for the README's benchmark table.
#
# usage: bash bench/windows.sh [BUILD_DIR]   (default: build; the Windows
#        build must exist: scripts/build-windows.sh)
# env:   BENCH_SECONDS=N  seconds of show per run (default 20)
#        BENCH_RUNS=N     runs of each program (default 3)
set -uo pipefail

# Everything runs on an Xvfb screen of its own.
if [ -z "${LANTERN_BENCH_XVFB:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" env LANTERN_BENCH_XVFB=1 bash "$0" "$@"
fi

build=$(cd "${1:-build}" && pwd) || { echo "bench: no build directory" >&2; exit 1; }
root=$(cd "$(dirname "$0")/.." && pwd)
zip="$root/build-windows/lantern-windows.zip"
seconds=${BENCH_SECONDS:-20}
runs=${BENCH_RUNS:-3}
wine="$(command -v wine64 || echo /usr/lib/wine/wine64)"
[ -x "$build/lantern" ] || { echo "bench: $build/lantern is not built" >&2; exit 1; }
[ -f "$zip" ] || { echo "bench: no $zip (scripts/build-windows.sh makes it)" >&2; exit 1; }

scratch=$(mktemp -d /tmp/lantern-bench-windows.XXXXXX)
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  [ -d "$WINEPREFIX" ] && wineserver -k 2> /dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
note() { echo "bench: $*" >&2; }
now() { echo "${EPOCHREALTIME/,/.}"; }
median() { sort -n | awk '{v[NR] = $1} END {if (NR) print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }

unzip -q "$zip" -d "$scratch/app"
note "Wine prefix"
"$wine" wineboot -i > /dev/null 2>&1
# A Windows process that waits for the whole run: when the last one ends,
# Wine stops its services and desktop, and the next program's first window
# then waits 10 s for them to start again (RpcSs).
mkfifo "$scratch/hold"
exec 8<> "$scratch/hold"
"$wine" cmd.exe /c pause < "$scratch/hold" > /dev/null 2>&1 &

# One run: the program with LANTERN_TIMING=1 in a window for $seconds of
# show, then ended (Escape for Wine's window, SIGINT, which SDL turns into a
# close, for the Linux one). Prints "program_ms launch_ms fps".
RunOnce() {
  local kind=$1 err="$scratch/$1.err" pid t0 t1="" ms="" fps=""
  : > "$err"
  t0=$(now)
  if [ "$kind" = linux ]; then
    (cd "$scratch" && LANTERN_TIMING=1 LANTERN_FULLSCREEN=no exec "$build/lantern" > /dev/null 2> "$err") &
  else
    (cd "$scratch" && LANTERN_TIMING=1 LANTERN_FULLSCREEN=no exec "$wine" "$scratch/app/lantern/lantern.exe" > /dev/null 2> "$err") &
  fi
  pid=$!
  for _ in $(seq 600); do
    ms=$(sed -n 's/.*first frame after \([0-9]*\) ms.*/\1/p' "$err" | head -n1)
    [ -n "$ms" ] && { t1=$(now); break; }
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  sleep "$seconds"
  if [ "$kind" = linux ]; then
    kill -INT "$pid" 2> /dev/null
  else
    local window
    window=$(xwininfo -root -children | awk '/"lantern from kestrel":/ {print $1; exit}')
    [ -n "$window" ] && xdotool key --window "$window" Escape
  fi
  for _ in $(seq 100); do
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2> /dev/null
  wait "$pid" 2> /dev/null
  fps=$(sed -n 's/.* frames in .* (\([0-9.]*\) fps).*/\1/p' "$err" | head -n1)
  [ -n "$ms" ] && [ -n "$t1" ] && [ -n "$fps" ] || { note "$kind run gave no timing: $(grep -av ALSA "$err" | tail -n2)"; return 1; }
  echo "$ms $(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%d", (b - a) * 1000}') $fps"
}

: > "$scratch/linux.txt"
: > "$scratch/wine.txt"
for run in $(seq "$runs"); do
  for kind in linux wine; do
    note "run $run of $runs: $kind, $seconds s of show"
    RunOnce "$kind" >> "$scratch/$kind.txt"
  done
done

Range() { sort -n | awk 'NR == 1 {lo = $1} {hi = $1} END {print lo "-" hi}'; }

Row() {  # label, file
  local n program launch fps
  n=$(grep -c . "$2")
  [ "$n" -gt 0 ] || { echo "| $1 | n/a | n/a |"; return; }
  program="$(cut -d' ' -f1 "$2" | median) ms ($(cut -d' ' -f1 "$2" | Range))"
  launch="$(cut -d' ' -f2 "$2" | median) ms"
  fps="$(cut -d' ' -f3 "$2" | median) fps ($(cut -d' ' -f3 "$2" | Range))"
  echo "| $1 | $program; $launch from launch | $fps |"
}

echo
echo "Machine: $(lscpu 2> /dev/null | sed -n 's/^Model name: *//p' | head -n1), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; medians (and ranges) of $runs runs of $seconds s"
echo
echo "| Program | Time to first frame | Frames per second (first $seconds s) |"
echo "|---|---|---|"
Row "Linux (SDL2, GLX)" "$scratch/linux.txt"
Row "Windows build under $("$wine" --version 2> /dev/null) (WGL)" "$scratch/wine.txt"
echo
echo "Windows zip: $(stat -c %s "$zip") bytes ($(awk -v b="$(stat -c %s "$zip")" 'BEGIN {printf "%.1f", b / 1048576}') MiB)"
