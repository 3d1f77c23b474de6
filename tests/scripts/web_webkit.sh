#!/usr/bin/env bash
# The browser build's checks (tests/web) in WebKitGTK's MiniBrowser on Xvfb; see tests/web/run.sh.
# Usage: web_webkit.sh BUILD_DIR (the native build, for lantern-capture)
exec bash "$(dirname "${BASH_SOURCE[0]}")/../web/run.sh" webkit "${1:?usage: web_webkit.sh BUILD_DIR}"
