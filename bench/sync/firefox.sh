# The browser build in Firefox ESR (WebGL on llvmpipe) for bench/sync.sh,
# through sync_browser_launch (lib.sh).
sync_launch() { sync_browser_launch firefox "$@"; }
sync_stop() { sync_browser_stop; }
