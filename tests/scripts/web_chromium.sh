#!/usr/bin/env bash
# The browser build in headless Chromium: the checks of tests/web, run by
# node's test runner against build-web/site. Brings the web folder up to
# date first (scripts/build-web.sh: the whole build when it is missing, a
# few seconds when ./test has just built it), so that it never tests a stale
# one; installs the browser driver (playwright-core, from tests/web's lock
# file, with Debian's chromium) under build-web/web-test.
# Usage: web_chromium.sh BUILD_DIR (the native build, for lantern-capture)
set -euo pipefail
build="$(cd "${1:?usage: web_chromium.sh BUILD_DIR}" && pwd)"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
site="$root/build-web/site"

bash "$root/scripts/build-web.sh"
[ -f "$site/index.html" ] && [ -f "$site/lantern.wasm" ] || { echo "web_chromium: no web folder at $site" >&2; exit 1; }
[ -x "$build/lantern-capture" ] || { echo "web_chromium: $build/lantern-capture is missing" >&2; exit 1; }
command -v chromium >/dev/null || { echo "web_chromium: chromium is not installed" >&2; exit 1; }

driver="$root/build-web/web-test"
mkdir -p "$driver"
if ! cmp -s "$root/tests/web/package-lock.json" "$driver/package-lock.json" ||
  [ ! -f "$driver/node_modules/playwright-core/package.json" ]; then
  cp "$root/tests/web/package.json" "$root/tests/web/package-lock.json" "$driver/"
  (cd "$driver" && npm ci --no-audit --no-fund --loglevel=error)
fi

export LANTERN_WEB_SITE="$site" LANTERN_BUILD_DIR="$build" LANTERN_WEB_DRIVER="$driver"
exec node --test --test-concurrency=1 "$root"/tests/web/*.test.mjs
