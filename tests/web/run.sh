#!/usr/bin/env bash
# Runs the browser checks of tests/web in one engine (chromium, firefox or
# webkit) against build-web/site, with node's test runner. Brings the web
# folder up to date first (scripts/build-web.sh: the whole build when it is
# missing, a few seconds when ./test has just built it), so that it never
# tests a stale one; installs the browser driver (puppeteer-core, from
# tests/web's lock file; the browsers are Debian's) under build-web/web-test.
# Starts, in a private runtime folder, a PulseAudio server with a null sink
# that the browser plays into and the checks listen to, and for Firefox and
# WebKit an X server (Xvfb picks a free display); stops them at the end.
# Usage: run.sh ENGINE BUILD_DIR (the native build, for lantern-capture);
# LANTERN_WEB_ONLY="FILE..." runs only those test files.
set -euo pipefail
engine="${1:?usage: run.sh ENGINE BUILD_DIR}"
build="$(cd "${2:?usage: run.sh ENGINE BUILD_DIR}" && pwd)"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
site="$root/build-web/site"
me="web_$engine"

case "$engine" in
  chromium) browser=chromium ;;
  firefox) browser=firefox-esr ;;
  webkit) browser=WebKitWebDriver ;;
  *) echo "$me: no engine $engine" >&2; exit 2 ;;
esac

bash "$root/scripts/build-web.sh"
[ -f "$site/index.html" ] && [ -f "$site/lantern.wasm" ] || { echo "$me: no web folder at $site" >&2; exit 1; }
[ -x "$build/lantern-capture" ] || { echo "$me: $build/lantern-capture is missing" >&2; exit 1; }
for tool in "$browser" pulseaudio parec Xvfb openmpt123 xdotool; do
  command -v "$tool" >/dev/null || { echo "$me: $tool is not installed (scripts/setup.sh lists it)" >&2; exit 1; }
done

driver="$root/build-web/web-test"
mkdir -p "$driver"
if ! cmp -s "$root/tests/web/package-lock.json" "$driver/package-lock.json" ||
  [ ! -f "$driver/node_modules/puppeteer-core/package.json" ]; then
  cp "$root/tests/web/package.json" "$root/tests/web/package-lock.json" "$driver/"
  (cd "$driver" && npm ci --no-audit --no-fund --loglevel=error)
fi

source "$root/tests/web/servers.sh"
trap lantern_web_servers_stop EXIT
lantern_web_servers_start "$me" "$([ "$engine" = chromium ] && echo no || echo yes)"

export LANTERN_WEB_SITE="$site" LANTERN_BUILD_DIR="$build" LANTERN_WEB_DRIVER="$driver" LANTERN_WEB_ENGINE="$engine"
node --test --test-concurrency=1 ${LANTERN_WEB_ONLY:-"$root"/tests/web/*.test.mjs}
