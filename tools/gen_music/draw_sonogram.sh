#!/usr/bin/env bash
# Draws docs/song-sonogram.png: the whole song rendered by openmpt123, a sox
# spectrogram, and a strip naming each section and order above it.
# usage: bash tools/gen_music/draw_sonogram.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$build/data/TRK-MAIN.mo3" "$tmp/song.mo3"
openmpt123 --render --samplerate 44100 --float --ctl play.at_end=stop -q "$tmp/song.mo3" >/dev/null 2>&1
width=1488  # 48 pixels an order
sox "$tmp/song.mo3.wav" -n remix - rate 22050 spectrogram -r -x $width -y 257 -z 85 -o "$tmp/raw.png" 2>/dev/null
args=(-background black -gravity north -splice 0x34 -gravity NorthWest -fill white
      -font DejaVu-Sans -pointsize 13)
sections=("0 dusk intro" "4 snow" "6 rain" "8 night city" "12 bus" "16 flight" "20 sunset" "22 field outro")
for s in "${sections[@]}"; do
  o=${s%% *}
  args+=(-draw "text $((o * width / 31 + 4)),2 '${s#* }'")
done
for o in $(seq 0 30); do args+=(-draw "text $((o * width / 31 + 3)),18 '$o'"); done
args+=(-stroke gray70 -strokewidth 1)
for o in $(seq 0 31); do
  x=$((o * width / 31)); [ $x -ge $width ] && x=$((width - 1))
  top=16
  for s in "${sections[@]}" "31 end"; do [ "${s%% *}" = "$o" ] && top=0; done
  args+=(-draw "line $x,$top $x,33")
done
convert "$tmp/raw.png" "${args[@]}" -colors 48 -depth 8 "PNG8:$root/docs/song-sonogram.png"
echo "wrote $root/docs/song-sonogram.png ($(stat -c %s "$root/docs/song-sonogram.png") bytes)"
