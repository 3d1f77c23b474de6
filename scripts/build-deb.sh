#!/usr/bin/env bash
# Makes the Debian package: dist/lantern_VERSION_ARCH.deb.
#
#   scripts/build-deb.sh                    configure and build build-deb/ with
#                                           Debian's build flags (hardening
#                                           included), then package it
#   scripts/build-deb.sh --build-dir DIR    package an already built build folder
#                                           instead (the tests do this)
#   --out DIR                               write the .deb into DIR (default dist/)
#   --no-lintian                            do not run lintian on the result
#
# The installation is staged with `cmake --install --prefix /usr`, moved into
# Debian's layout for games (both programs in /usr/games, the data in
# /usr/share/games/lantern), given the copyright file, changelog, compressed
# manual pages and md5sums, its dependencies computed by dpkg-shlibdeps, its
# control file written by dpkg-gencontrol from packaging/debian/, and built
# by dpkg-deb. Needs dpkg-dev (installed if missing); runs lintian on the
# result when it is installed.
set -euo pipefail
LANTERN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$LANTERN_ROOT/scripts/setup.sh"

build=""
out="$LANTERN_ROOT/dist"
run_lintian=1
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build="$(cd "${2:?--build-dir needs a folder}" && pwd)"; shift 2 ;;
    --out) out="${2:?--out needs a folder}"; shift 2 ;;
    --no-lintian) run_lintian=0; shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-deb.sh: unknown argument $1 (try --help)" >&2; exit 2 ;;
  esac
done

lantern_install "${lantern_packages_run[@]}" dpkg-dev
debian="$LANTERN_ROOT/packaging/debian"
version="$(dpkg-parsechangelog -l "$debian/changelog" -S Version)"

if [ -z "$build" ]; then
  build="$LANTERN_ROOT/build-deb"
  # Debian's flags: optimisation, hardening (bindnow too), reproducible paths.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
  cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
  CFLAGS="$cflags" CXXFLAGS="$cxxflags" LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S "$LANTERN_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=None -DLANTERN_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
  # Only what the package holds (the benchmarks need the test build).
  cmake --build "$build" -j "$(nproc)" --target lantern lantern-capture data icons
fi
[ -x "$build/lantern" ] && [ -f "$build/data/TRK-MAIN.mo3" ] || {
  echo "build-deb.sh: $build holds no built program and data" >&2
  exit 1
}
built_version="$("$build/lantern" --version | awk '{print $2}')"
if [ "$built_version" != "$version" ]; then
  echo "build-deb.sh: the program is version $built_version but packaging/debian/changelog's latest entry is $version; add an entry for $built_version" >&2
  exit 1
fi

work="$(mktemp -d /tmp/lantern-deb.XXXXXX)"
trap 'rm -rf "$work"' EXIT
stage="$work/stage"
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
# Stripped as dh_strip strips.
strip --remove-section=.comment --remove-section=.note --strip-unneeded \
  "$stage/usr/bin/lantern" "$stage/usr/bin/lantern-capture"

# Debian's layout for a games package: its programs in /usr/games (the
# capture tool too, as game packages keep their tools beside the game), its
# data in /usr/share/games; the programs find the data there through their
# relative lookup (../share/games/lantern).
mkdir -p "$stage/usr/games" "$stage/usr/share/games"
mv "$stage/usr/bin/lantern" "$stage/usr/bin/lantern-capture" "$stage/usr/games/"
rmdir "$stage/usr/bin"
mv "$stage/usr/share/lantern" "$stage/usr/share/games/lantern"

doc="$stage/usr/share/doc/lantern"
install -m 0644 "$debian/copyright" "$doc/copyright"
gzip -9n -c "$debian/changelog" >"$doc/changelog.gz"
find "$stage/usr/share/man" -type f ! -name '*.gz' -exec gzip -9n {} +
# As dh_compress: documentation over 4 kB is compressed.
find "$doc" -type f -name '*.md' -size +4k -exec gzip -9n {} +

find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
chmod 0755 "$stage/usr/games/lantern" "$stage/usr/games/lantern-capture"

# dpkg-shlibdeps and dpkg-gencontrol work from a source tree's debian/.
mkdir -p "$work/src/debian" "$stage/DEBIAN"
cp "$debian/control" "$debian/changelog" "$work/src/debian/"
(
  cd "$work/src"
  dpkg-shlibdeps -Tdebian/substvars "$stage/usr/games/lantern" "$stage/usr/games/lantern-capture"
  dpkg-gencontrol -plantern -P"$stage" -Tdebian/substvars -fdebian/files -Vmisc:Depends=
)
(cd "$stage" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

arch="$(dpkg --print-architecture)"
mkdir -p "$out"
deb="$(cd "$out" && pwd)/lantern_${version}_${arch}.deb"
# Timestamps from the changelog, so the same tree gives the same archive.
SOURCE_DATE_EPOCH="$(dpkg-parsechangelog -l "$debian/changelog" -S Timestamp)" \
  dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb ($(du -k "$deb" | cut -f1) kB; installed $(grep '^Installed-Size:' "$stage/DEBIAN/control" | cut -d' ' -f2) kB)"
grep -E '^(Depends|Recommends):' "$stage/DEBIAN/control"

if [ "$run_lintian" = 1 ] && command -v lintian >/dev/null; then
  echo "lintian:"
  lintian --display-info "$deb" || true
fi
