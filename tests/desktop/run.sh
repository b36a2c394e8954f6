#!/usr/bin/env bash
# The desktop program on a real X server: Xvfb, trayer as the tray host, the program started as
# the autostart entry starts it ("-j"). Checks that the icon docks and shows its tip, that a right
# click opens the menu, that a single and a double click open the settings window and the menu's
# 設定 brings it back from minimised, that the icon docks again after the tray host restarts, that
# a second start hands its command (the menu entry's actions) to the running program, and that
# the menu's exit ends the program and removes its page files.
#   tests/desktop/run.sh BUILD_FOLDER     (screenshots go to BUILD_FOLDER/desktop-test/)
set -uo pipefail

build=$(cd "${1:?usage: run.sh BUILD_FOLDER}" && pwd)
shots=$build/desktop-test
mkdir -p "$shots"
rm -f "$shots"/*.png

for tool in Xvfb trayer xdotool xwininfo import; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (tools/setup.sh test installs it)"; exit 1; }
done
[[ -x $build/velmarind ]] || { echo "no program at $build/velmarind"; exit 1; }

work=$(mktemp -d /tmp/velmarind-desktop-XXXXXX)
xvfb_pid= trayer_pid= program_pid= second_pid= later_pid=
cleanup() {
  # Only the processes this script started, by their id; those a TERM does not end soon, KILL.
  local pids="$later_pid $second_pid $program_pid $trayer_pid $xvfb_pid"
  for pid in $pids; do kill "$pid" 2>/dev/null; done
  all_ended() { local pid; for pid in $pids; do ! kill -0 "$pid" 2>/dev/null || return 1; done; }
  wait_for 3 all_ended || for pid in $pids; do kill -9 "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
# shot NAME: the screen once painting has settled (two captures alike, a few tries at most).
shot() {
  local last= now i
  for ((i = 0; i < 10; i++)); do
    now=$(import -window root ppm:- 2>/dev/null | md5sum)
    [[ $now == "$last" ]] && break
    last=$now
  done
  import -window root "$shots/$1.png" 2>/dev/null
}

# --- a program folder of its own, on a free loopback-tested port -------------------------------
mkdir -p "$work/app/page" "$work/config" "$work/share"
cp "$build/velmarind" "$work/app/"
cp "$build"/page/vcom.css "$build"/page/vcom.js "$work/app/page/"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' 2>/dev/null || echo 0)
# Japanese windows whatever the locale of the session that runs the test: the checks read them.
printf '[COMMON]\r\nHTTP_PORT=%s\r\nLANGUAGE=ja\r\n' "$port" > "$work/app/velmarind.ini"
printf 'Share;;%s/\r\n' "$work/share" > "$work/app/dirlst.ini"
echo "left by the user" > "$work/app/page/index_127.0.0.1.html"
# The browser opener: notes what it was asked to open.
mkdir -p "$work/bin"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s/opened.txt"\n' "$work" > "$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
export PATH=$work/bin:$PATH

# x11 tray-owned: a tray host owns the tray selection of screen 0.
# x11 iconify WINDOW: the window unmapped and its WM_STATE iconic.
x11() {
  python3 - "$@" <<'EOF'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XGetSelectionOwner.restype = ctypes.c_ulong
x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                              ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
x.XUnmapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
display = x.XOpenDisplay(None)
if not display:
  sys.exit(1)
if sys.argv[1] == "tray-owned":
  sys.exit(0 if x.XGetSelectionOwner(display, x.XInternAtom(display, b"_NET_SYSTEM_TRAY_S0", 0))
           else 1)
window = int(sys.argv[2])
wm_state = x.XInternAtom(display, b"WM_STATE", 0)
iconic = (ctypes.c_long * 2)(3, 0)  # IconicState, no icon window
x.XUnmapWindow(display, window)
x.XChangeProperty(display, window, wm_state, wm_state, 32, 0, iconic, 2)
x.XCloseDisplay(display)
EOF
}

# --- display and tray host ---------------------------------------------------------------------
exec 3>"$work/display"
# -noreset: when its last client leaves the server resets, and a program starting just then
# cannot connect.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
wait_for 10 test -s "$work/display" || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")
# Without a session bus Qt docks its icon through the X tray protocol, which trayer speaks.
unset DBUS_SESSION_BUS_ADDRESS
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

start_trayer() {
  trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
    --transparent false --tint 0xcccccc >>"$work/trayer.log" 2>&1 &
  trayer_pid=$!
  wait_for 10 x11 tray-owned || { echo "trayer took no tray"; cat "$work/trayer.log"; exit 1; }
}
start_trayer

# --- helpers that read the X window tree; each looks at the windows of one process ------------
windows_of() { xdotool search --pid "$1" 2>/dev/null; }
named() { [[ $(xdotool getwindowname "$1" 2>/dev/null) == "$2" ]]; }
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
docked() { ! xwininfo -id "$1" -tree 2>/dev/null | grep -q 'Parent window id: .*(the root window)'; }
icon_window() {  # PID: the tray icon, a window named "Velmarind" that trayer's panel took in
  local w
  for w in $(windows_of "$1"); do named "$w" Velmarind && docked "$w" && { echo "$w"; return 0; }; done
  return 1
}
icon_docked() { icon_window "$1" >/dev/null; }
icon_undocked() { ! icon_docked "$1"; }
settings_shown() {  # PID
  local w
  for w in $(windows_of "$1"); do named "$w" 設定 && viewable "$w" && return 0; done
  return 1
}
settings_hidden() { ! settings_shown "$1"; }
popup_window() {  # PID: a viewable window of the process that is neither the icon nor 設定
  local w
  for w in $(windows_of "$1"); do
    named "$w" 設定 && continue
    docked "$w" && continue
    viewable "$w" && { echo "$w"; return 0; }
  done
  return 1
}
popup_open() { popup_window "$1" >/dev/null; }
popup_closed() { ! popup_window "$1" >/dev/null; }
settings_window() {  # PID: the window titled 設定 while it is viewable
  local w
  for w in $(windows_of "$1"); do named "$w" 設定 && viewable "$w" && { echo "$w"; return 0; }; done
  return 1
}
# What a window manager does to minimise a window (there is none here): the window is unmapped
# and its WM_STATE says iconic, which is what tells the program it is minimised.
iconify() { x11 iconify "$1"; }

# --- the program, as the autostart entry starts it ----------------------------------------------
(cd "$work/app" && exec ./velmarind -j) >"$work/program.log" 2>&1 &
program_pid=$!

check "icon docks in the tray" wait_for 15 icon_docked "$program_pid"
shot 1-docked
check "started with -j the settings window stays hidden" settings_hidden "$program_pid"

icon=$(icon_window "$program_pid")
xdotool mousemove --window "$icon" 6 6 sleep 0.2 mousemove --window "$icon" 8 8
check "resting on the icon shows its tip" wait_for 5 popup_open "$program_pid"
shot 1-tip
xdotool mousemove 400 400
wait_for 5 popup_closed "$program_pid"

xdotool mousemove --window "$icon" 8 8 click 3
check "a right click opens the menu" wait_for 5 popup_open "$program_pid"
shot 2-menu
xdotool key Escape
wait_for 3 popup_closed "$program_pid"

# Escape in the settings window is its 閉じる.
close_settings() {  # PID
  local w
  w=$(settings_window "$1") && xdotool windowfocus --sync "$w" 2>/dev/null && xdotool key Escape
  wait_for 5 settings_hidden "$1"
}
xdotool mousemove --window "$icon" 8 8 click 1
check "a single click opens the window titled 設定" wait_for 5 settings_shown "$program_pid"
check "Escape closes it" close_settings "$program_pid"

xdotool mousemove --window "$icon" 8 8 click --repeat 2 --delay 80 1
check "a double click opens the window titled 設定" wait_for 5 settings_shown "$program_pid"
shot 3-settings

# Minimised, the window came back neither from the menu nor from a double click.
iconify "$(settings_window "$program_pid")"
check "a minimised settings window is not shown" wait_for 5 settings_hidden "$program_pid"
xdotool mousemove --window "$icon" 8 8 click 3
if wait_for 5 popup_open "$program_pid"; then xdotool key s; fi  # 設定(&S)
check "the menu's 設定 brings it back from minimised" wait_for 5 settings_shown "$program_pid"
shot 3b-restored

kill "$trayer_pid"
wait "$trayer_pid" 2>/dev/null
trayer_pid=
wait_for 5 icon_undocked "$program_pid"
start_trayer
check "the icon docks again after the tray host restarts" wait_for 15 icon_docked "$program_pid"
shot 4-redocked

# A browser's new text is told beside the icon (Qt's own balloon, with no notification service).
dirname=$(printf Share | od -An -tx1 | tr -d ' \n')
curl -s -o /dev/null --max-time 10 --data "menu=newtext&dirname=$dirname&fname=note.txt&tbody=hi" \
  "http://127.0.0.1:$port/velmarind/index.html" || true
check "a new text from a browser is saved" test -f "$work/share/note.txt"
check "and shows a notice beside the icon" wait_for 10 popup_open "$program_pid"
shot 5-notice
if balloon=$(popup_window "$program_pid"); then xdotool mousemove --window "$balloon" 10 10 click 1; fi
check "the notice goes away" wait_for 15 popup_closed "$program_pid"

# Later starts hand their command to the running program and end: as the menu entry starts it
# (no argument), as its actions do, and as the log-in start does ("-j", which adds nothing).
mkdir -p "$work/second/page"
cp "$work/app/velmarind" "$work/app/velmarind.ini" "$work/app/dirlst.ini" "$work/second/"
start_later() {  # ARGUMENTS...: a start from another folder; true when it ends with 0 in time
  (cd "$work/second" && exec ./velmarind "$@") >>"$work/later.log" 2>&1 &
  later_pid=$!
  local ended=false
  wait_for 10 eval '! kill -0 "$later_pid" 2>/dev/null' && ended=true
  $ended && wait "$later_pid"
  local status=$?
  later_pid=
  $ended && ((status == 0))
}
close_settings "$program_pid"
check "a second start ends at once" start_later
check "and the running program shows its settings window" wait_for 5 settings_shown "$program_pid"
close_settings "$program_pid"
check "a second start with -j ends at once" start_later -j
sleep 1
check "and changes nothing" settings_hidden "$program_pid"
check "the entry's Settings action shows the settings window" start_later --settings
check "in the running program" wait_for 5 settings_shown "$program_pid"
close_settings "$program_pid"
rm -f "$work/opened.txt"
check "the entry's Open URL action is handed over" start_later --open-url
opened_start_page() { grep -q '/page/gohome.html$' "$work/opened.txt" 2>/dev/null; }
check "and the running program opens the start page" wait_for 5 opened_start_page
check "the running program still serves on its port" \
  curl -s -o /dev/null --max-time 5 "http://127.0.0.1:$port/velmarind/"

# Another user's session (another runtime folder) on the same port: one message box, then it
# stays with its icon and its settings window (started without arguments) works.
(cd "$work/second" && XDG_RUNTIME_DIR=$work/runtime-other exec ./velmarind) >"$work/second.log" 2>&1 &
second_pid=$!
check "a port in use shows a message box" wait_for 10 popup_open "$second_pid"
shot 6-port-in-use
box=$(popup_window "$second_pid")
xdotool windowactivate --sync "$box" 2>/dev/null; xdotool key Return
check "after the box the settings window comes up" wait_for 5 settings_shown "$second_pid"
check "after the box the icon is in the tray" wait_for 10 icon_docked "$second_pid"
kill "$second_pid"
second_ended() { ! kill -0 "$second_pid" 2>/dev/null; }
check "SIGTERM ends the program" wait_for 10 second_ended
second_pid=

# "終了(&F)", the menu's first item, ends the program.
icon=$(icon_window "$program_pid")
xdotool mousemove --window "$icon" 8 8 click 3
if wait_for 5 popup_open "$program_pid"; then
  menu=$(popup_window "$program_pid")
  xdotool mousemove --window "$menu" 30 12 click 1
fi
program_ended() { ! kill -0 "$program_pid" 2>/dev/null; }
check "the menu's 終了 ends the program" wait_for 15 program_ended
status=1
if program_ended; then wait "$program_pid"; status=$?; program_pid=; fi
check "the program exits with 0" test "$status" -eq 0
html_left() { compgen -G "$work/app/page/*.html" >/dev/null; }
check "exit removes the page files" eval '! html_left'
check "exit keeps the installed page files" test -f "$work/app/page/vcom.js"

# With nothing running, the entry's Quit action ends at once and starts nothing; Open URL starts
# the program (its icon only) and opens the start page; Quit then ends it.
check "Quit with nothing running ends at once" start_later --quit
(cd "$work/app" && exec ./velmarind --open-url) >"$work/program.log" 2>&1 &
program_pid=$!
rm -f "$work/opened.txt"
check "Open URL with nothing running starts the program" wait_for 15 icon_docked "$program_pid"
check "which opens the start page" wait_for 5 opened_start_page
check "and shows no settings window" settings_hidden "$program_pid"
check "Quit is handed to it" start_later --quit
check "and ends it" wait_for 10 program_ended
status=1
if program_ended; then wait "$program_pid"; status=$?; program_pid=; fi
check "with 0" test "$status" -eq 0

# Without a tray host the icon cannot be reached: even with -j the settings window comes up.
kill "$trayer_pid"
wait "$trayer_pid" 2>/dev/null
trayer_pid=
mkdir -p "$work/third/page"
cp "$work/app/velmarind" "$work/app/velmarind.ini" "$work/app/dirlst.ini" "$work/third/"
(cd "$work/third" && exec ./velmarind -j) >"$work/third.log" 2>&1 &
second_pid=$!
check "without a tray, -j still shows the settings window" wait_for 15 settings_shown "$second_pid"
shot 7-no-tray
kill "$second_pid"
check "and SIGTERM ends it" wait_for 10 second_ended
second_pid=

if ((failed > 0)); then
  for log in program second later third; do
    [[ -s "$work/$log.log" ]] && { echo "--- $log output"; cat "$work/$log.log"; }
  done
fi
echo "screenshots: $shots"
echo "$passed passed, $failed failed"
((failed == 0))
