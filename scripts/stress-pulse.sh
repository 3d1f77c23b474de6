#!/usr/bin/env bash
# The sound-device checks many times in a row with every core busy (one busy
# loop per core, as bench/sync/lib.sh makes them): tests/scripts/pulse_device.sh
# (all its cases, or those named) LANTERN_STRESS_RUNS times (10), then per
# case the runs passed and the spread of its figures. Each run's output is
# kept in the work folder, which is named at the end, and its recordings in
# the folder its output names last.
#   usage: bash scripts/stress-pulse.sh [BUILD_DIR] [CASE...]
#   LANTERN_STRESS_IDLE=1 runs without the busy loops.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
shift || true
runs="${LANTERN_STRESS_RUNS:-10}"
source "$root/bench/sync/lib.sh"
work="$(mktemp -d /tmp/lantern-stress-pulse.XXXXXX)"
trap 'sync_busy_stop' EXIT
[ -n "${LANTERN_STRESS_IDLE:-}" ] || sync_busy_start

for run in $(seq "$runs"); do
  PULSE_DEVICE_KEEP=1 bash "$root/tests/scripts/pulse_device.sh" "$build" "$@" >"$work/run-$run.txt" 2>&1
  echo "run $run: $(grep -E '^(ok|FAIL) \(' "$work/run-$run.txt" | tr '\n' ' ')"
done
sync_busy_stop

# Per case: passes, and the lowest and highest of each figure.
cat "$work"/run-*.txt | awk '
  /^ok \(/ { sub(/^ok \(/, ""); sub(/\).*/, ""); passed[$0]++ }
  /^figures \(/ {
    name = $2; gsub(/[():]/, "", name); runs[name]++
    n = split($0, part, ", ")
    for (i = 1; i <= n; i++) {
      k = split(part[i], word, " ")
      label = word[1]; value = word[2]
      if (label == "figures") { label = word[3]; value = word[4] }
      key = name SUBSEP label
      if (!(key in low) || value + 0 < low[key]) low[key] = value + 0
      if (!(key in high) || value + 0 > high[key]) high[key] = value + 0
    }
  }
  END {
    split("heard s offset ms missing ms skipped ms late ms load -", figure, " ")
    for (name in runs) {
      line = sprintf("%s: %d of %d passed;", name, passed[name], runs[name])
      for (i = 1; i < 12; i += 2) {
        key = name SUBSEP figure[i]
        unit = figure[i + 1] == "-" ? "" : " " figure[i + 1]
        line = line sprintf(" %s %g to %g%s,", figure[i], low[key], high[key], unit)
      }
      print line
    }
  }'
echo "runs kept in $work"
