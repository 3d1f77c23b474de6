#!/usr/bin/env bash
# The browser build's checks (tests/web) in headless Chromium; see tests/web/run.sh.
# Usage: web_chromium.sh BUILD_DIR (the native build, for lantern-capture)
exec bash "$(dirname "${BASH_SOURCE[0]}")/../web/run.sh" chromium "${1:?usage: web_chromium.sh BUILD_DIR}"
