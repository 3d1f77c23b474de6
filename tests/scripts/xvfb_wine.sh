#!/usr/bin/env bash
# The Windows program, from its unpacked zip, under Wine on Xvfb, its waveOut
# playing through Wine's winepulse into a private PulseAudio server. First
# the zip itself (the program, the readme and exactly the native data), the
# program's imports (only DLLs every Windows has, a GUI program) and its
# resources (the icon in the sizes Windows uses, the project's version).
# Then the platform layer's own check (lantern-win32-check.exe: message
# floods lose no key, activation or close; the display kept awake while the
# window exists). Then under Wine: --help prints its usage; started as a
# double-click (no standard handles), the start question in a box captioned
# "Start FullScreen?", No gives a window "lantern from kestrel" with a
# 640x480 client area, the show draws
# (screenshots a second apart neither black nor identical) and its music
# reaches the server, Escape ends it with 0 and no lantern.log is left;
# closing the window ends it with 0; the full-screen mode refused (Xvfb has
# no 640x480 mode) answered Yes, F1, then No ends it with 1; double-clicked
# without the module, the show still runs and lantern.log beside the program
# names the module; and started near the song's end, the sound server
# stopped for 3 s mid-show (SIGSTOP) and then let run again, the show says
# so, its music is heard again within 1 s, and it ends by itself with 0.
# Brings build-windows/ up to date first (scripts/build-windows.sh; the
# first build of libopenmpt takes minutes). With CASE, only that case runs
# under Wine: check, help, double-click, close, full-screen, no-module or
# stopped-server.
# Usage: xvfb_wine.sh BUILD_DIR [CASE]
set -euo pipefail

build="$(cd "${1:?usage: xvfb_wine.sh BUILD_DIR [CASE]}" && pwd)"
only="${2:-}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
wine="$(command -v wine64 || echo /usr/lib/wine/wine64)"
for tool in xvfb-run xdotool xwininfo import identify compare unzip cc sox \
  pulseaudio pactl parec x86_64-w64-mingw32-objdump x86_64-w64-mingw32-windres "$wine" wineserver; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done
[ -f "$build/data/TRK-MAIN.mo3" ] || { echo "FAIL: no show data in $build/data"; exit 1; }

work="$(mktemp -d /tmp/lantern-wine-test.XXXXXX)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all,+msgbox WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; fi
  if [ -f "$work/pulse/pid" ]; then kill -KILL "$(cat "$work/pulse/pid")" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== the Windows build"
if ! bash "$root/scripts/build-windows.sh" "$build" >"$work/build.log" 2>&1; then
  tail -30 "$work/build.log"
  echo "FAIL: scripts/build-windows.sh failed"
  exit 1
fi
grep -E '^(libopenmpt|Windows zip)' "$work/build.log"
zip="$root/build-windows/lantern-windows.zip"
[ -f "$zip" ] || { echo "FAIL: no zip at $zip"; exit 1; }

echo "== the zip"
unzip -q "$zip" -d "$work/app"
app="$work/app/lantern"
exe="$app/lantern.exe"
[ -f "$exe" ] && [ -f "$app/README.txt" ] || { echo "FAIL: the zip lacks lantern/lantern.exe or lantern/README.txt"; exit 1; }
extra="$(cd "$work/app" && find . -mindepth 1 ! -path ./lantern ! -path ./lantern/lantern.exe \
  ! -path ./lantern/README.txt ! -path ./lantern/data ! -path './lantern/data/*')"
[ -z "$extra" ] || { echo "FAIL: unexpected entries in the zip: $extra"; exit 1; }
expected="$(cd "$build/data" && find . -maxdepth 1 -type f ! -name '.*' | sort)"
packed="$(cd "$app/data" && find . -type f | sort)"
[ "$expected" = "$packed" ] || { echo "FAIL: the zip's data/ is not the native data"; diff <(echo "$expected") <(echo "$packed") | head; exit 1; }
while read -r file; do
  cmp -s "$build/data/$file" "$app/data/$file" || { echo "FAIL: data/$file differs from the native data"; exit 1; }
