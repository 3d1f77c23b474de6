# The browser build in WebKitGTK's MiniBrowser (WebGL on llvmpipe; Web Audio
# through GStreamer's pulsesink) for bench/sync.sh, through
# sync_browser_launch (lib.sh).
sync_launch() { sync_browser_launch webkit "$@"; }
sync_stop() { sync_browser_stop; }
