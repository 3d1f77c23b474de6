#!/usr/bin/env bash
# Fetches and unpacks a Debian source package (as the machine's own apt
# sources name it, bookworm main) into DEST, without touching the machine's
# apt configuration: the deb-src list and its indexes live in a private
# folder under DEST. Prints the unpacked source folder. A second run with
# the same DEST reuses what is there.
# Usage: scripts/fetch-source.sh PACKAGE DEST
set -euo pipefail
package="${1:?usage: fetch-source.sh PACKAGE DEST}"
dest="${2:?usage: fetch-source.sh PACKAGE DEST}"
mkdir -p "$dest"
dest="$(cd "$dest" && pwd)"

# .fetched names the folder a finished earlier run unpacked.
if [ -f "$dest/.fetched" ] && [ -d "$(cat "$dest/.fetched")" ]; then
  cat "$dest/.fetched"
  exit 0
fi

# The mirror the machine already uses for bookworm.
mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
  grep -E '^(URIs:|deb )' | grep -E '/debian/?( |$)' |
  sed -E 's/^URIs:[[:space:]]*//; s/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?//' |
  awk '{print $1}' | head -n 1 || true)
mirror="${mirror:-http://deb.debian.org/debian}"

apt_dir="$dest/.apt"
mkdir -p "$apt_dir/lists/partial"
echo "deb-src $mirror bookworm main" >"$apt_dir/sources.list"
apt_options=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o Dir::State::Lists="$apt_dir/lists" -o APT::Sandbox::User=root -qq)
apt-get "${apt_options[@]}" update >&2
(cd "$dest" && apt-get "${apt_options[@]}" source --download-only "$package" >&2)

# Unpack the upstream tarball (the largest archive that is not the Debian diff).
tarball=$(ls -S "$dest"/*.orig.tar.* 2>/dev/null | head -n 1 || true)
[ -n "$tarball" ] || { echo "fetch-source.sh: no source tarball for $package in $dest" >&2; exit 1; }
top=$(tar -tf "$tarball" | head -n 1 | cut -d/ -f1 || true)
tar -C "$dest" -xf "$tarball"
[ -d "$dest/$top" ] || { echo "fetch-source.sh: $tarball did not unpack to a folder" >&2; exit 1; }
echo "$dest/$top" >"$dest/.fetched"
echo "$dest/$top"
