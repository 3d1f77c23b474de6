# The Windows build for bench/sync.sh: lantern.exe from the unpacked zip
# (build-windows/lantern-windows.zip, made by scripts/build-windows.sh)
# under Wine, in a 640x480 window with its position code drawn, its waveOut
# playing through Wine's winmm, mmdevapi and winepulse into the private
# PulseAudio server (PULSE_SERVER). SYNC_WINEDEBUG sets Wine's WINEDEBUG
# (e.g. warn+pulse lists the sound server's underruns in program.log).

# Once, before the first run: the program unpacked, a Wine prefix in the
# private folder, one waiting cmd.exe that keeps Wine's services up between
# runs (when the last Windows process ends, Wine stops them, and the next
# program's first window waits 10 s for them to start again), and a watcher
# in SYNC_PIDS that ends every Windows process of the prefix (wineserver
# -k) when the servers are stopped at the end.
sync_prepare() {
  local root zip
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
  zip="$root/build-windows/lantern-windows.zip"
  [ -f "$zip" ] || { echo "sync: no $zip (scripts/build-windows.sh makes it)" >&2; return 1; }
  SYNC_WINE="$(command -v wine64 || echo /usr/lib/wine/wine64)"
  export WINEPREFIX="$SYNC_DIR/wine" WINEDEBUG="${SYNC_WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
  rm -rf "$SYNC_DIR/windows"
  unzip -q "$zip" -d "$SYNC_DIR/windows"
  (trap 'wineserver -k 2>/dev/null; exit 0' TERM; while :; do sleep 0.2; done) &
  SYNC_PIDS+=($!)
  "$SYNC_WINE" wineboot -i >/dev/null 2>&1
  mkfifo "$SYNC_DIR/wine-hold"
  exec 8<>"$SYNC_DIR/wine-hold"
  "$SYNC_WINE" cmd.exe /c pause <"$SYNC_DIR/wine-hold" >/dev/null 2>&1 &
  SYNC_PIDS+=($!)
}

sync_launch() {
  local build="$1" from="$2" out="$3"
  (cd "$SYNC_DIR" && LANTERN_FULLSCREEN=no LANTERN_POSITION_CODE=1 LANTERN_FROM="$from" \
    exec "$SYNC_WINE" "$SYNC_DIR/windows/lantern/lantern.exe" >"$out/program.log" 2>&1) &
  SYNC_SHOW_PID=$!
}

# Escape, as a person ends the show; killed if it has not ended 10 s later.
sync_stop() {
  local window
  window="$(xwininfo -root -children 2>/dev/null | awk '/"lantern from kestrel":/ {print $1; exit}')"
  if [ -n "$window" ]; then xdotool key --window "$window" Escape 2>/dev/null || true; fi
  local i
  for i in $(seq 100); do
    kill -0 "$SYNC_SHOW_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill "$SYNC_SHOW_PID" 2>/dev/null || true
  wait "$SYNC_SHOW_PID" 2>/dev/null || true
  return 0
}