done <<<"$packed"
grep -q $'\r$' "$app/README.txt" || { echo "FAIL: README.txt does not have Windows line ends"; exit 1; }
grep -q 'lantern.log' "$app/README.txt" || { echo "FAIL: README.txt does not say where messages go"; exit 1; }
echo "lantern.exe $(stat -c %s "$exe") bytes, README.txt, $(echo "$packed" | wc -l) data files; zip $(stat -c %s "$zip") bytes"

# Only DLLs that ship with every Windows, and a GUI program (no console
# window on a double-click).
x86_64-w64-mingw32-objdump -p "$exe" >"$work/pe.txt"
dlls="$(sed -n 's/^[[:space:]]*DLL Name: //p' "$work/pe.txt" | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')"
for dll in $dlls; do
  case "$dll" in
    kernel32.dll | user32.dll | gdi32.dll | opengl32.dll | glu32.dll | winmm.dll | msvcrt.dll | \
      advapi32.dll | shell32.dll | ole32.dll | rpcrt4.dll) ;;
    *) echo "FAIL: lantern.exe imports $dll, which not every Windows has"; exit 1 ;;
  esac
done
grep -q '^Subsystem.*(Windows GUI)' "$work/pe.txt" || { echo "FAIL: lantern.exe is not a GUI program"; exit 1; }
echo "imports: $dlls(Windows GUI)"

# The resources, as windres reads them back: one icon group with the sizes
# Windows uses, each 32-bit (256 is written 0), and a version block with
# the project's version, the one the native program reports.
x86_64-w64-mingw32-windres -i "$exe" -O rc >"$work/resources.rc"
sizes="$(sed -n '/RT_GROUP_ICON/,/^END/s/^ *"\\\([0-7]*\)\\\([0-7]*\)\\000\\000", 1, 32,.*/\1x\2/p' "$work/resources.rc" |
  while IFS=x read -r w h; do echo "$((8#$w))x$((8#$h))"; done | tr '\n' ' ')"
[ "$sizes" = "16x16 20x20 24x24 32x32 40x40 48x48 64x64 0x0 " ] ||
  { echo "FAIL: the icon group holds ${sizes:-nothing}, not 16 to 64 and 256 pixels at 32 bits"; exit 1; }
version="$("$build/lantern" --version | awk '{print $2}')"
commas="$(echo "$version" | tr . ,)"
grep -q "^ FILEVERSION ${commas//,/, }, 0\$" "$work/resources.rc" &&
  grep -q "VALUE \"ProductVersion\", \"$version\"" "$work/resources.rc" &&
  grep -q "VALUE \"FileVersion\", \"$version\"" "$work/resources.rc" ||
  { echo "FAIL: the version block does not carry version $version"; grep -A12 VERSIONINFO "$work/resources.rc"; exit 1; }
echo "resources: icon ${sizes% }(0 is 256), version $version"

# A private PulseAudio server with a null sink, which every run's waveOut
# plays into through Wine's winepulse driver.
mkdir -p "$work/pulse"
printf 'autospawn = no\n' >"$work/pulse/client.conf"
env -u DBUS_SESSION_BUS_ADDRESS HOME="$work/pulse" XDG_RUNTIME_DIR="$work/pulse" \
  PULSE_RUNTIME_PATH="$work/pulse" PULSE_STATE_PATH="$work/pulse" PULSE_CLIENTCONFIG="$work/pulse/client.conf" \
  pulseaudio -n --daemonize=no --use-pid-file=no --exit-idle-time=-1 --disallow-exit --log-target=stderr \
  --load="module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" \
  --load="module-null-sink sink_name=lantern rate=48000" >"$work/pulse/log" 2>&1 &
