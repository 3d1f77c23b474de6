# Shared by ./run and ./test: installs the Debian packages the project needs
# (only those missing) and configures and builds into build/.
# Sourced, not run; expects LANTERN_ROOT to be set.

lantern_packages_run=(
  cmake g++ make pkg-config
  libsdl2-dev libopenmpt-dev libpulse-dev
  libx11-dev libxext-dev libfftw3-dev
  libgl1-mesa-dev libglu1-mesa-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
  libpng-dev libfreetype-dev fonts-dejavu-core
  xfonts-base
  ffmpeg
)
# The browser build (scripts/build-web.sh) and its tests in headless Chromium.
lantern_packages_web=(
  emscripten python3 chromium
)
lantern_packages_test=(
  googletest libgtest-dev
  xvfb xdotool x11-utils xauth
  pulseaudio pulseaudio-utils
  openmpt123 sox imagemagick bc time
  clang libclang-rt-14-dev
  dpkg-dev lintian desktop-file-utils man-db
)
# The Windows zip (scripts/build-windows.sh) and its tests under Wine.
lantern_packages_windows=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 make zip)
# The browser checks in Firefox ESR and WebKitGTK (MiniBrowser through
# WebKitWebDriver), each playing into a private PulseAudio server (WebKit
# through GStreamer's pulsesink) that the checks listen to with parec.
lantern_packages_test+=(firefox-esr webkit2gtk-driver pulseaudio pulseaudio-utils gstreamer1.0-pulseaudio)
lantern_packages_test+=(wine wine64 unzip)

lantern_install() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing Debian packages: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then sudo=(sudo); else
      echo "Missing packages (${missing[*]}) and no root or sudo to install them." >&2
      return 1
    fi
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq || return 1
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" || return 1
}

lantern_build() {
  local dir="$LANTERN_ROOT/build"
  cmake -S "$LANTERN_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null || return 1
  cmake --build "$dir" -j "$(nproc)" || return 1
}
