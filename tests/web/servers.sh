# The servers the browsers need, started in a private runtime folder and
# stopped at the end: a PulseAudio server with a null sink at 48 kHz (as a
# desktop's default output) that the browser plays into and the checks
# listen to, and an X server for the engines that draw only in a window
# (Xvfb picks a free display). Sourced by tests/web/run.sh and bench/web.sh.
#
# lantern_web_servers_start NAME WITH_X (yes or no) exports HOME,
# XDG_RUNTIME_DIR and the like (all in the private folder), PULSE_SERVER,
# LANTERN_WEB_SINK (the sink's name), LANTERN_WEB_PIDS (where the browsers'
# ids go) and, with an X server, DISPLAY. lantern_web_servers_stop stops
# any browser still running, both servers, and removes the folder.

lantern_web_private=""
lantern_web_xvfb_pid=""
lantern_web_pulse_pid=""

# Browsers the checks started (their ids in LANTERN_WEB_PIDS) that are still
# running, with their children: the test runner may have been stopped
# before it closed them.
lantern_web_browsers_stop() {
  local list="$lantern_web_private/browsers" pid child
  [ -n "$lantern_web_private" ] && [ -f "$list" ] || return 0
  while read -r pid; do
    [ -n "$pid" ] && [ -d "/proc/$pid" ] || continue
    grep -qE 'chromium|firefox|WebKitWebDriver' "/proc/$pid/cmdline" 2>/dev/null || continue
    for child in $(pgrep -P "$pid"); do kill "$child" 2>/dev/null; done
    kill "$pid" 2>/dev/null
  done <"$list"
  return 0
}

lantern_web_servers_stop() {
  lantern_web_browsers_stop
  if [ -n "$lantern_web_pulse_pid" ]; then
    kill "$lantern_web_pulse_pid" 2>/dev/null && wait "$lantern_web_pulse_pid" 2>/dev/null
  fi
  if [ -n "$lantern_web_xvfb_pid" ]; then
    kill "$lantern_web_xvfb_pid" 2>/dev/null && wait "$lantern_web_xvfb_pid" 2>/dev/null
  fi
  lantern_web_pulse_pid=""
  lantern_web_xvfb_pid=""
  [ -n "$lantern_web_private" ] && rm -rf "$lantern_web_private"
  lantern_web_private=""
  return 0
}

lantern_web_servers_start() {
  local name="$1" withX="$2" private
  private="$(mktemp -d "${TMPDIR:-/tmp}/lantern-$name.XXXXXX")" || return 1
  lantern_web_private="$private"
  chmod 700 "$private"
  mkdir -p "$private/home" "$private/pulse"
  export HOME="$private/home" XDG_RUNTIME_DIR="$private" XDG_CONFIG_HOME="$private/home/.config" \
    XDG_CACHE_HOME="$private/home/.cache" XDG_DATA_HOME="$private/home/.local/share"

  cat >"$private/pulse/default.pa" <<PA
load-module module-null-sink sink_name=lantern rate=48000 channels=2
set-default-sink lantern
load-module module-native-protocol-unix auth-anonymous=1 socket=$private/pulse/native
PA
  pulseaudio -n -F "$private/pulse/default.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --system=no --log-target=file:"$private/pulse/log" 2>/dev/null &
  lantern_web_pulse_pid=$!
  export PULSE_SERVER="unix:$private/pulse/native" LANTERN_WEB_SINK=lantern LANTERN_WEB_PIDS="$private/browsers"
  local i
  for i in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    if ! kill -0 "$lantern_web_pulse_pid" 2>/dev/null; then
      echo "$name: the PulseAudio server did not start:" >&2
      cat "$private/pulse/log" >&2
      return 1
    fi
    sleep 0.1
  done
  pactl info >/dev/null 2>&1 || { echo "$name: the PulseAudio server does not answer" >&2; return 1; }

  if [ "$withX" = yes ]; then
    mkfifo "$private/display"
    # -noreset: a server that resets whenever its last client leaves would
    # refuse a browser that connects during the reset.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp >"$private/xvfb.log" 2>&1 3>"$private/display" &
    lantern_web_xvfb_pid=$!
    local number=""
    read -r -t 30 number <"$private/display" || true
    [ -n "$number" ] || { echo "$name: Xvfb did not start:" >&2; cat "$private/xvfb.log" >&2; return 1; }
    export DISPLAY=":$number"
  else
    unset DISPLAY
  fi
}
