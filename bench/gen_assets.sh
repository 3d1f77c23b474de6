#!/usr/bin/env bash
# Times lantern-gen-assets writing the whole picture and mesh set (best of
# three runs into a scratch directory). Usage: bench/gen_assets.sh [BUILD_DIR]
set -euo pipefail
build="${1:-build}"
tool="$build/lantern-gen-assets"
[ -x "$tool" ] || { echo "gen_assets: $tool not built" >&2; exit 1; }
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
best=""
for _ in 1 2 3; do
  start=$(date +%s.%N)
  "$tool" --out "$out" > /dev/null
  end=$(date +%s.%N)
  t=$(echo "$end - $start" | bc -l)
  if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
done
files=$(ls "$out" | wc -l)
bytes=$(du -sb "$out" | cut -f1)
printf 'gen_assets: %d files (%.1f MB) generated in %.2f s (best of 3, %d cores)\n' "$files" "$(echo "$bytes / 1048576" | bc -l)" "$best" "$(nproc)"
