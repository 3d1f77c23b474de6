#!/usr/bin/env bash
# The live program reaching an X server that drops its first connections, as
# Xvfb drops a client that connects while it resets: a relay in front of a
# real Xvfb closes the connections its plan says and passes the others on.
# The program tries again, says so on stderr and opens its window; a box
# whose connection is dropped is shown on the next try and answered.
# Usage: xvfb_display.sh BUILD_DIR
set -euo pipefail

build="$(cd "${1:?usage: xvfb_display.sh BUILD_DIR}" && pwd)"
lantern="$build/lantern"
for tool in xvfb-run xdotool xwininfo xauth cc; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
[ -x "$lantern" ] || { echo "FAIL: no program at $lantern"; exit 1; }
# SDL's X11 boxes draw with a core X font; Xvfb finds none without xfonts-base.
[ -f /usr/share/fonts/X11/misc/fonts.dir ] || { echo "FAIL: xfonts-base is not installed"; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# relay FIRST_NUMBER TARGET_SOCKET PLAN: listens as the first free X display
# from FIRST_NUMBER on (abstract socket, with a lock file so that no X server
# takes the number), prints the number, then handles connection n by letter
# n of PLAN (its last letter goes on): d closes it at once, r relays it to
# TARGET_SOCKET. Each connection's letter is logged on stderr.
cat >"$work/relay.c" <<'C'
#include <poll.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <fcntl.h>
#include <unistd.h>
static char lock[64];
static void quit(int sig) { (void)sig; unlink(lock); _exit(0); }
static socklen_t address(struct sockaddr_un* a, const char* name, int abstract) {
  memset(a, 0, sizeof *a);
  a->sun_family = AF_UNIX;
  strncpy(a->sun_path + abstract, name, sizeof a->sun_path - 2);
  return offsetof(struct sockaddr_un, sun_path) + abstract + strlen(name) + !abstract;
}
static void pass(int from, int to) {
  char buffer[65536];
  ssize_t n = read(from, buffer, sizeof buffer);
  if (n <= 0) _exit(0);
  for (ssize_t done = 0; done < n;) {
    ssize_t w = write(to, buffer + done, n - done);
    if (w <= 0) _exit(0);
    done += w;
  }
}
int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const char* plan = argv[3];
  size_t steps = strlen(plan);
  int listener = -1, number;
  for (number = atoi(argv[1]); number < atoi(argv[1]) + 200; ++number) {
    snprintf(lock, sizeof lock, "/tmp/.X%d-lock", number);
    int fd = open(lock, O_WRONLY | O_CREAT | O_EXCL, 0444);
    if (fd < 0) continue;
    dprintf(fd, "%10d\n", (int)getpid());
    close(fd);
    char name[64];
    snprintf(name, sizeof name, "/tmp/.X11-unix/X%d", number);
    struct sockaddr_un a;
    socklen_t length = address(&a, name, 1);
    listener = socket(AF_UNIX, SOCK_STREAM, 0);
    if (bind(listener, (struct sockaddr*)&a, length) == 0 && listen(listener, 16) == 0) break;
    close(listener);
    listener = -1;
    unlink(lock);
  }
  if (listener < 0) return 1;
  signal(SIGTERM, quit);
  signal(SIGCHLD, SIG_IGN);
  printf("%d\n", number);
  fflush(stdout);
  for (size_t n = 0;; ++n) {
    int client = accept(listener, NULL, NULL);
    if (client < 0) continue;
    char step = plan[n < steps ? n : steps - 1];
    fprintf(stderr, "%zu %c\n", n + 1, step);
    if (step == 'r' && fork() == 0) {
      close(listener);
      struct sockaddr_un a;
      socklen_t length = address(&a, argv[2], 0);
      int server = socket(AF_UNIX, SOCK_STREAM, 0);
      if (connect(server, (struct sockaddr*)&a, length) != 0) _exit(1);
      struct pollfd both[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      for (;;) {
        if (poll(both, 2, -1) < 0) _exit(0);
        if (both[0].revents) pass(client, server);
        if (both[1].revents) pass(server, client);
      }
    }
    close(client);
  }
}
C
cc -o "$work/relay" "$work/relay.c"

cat >"$work/inside.sh" <<'INSIDE'
set -uo pipefail
lantern="$1"; work="$2"
unset SDL_VIDEODRIVER WAYLAND_DISPLAY
cd "$work"
pid=""; relay=""
fail() {
  echo "FAIL: $*"
  grep -v '^ALSA lib' "$work/err" 2>/dev/null | tail -20
  echo "relay: $(tr '\n' ' ' <"$work/relay.log" 2>/dev/null)"
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  [ -n "$relay" ] && kill "$relay" 2>/dev/null
  exit 1
}
windows() {  # top-level windows titled exactly $1, on the real server
  xwininfo -root -children 2>/dev/null | awk -v t="\"$1\":" 'index($0, t) {print $1}'
}
wait_window() {
  for _ in $(seq 300); do
    local found
    found="$(windows "$1" | head -1)"
    [ -n "$found" ] && { echo "$found"; return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
press() {
  xdotool windowfocus --sync "$1" keydown "$2" 2>/dev/null || xdotool keydown "$2"
  sleep 0.3
  xdotool keyup "$2"
}
# Escape in the show's window $1: the program ends within 10 s with code 0.
end_with_escape() {
  press "$1" Escape
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "still running 10 s after Escape"
  local rc=0
  wait "$pid" || rc=$?
  [ "$rc" -eq 0 ] || fail "exit code $rc after Escape"
}
# Starts the relay with PLAN in front of this Xvfb; sets relay and relayed
# (the relay's display), which gets this server's cookie.
start_relay() {
  coproc RELAY { exec "$work/relay" 600 "/tmp/.X11-unix/X${DISPLAY#:}" "$1" 2>"$work/relay.log"; }
  relay=$RELAY_PID
  read -r -t 10 number <&"${RELAY[0]}" || fail "the relay did not start"
  relayed=":$number"
  xauth add "$relayed" . "$(xauth list "$DISPLAY" | awk '{print $3; exit}')"
}
stop_relay() { kill "$relay" 2>/dev/null; wait "$relay" 2>/dev/null; relay=""; }

echo "== the first two connections dropped"
start_relay ddr
DISPLAY="$relayed" LANTERN_FULLSCREEN=no "$lantern" >"$work/out" 2>"$work/err" &
pid=$!
window="$(wait_window 'lantern from kestrel')" || fail "no window"
grep -q "^lantern: the x11 video driver on DISPLAY \"$relayed\" started on try 3, .*x11 not available$" "$work/err" ||
  fail "no line saying the display was reached on the third try"
grep -q 'XDG_RUNTIME_DIR\|Error\.' "$work/err" && fail "another driver was tried, or a box shown"
[ "$(head -4 "$work/relay.log" | tr '\n' ' ')" = "1 d 2 d 3 r 4 r " ] || fail "connections other than planned"
end_with_escape "$window"
echo "$(grep 'started on try' "$work/err"); Escape: exit code 0"
stop_relay

echo "== the first box's connection dropped"
start_relay dr
DISPLAY="$relayed" "$lantern" >"$work/out" 2>"$work/err" &
pid=$!
box="$(wait_window 'Start FullScreen?')" || fail "no box asking for full screen"
press "$box" Escape   # the box's No
window="$(wait_window 'lantern from kestrel')" || fail "no window after the box"
grep -q '^lantern: the "Start FullScreen?" box was shown on try 2$' "$work/err" ||
  fail "no line saying the box was shown on the second try"
[ "$(head -4 "$work/relay.log" | tr '\n' ' ')" = "1 d 2 r 3 r 4 r " ] || fail "connections other than planned"
end_with_escape "$window"
echo "$(grep 'box was shown' "$work/err"); Escape: exit code 0"
stop_relay
INSIDE

# -noreset and -r as in xvfb_keys.sh: the drops come from the relay alone,
# and a held key is one press.
xvfb-run -a -s "-screen 0 640x480x24 -noreset -r" bash "$work/inside.sh" "$lantern" "$work"
echo "PASS"
