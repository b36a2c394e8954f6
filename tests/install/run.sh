#!/usr/bin/env bash
# The installation for one user, in temporary homes: `cmake --install` with the default prefix,
# the program started headless through ~/.local/bin/velmarind, the menu entry, a reinstall over
# edited settings, the uninstaller with and without --purge, and the binary package's install.sh.
#   tests/install/run.sh BUILD_FOLDER     (a built Release build folder with the default prefix)
set -uo pipefail

build=$(cd "${1:?usage: run.sh BUILD_FOLDER}" && pwd)
readonly wait_seconds=30      # for the program to print its address, and to end on SIGTERM
readonly command_seconds=90   # for one install or package run (cpack may bring the build up to date)

for tool in cmake cpack curl python3 desktop-file-validate realpath timeout; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool (tools/setup.sh test installs it)"; exit 1; }
done
[[ -x $build/velmarind ]] || { echo "no program at $build/velmarind"; exit 1; }
# The install goes to $HOME/.local only when the build folder has the per-user default prefix;
# anything else would install into a real folder of this machine, so refuse.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
if [[ -z $(cache_value VELMARIND_PER_USER_PREFIX) ||
      $(cache_value VELMARIND_PER_USER_PREFIX) != "$(cache_value CMAKE_INSTALL_PREFIX)" ]]; then
  echo "$build is not configured with the default (per-user) install prefix; reconfigure it"
  exit 1
fi

