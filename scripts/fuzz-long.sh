#!/usr/bin/env bash
# A long fuzzing campaign for one target: a fixed number of runs from the
# kept corpus and the seeds, then the kept corpus in fuzz/corpus/TARGET
# replaced by a minimised merge of itself and what the campaign found.
# Prints the runs, the time, the coverage at the end and the kept corpus.
#   usage: bash scripts/fuzz-long.sh TARGET RUNS [BUILD_DIR]
#   TARGET: mesh, targa or scenes; the scenes target damages BUILD_DIR/data
#   (default build). Builds build-fuzz first, as tests/scripts/fuzz_short.sh does.
# Runs under nice -n 19; a crash stops the campaign and leaves the input
# under build-fuzz/artifacts.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
target=${1:?usage: fuzz-long.sh TARGET RUNS [BUILD_DIR]}
runs=${2:?usage: fuzz-long.sh TARGET RUNS [BUILD_DIR]}
data="$(cd "${3:-$root/build}" && pwd)/data"
out=$root/build-fuzz
kept=$root/fuzz/corpus/$target

if [ ! -f "$out/CMakeCache.txt" ]; then
  generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S "$root/fuzz" -B "$out" "${generator[@]}" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$out" -j2 >/dev/null

work=$(mktemp -d /tmp/lantern-fuzz-long-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/run" "$work/found" "$work/merged" "$kept" "$out/artifacts"
# The campaign's new inputs go to a scratch corpus; the kept one is only read.
start=$(date +%s)
LANTERN_FUZZ_DIR=$work/run LANTERN_FUZZ_DATA=$data nice -n 19 "$out/fuzz_$target" -runs="$runs" \
  -close_fd_mask=2 -max_len=8192 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$out/artifacts/$target-" "$work/found" "$kept" "$root/fuzz/seeds/$target" \
  >"$work/log" 2>&1 || { tail -n 60 "$work/log" >&2; echo "fuzz-long: fuzz_$target failed" >&2; exit 1; }
seconds=$(( $(date +%s) - start ))
grep -E "^#[0-9]+[[:space:]]+DONE" "$work/log" | tail -n 1
grep -E "^stat::(number_of_executed_units|average_exec_per_sec)" "$work/log"
echo "fuzz-long: fuzz_$target ran $runs runs in $seconds s"

# Minimised merge: only inputs that add coverage to those already taken.
LANTERN_FUZZ_DIR=$work/run LANTERN_FUZZ_DATA=$data nice -n 19 "$out/fuzz_$target" -merge=1 -close_fd_mask=2 \
  -max_len=8192 -rss_limit_mb=2048 "$work/merged" "$kept" "$work/found" >"$work/merge.log" 2>&1
rm -rf "$kept"
mkdir -p "$kept"
cp "$work/merged"/* "$kept"/
echo "fuzz-long: fuzz/corpus/$target keeps $(ls "$kept" | wc -l) inputs, $(du -sb "$kept" | cut -f1) bytes"
