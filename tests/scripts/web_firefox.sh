#!/usr/bin/env bash
# The browser build's checks (tests/web) in Firefox ESR on Xvfb; see tests/web/run.sh.
# Usage: web_firefox.sh BUILD_DIR (the native build, for lantern-capture)
exec bash "$(dirname "${BASH_SOURCE[0]}")/../web/run.sh" firefox "${1:?usage: web_firefox.sh BUILD_DIR}"
