#!/usr/bin/env bash
# Huge folders: nine nested folders with 250-character names, the innermost holding 100,000
# one-byte files. Velmarind's peak resident memory while four clients (four addresses) list the
# innermost folder at once, and while four clients zip the whole tree at once, each answer read
# to its end. Runs Velmarind alone, headless, on 127.0.0.1 (a port free on every address), and
# stops it by its pid.
#
#   bench/huge_folder.sh BUILD_FOLDER   (a Release build: BUILD_FOLDER/velmarind and page/)
#
# Needs curl and python3; about 3 GiB free under /tmp (each listing's page file is some 480 MB).
set -euo pipefail

readonly FILES=100000  # in the innermost folder
readonly LEVELS=9      # folders above them, each name this many characters long:
readonly NAME_LENGTH=250
readonly CLIENTS=4  # at once, each from an address of its own
readonly T_RSS_MIB=128  # target: peak RSS during each of the two rounds

if [[ $# -ne 1 || ! -x "${1:-}/velmarind" || ! -d "${1:-}/page" ]]; then
  echo "usage: $0 BUILD_FOLDER   (the folder holding velmarind and page/)" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)

WORK=$(mktemp -d /tmp/velmarind-huge-bench.XXXXXX)
VPID="" SPID=""
stop_pid() {
  local pid=$1
  [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
}
cleanup() { stop_pid "$SPID"; stop_pid "$VPID"; rm -rf "$WORK"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

PROG="$WORK/prog" SHARE="$WORK/share"
mkdir -p "$PROG/page" "$SHARE" "$WORK/xdg"
cp "$BUILD/velmarind" "$PROG/"
cp "$BUILD"/page/vcom.css "$BUILD"/page/vcom.js "$PROG/page/"

# The tree, made through a descriptor of the innermost folder: no long path is walked per file.
DEEP=$(python3 - "$SHARE" "$LEVELS" "$NAME_LENGTH" "$FILES" <<'EOF'
import os, sys, time
root, levels, length, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
start = time.monotonic()
path = root
for level in range(levels):
    path = os.path.join(path, chr(ord("a") + level) * length)
os.makedirs(path)
folder = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
for i in range(files):
    fd = os.open(f"f{i:06d}", os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644, dir_fd=folder)
    os.write(fd, b"x")
    os.close(fd)
os.close(folder)
print(f"tree of {files} files made in {time.monotonic() - start:.1f} s", file=sys.stderr)
print(path)
EOF
)
TOP="$SHARE/$(printf 'a%.0s' $(seq "$NAME_LENGTH"))"

PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("0.0.0.0",0)); print(s.getsockname()[1])')
printf '[COMMON]\r\nHTTP_PORT=%s\r\nAUTO_RUN=0\r\nPASS_FLG=0\r\nPASSWORD=\r\n' "$PORT" >"$PROG/velmarind.ini"
printf 'Huge;;%s/\r\n' "$SHARE" >"$PROG/dirlst.ini"
env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$WORK/xdg" "$PROG/velmarind" >"$WORK/out" 2>&1 &
VPID=$!
BASE="http://127.0.0.1:$PORT/velmarind"
for _ in $(seq 100); do curl -s -o /dev/null --max-time 1 "$BASE/vcom.css" && break; sleep 0.1; done
START_KIB=$(awk '/^VmRSS/ {print $2}' "/proc/$VPID/status")

hexof() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }

# Runs the URL from CLIENTS addresses at once while the memory is sampled; prints
# "label peak_kib seconds" and one line per answer (status, bytes).
round() {
  local label=$1 url=$2
  python3 "$HERE/peak_rss.py" "$WORK/rss" 600 "$VPID" &
  SPID=$!
  local start=$EPOCHREALTIME
  local pids=()
  for k in $(seq "$CLIENTS"); do
    curl -s -o /dev/null --interface "127.0.0.$((k + 1))" -w '%{http_code} %{size_download}\n' \
      "$url" >"$WORK/answer.$k" &
    pids+=($!)
  done
  wait "${pids[@]}"
  local seconds
  seconds=$(python3 -c "print(f'{$EPOCHREALTIME - $start:.1f}')")
  kill -TERM "$SPID"; wait "$SPID" 2>/dev/null || true; SPID=""
  local peak
  peak=$(sed 's/.*vmrss_kib=\([0-9]*\).*/\1/' "$WORK/rss")
  echo "$label $peak $seconds $(cat "$WORK"/answer.* | tr '\n' ' ')"
}

LISTING=$(round listings "$BASE/script.html?pid=m1&name=$(hexof deep)&path=$(hexof "$DEEP/")")
ZIPS=$(round zips "$BASE/vm-zip?dir=$(hexof "$TOP/")")

python3 - "$START_KIB" "$T_RSS_MIB" "$CLIENTS" "$LISTING" "$ZIPS" <<'EOF'
import sys
start, target, clients = int(sys.argv[1]) / 1024, float(sys.argv[2]), int(sys.argv[3])
print(f"RSS after start: {start:.1f} MiB")
for line in sys.argv[4:]:
    label, peak, seconds, *answers = line.split()
    peak = int(peak) / 1024
    pairs = list(zip(answers[0::2], answers[1::2]))
    statuses = ",".join(sorted(set(code for code, _ in pairs)))
    size = max(int(n) for _, n in pairs) / 2**20
    print(f"{clients} {label} at once: {seconds} s, answers {statuses} of up to {size:.0f} MiB, "
          f"peak RSS {peak:.1f} MiB")
    print(f"{'PASS' if peak < target else 'MISS'}  {label}: peak RSS < {target:.0f} MiB   {peak:.1f} MiB")
EOF