echo $! >"$work/pulse/pid"
disown
export PULSE_SERVER="unix:$work/pulse/native" PULSE_CLIENTCONFIG="$work/pulse/client.conf"
for _ in $(seq 50); do
  [ -S "$work/pulse/native" ] && pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
pactl info >/dev/null 2>&1 || { echo "FAIL: the private PulseAudio server does not start"; cat "$work/pulse/log"; exit 1; }
cp "$root/build-windows/lantern-win32-check.exe" "$work/"

# Closing a window as a window manager does: the WM_DELETE_WINDOW message.
cc -o "$work/close-window" "$(dirname "${BASH_SOURCE[0]}")/../support/close_window.c" -lX11
# Reading the silences of a recording of the sink.
cc -O2 -o "$work/sink-silences" "$(dirname "${BASH_SOURCE[0]}")/../support/sink_silences.c"

cat >"$work/inside.sh" <<'INSIDE'
set -uo pipefail
wine="$1"
app="$2"
work="$3"
only="$4"
title='lantern from kestrel'
pid=""

want() { [ -z "$only" ] || [ "$only" = "$1" ]; }

fail() {
  echo "FAIL: $*"
  for log in "$work/err" "$app/lantern.log"; do
    [ -f "$log" ] && grep -av -e '^ALSA lib' -e 'XGetInputFocus' "$log" | grep -v 'cannot open picture' | tail -15
  done
  wineserver -k 2>/dev/null
  exit 1
}

# Top-level windows titled exactly $1, one id a line. With no window manager
# the program's window and its boxes are children of the root, and Wine's
# titles are UTF-8 properties that xdotool's search does not read.
windows() {
  xwininfo -root -children 2>/dev/null | awk -v t="\"$1\":" 'index($0, t) {print $1}' |
    while read -r id; do
      xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && echo "$id"
    done
}

