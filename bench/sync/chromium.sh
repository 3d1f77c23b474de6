# The browser build in Chromium (Debian's chromium, in a window: SwiftShader's
# WebGL) for bench/sync.sh, through sync_browser_launch (lib.sh).
sync_launch() { sync_browser_launch chromium "$@"; }
sync_stop() { sync_browser_stop; }