work=$(mktemp -d /tmp/velmarind-install-XXXXXX)
program_pid=
cleanup() {
  # Only the process this script started, by its id.
  [[ -n $program_pid ]] && end_started "$program_pid"
  rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
# Headless, with nothing of the real account: each round gets a home of its own.
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME \
  XDG_DATA_DIRS XDG_CONFIG_DIRS XDG_RUNTIME_DIR DESTDIR
use_home() {  # DIR
  export HOME=$1
  mkdir -p "$HOME"
  folder=$HOME/.local/lib/velmarind
  entry=$HOME/.local/share/applications/velmarind.desktop
}
run_logged() {  # LOG COMMAND...: bounded in time; the log is shown when it fails
  local log=$1; shift
  local status=0
  timeout "$command_seconds" "$@" >"$log" 2>&1 || status=$?
  ((status == 0)) && return 0
  echo "--- $*"; tail -n 20 "$log"
  ((status == 124)) && echo "--- timed out after $command_seconds s (cpack first brings the build up to date)"
  return 1
}
install_with_cmake() { run_logged "$work/install.log" cmake --install "$build"; }
layout() { (cd "$HOME/.local" && find . -printf '%y %p\n' | LC_ALL=C sort); }
listing_outside_program() { find "$HOME" -path "$folder" -prune -o -printf '%y %p %s\n' | LC_ALL=C sort; }
settings() {  # PORT AUTO_RUN: velmarind.ini in the program folder
  printf '[COMMON]\r\nHTTP_PORT=%s\r\nAUTO_RUN=%s\r\n' "$1" "$2" >"$folder/velmarind.ini"
}

# start_through_link: the program from another folder, by the link; sets program_pid and url.
start_through_link() {
  mkdir -p "$work/elsewhere"
  : >"$work/program.log"
  (cd "$work/elsewhere" && exec "$HOME/.local/bin/velmarind") >"$work/program.log" 2>&1 &
  program_pid=$!
  printed() { grep -q '^http://' "$work/program.log"; }
  printed_or_ended() { printed || program_ended; }
  wait_for "$wait_seconds" printed_or_ended && printed || return 1
  url=$(head -n 1 "$work/program.log")
}
# start_on_free_port: start_through_link on $port, free a moment ago; should another program
# have taken it meanwhile, once more on another.
start_on_free_port() {
  start_through_link && return 0
  end_started "$program_pid"
  port=$(free_port)
  settings "$port" 0
  start_through_link
}
program_ended() { ! kill -0 "$program_pid" 2>/dev/null; }
stop_program() {  # SIGTERM, then the exit status must be 0
  local status
  kill -TERM "$program_pid" 2>/dev/null
  wait_for "$wait_seconds" program_ended || return 1
  wait "$program_pid"; status=$?
  program_pid=
  return "$status"
}
fetch() {  # PATH OUTPUT: a GET on loopback, body to OUTPUT; fails on anything but 200
  [[ $(curl -s --max-time 5 -o "$2" -w '%{http_code}' "http://127.0.0.1:$port$1") == 200 ]]
}

# === round 1: cmake --install into a fresh home ==================================================
use_home "$work/home"
check "cmake --install with the default prefix installs into \$HOME/.local" install_with_cmake
expected_files=(lib/velmarind/velmarind lib/velmarind/velmarind-thumbnailer lib/velmarind/page/vcom.css
  lib/velmarind/page/vcom.js
  lib/velmarind/uninstall.sh lib/velmarind/installed-files.txt share/applications/velmarind.desktop
  share/icons/hicolor/scalable/apps/velmarind.svg)
for size in 16 22 24 32 48 64 128; do
  expected_files+=("share/icons/hicolor/${size}x${size}/apps/velmarind.png")
done
all_present() { local f; for f in "${expected_files[@]}"; do [[ -f $HOME/.local/$f ]] || { echo "missing: $f"; return 1; }; done; }
check "program folder, page files, icons, menu entry and uninstaller are in place" all_present
link_resolves() {
  [[ -L $HOME/.local/bin/velmarind && -x $HOME/.local/bin/velmarind ]] &&
    [[ $(realpath "$HOME/.local/bin/velmarind") == "$(realpath "$folder/velmarind")" ]]
}
check "\$HOME/.local/bin/velmarind is a link that resolves to the installed executable" link_resolves
check "desktop-file-validate accepts the menu entry" desktop-file-validate "$entry"
entry_fields() {
  grep -qx 'Name=Velmarind' "$entry" && grep -qx "Exec=$folder/velmarind" "$entry" &&
    grep -qx 'Icon=velmarind' "$entry" && grep -qx 'Categories=Network;FileTransfer;' "$entry" &&
    LC_ALL=C grep -q $'^Comment\\[ja\\]=.*[\x80-\xff]' "$entry" && grep -q '^Comment=' "$entry" &&
    grep -qx "Exec=$folder/velmarind --settings" "$entry"
}
check "the entry has the name, a Japanese comment, the icon, the categories, the installed Exec and its actions" entry_fields
cmake_layout=$(layout)

# --- the program, started through the link, headless --------------------------------------------
port=$(free_port)
settings "$port" 0
mkdir -p "$work/share"
echo "shared text" >"$work/share/hello.txt"
printf 'Installed;;%s/\r\n' "$work/share" >"$folder/dirlst.ini"
before_home=$(listing_outside_program)
before_folder=$(cd "$folder" && find . | LC_ALL=C sort)
check "started through the link it prints its address with the configured port" start_on_free_port
url_has_port() { [[ ${url:-} == *":$port/velmarind/" ]]; }
check "the address names the port from the installed velmarind.ini" url_has_port
index_lists_share() { fetch /velmarind/ "$work/index.html" && grep -q 'Installed' "$work/index.html"; }
check "the index page lists the folder of the installed dirlst.ini" index_lists_share
check "its pages are written into ~/.local/lib/velmarind/page/" test -f "$folder/page/index_127.0.0.1.html"
serves_installed_script() { fetch /velmarind/vcom.js "$work/vcom.js" && cmp -s "$work/vcom.js" "$folder/page/vcom.js"; }
check "it serves the installed vcom.js" serves_installed_script
check "SIGTERM ends it with status 0" stop_program
home_unchanged() { [[ $(listing_outside_program) == "$before_home" ]]; }
folder_unchanged() { [[ $(cd "$folder" && find . | LC_ALL=C sort) == "$before_folder" ]]; }
check "a headless run writes nothing in the home outside the program folder" home_unchanged
check "it leaves the program folder as it found it" folder_unchanged

# --- reinstall over edited settings and a changed page script ----------------------------------
printf '[COMMON]\r\nHTTP_PORT=%s\r\nPASS_FLG=1\r\n' "$port" >"$folder/velmarind.ini"
printf 'Edited;;%s/\r\n' "$work/share" >"$folder/dirlst.ini"
cp "$folder/velmarind.ini" "$work/edited.ini"
cp "$folder/dirlst.ini" "$work/edited-dirlst.ini"
echo "// changed by hand" >>"$folder/page/vcom.js"
check "a second cmake --install succeeds" install_with_cmake
check "the reinstall keeps the edited velmarind.ini" cmp -s "$folder/velmarind.ini" "$work/edited.ini"
check "the reinstall keeps the edited dirlst.ini" cmp -s "$folder/dirlst.ini" "$work/edited-dirlst.ini"
check "the reinstall replaces vcom.js" cmp -s "$folder/page/vcom.js" "$build/page/vcom.js"
check "the reinstall still lists the folders the first install created" \
  grep -qx "folder $HOME/.local" "$folder/installed-files.txt"

# --- the log-in start written by the program, then the uninstaller -----------------------------
settings 0 1  # port 0 from here on: the system picks it, the address names it
autostart=$HOME/.config/autostart/velmarind.desktop
start_and_stop() { start_through_link && stop_program; }
writes_autostart() { start_and_stop && [[ -f $autostart ]]; }
check "with AUTO_RUN=1 the program writes its log-in start" writes_autostart
settings 0 0
touch "$folder/pastdata.txt" "$folder/page/index_10.0.0.9.html"  # as a crashed run leaves them
cp "$folder/velmarind.ini" "$work/before-uninstall.ini"
check "uninstall.sh succeeds" run_logged "$work/uninstall.log" "$folder/uninstall.sh"
check "uninstall removes the log-in start that runs the installed program" test ! -e "$autostart"
left_files() { (cd "$HOME" && find . \( -type f -o -type l \) -printf '%p\n' | LC_ALL=C sort); }
only_settings_left() {
  [[ $(left_files) == $'./.local/lib/velmarind/dirlst.ini\n./.local/lib/velmarind/velmarind.ini' ]]
}
check "uninstall leaves only velmarind.ini and dirlst.ini" only_settings_left
# The program made ~/.config/autostart for its log-in start; that is not the installer's.
left_folders() { (cd "$HOME" && find . -mindepth 1 -type d ! -path './.config*' -printf '%p ' | LC_ALL=C sort); }
only_settings_folders_left() { [[ $(left_folders) == "./.local ./.local/lib ./.local/lib/velmarind " ]]; }
check "uninstall removes every folder the install created but those holding the settings" \
  only_settings_folders_left
check "uninstall keeps the settings as they were" cmp -s "$folder/velmarind.ini" "$work/before-uninstall.ini"

# === round 2: --purge, and a log-in start that belongs to another program ======================
use_home "$work/home2"
check "install into a second home" install_with_cmake
settings 0 0
printf 'Photos;;/nowhere/\r\n' >"$folder/dirlst.ini"
refused_while_running() {
  start_through_link || return 1
  local status=0
  "$folder/uninstall.sh" --purge >"$work/refused.log" 2>&1 || status=$?
  stop_program && ((status != 0)) && [[ -f $folder/velmarind && -f $folder/installed-files.txt ]]
}
check "uninstall refuses while the installed program runs, and removes nothing" refused_while_running
export XDG_CONFIG_HOME=$work/xdg-config
mkdir -p "$XDG_CONFIG_HOME/autostart"
printf '[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/true -j\n' >"$XDG_CONFIG_HOME/autostart/velmarind.desktop"
check "uninstall.sh --purge succeeds" run_logged "$work/purge.log" "$folder/uninstall.sh" --purge
home_empty() { [[ -z $(find "$HOME" -mindepth 1) ]]; }
check "--purge leaves nothing in the home" home_empty
check "a log-in start of another program is kept" test -f "$XDG_CONFIG_HOME/autostart/velmarind.desktop"
unset XDG_CONFIG_HOME

# === round 3: the binary package and its install.sh, into a home whose path holds a space ======
package() {
  run_logged "$work/cpack.log" cpack -B "$work/package" --config "$build/CPackConfig.cmake" || return 1
  local tarballs=("$work"/package/velmarind-*.tar.gz)
  [[ -f ${tarballs[0]} ]] && mkdir -p "$work/unpacked" && tar -xzf "${tarballs[0]}" -C "$work/unpacked"
}
check "cpack makes the binary .tar.gz" package
installers=("$work"/unpacked/*/install.sh)
use_home "$work/home three"
check "the package carries install.sh, which installs without a build" \
  run_logged "$work/tarball-install.log" "${installers[0]}"
same_layout_as_cmake() { [[ $(layout) == "$cmake_layout" ]]; }
check "install.sh installs the same layout as cmake --install" same_layout_as_cmake
check "its menu entry passes desktop-file-validate (Exec quoted for the space)" desktop-file-validate "$entry"
check "its Exec names the installed executable" grep -qx "Exec=\"$folder/velmarind\"" "$entry"
check "its link resolves to the installed executable" link_resolves
start_from_package() { settings 0 0 && start_and_stop; }
check "the program of the package runs through the link" start_from_package
rm -f "$folder/velmarind.ini"
check "the uninstall target removes the package's installation" \
  run_logged "$work/target.log" cmake --build "$build" --target uninstall
check "after it nothing is left in that home" home_empty

if ((failed > 0)); then
  echo "--- last program output"; cat "$work/program.log" 2>/dev/null
fi
echo "$passed passed, $failed failed"
((failed == 0))