wait_window() {  # title, other than $2; prints its id
  local found=""
  for _ in $(seq 300); do
    found="$(windows "$1" | grep -v "^${2:-none}\$" | head -1)"
    [ -n "$found" ] && { echo "$found"; return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# The program runs from a batch file, which writes its exit code as Windows
# has it to rc.txt: Wine's server kills a process whose Unix side is still
# tearing down half a second after its last thread ended, so under a heavy
# load the Unix exit status can be 137 while Windows keeps the real code.
windows_path() { echo "Z:${1//\//\\}"; }

run_batch() {  # the batch file's command line
  rm -f "$work/rc.txt"
  printf '@%s\r\n@>"%s" echo %%errorlevel%%\r\n' "$1" "$(windows_path "$work/rc.txt")" >"$work/run.bat"
  "$wine" cmd /c "$(windows_path "$work/run.bat")" >"$work/out" 2>"$work/err" &
  pid=$!
}

wait_exit() {  # seconds; sets rc to the exit code
  for _ in $(seq $(($1 * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      rc="$(tr -dc '0-9' <"$work/rc.txt" 2>/dev/null)"
      [ -n "$rc" ] || rc="unknown"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# The window's client area is 640x480 (with no window manager, Wine's X
# window is the client area).
expect_client_area() {  # window, what
  local size
  size="$(xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')"
  [ "$size" = "640x480" ] || fail "the window $2 has a client area of $size, not 640x480"
}

# The program ends within 10 s with the exit code.
expect_exit() {  # code, after what
  wait_exit 10 || fail "still running 10 s after $2"
  [ "$rc" = "$1" ] || fail "exit code $rc after $2, not $1"
}

# Starts the program from the unpacked zip, its output handed over; $1
# answers the start question (yes, no, or empty for the box), the rest are
# its arguments.
start() {
  local answer="$1"
  shift
  LANTERN_FULLSCREEN="$answer" run_batch "\"$(windows_path "$app/lantern.exe")\" $*"
}

key() { xdotool key --window "$1" "$2"; }

# A key held for a while, as a person presses it: F1 acts on the key flag
# at the next idle pass, so a press and release that Wine delivers in one
# batch cancel out before the loop looks.
press() {
  xdotool keydown --window "$1" "$2"
  sleep 0.5
  xdotool keyup --window "$1" "$2"
}

# Answers a box with the key of its button and waits until it is gone.
answer() {
  key "$1" "$2"
  for _ in $(seq 100); do
    windows_id_viewable "$1" || return 0
    sleep 0.1
  done
  return 1
}

windows_id_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# The window's pixels as a PNG; its mean brightness, 0 to 1.
shoot() { import -window "$1" "$2" 2>/dev/null; }
brightness() { identify -format '%[fx:mean]' "$1"; }

# The show draws: within 20 s, two screenshots a second apart that are
# neither black nor the same (the loading screen stands still until the
# show begins).
wait_drawing() {
  local mean_a mean_b differ
  shoot "$1" "$work/a.png" || return 1
  for _ in $(seq 20); do
    sleep 1
    shoot "$1" "$work/b.png" || return 1
    mean_a="$(brightness "$work/a.png")"
    mean_b="$(brightness "$work/b.png")"
    differ="$(compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1 || true)"
    if awk -v a="$mean_a" -v b="$mean_b" -v d="$differ" 'BEGIN {exit !(a > 0.02 && b > 0.02 && d + 0 > 1000)}'; then
      echo "screenshots a second apart: brightness $mean_a and $mean_b, $differ pixels differ"
      return 0
    fi
    mv "$work/b.png" "$work/a.png"
  done
  echo "last screenshots: brightness $mean_a and $mean_b, $differ pixels differ"
  return 1
}

# No box but the start question was shown.
no_boxes() {
  if grep -aE '^(ERROR|SHUTDOWN ERROR):|MSGBOX_OnInit' "$work/err" | grep -v 'Would You Like To Run In'; then
    fail "a box was shown"
  fi
}

# A box showed this text: Wine's message-box trace (WINEDEBUG +msgbox) names
# the text of every box it opens, whether or not the program wrote it out.
box_said() { grep -aqF "MSGBOX_OnInit L\"$1" "$work/err"; }

# The loudest sample the sink played in a second, 0 to 32768.
loudness() {
  timeout 1 parec --raw --format=s16le --rate=48000 --channels=2 -d lantern.monitor >"$work/sound.raw" 2>/dev/null
  sox -t raw -r 48000 -e signed -b 16 -c 2 "$work/sound.raw" -n stat 2>&1 |
    awk '/^Maximum amplitude/ {a = $3} /^Minimum amplitude/ {b = -$3} END {printf "%d\n", (a > b ? a : b) * 32768}'
}

cd "$work"  # not the program's folder: it finds its data itself
"$wine" wineboot -i >/dev/null 2>&1
# A Windows process that waits for the whole run: when the last one ends,
# Wine stops its services and desktop, and the next program's first window
# then waits 10 s for them to start again (RpcSs).
mkfifo "$work/hold"
exec 8<>"$work/hold"
"$wine" cmd.exe /c pause <"$work/hold" >/dev/null 2>&1 &

if want check; then
  echo "== the platform layer's check"
  run_batch "\"$(windows_path "$work/lantern-win32-check.exe")\""
  wait_exit 60 || fail "lantern-win32-check.exe still runs after 60 s"
  cat "$work/out"
  [ "$rc" = 0 ] || fail "lantern-win32-check.exe: exit code $rc"
fi

if want help; then
  echo "== --help from a console"
  start "" --help
  expect_exit 0 --help
  grep -aq '^Usage: lantern' "$work/out" || fail "--help printed no usage on stdout"
  windows "Start FullScreen?" | grep -q . && fail "--help asked the start question"
  echo "usage on stdout, exit code 0"
fi

if want double-click; then
  echo "== double-clicked: the start question, No, the show and its music, Escape, no log"
  # start runs the program as Explorer would: no standard handles.
  rm -f "$app/lantern.log"
  run_batch "start \"\" /wait \"$(windows_path "$app/lantern.exe")\""
  box="$(wait_window "Start FullScreen?")" || fail "no box captioned 'Start FullScreen?'"
  box_said 'Would You Like To Run In Fullscreen Mode?' ||
    fail "the box does not ask 'Would You Like To Run In Fullscreen Mode?'"
  answer "$box" n || fail "the box does not take No"
  window="$(wait_window "$title")" || fail "no window titled '$title' after No"
  expect_client_area "$window" "after No"
  echo "window $window: client area 640x480"
  wait_drawing "$window" || fail "the show does not draw"
  loud="$(loudness)"
  [ "${loud:-0}" -gt 300 ] || fail "no music reached the PulseAudio server (loudest sample ${loud:-none})"
  echo "music through winepulse: loudest sample of a second $loud"
  key "$window" Escape
  expect_exit 0 Escape
  no_boxes
  [ -e "$app/lantern.log" ] && fail "a clean run left lantern.log: $(head -3 "$app/lantern.log")"
  echo "Escape: exit code 0, no lantern.log"
fi

if want close; then
  echo "== closing the window"
  start no
  window="$(wait_window "$title")" || fail "no window"
  sleep 1
  "$work/close-window" "$window"
  expect_exit 0 "the window was closed"
  no_boxes
  echo "exit code 0"
fi

if want full-screen; then
  echo "== full screen refused: Yes, F1, No"
  start yes
  box="$(wait_window "lantern by kestrel")" || fail "no box about the full-screen mode"
  box_said 'The Requested Fullscreen Mode Is Not Supported By' ||
    fail "the box does not say the mode is not supported"
  answer "$box" y || fail "the box does not take Yes"
  window="$(wait_window "$title")" || fail "no window after Yes"
  expect_client_area "$window" "after Yes"
  wait_drawing "$window" >/dev/null || fail "the show does not draw after Yes"
  press "$window" F1
  box="$(wait_window "lantern by kestrel" "$box")" || fail "F1 did not try full screen again"
  answer "$box" n || fail "the box does not take No"
  box="$(wait_window "ERROR")" || fail "no 'ERROR' box after No"
  grep -aq '^ERROR: Program Will Now Close\.' "$work/err" || fail "'Program Will Now Close.' not on stderr"
  answer "$box" Return || fail "the box does not take Return"
  expect_exit 1 "'Program Will Now Close.'"
  grep -a 'Fullscreen Mode' "$work/err" | grep -qv MSGBOX_OnInit && fail "a question went to stderr"
  echo "window after Yes: 640x480; after F1 and No: 'Program Will Now Close.', exit code 1"
fi

if want no-module; then
  echo "== double-clicked, the module missing"
  cp -r "$app" "$work/nomusic"
  rm "$work/nomusic/data/TRK-MAIN.mo3"
  nomusic="$work/nomusic"
  run_batch "start \"\" /wait \"$(windows_path "$nomusic/lantern.exe")\""
  box="$(wait_window "Start FullScreen?")" || fail "no start question without the module"
  answer "$box" n || fail "the box does not take No"
  window="$(wait_window "$title")" || fail "no window without the module"
  sleep 2
  kill -0 "$pid" 2>/dev/null || fail "ended without the module"
  grep -aq '^lantern: cannot open music "TRK-MAIN.mo3"' "$nomusic/lantern.log" ||
    fail "lantern.log beside the program does not name the module"
  grep -aq 'cannot open music' "$work/err" "$work/out" && fail "messages went to the handles Wine has, not to the log"
  key "$window" Escape
  expect_exit 0 Escape
  [ -s "$nomusic/lantern.log" ] || fail "the log was removed though it has lines"
  grep -aq 'Fullscreen' "$nomusic/lantern.log" && fail "the start question went into lantern.log"
  echo "lantern.log: $(grep -a 'TRK-MAIN' "$nomusic/lantern.log" | tr -d '\r'); Escape: exit code 0"
fi

if want stopped-server; then
  echo "== the sound server stopped 3 s mid-show, then running again: the music back within 1 s"
  # The sink recorded throughout, the show started two orders (15.4 s) before
  # the song's end; once its music has sounded for a second, the server is
  # stopped (SIGSTOP) for 3 s, so the device takes and returns nothing, then
  # let run again (SIGCONT). The show says the music stopped and came back,
  # the recording has the music again within 1 s of the server running, and
  # the show ends by itself with 0.
  parec --raw --format=s16le --rate=48000 --channels=2 --latency-msec=20 -d lantern.monitor \
    >"$work/sink.raw" 2>/dev/null &
  recorder=$!
  LANTERN_FROM=29:0 start no
  window="$(wait_window "$title")" || fail "no window"
  # The music started half a second ago: the recording runs on that long
  # past the silence it began with.
  heard=""
  for _ in $(seq 300); do
    kill -0 "$pid" 2>/dev/null || break
    if "$work/sink-silences" 48000 100 <"$work/sink.raw" |
      awk '$1 == "silent" && $2 == 0 {s = $3} $1 == "recorded" {r = $2} END {exit !(r > s + 0.5)}'; then
      heard=1
      break
    fi
    sleep 0.2
  done
  [ -n "$heard" ] || fail "no music reached the PulseAudio server within 60 s"
  sleep 1
  # Timed by the shell's own clock right at the builtin kills: a command
  # run to read the time can be held up for a while on a busy machine.
  server="$(cat "$work/pulse/pid")"
  kill -STOP "$server"
  stopped_at=$EPOCHREALTIME
  sleep 3
  kill -CONT "$server"
  ran_at=$EPOCHREALTIME
  stopped_for="$(awk -v a="$stopped_at" -v b="$ran_at" 'BEGIN {printf "%.3f", b - a}')"
  sleep 2.5
  kill "$recorder"
  wait "$recorder" 2>/dev/null
  "$work/sink-silences" 48000 100 --stopped "$stopped_for" <"$work/sink.raw" >"$work/silences.txt"
  grep -q '^stopped [0-9]' "$work/silences.txt" ||
    fail "the recording has no silence as long as the server was stopped ($stopped_for s): $(tr '\n' ' ' <"$work/silences.txt" | tail -c 300)"
  back="$(awk '$1 == "back" {print $2}' "$work/silences.txt")"
  after="$(awk '$1 == "stopped" {s = $2} $1 == "silent" {l[++n] = $0} END {for (i = 1; i <= n; ++i) {split(l[i], f, " ");
    if (f[2] >= s && f[2] < s + 6) printf "%s-%s ", f[2], f[3]}}' "$work/silences.txt")"
  [ "$back" != none ] ||
    fail "the music did not come back after the server was stopped for $stopped_for s (silent: $after)"
  awk -v b="$back" 'BEGIN {exit !(b <= 1.0)}' ||
    fail "the music came back $back s after the server ran again, not within 1 s (silent: $after)"
  wait_exit 30 || fail "the show did not end within 30 s of the sound server running again"
  [ "$rc" = 0 ] || fail "exit code $rc after the show's end"
  grep -aq '^lantern: the audio device stopped (.*); the music goes on silently' "$work/err" ||
    fail "no line saying the audio device stopped"
  grep -aq '^lantern: the audio device is back after ' "$work/err" || fail "no line saying the audio device is back"
  echo "server stopped for $stopped_for s: the music back $back s after it ran again; $(grep -a 'audio device stopped' "$work/err" | tr -d '\r' | sed 's/;.*//'); the show ended by itself, exit code 0"
fi

kill -KILL "$(cat "$work/pulse/pid")"
wineserver -k 2>/dev/null

echo "PASS"
INSIDE

xvfb-run -a -s "-screen 0 1024x768x24 -noreset" bash "$work/inside.sh" "$wine" "$app" "$work" "$only"
