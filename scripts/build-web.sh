#!/usr/bin/env bash
# Builds the show for web browsers into build-web/site: the page, the
# program as WebAssembly with its script, the show's data, and the manifest,
# icons and service worker that let a phone keep it on its home screen and
# play it offline: a folder that any static web server can serve. With
# --serve it then serves the folder on 127.0.0.1 (port 8640, or the one
# given) and prints the address.
#
# Usage: scripts/build-web.sh [--serve [PORT]]
#
# Installs what is missing (Debian's emscripten), generates the data with
# the native build in build/, fetches libopenmpt's Debian source package
# into build-web/src and compiles everything with Emscripten in
# build-web/wasm. A second run reuses all of it.
set -euo pipefail
LANTERN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$LANTERN_ROOT/scripts/setup.sh"

serve=0
port=8640
while [ $# -gt 0 ]; do
  case "$1" in
    --serve)
      serve=1
      if [ $# -gt 1 ] && [[ "$2" =~ ^[0-9]+$ ]]; then port="$2"; shift; fi
      ;;
    -h | --help)
      sed -n '2,14p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "build-web.sh: unknown argument $1 (see --help)" >&2
      exit 2
      ;;
  esac
  shift
done

lantern_install "${lantern_packages_run[@]}" "${lantern_packages_web[@]}"

out="$LANTERN_ROOT/build-web"
site="$out/site"
mkdir -p "$out"

# The show's data and the home-screen icons come from the native generators.
if [ ! -f "$LANTERN_ROOT/build/CMakeCache.txt" ]; then
  cmake -S "$LANTERN_ROOT" -B "$LANTERN_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$LANTERN_ROOT/build" --target data icons -j "$(nproc)" >/dev/null

openmpt_source="$(bash "$LANTERN_ROOT/scripts/fetch-source.sh" libopenmpt "$out/src")"

# Debian's emscripten finds its JavaScript helpers (acorn) here.
export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"
if [ ! -f "$out/wasm/CMakeCache.txt" ]; then
  emcmake cmake -S "$LANTERN_ROOT" -B "$out/wasm" -DCMAKE_BUILD_TYPE=Release \
    -DLANTERN_OPENMPT_SOURCE="$openmpt_source" >/dev/null
fi
cmake --build "$out/wasm" -j "$(nproc)"

# The folder: page, program and data, with the list of data files the page
# fetches, the manifest and icons for a home screen, and the service worker
# that keeps this build for offline viewing. Rebuilt whole, so that nothing
# stale stays in it.
rm -rf "$site.new"
mkdir -p "$site.new/data" "$site.new/icons"
cp "$LANTERN_ROOT/platform/web/page.html" "$site.new/index.html"
cp "$LANTERN_ROOT/platform/web/page.js" "$LANTERN_ROOT/platform/web/page.css" \
  "$LANTERN_ROOT/platform/web/install.js" "$LANTERN_ROOT/platform/web/manifest.webmanifest" "$site.new/"
cp "$LANTERN_ROOT"/build/icons/web/*.png "$site.new/icons/"
cp "$out/wasm/lantern.js" "$out/wasm/lantern.wasm" "$site.new/"
cp "$LANTERN_ROOT/platform/web/audio_state.js" "$site.new/audio_state.js"
(
  cd "$LANTERN_ROOT/build/data"
  find . -maxdepth 1 -type f ! -name '.*' -printf '%f\n' | LC_ALL=C sort >"$site.new/data/files.txt"
  xargs -a "$site.new/data/files.txt" -d '\n' cp -t "$site.new/data/"
)
build_id="$(bash "$LANTERN_ROOT/scripts/web-offline.sh" "$site.new")"
rm -rf "$site"
mv "$site.new" "$site"
echo "The show for web browsers is in $site ($(du -sh "$site" | cut -f1), $(wc -l <"$site/data/files.txt") data files, build $build_id)."

if [ "$serve" = 1 ]; then
  echo "Serving it at http://127.0.0.1:$port/ (Ctrl-C stops)."
  exec python3 -m http.server --bind 127.0.0.1 --directory "$site" "$port"
fi
