#!/usr/bin/env bash
# The browser build's benchmark rows, in the README table's form: the
# download (raw, and gzip -9 per file as a compressing server sends it),
# time to first frame and frames per second in each engine as the browser
# checks start it (headless Chromium on SwiftShader; Firefox ESR and
# WebKitGTK in a window on Xvfb, WebGL on llvmpipe; all playing into a
# private PulseAudio server), beside the native program on llvmpipe in the
# same run (first frame of the live program under Xvfb; frames per second
# of lantern-capture --stats, which draws unpaced, for the same scenes).
#
# usage: bash bench/web.sh [BUILD_DIR]   (default: build; needs build-web/site)
# env:   BENCH_WEB_RUNS=N (starts per first-frame median, default 3)
#        BENCH_WEB_SECONDS=N (seconds per frame-rate stretch, default 10)
#        BENCH_WEB_ENGINES="chromium firefox webkit" (the default)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
site="$root/build-web/site"
[ -f "$site/lantern.wasm" ] || { echo "bench/web.sh: no web folder; run scripts/build-web.sh" >&2; exit 1; }
driver="$root/build-web/web-test"
if ! cmp -s "$root/tests/web/package-lock.json" "$driver/package-lock.json" ||
  [ ! -f "$driver/node_modules/puppeteer-core/package.json" ]; then
  mkdir -p "$driver"
  cp "$root/tests/web/package.json" "$root/tests/web/package-lock.json" "$driver/"
  (cd "$driver" && npm ci --no-audit --no-fund --loglevel=error)
fi
scratch=$(mktemp -d)
source "$root/tests/web/servers.sh"
cleanup() { lantern_web_servers_stop; rm -rf "$scratch"; }
trap cleanup EXIT
lantern_web_servers_start bench-web yes
engines=(${BENCH_WEB_ENGINES:-chromium firefox webkit})

row() { echo "| $1 | $2 | $3 |"; }

# Download.
raw=$(du -sb "$site" | cut -f1)
gz=0
while IFS= read -r -d '' file; do
  gz=$((gz + $(gzip -9 -c "$file" | wc -c)))
done < <(find "$site" -type f -print0)
wasmGz=$(gzip -9 -c "$site/lantern.wasm" | wc -c)
wasmRaw=$(stat -c %s "$site/lantern.wasm")
files=$(find "$site" -type f | wc -l)

# Browsers.
for engine in "${engines[@]}"; do
  echo "bench/web.sh: $engine runs" >&2
  LANTERN_WEB_SITE="$site" LANTERN_BUILD_DIR="$build" LANTERN_WEB_DRIVER="$driver" LANTERN_WEB_ENGINE="$engine" \
    node "$root/bench/web_bench.mjs" >"$scratch/$engine.json"
done
web() { node -e "const r=require('$scratch/$1.json'); console.log($2)"; }

# Native: first frame under the same Xvfb, median of three.
echo "bench/web.sh: native runs" >&2
display="$DISPLAY"
nativeFirst=()
for _ in 1 2 3; do
  : >"$scratch/first.err"
  (cd "$build" && exec env DISPLAY="$display" LANTERN_TIMING=1 LANTERN_FULLSCREEN=no ./lantern \
    2>"$scratch/first.err" >/dev/null) &
  pid=$!
  for _ in $(seq 150); do
    grep -q 'first frame after' "$scratch/first.err" && break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
  nativeFirst+=("$(sed -n 's/.*first frame after \([0-9.]*\) ms.*/\1/p' "$scratch/first.err" | head -n1)")
done
nativeFirstMedian=$(printf '%s\n' "${nativeFirst[@]}" | sort -n | sed -n 2p)
# Native frame rate: lantern-capture's unpaced drawing of scenes 1 to 4 (order 8).
"$build/lantern-capture" --stats --quiet --to 8 >"$scratch/stats.txt" 2>/dev/null
nativeFps() { awk -v s="$1" '$1 == s && $3 > 0 { printf "%.0f", 1000 / $3 }' "$scratch/stats.txt"; }

row "Web download: page, script, lantern.wasm and $((files - 6)) data files" \
  "$(awk "BEGIN{printf \"%.1f\", $raw/1e6}") MB raw; $(awk "BEGIN{printf \"%.1f\", $gz/1e6}") MB with gzip -9 per file (lantern.wasm $(awk "BEGIN{printf \"%.2f\", $wasmRaw/1e6}") MB, $(awk "BEGIN{printf \"%.2f\", $wasmGz/1e6}") MB gzipped)" "< 8 MB compressed"
declare -A engineName=([chromium]="headless Chromium on SwiftShader" [firefox]="Firefox ESR on Xvfb, llvmpipe" [webkit]="WebKitGTK MiniBrowser on Xvfb, llvmpipe")
for engine in "${engines[@]}"; do
  row "Web time to first frame, ${engineName[$engine]}: page opened / answer given to first show frame" \
    "$(web "$engine" 'r.firstFrameMedianMs.toFixed(0)') ms / $(web "$engine" 'r.answerToFirstFrameMedianMs.toFixed(0)') ms (median of $(web "$engine" 'r.firstFrameMs.length')); native program on llvmpipe under Xvfb in the same run: ${nativeFirstMedian} ms" "–"
  row "Web frames per second, ${engineName[$engine]}, scene 1 / scene 4, paced by the browser's animation frames" \
    "$(web "$engine" 'r.paced.scene1.fps.toFixed(1)') / $(web "$engine" 'r.paced.scene4.fps.toFixed(1)')" "60"
done
if [ -f "$scratch/chromium.json" ]; then
  row "Web frames per second unpaced, headless Chromium, scene 1 / scene 4, beside native llvmpipe drawing unpaced in the same run" \
    "$(web chromium 'r.unpaced.scene1.fps.toFixed(0)') / $(web chromium 'r.unpaced.scene4.fps.toFixed(1)'); native $(nativeFps 1) / $(nativeFps 4)" "–"
fi
echo "load: $(uptime | sed 's/.*load average: //')"
