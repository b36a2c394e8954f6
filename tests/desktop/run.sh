#!/usr/bin/env bash
# The desktop program on a real X server: Xvfb, trayer as the tray host, the program started as
# the autostart entry starts it ("-j"). Checks that the icon docks and shows its tip, that a right
# click opens the menu, that a single and a double click open the settings window and the menu's
# 設定 brings it back from minimised, that the icon docks again after the tray host restarts, that
# a second start hands its command (the menu entry's actions) to the running program, and that
# the menu's exit ends the program and removes its page files. Then, in a network of its own, a
# normal user's first start from a folder it cannot write (the first start's port, the address
# following the network); the tray's QR code signing a phone-sized browser in once, and without a
# tray a login with a password Shift_JIS cannot hold.
# Every check waits for its condition with a generous deadline (a busy machine must pass).
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
xvfb_pid= trayer_pid= program_pid= second_pid= later_pid= user_pid=
cleanup() {
  # Only the processes this script started, by their id; those a TERM does not end soon, KILL.
  local pids="$later_pid $second_pid $program_pid $user_pid $trayer_pid $xvfb_pid"
  for pid in $pids; do kill "$pid" 2>/dev/null; done
  all_ended() { local pid; for pid in $pids; do ! kill -0 "$pid" 2>/dev/null || return 1; done; }
  wait_for 3 all_ended || for pid in $pids; do kill -9 "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
# The deadlines below are what a quiet machine needs; each is waited six times as long, so that a
# loaded machine passes and only a hang fails.
eval "$(declare -f wait_for | sed '1s/wait_for/wait_quietly_for/')"
wait_for() { local seconds=$(($1 * 6)); shift; wait_quietly_for "$seconds" "$@"; }
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

# --- a program folder of its own, on a port free on every address --------------------------------
mkdir -p "$work/app/page" "$work/config" "$work/share"
cp "$build/velmarind" "$work/app/"
cp "$build"/page/vcom.css "$build"/page/vcom.js "$work/app/page/"
# The program listens on every address: a port free on loopback alone may be another address's.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("0.0.0.0", 0)); print(s.getsockname()[1])')
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
  for w in $(windows_of "$1"); do named "$w" "Velmarind 設定" && viewable "$w" && return 0; done
  return 1
}
settings_hidden() { ! settings_shown "$1"; }
popup_window() {  # PID: a viewable window of the process that is neither the icon nor settings
  local w
  for w in $(windows_of "$1"); do
    named "$w" "Velmarind 設定" && continue
    docked "$w" && continue
    viewable "$w" && { echo "$w"; return 0; }
  done
  return 1
}
popup_open() { popup_window "$1" >/dev/null; }
popup_closed() { ! popup_window "$1" >/dev/null; }
settings_window() {  # PID: the settings window while it is viewable
  local w
  for w in $(windows_of "$1"); do named "$w" "Velmarind 設定" && viewable "$w" && { echo "$w"; return 0; }; done
  return 1
}
# dismiss_box PID: Return in the process's message box, given the focus (without a window manager
# there is no activating); true once no box is left.
dismiss_box() {
  local box
  box=$(popup_window "$1") || return 0
  xdotool windowfocus --sync "$box" 2>/dev/null && xdotool key Return
  ! popup_open "$1"
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
wait_for 3 popup_closed "$program_pid"

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
curl -s -o /dev/null --max-time 60 --data "menu=newtext&dirname=$dirname&fname=note.txt&tbody=hi" \
  "http://127.0.0.1:$port/velmarind/index.html" || true
check "a new text from a browser is saved" wait_for 5 test -f "$work/share/note.txt"
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
# Commands are carried out in the order they come: once a later one is done, that of -j was too.
rm -f "$work/opened.txt"
check "the entry's Open URL action is handed over" start_later --open-url
opened_start_page() { grep -q '/page/gohome.html$' "$work/opened.txt" 2>/dev/null; }
check "and the running program opens the start page" wait_for 5 opened_start_page
check "the start with -j changed nothing" settings_hidden "$program_pid"
check "the entry's Settings action shows the settings window" start_later --settings
check "in the running program" wait_for 5 settings_shown "$program_pid"
close_settings "$program_pid"
serves() { curl -s -o /dev/null --max-time 30 "http://127.0.0.1:$1/velmarind/"; }
check "the running program still serves on its port" wait_for 5 serves "$port"

# Another user's session (another runtime folder) on the same port: one message box, then it
# stays with its icon and its settings window (started without arguments) works.
(cd "$work/second" && XDG_RUNTIME_DIR=$work/runtime-other exec ./velmarind) >"$work/second.log" 2>&1 &
second_pid=$!
check "a port in use shows a message box" wait_for 10 popup_open "$second_pid"
shot 6-port-in-use
wait_for 5 dismiss_box "$second_pid"
check "after the box the settings window comes up" wait_for 5 settings_shown "$second_pid"
check "after the box the icon is in the tray" wait_for 10 icon_docked "$second_pid"
kill "$second_pid"
second_ended() { ! kill -0 "$second_pid" 2>/dev/null; }
check "SIGTERM ends the program" wait_for 10 second_ended
second_pid=

# "終了(&F)", the menu's last item, ends the program.
icon=$(icon_window "$program_pid")
xdotool mousemove --window "$icon" 8 8 click 3
if wait_for 5 popup_open "$program_pid"; then xdotool key f; fi
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
rm -f "$work/opened.txt"  # before the start: the start page may be opened at once
(cd "$work/app" && exec ./velmarind --open-url) >"$work/program.log" 2>&1 &
program_pid=$!
check "Open URL with nothing running starts the program" wait_for 15 icon_docked "$program_pid"
check "which opens the start page" wait_for 5 opened_start_page
check "and shows no settings window" settings_hidden "$program_pid"
check "Quit is handed to it" start_later --quit
check "and ends it" wait_for 10 program_ended
status=1
if program_ended; then wait "$program_pid"; status=$?; program_pid=; fi
check "with 0" test "$status" -eq 0

# --- a normal user's first start, from a folder it cannot write, in a network of its own -------
# The folder is root's (a copy in a system folder); its page folder the user's, so pages can be
# sent. The network namespace starts with loopback only, as a laptop before its network is up.
user=nobody
if [[ $(id -u) == 0 ]] && id "$user" >/dev/null 2>&1 && unshare -n true 2>/dev/null; then
  mkdir -p "$work/system/page" "$work/user/config"
  cp "$work/app/velmarind" "$work/system/"
  cp "$work/app/page/vcom.css" "$work/app/page/vcom.js" "$work/system/page/"
  mkdir -m 700 "$work/user/runtime"
  chown -R "$user" "$work/user" "$work/system/page"
  chmod 755 "$work" "$work/bin"  # mktemp made the work folder the owner's alone
  : >>"$work/opened.txt" && chmod 666 "$work/opened.txt"  # the browser opener notes there
  as_user=(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups
           env HOME="$work/user" XDG_RUNTIME_DIR="$work/user/runtime" XDG_CONFIG_HOME="$work/user/config")
  (cd "$work/system" && exec unshare -n sh -c 'ip link set lo up && exec "$@"' sh \
     "${as_user[@]}" ./velmarind -j) >"$work/user.log" 2>&1 &
  user_pid=$!
  in_net() { nsenter --net="/proc/$user_pid/ns/net" "$@"; }
  hand_user() {  # ARGUMENTS...: a later start of the same user in the same network
    (cd "$work/system" && in_net "${as_user[@]}" ./velmarind "$@") >>"$work/user.log" 2>&1
  }
  check "a first start that cannot save its settings serves on port 8080" \
    wait_for 15 in_net curl -s -o /dev/null --max-time 30 "http://127.0.0.1:8080/velmarind/"
  check "and tells to install or copy it, in a message box" wait_for 15 popup_open "$user_pid"
  shot 8-unwritable-folder
  wait_for 5 dismiss_box "$user_pid"
  check "and writes no settings file" test ! -e "$work/system/velmarind.ini"
  start_page_names() {  # URL: the start page, written on request, sends the browser there
    hand_user --open-url && grep -q "url=$1\"" "$work/system/page/gohome.html" 2>/dev/null
  }
  check "without a network the start page names loopback" \
    wait_for 15 start_page_names "http://127.0.0.1:8080/velmarind/"
  in_net ip link add v0 type veth peer name v1 && in_net ip link set v1 up && in_net ip link set v0 up
  in_net ip addr add 10.9.8.7/24 dev v0
  check "an address that comes up becomes the start page's" \
    wait_for 15 start_page_names "http://10.9.8.7:8080/velmarind/"
  hand_user --settings
  check "the settings window shows it" wait_for 15 settings_shown "$user_pid"
  shot 9-address-came
  in_net ip addr del 10.9.8.7/24 dev v0
  check "and one that vanishes goes" wait_for 15 start_page_names "http://127.0.0.1:8080/velmarind/"
  shot 10-address-went
  user_ended() { ! kill -0 "$user_pid" 2>/dev/null; }
  hand_user --quit
  check "Quit ends it" wait_for 15 user_ended
  user_pid=
else
  echo "skipped: a normal user's first start in a network of its own (needs root and unshare -n)"
fi

# --- sign-in by a scan: the tray's QR code carries a one-time code ------------------------------
# The phone is a phone-sized headless Chromium on loopback: the code's URL names this machine's
# address, which the test does not use; its document and code are what a phone sends.
e2e=$(cd "$(dirname "${BASH_SOURCE[0]}")/../e2e" && pwd)
[[ -f $e2e/node_modules/playwright-core/package.json ]] ||
  (cd "$e2e" && npm ci --no-audit --no-fund --loglevel=error) >/dev/null 2>&1
mkdir -p "$work/scan/page"
cp "$work/app/velmarind" "$work/app/dirlst.ini" "$work/scan/"
cp "$work/app/page/vcom.css" "$work/app/page/vcom.js" "$work/scan/page/"
start_scan() {  # SETTINGS: the program with a password and SETTINGS; true once its icon docks
  printf '[COMMON]\r\nHTTP_PORT=%s\r\nLANGUAGE=ja\r\nPASS_FLG=1\r\nPASSWORD=736563726574\r\n%s' \
    "$port" "$1" >"$work/scan/velmarind.ini"
  (cd "$work/scan" && exec ./velmarind -j) >>"$work/scan.log" 2>&1 &
  program_pid=$!
  wait_for 15 icon_docked "$program_pid"
}
menu_key() {  # KEY: the tray menu's item of that key
  xdotool mousemove --window "$(icon_window "$program_pid")" 8 8 click 3 && wait_for 5 popup_open "$program_pid" && xdotool key "$1"
}
qr_shown() { local w; for w in $(windows_of "$program_pid"); do named "$w" "Velmarind QRコード" && viewable "$w" && return 0; done; return 1; }
scanned_code() {  # NAME: the sign-in code of the QR code on the screen (kept as NAME.png)
  shot "$1"
  [[ $(zbarimg --quiet --raw "$shots/$1.png" 2>/dev/null) =~ /velmarind/vm-signin\?t=([0-9a-f]{32})$ ]] &&
    echo "${BASH_REMATCH[1]}"
}
signin_url() { echo "http://127.0.0.1:$port/velmarind/vm-signin?t=$1"; }
# refused_from ADDRESS CODE: the login form saying that the code was used or has expired
refused_from() { curl -s --max-time 30 --interface "$1" "$(signin_url "$2")" | iconv -f SHIFT_JIS -t UTF-8 | grep -q 使用済みか期限切れ; }
quit_scan() { menu_key f && wait_for 15 program_ended && wait "$program_pid" && program_pid=; }

check "a program that requires a password docks" start_scan ""
check "the menu's QRコード shows the code in a window" eval 'menu_key q && wait_for 5 qr_shown'
first=$(scanned_code 11-scan-code)
check "the code carries a one-time sign-in code" test -n "$first"
landed=$(node "$e2e/open_scanned.mjs" "$(signin_url "$first")" 2>>"$work/scan.log")
check "a phone that opens it lands on the start page, without the code in its address" \
  test "$(head -n1 <<<"$landed")" = "http://127.0.0.1:$port/velmarind/"
check "and is let in: the shares are listed" grep -q Share <<<"$landed"
next_code() { local now; now=$(scanned_code 12-next-code) && [[ $now != "$first" ]]; }
check "a new code appears once the code is used" wait_for 10 next_code
check "the used code is refused from another address" refused_from 127.0.0.2 "$first"
check "which is not let in" eval '! curl -s --max-time 30 --interface 127.0.0.2 \
  "http://127.0.0.1:$port/velmarind/" | grep -q Share'
check "the code is in no page file and no log" eval '! grep -rqs "$first" "$work/scan/page" "$work/scan.log"'
check "the menu's 終了 ends it" quit_scan

check "with codes valid for a second it docks again" start_scan $'QR_SIGNIN_SECONDS=1\r\n'
menu_key q && wait_for 5 qr_shown
old=$(scanned_code 13-short-code)
replaced() { local now; now=$(scanned_code 14-replaced-code) && [[ $now != "$old" ]]; }
check "an expiring code is replaced" wait_for 10 replaced
check "and refused" refused_from 127.0.0.3 "$old"
check "the menu's 終了 ends it" quit_scan

# --- without a tray host: the settings window, and a password Shift_JIS cannot hold -------------
kill "$trayer_pid"
wait "$trayer_pid" 2>/dev/null
trayer_pid=
mkdir -p "$work/third/page"
cp "$work/app/velmarind" "$work/app/dirlst.ini" "$work/third/"
password=pässwörd€
printf '[COMMON]\r\nHTTP_PORT=%s\r\nLANGUAGE=ja\r\nPASS_FLG=1\r\nPASSWORD=%s\r\n' "$port" \
  "$(printf %s "$password" | od -An -tx1 | tr -d ' \n')" >"$work/third/velmarind.ini"
(cd "$work/third" && exec ./velmarind -j) >"$work/third.log" 2>&1 &
second_pid=$!
check "without a tray, -j still shows the settings window" wait_for 15 settings_shown "$second_pid"
shot 7-no-tray
logs_in() {  # as the login page sends the password: each character's code in hexadecimal
  local pw
  pw=$(python3 -c 'import sys; print("".join("%X" % ord(c) for c in sys.argv[1]))' "$password")
  curl -s --max-time 30 "http://127.0.0.1:$port/velmarind/login.html?pw=$pw&passwd=&tt=1" |
    iconv -f SHIFT_JIS -t UTF-8 2>/dev/null | grep -q ログイン完了
}
check "a password Shift_JIS cannot hold logs a browser in" wait_for 15 logs_in
kill "$second_pid"
check "and SIGTERM ends it" wait_for 10 second_ended
second_pid=

if ((failed > 0)); then
  for log in program second later user scan third; do
    [[ -s "$work/$log.log" ]] && { echo "--- $log output"; cat "$work/$log.log"; }
  done
fi
echo "screenshots: $shots"
echo "$passed passed, $failed failed"
((failed == 0))
