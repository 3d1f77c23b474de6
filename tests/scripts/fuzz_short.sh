#!/usr/bin/env bash
# Builds the libFuzzer targets (the Targa and mesh readers, and the start-up
# and frames of all scenes from a damaged data set) with clang into
# build-fuzz beside the sources (once; later runs only rebuild what changed)
# and runs each for a short while, starting from the corpora kept in
# fuzz/corpus (grown by long runs, minimised) and the hand-made inputs in
# fuzz/seeds. A crash or failed check fails the test and leaves the input
# under build-fuzz/artifacts; new inputs go to build-fuzz/corpus.
#   usage: fuzz_short.sh BUILD_DIR   (the scenes target damages copies of BUILD_DIR/data)
#   LANTERN_FUZZ_SECONDS sets the time per target (default 20);
#   LANTERN_FUZZ_TARGETS the targets (default "mesh targa scenes").
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
out=$src/build-fuzz
seconds=${LANTERN_FUZZ_SECONDS:-20}
targets=${LANTERN_FUZZ_TARGETS:-mesh targa scenes}
data="$(cd "${1:-$src/build}" 2>/dev/null && pwd)/data"

if ! command -v clang++ >/dev/null; then
  echo "fuzz_short: clang++ is missing (Debian package clang); the fuzz targets need it" >&2
  exit 1
fi

if [ ! -f "$out/CMakeCache.txt" ]; then
  generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S "$src/fuzz" -B "$out" "${generator[@]}" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$out" -j2

work=$(mktemp -d /tmp/lantern-fuzz-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out/artifacts"

status=0
for target in $targets; do
  if [ "$target" = scenes ] && [ ! -f "$data/loading.tga" ]; then
    echo "fuzz_short: no show data in $data for fuzz_scenes" >&2
    status=1
    continue
  fi
  corpus=$out/corpus/$target
  mkdir -p "$corpus"
  echo "fuzz_short: fuzz_$target for ${seconds}s"
  # -close_fd_mask=2 silences the readers' reports; libFuzzer and the
  # sanitizers still print theirs.
  log=$work/$target.log
  rc=0
  mkdir -p "$work/$target"
  LANTERN_FUZZ_DIR=$work/$target LANTERN_FUZZ_DATA=$data "$out/fuzz_$target" -max_total_time="$seconds" -close_fd_mask=2 \
    -max_len=8192 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/$target-" "$corpus" "$src/fuzz/corpus/$target" "$src/fuzz/seeds/$target" \
    >"$log" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz_short: fuzz_$target failed (exit $rc)" >&2
    status=1
  else
    grep -E "^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added))" "$log" || true
  fi
done
exit $status
