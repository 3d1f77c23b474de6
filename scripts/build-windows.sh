#!/usr/bin/env bash
# Cross-builds the show for 64-bit Windows into build-windows/ and writes
# build-windows/lantern-windows.zip: lantern.exe, the show's data made by the
# native generators, and README.txt for Windows users.
#
# libopenmpt for Windows is compiled from Debian's source package (fetched
# once into build-windows/deps/source) as part of the program's CMake build,
# so later runs compile only what changed.
#
# Usage: scripts/build-windows.sh [NATIVE_BUILD_DIR]
#   With no argument it installs what is missing and builds the native tree
#   in build/ first (its generators make the data). With one, it takes the
#   data from NATIVE_BUILD_DIR/data as it is (the test suite does this).
set -euo pipefail
LANTERN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$LANTERN_ROOT/scripts/setup.sh"

lantern_install "${lantern_packages_windows[@]}"
if [ $# -ge 1 ]; then
  native="$(cd "$1" && pwd)"
else
  lantern_install "${lantern_packages_run[@]}"
  lantern_build
  native="$LANTERN_ROOT/build"
fi
[ -f "$native/data/TRK-MAIN.mo3" ] || { echo "build-windows.sh: no show data in $native/data" >&2; exit 1; }

out="$LANTERN_ROOT/build-windows"
deps="$out/deps"
mkdir -p "$out"

# --- libopenmpt's source ------------------------------------------------------
openmpt_source="$(bash "$LANTERN_ROOT/scripts/fetch-source.sh" libopenmpt "$deps/source")"

# --- The icon ----------------------------------------------------------------
# Drawn by the native generator; copied over only when its bytes change, so
# that an unchanged icon does not relink the program.
[ -x "$native/lantern-gen-assets" ] || { echo "build-windows.sh: no $native/lantern-gen-assets" >&2; exit 1; }
rm -rf "$out/icons.new"
"$native/lantern-gen-assets" --icons "$out/icons.new"
mkdir -p "$out/icons"
cmp -s "$out/icons.new/lantern.ico" "$out/icons/lantern.ico" || cp "$out/icons.new/lantern.ico" "$out/icons/lantern.ico"
rm -rf "$out/icons.new"

# --- lantern.exe ---------------------------------------------------------------
cmake -S "$LANTERN_ROOT" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$LANTERN_ROOT/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DLANTERN_OPENMPT_SOURCE="$openmpt_source" \
  -DLANTERN_WINDOWS_ICON="$out/icons/lantern.ico" >/dev/null
cmake --build "$out" -j "$(nproc)" --target lantern lantern-win32-check

# --- The zip -------------------------------------------------------------------
# lantern/lantern.exe, lantern/README.txt and lantern/data/: every file of
# the native data, with fixed times and in a fixed order, so that the same
# sources give the same zip.
stage="$out/package"
rm -rf "$stage"
mkdir -p "$stage/lantern/data"
cp "$out/lantern.exe" "$stage/lantern/"
sed 's/$/\r/' "$LANTERN_ROOT/docs/windows-readme.txt" >"$stage/lantern/README.txt"
find "$native/data" -maxdepth 1 -type f ! -name '.*' -exec cp {} "$stage/lantern/data/" \;
find "$stage" -exec touch -h -d '2000-01-01 00:00:00 UTC' {} +
zip_file="$out/lantern-windows.zip"
rm -f "$zip_file"
(cd "$stage" && find lantern | LC_ALL=C sort | TZ=UTC zip -q -X -9 -@ "$zip_file")
echo "Windows zip: $zip_file ($(stat -c %s "$zip_file") bytes)"
