#!/usr/bin/env bash
# The picture's offset from the music as heard, and the music's gaps, for one
# build of the show, through a private PulseAudio server and a private X
# server, with the sink at 44.1 kHz and at 48 kHz: idle, with every core
# busy (one busy loop per core), and started on an idle sink.
#
#   bash bench/sync.sh [--seconds N] [--from ORDER[:ROW]] [--idle] [--busy] [--start]
#                      [--rate HZ] [--build DIR] TARGET
#
# TARGET is one of bench/sync/*.sh (linux, and the others' builds where they
# exist). --idle, --busy and --start pick the runs (all three unless one is
# named), --rate one of the rates (44100 and 48000 unless named). The start
# run plays a second of sound at 48 kHz, leaves the sink idle for a second,
# launches the show and only then, a second after the launch, starts the
# meter (its markers and its reading of the monitor): it reports when the
# song was first heard after the launch and what went missing after that.
# Each run has a fresh server. Prints the meter's figures per run;
# recordings stay in build/sync-runs/TARGET-RUN-RATE.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds=60
from=0
runs=()
rates=()
build="$root/build"
target=""
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --from) from="$2"; shift 2 ;;
    --idle|--busy|--start) runs+=("${1#--}"); shift ;;
    --rate) rates+=("$2"); shift 2 ;;
    --build) build="$(cd "$2" && pwd)"; shift 2 ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) target="$1"; shift ;;
  esac
done
[ ${#runs[@]} -gt 0 ] || runs=(idle busy start)
[ ${#rates[@]} -gt 0 ] || rates=(44100 48000)
if [ -z "$target" ] || [ ! -f "$root/bench/sync/$target.sh" ]; then
  echo "bench/sync.sh: name a target: $(cd "$root/bench/sync" && ls | grep -v '^lib' | sed 's/\.sh$//' | tr '\n' ' ')" >&2
  exit 2
fi
[ -x "$build/lantern-sync-meter" ] || { echo "bench/sync.sh: build first (./test or ./run): no $build/lantern-sync-meter" >&2; exit 1; }

source "$root/bench/sync/lib.sh"
source "$root/bench/sync/$target.sh"
work="$(mktemp -d /tmp/lantern-sync.XXXXXX)"
trap 'sync_stop_all; rm -rf "$work"' EXIT
SYNC_RATE="${rates[0]}"
sync_start_servers "$work"
# A target may prepare once what its runs share (e.g. a Wine prefix).
if declare -F sync_prepare >/dev/null; then sync_prepare "$build"; fi

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); target $target, $seconds s from $from"
for SYNC_RATE in "${rates[@]}"; do
  for run in "${runs[@]}"; do
    out="$build/sync-runs/$target-$run-$SYNC_RATE"
    rm -rf "$out"
    mkdir -p "$out"
    sync_restart_pulse
    [ "$run" = busy ] && sync_busy_start
    echo "== $target, $run, sink at $SYNC_RATE Hz (load average before: $(cut -d' ' -f1-3 /proc/loadavg))"
    if [ "$run" = start ]; then
      sync_measure_start "$build" "$seconds" "$from" "$out" sync_launch sync_stop
    else
      sync_measure "$build" "$seconds" "$from" "$out" sync_launch sync_stop
    fi
    sync_busy_stop
  done
done
