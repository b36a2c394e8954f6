#!/usr/bin/env bash
# The program found on the local network: announced through the mDNS daemon as an HTTP service
# with TXT path=/velmarind/, also when the daemon starts after the program or restarts, answering
# under the announced name, and gone from the network after the program ends. Then the core's own
# test of following a port change (announce_test) against the same daemon.
#
# When a network namespace can be made (root), everything runs in a private one: its loopback
# interface (with multicast) is the only network, with a D-Bus system bus and an avahi-daemon of
# this script's own, so nothing is announced beyond this machine. Otherwise a daemon already
# running on the system bus is used; with neither, the test is skipped and says why.
#   tests/announce/run.sh BUILD_FOLDER
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_FOLDER}" && pwd)

skip() { echo "SKIPPED: $*"; exit 0; }
for tool in avahi-daemon avahi-browse dbus-daemon curl python3; do
  command -v "$tool" >/dev/null || skip "missing tool: $tool (tools/setup.sh test installs it)"
done
[[ -x $build/velmarind && -x $build/tests/announce_test ]] ||
  { echo "no program or announce_test in $build"; exit 1; }

if [[ -z ${VELMARIND_MDNS_NAMESPACE:-} ]]; then
  if unshare --net --mount true 2>/dev/null; then
    VELMARIND_MDNS_NAMESPACE=private exec unshare --net --mount "$0" "$build"
  fi
  avahi-browse --terminate --parsable _http._tcp >/dev/null 2>&1 ||
    skip "no network namespace can be made here (needs root) and no mDNS daemon runs"
  echo "note: using the mDNS daemon already running; the test service shows on its network"
  VELMARIND_MDNS_NAMESPACE=shared
fi

source "$here/../support/checks.sh"
work=$(mktemp -d /tmp/velmarind-announce-XXXXXX)
bus_pid= avahi_pid= program_pid=
cleanup() {
  # Only the processes this script started, by their id.
  end_started $program_pid $avahi_pid $bus_pid
  rm -rf "$work"
}
trap cleanup EXIT

start_daemon() {
  avahi-daemon -f "$work/avahi-daemon.conf" --no-chroot --no-drop-root --no-rlimits \
    --no-proc-title >>"$work/avahi.log" 2>&1 &
  avahi_pid=$!
}
stop_daemon() {
  kill "$avahi_pid" 2>/dev/null
  wait "$avahi_pid" 2>/dev/null
  avahi_pid=
}

if [[ $VELMARIND_MDNS_NAMESPACE == private ]]; then
  # The daemon keeps its pid file and socket under /run: a /run of this namespace's own.
  mount -t tmpfs tmpfs /run || { echo "cannot mount a private /run"; exit 1; }
  ip link set lo up && ip link set lo multicast on ||
    { echo "cannot set up the loopback interface"; exit 1; }
  cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/system_bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
  cat >"$work/avahi-daemon.conf" <<CONF
[server]
host-name=velmarind-announce-test
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
  dbus-daemon --config-file="$work/bus.conf" --nofork >"$work/bus.log" 2>&1 &
  bus_pid=$!
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/system_bus
  wait_for 10 test -S "$work/system_bus" || { echo "the private bus did not start"; exit 1; }
fi

# --- the program, headless, on a port of the system's choice; started before the daemon -------
mkdir -p "$work/app/page" "$work/config"
cp "$build/velmarind" "$work/app/"
cp "$build"/page/vcom.css "$build"/page/vcom.js "$work/app/page/"
printf '[COMMON]\r\nHTTP_PORT=0\r\n' >"$work/app/velmarind.ini"
(cd "$work/app" && unset DISPLAY WAYLAND_DISPLAY &&
  XDG_CONFIG_HOME=$work/config exec ./velmarind) >"$work/program.log" 2>&1 &
program_pid=$!
printed() { grep -q '^http://' "$work/program.log"; }
wait_for 30 printed || { echo "the program printed no address"; cat "$work/program.log"; exit 1; }
port=$(sed -n 's|^http://.*:\([0-9]*\)/velmarind/$|\1|p' "$work/program.log")

status_of() {  # HOST: the status code of the start page asked for under that host name
  curl -s -o /dev/null -w '%{http_code}' --max-time 5 -H "Host: $1:$port" \
    "http://127.0.0.1:$port/velmarind/"
}
serving() { [[ $(status_of 127.0.0.1) == 200 ]]; }
# The resolved entries of our service: "host port txt" lines.
browsed() {
  timeout 5 avahi-browse --resolve --terminate --parsable --no-db-lookup _http._tcp 2>/dev/null |
    awk -F';' -v port="$port" '$1 == "=" && $4 ~ /^Velmarind/ && $9 == port { print $7, $9, $10 }' |
    sort -u
}
announced() { [[ $(browsed) == *" $port \"path=/velmarind/\""* ]]; }
withdrawn() { [[ -z $(browsed) ]]; }

check "without a daemon the program serves" wait_for 10 serving

if [[ $VELMARIND_MDNS_NAMESPACE == private ]]; then
  start_daemon
  check "a daemon that starts later announces the service with its path" wait_for 15 announced
  host=$(browsed | awk 'NR == 1 { print $1 }')
  # Not the machine's own host name: the daemon's, which the program answers under too.
  check "the announced name is answered, not refused" test "$(status_of "$host")" = 200
  check "another name is still refused" test "$(status_of other-machine.local)" = 421
  stop_daemon
  start_daemon
  check "after the daemon restarts the service is announced again" wait_for 20 announced
else
  check "the running daemon announces the service with its path" wait_for 15 announced
fi

kill "$program_pid"
ended() { ! kill -0 "$program_pid" 2>/dev/null; }
check "SIGTERM ends the program" wait_for 10 ended
status=1
if ended; then wait "$program_pid"; status=$?; program_pid=; fi
check "the program exits with 0" test "$status" -eq 0
check "after the program ends the service is gone" wait_for 10 withdrawn

check "the core follows a port change and withdraws at close (announce_test)" \
  env VELMARIND_MDNS_TEST=1 XDG_CONFIG_HOME="$work/config" timeout 120 \
  "$build/tests/announce_test" --gtest_brief=1 --gtest_filter='Announce.Follows*' 

if ((failed > 0)); then
  for log in program avahi bus; do
    [[ -s $work/$log.log ]] && { echo "--- $log output"; tail -n 30 "$work/$log.log"; }
  done
fi
echo "$passed passed, $failed failed"
((failed == 0))
