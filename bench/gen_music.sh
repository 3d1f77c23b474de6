#!/usr/bin/env bash
# Times the song generator (lantern-gen-music): best of five runs, one line.
# usage: bash bench/gen_music.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=${1:-build}
exe="$build/lantern-gen-music"
[ -x "$exe" ] || { echo "gen_music: $exe not built" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
best=""
for _ in 1 2 3 4 5; do
  t0=${EPOCHREALTIME/[.,]/}
  "$exe" --out "$out"
  t1=${EPOCHREALTIME/[.,]/}
  t=$((t1 - t0))
  if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
done
size=$(stat -c %s "$out/TRK-MAIN.mo3")
printf 'gen_music: TRK-MAIN.mo3 (%d bytes) generated in %d.%03d s (best of 5)\n' "$size" $((best / 1000000)) $((best / 1000 % 1000))
