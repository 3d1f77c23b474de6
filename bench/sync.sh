#!/usr/bin/env bash
# The picture's offset from the music as heard, and the music's gaps, for one
# build of the show, through a private PulseAudio server and a private X
# server: idle, then with every core busy (one busy loop per core).
#
#   bash bench/sync.sh [--seconds N] [--from ORDER[:ROW]] [--idle|--busy] [--build DIR] TARGET
#
# TARGET is one of bench/sync/*.sh (linux, and the others' builds where they
# exist). Prints the meter's figures per run; recordings stay in
# build/sync-runs/TARGET-{idle,busy}.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds=60
from=0
loads=(idle busy)
build="$root/build"
target=""
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --from) from="$2"; shift 2 ;;
    --idle) loads=(idle); shift ;;
    --busy) loads=(busy); shift ;;
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) target="$1"; shift ;;
  esac
done
if [ -z "$target" ] || [ ! -f "$root/bench/sync/$target.sh" ]; then
  echo "bench/sync.sh: name a target: $(cd "$root/bench/sync" && ls | grep -v '^lib' | sed 's/\.sh$//' | tr '\n' ' ')" >&2
  exit 2
fi
[ -x "$build/lantern-sync-meter" ] || { echo "bench/sync.sh: build first (./test or ./run): no $build/lantern-sync-meter" >&2; exit 1; }

source "$root/bench/sync/lib.sh"
source "$root/bench/sync/$target.sh"
work="$(mktemp -d /tmp/lantern-sync.XXXXXX)"
trap 'sync_stop_all; rm -rf "$work"' EXIT
sync_start_servers "$work"
# A target may prepare once what its runs share (e.g. a Wine prefix).
if declare -F sync_prepare >/dev/null; then sync_prepare "$build"; fi

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); target $target, $seconds s from $from"
for load in "${loads[@]}"; do
  out="$build/sync-runs/$target-$load"
  rm -rf "$out"
  mkdir -p "$out"
  [ "$load" = busy ] && sync_busy_start
  echo "== $target, $load (load average before: $(cut -d' ' -f1-3 /proc/loadavg))"
  sync_measure "$build" "$seconds" "$from" "$out" sync_launch sync_stop
  sync_busy_stop
done
