#!/usr/bin/env bash
# Every benchmark of the project in one Markdown table: first frame, scene
# frame times, capture speed at 640x480, 1920x1080 and 3840x2160 beside the
# drawing alone, openmpt123 and x11grab, peak memory of the live program,
# and the generators' and loaders' own benchmarks.
#
# usage: bash bench/run.sh [BUILD_DIR]      (default: build)
# env:   BENCH_QUICK=1   shorter runs (orders 0-11 for capture speed at 640x480,
#                        order 0 at 1920x1080, 8 rows at 3840x2160, 15 fps for
#                        frame times, 60 s of the live show for memory)
#        BENCH_GRAB_SECONDS=N   length of the x11grab recording (default 20)
#        BENCH_ONLY=LIST        run only these sections, comma-separated:
#                               first, frames, capture, live, tools
set -uo pipefail

build=${1:-build}
build=$(cd "$build" && pwd) || { echo "bench: no build directory" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
capture="$build/lantern-capture"
lantern="$build/lantern"
data="$build/data"
quick=${BENCH_QUICK:-0}
grabSeconds=${BENCH_GRAB_SECONDS:-20}
scratch=$(mktemp -d)
xvfbPid=""
cleanup() {
  [ -n "$xvfbPid" ] && kill "$xvfbPid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

only=",${BENCH_ONLY:-first,frames,capture,live,tools},"
want() { [[ "$only" == *",$1,"* ]]; }
rows=()
row() { rows+=("| $1 | $2 | $3 |"); }
note() { echo "bench: $*" >&2; }
now() { echo "${EPOCHREALTIME/,/.}"; }
calc() { echo "$*" | bc -l; }
fmt() { printf "%.${2:-2}f" "$1"; }

[ -x "$capture" ] || { echo "bench: $capture is not built" >&2; exit 1; }
[ -f "$data/TRK-MAIN.mo3" ] || { echo "bench: no show data in $data" >&2; exit 1; }

# Starts Xvfb on a free display (640x480, as the live window) for the live runs.
StartXvfb() {
  [ -n "$xvfbPid" ] && return 0
  command -v Xvfb > /dev/null || return 1
  exec 7> "$scratch/display"
  Xvfb -displayfd 7 -screen 0 640x480x24 -noreset -nolisten tcp > /dev/null 2>&1 &
  xvfbPid=$!
  exec 7>&-
  for _ in $(seq 50); do
    [ -s "$scratch/display" ] && break
    sleep 0.1
  done
  [ -s "$scratch/display" ] || return 1
  display=":$(head -n1 "$scratch/display")"
}

if [ "$quick" = 1 ]; then
  range=(--to 11)
  statsFps=15
  memSeconds=60
  note "quick mode: capture speed over orders 0-11, frame times at 15 fps, memory over 60 s"
else
  range=()
  statsFps=60
  memSeconds=0
fi

cpu=$(lscpu 2> /dev/null | sed -n 's/^Model name: *//p' | head -n1)
startLoad=$(cut -d' ' -f1-3 /proc/loadavg)
note "machine: ${cpu:-unknown CPU}, $(nproc) cores, load average $startLoad at start"

# --- Time to first frame of the live program -------------------------------
firstFrame="n/a"
if want first && [ -x "$lantern" ] && StartXvfb; then
  times=()
  for _ in 1 2 3; do
    err="$scratch/first.err"
    : > "$err"
    (cd "$build" && DISPLAY=$display LANTERN_TIMING=1 LANTERN_FULLSCREEN=no exec "$lantern" 2> "$err" > /dev/null) &
    pid=$!
    ms=""
    for _ in $(seq 150); do
      ms=$(sed -n 's/.*first frame after \([0-9.]*\) ms.*/\1/p' "$err" | head -n1)
      [ -n "$ms" ] && break
      kill -0 "$pid" 2> /dev/null || break
      sleep 0.1
    done
    kill -INT "$pid" 2> /dev/null
    sleep 0.3
    kill -KILL "$pid" 2> /dev/null
    wait "$pid" 2> /dev/null
    [ -n "$ms" ] && times+=("$ms")
  done
  if [ "${#times[@]}" -gt 0 ]; then
    firstFrame="$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((${#times[@]} + 1) / 2))p") ms (median of ${#times[@]})"
  else
    firstFrame="n/a (lantern prints no \"first frame after\" line with LANTERN_TIMING=1)"
  fi
fi
want first && row "Time to first frame (start, pictures and meshes loaded, music started)" "$firstFrame" "< 300 ms"

# --- Frame time of each scene at 640x480 -----------------------------------
stats="$scratch/stats.txt"
if ! want frames; then
  :
elif note "frame times: lantern-capture --stats --fps $statsFps" && "$capture" --quiet --data "$data" --fps "$statsFps" --stats > "$stats" 2> "$scratch/stats.err"; then
  renderer=$(sed -n 's/^renderer //p' "$stats")
  while read -r scene frames median p99; do
    case "$scene" in [1-8]) ;; *) continue ;; esac
    row "Scene $scene frame time, median / 99th percentile ($frames frames)" "$median / $p99 ms" "median and 99th percentile < 16.7 ms (a live frame at 60 fps)"
  done < "$stats"
else
  row "Scene frame times" "failed: $(tail -n1 "$scratch/stats.err")" "median and 99th percentile < 16.7 ms (a live frame at 60 fps)"
fi

# --- Capture speed, side by side --------------------------------------------
# Each size is drawn alone (--stats: DrawFrame and glFinish, nothing read
# back) and then captured, in the same run, so that the ratio holds on a
# machine others share. Wall time and CPU time (this program and ffmpeg).
# The big sizes run over the start of the show (scene 1), where --stats,
# which draws every frame from the start in full, costs the same as the
# capture's skip-ahead.
Timed() {  # Timed NAME ARGS...: sets wall_NAME, cpu_NAME, shown_NAME; 1 on failure
  local name=$1
  shift
  local t0 t1
  t0=$(now)
  if ! /usr/bin/time -f '%U %S' -o "$scratch/time.txt" "$capture" --quiet --data "$data" "$@" \
      > /dev/null 2> "$scratch/capture.err"; then
    note "$name failed: $(grep -v '^Command exited' "$scratch/capture.err" | tail -n1)"
    return 1
  fi
  t1=$(now)
  printf -v "wall_$name" '%s' "$(calc "$t1 - $t0")"
  printf -v "cpu_$name" '%s' "$(awk 'NF == 2 { print $1 + $2 }' "$scratch/time.txt" | tail -n1)"
  printf -v "shown_$name" '%s' "$(sed -n 's/.* \([0-9.]*\) s of show in.*/\1/p' "$scratch/capture.err")"
}
speed() {  # speed NAME: "N.NNx real time (S s of show in W s)"
  local wall="wall_$1" shown="shown_$1"
  echo "$(fmt "$(calc "${!shown} / ${!wall}")")x real time ($(fmt "${!shown}" 1) s of show in $(fmt "${!wall}" 1) s)"
}
ratio() {  # ratio A B: wall and CPU of A over B
  local wa="wall_$1" wb="wall_$2" ca="cpu_$1" cb="cpu_$2"
  echo "$(fmt "$(calc "${!wa} / ${!wb}")")× the draw-only time (CPU $(fmt "$(calc "${!ca} / ${!cb}")")×)"
}
if want capture; then
  if [ "$quick" = 1 ]; then
    bigRange=(--to 0)
    hugeRange=(--to 0:7)
  else
    bigRange=(--to 1)
    hugeRange=(--to 0:31)
  fi
  for size in 640x480 1920x1080 3840x2160; do
    case $size in
      640x480) sizeRange=("${range[@]}") ;;
      1920x1080) sizeRange=("${bigRange[@]}") ;;
      *) sizeRange=("${hugeRange[@]}") ;;
    esac
    what="${sizeRange[*]}"
    what=${what:-the whole show}
    note "capture speed at $size over ${what}: draw only, draft$([ $size = 640x480 ] || echo ", publish") (load $(cut -d' ' -f1 /proc/loadavg))"
    if ! Timed draw --size "$size" "${sizeRange[@]}" --stats; then
      row "lantern-capture at $size, 60 fps" "failed: $(tail -n1 "$scratch/capture.err")" "-"
      continue
    fi
    row "lantern-capture at $size, 60 fps ($what): drawing only (\`--stats\`)" "$(speed draw)" "-"
    target="-"
    [ $size = 640x480 ] && target="≤ 1.15× the draw-only time"
    if Timed draft --size "$size" "${sizeRange[@]}" --video "$scratch/draft.mp4"; then
      row "lantern-capture at $size to MP4, \`--quality draft\`" "$(speed draft); $(ratio draft draw)" "$target"
    else
      row "lantern-capture at $size to MP4, \`--quality draft\`" "failed: $(tail -n1 "$scratch/capture.err")" "$target"
    fi
    [ $size = 640x480 ] && continue
    if Timed publish --size "$size" "${sizeRange[@]}" --quality publish --video "$scratch/publish.mp4"; then
      row "lantern-capture at $size to MP4, \`--quality publish\`" "$(speed publish); $(ratio publish draw)" "-"
    else
      row "lantern-capture at $size to MP4, \`--quality publish\`" "failed: $(tail -n1 "$scratch/capture.err")" "-"
    fi
  done
  rm -f "$scratch"/*.mp4
fi

if want capture && command -v openmpt123 > /dev/null; then
  note "openmpt123 rendering the module to WAV"
  mkdir -p "$scratch/wav"
  cp "$data/TRK-MAIN.mo3" "$scratch/wav/"
  song=$(openmpt123 --info "$scratch/wav/TRK-MAIN.mo3" 2> /dev/null | sed -n 's/^Duration\.*: *//p')
  songSeconds=$(echo "$song" | awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')
  t0=$(now)
  openmpt123 --quiet --render --samplerate 44100 --float --force "$scratch/wav/TRK-MAIN.mo3" > /dev/null 2>&1
  t1=$(now)
  wall=$(calc "$t1 - $t0")
  row "openmpt123 rendering the module to WAV (the floor of any capture)" "$(fmt "$(calc "$songSeconds / $wall")" 0)x real time ($(fmt "$songSeconds" 1) s in $(fmt "$wall" 2) s)" "-"
  rm -rf "$scratch/wav"
fi

# --- The live program: x11grab recording and peak memory --------------------
if ! want live; then
  :
elif [ -x "$lantern" ] && StartXvfb; then
  note "live show under Xvfb: peak memory$( [ "$memSeconds" -gt 0 ] && echo " over $memSeconds s" || echo " over the whole show"), x11grab for $grabSeconds s"
  limit=()
  [ "$memSeconds" -gt 0 ] && limit=(timeout -s INT "$memSeconds")
  (cd "$build" && DISPLAY=$display LANTERN_FULLSCREEN=no exec /usr/bin/time -f '%M %e' -o "$scratch/mem.txt" \
    "${limit[@]}" "$lantern" > /dev/null 2> "$scratch/live.err") &
  livePid=$!
  sleep 2
  grab="n/a"
  if command -v ffmpeg > /dev/null; then
    t0=$(now)
    ffmpeg -hide_banner -nostdin -y -f x11grab -framerate 60 -video_size 640x480 -i "$display" -t "$grabSeconds" \
      -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p "$scratch/grab.mp4" > /dev/null 2> "$scratch/grab.err"
    t1=$(now)
    wall=$(calc "$t1 - $t0")
    stat=$(tr '\r' '\n' < "$scratch/grab.err" | grep 'frame=' | tail -n1)
    dup=$(echo "$stat" | sed -n 's/.*dup= *\([0-9]*\).*/\1/p')
    drop=$(echo "$stat" | sed -n 's/.*drop= *\([0-9]*\).*/\1/p')
    grab="$(fmt "$(calc "$grabSeconds / $wall")")x real time ($grabSeconds s recorded in $(fmt "$wall" 1) s; ${dup:-0} frames duplicated, ${drop:-0} dropped)"
  fi
  row "ffmpeg x11grab recording the live window under Xvfb, 640x480, 60 fps" "$grab" "-"
  wait "$livePid" 2> /dev/null
  if [ -s "$scratch/mem.txt" ]; then
    read -r kb secs < <(grep -E '^[0-9]+ ' "$scratch/mem.txt" | tail -n1)
    row "Peak memory of the live program ($(fmt "$secs" 0) s of show)" "$(fmt "$(calc "$kb / 1024")" 1) MB" "< 150 MB"
  else
    row "Peak memory of the live program" "n/a ($(tail -n1 "$scratch/live.err"))" "< 150 MB"
  fi
else
  row "Live program (first frame, x11grab, memory)" "n/a (no $lantern or no Xvfb)" "-"
fi

# --- The other benchmarks of the project ------------------------------------
for script in gen_assets gen_music; do
  if want tools && [ -f "$here/$script.sh" ]; then
    line=$(bash "$here/$script.sh" "$build" 2> /dev/null | tail -n1)
    row "$script" "${line:-failed}" "< 5 s"
  fi
done
if want tools && [ -x "$build/bench/load_textures_bench" ]; then
  line=$(cd "$build" && SDL_VIDEODRIVER=offscreen ./bench/load_textures_bench 2> /dev/null | grep -m1 'median')
  row "load_textures_bench" "${line:-failed}" "< 150 ms"
fi

echo
[ -z "${renderer:-}" ] && renderer=$("$capture" --quiet --data "$data" --to 0:0 --stats 2> /dev/null | sed -n 's/^renderer //p')
echo "Machine: ${cpu:-unknown CPU}, $(nproc) cores, $(free -g | awk '/^Mem:/ { print $2 }') GB, renderer ${renderer:-unknown}; load average $startLoad at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end"
echo
echo "| Measure | Result | Target |"
echo "|---|---|---|"
printf '%s\n' "${rows[@]}"
