#!/usr/bin/env bash
# Measures the file-manager door (WebDAV) next to lighttpd's mod_webdav and nginx, all started
# here on 127.0.0.1 in the same run, and prints one table with the ratios and PASS/MISS per
# target (also written to BUILD_FOLDER/bench-dav-results.txt):
#   - PROPFIND Depth 1 of a folder of 10,000 entries, against lighttpd mod_webdav;
#   - GET of 1 GiB, against nginx;
#   - PUT of 1 GiB, against a plain write of the same file to the same disk, with peak RSS;
#   - rclone copy of 1,000 small files, against lighttpd mod_webdav.
#
#   bench/dav.sh BUILD_FOLDER      (a Release build: BUILD_FOLDER/velmarind and BUILD_FOLDER/page/)
#
# Needs lighttpd, lighttpd-mod-webdav, nginx-light, rclone, curl and python3 (installed from
# Debian when missing and run as root). About 2 minutes and 3 GiB of free space under /tmp.
set -euo pipefail

readonly ENTRIES=10000 PROPFIND_RUNS=30
readonly BIG_MIB=1024 BIG_RUNS=3
readonly SMALL_FILES=1000 SMALL_RUNS=3
readonly T_PROPFIND_VS_LIGHTTPD=1.2 T_GET_VS_NGINX=0.9 T_PUT_VS_DISK=0.9 T_PUT_RSS_MIB=32
readonly T_RCLONE_VS_LIGHTTPD=1.0

if [[ $# -ne 1 || ! -x "${1:-}/velmarind" ]]; then
  echo "usage: $0 BUILD_FOLDER" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
RESULTS="$BUILD/bench-dav-results.txt"

missing=()
for tool in lighttpd:lighttpd nginx:nginx-light rclone:rclone curl:curl python3:python3; do
  command -v "${tool%%:*}" >/dev/null || [[ -x /usr/sbin/${tool%%:*} ]] || missing+=("${tool#*:}")
done
[[ -f /usr/lib/lighttpd/mod_webdav.so ]] || missing+=(lighttpd-mod-webdav)
if [[ ${#missing[@]} -gt 0 ]]; then
  [[ $(id -u) -eq 0 ]] || { echo "Missing: ${missing[*]}" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
LIGHTTPD=$(command -v lighttpd || echo /usr/sbin/lighttpd)
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

WORK=$(mktemp -d /tmp/velmarind-bench-dav.XXXXXX)
PIDS=()
stop_pid() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
cleanup() { local pid; for pid in "${PIDS[@]}"; do stop_pid "$pid"; done; rm -rf "$WORK"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

# Each server gets its own copy of the share, so that writes of one do not meet another's.
mkdir -p "$WORK/prog/page" "$WORK/xdg" "$WORK/v/many" "$WORK/l/many" "$WORK/l-tmp" "$WORK/n/logs" \
  "$WORK/n/tmp" "$WORK/small"
cp "$BUILD/velmarind" "$WORK/prog/"
cp "$BUILD"/page/vcom.css "$BUILD"/page/vcom.js "$WORK/prog/page/"
echo "Preparing files: $BIG_MIB MiB of random bytes, $ENTRIES entries, $SMALL_FILES small files..."
head -c "$((BIG_MIB << 20))" /dev/urandom > "$WORK/v/big.bin"
python3 - "$WORK" "$ENTRIES" "$SMALL_FILES" <<'PY'
import os, sys
work, entries, small = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for side in ("v", "l"):
    for k in range(entries):
        with open(os.path.join(work, side, "many", f"file-{k:05d}.txt"), "wb") as f:
            f.write(b"x" * (k % 1000))
for k in range(small):
    with open(os.path.join(work, "small", f"small-{k:04d}.txt"), "wb") as f:
        f.write(os.urandom(100 + k % 4000))
PY
read -r VPORT LPORT NPORT < <(python3 -c '
import socket
s = [socket.socket() for _ in range(3)]
for x in s: x.bind(("0.0.0.0", 0))
print(*(x.getsockname()[1] for x in s))')

printf '[COMMON]\r\nHTTP_PORT=%s\r\nAUTO_RUN=0\r\nSHARE_MODES=%s:full\r\n' "$VPORT" \
  "$(printf Bench | od -An -tx1 | tr -d ' \n')" > "$WORK/prog/velmarind.ini"
printf 'Bench;;%s/\r\n' "$WORK/v" > "$WORK/prog/dirlst.ini"
cat > "$WORK/lighttpd.conf" <<EOF
server.document-root = "$WORK/l"
server.bind = "127.0.0.1"
server.port = $LPORT
server.modules = ("mod_webdav")
server.upload-dirs = ("$WORK/l-tmp")
server.errorlog = "$WORK/lighttpd.err"
webdav.activate = "enable"
webdav.is-readonly = "disable"
EOF
user_line=""
[[ $(id -u) -eq 0 ]] && user_line="user $(id -un) $(id -gn);"
cat > "$WORK/n/nginx.conf" <<EOF
$user_line
worker_processes auto;
daemon off;
pid $WORK/n/nginx.pid;
error_log $WORK/n/logs/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  default_type application/octet-stream;
  sendfile on;
  client_body_temp_path $WORK/n/tmp/body;
  proxy_temp_path $WORK/n/tmp/proxy;
  fastcgi_temp_path $WORK/n/tmp/fastcgi;
  uwsgi_temp_path $WORK/n/tmp/uwsgi;
  scgi_temp_path $WORK/n/tmp/scgi;
  server { listen 127.0.0.1:$NPORT; root $WORK/v; }
}
EOF

env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$WORK/xdg" XDG_DATA_HOME="$WORK/xdg" \
  "$WORK/prog/velmarind" > "$WORK/velmarind.out" 2>&1 &
VPID=$!; PIDS+=("$VPID")
"$LIGHTTPD" -D -f "$WORK/lighttpd.conf" -m /usr/lib/lighttpd > "$WORK/lighttpd.out" 2>&1 &
PIDS+=($!)
"$NGINX" -p "$WORK/n/" -c "$WORK/n/nginx.conf" -e "$WORK/n/logs/error.log" > "$WORK/n/out" 2>&1 &
PIDS+=($!)
VDAV="http://127.0.0.1:$VPORT/velmarind-dav/Bench" LDAV="http://127.0.0.1:$LPORT"
for url in "$VDAV/" "$LDAV/" "http://127.0.0.1:$NPORT/"; do
  for _ in $(seq 100); do curl -s -o /dev/null --max-time 1 -X OPTIONS "$url" && break; sleep 0.1; done
done

median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }
verdict() {  # verdict VALUE OP TARGET
  python3 -c "import operator as o; print('PASS' if o.$2($1, $3) else 'MISS')"
}
seconds_since() { python3 -c "import time; print(time.time() - $1)"; }

echo "PROPFIND Depth 1 of $ENTRIES entries ($PROPFIND_RUNS each, alternating)..."
propfind_ms() {
  curl -s -o /dev/null -w '%{time_total}\n' -X PROPFIND -H 'Depth: 1' "$1/many/" |
    awk '{printf "%.2f\n", $1 * 1000}'
}
for _ in $(seq "$PROPFIND_RUNS"); do
  propfind_ms "$VDAV" >> "$WORK/propfind-v"
  propfind_ms "$LDAV" >> "$WORK/propfind-l"
done
PV=$(median < "$WORK/propfind-v"); PL=$(median < "$WORK/propfind-l")
VCOUNT=$(curl -s -X PROPFIND -H 'Depth: 1' "$VDAV/many/" | grep -o '<D:response>' | wc -l)

echo "GET of $BIG_MIB MiB ($BIG_RUNS each)..."
get_mbs() { curl -s -o /dev/null -w '%{speed_download}\n' "$1" | awk '{printf "%.0f\n", $1 / 1e6}'; }
for _ in $(seq "$BIG_RUNS"); do
  get_mbs "$VDAV/big.bin" >> "$WORK/get-v"
  get_mbs "http://127.0.0.1:$NPORT/big.bin" >> "$WORK/get-n"
done
GV=$(median < "$WORK/get-v"); GN=$(median < "$WORK/get-n")

# Both sides end with the file on disk, made so the same way: dd writes the file and calls fsync
# on it (conv=fsync); the PUT is timed until curl has the answer and `sync FILE` (an fsync of
# that file, not of the whole file system) has returned.
echo "PUT of $BIG_MIB MiB ($BIG_RUNS, each between two plain writes; both end with the data on disk)..."
mbs() { python3 -c "print(f'{$BIG_MIB * 1048576 / $1 / 1e6:.0f}')"; }
plain_mbs() {
  local start
  start=$(date +%s.%N)
  dd if="$WORK/v/big.bin" of="$WORK/v/plain.bin" bs=1M conv=fsync status=none
  mbs "$(seconds_since "$start")"
  rm -f "$WORK/v/plain.bin"
}
python3 "$HERE/peak_rss.py" "$WORK/put-rss" 600 "$VPID" &
SPID=$!
for k in $(seq "$BIG_RUNS"); do
  plain_mbs >> "$WORK/plain"
  start=$(date +%s.%N)
  curl -s -o /dev/null -T "$WORK/v/big.bin" "$VDAV/put-$k.bin"
  sync "$WORK/v/put-$k.bin"
  mbs "$(seconds_since "$start")" >> "$WORK/put-v"
  cmp -s "$WORK/v/big.bin" "$WORK/v/put-$k.bin" || { echo "PUT $k: the file differs" >&2; exit 1; }
  rm -f "$WORK/v/put-$k.bin"
done
plain_mbs >> "$WORK/plain"
kill -TERM "$SPID"; wait "$SPID" 2>/dev/null || true
UV=$(median < "$WORK/put-v"); UD=$(median < "$WORK/plain")
URSS=$(sed -n 's/.*vmrss_kib=\([0-9]*\).*/\1/p' "$WORK/put-rss" | awk '{printf "%.1f", $1 / 1024}')

echo "rclone copy of $SMALL_FILES small files ($SMALL_RUNS each, alternating)..."
rclone_s() {  # rclone_s URL FOLDER: seconds for one copy into a fresh folder
  local start
  start=$(date +%s.%N)
  RCLONE_CONFIG=/dev/null RCLONE_CONFIG_B_TYPE=webdav RCLONE_CONFIG_B_URL="$1" \
    RCLONE_CONFIG_B_VENDOR=other rclone copy "$WORK/small" "b:$2" 2> "$WORK/rclone.err" ||
    { cat "$WORK/rclone.err" >&2; exit 1; }
  python3 -c "print(f'{$(seconds_since "$start"):.2f}')"
}
for k in $(seq "$SMALL_RUNS"); do
  rclone_s "$VDAV/" "copy-$k" >> "$WORK/rclone-v"
  rclone_s "$LDAV/" "copy-$k" >> "$WORK/rclone-l"
done
RV=$(median < "$WORK/rclone-v"); RL=$(median < "$WORK/rclone-l")

row() { printf '%-46s %10s %10s %8s %s\n' "$@"; }
{
  echo "File-manager door (WebDAV), $(date -u +%Y-%m-%d), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg);" \
       "$("$LIGHTTPD" -v | head -1 | cut -d' ' -f1), $("$NGINX" -v 2>&1 | cut -d' ' -f3), $(rclone version | head -1)"
  row "" Velmarind peer ratio target
  row "PROPFIND Depth 1, $VCOUNT responses, ms (lighttpd)" "$PV" "$PL" "$(ratio "$PV" "$PL")" \
      "<= $T_PROPFIND_VS_LIGHTTPD $(verdict "$(ratio "$PV" "$PL")" le "$T_PROPFIND_VS_LIGHTTPD")"
  row "GET $BIG_MIB MiB, MB/s (nginx)" "$GV" "$GN" "$(ratio "$GV" "$GN")" \
      ">= $T_GET_VS_NGINX $(verdict "$(ratio "$GV" "$GN")" ge "$T_GET_VS_NGINX")"
  row "PUT $BIG_MIB MiB, MB/s (plain write, median)" "$UV" "$UD" "$(ratio "$UV" "$UD")" \
      ">= $T_PUT_VS_DISK $(verdict "$(ratio "$UV" "$UD")" ge "$T_PUT_VS_DISK")"
  row "PUT peak RSS, MiB" "$URSS" "" "" "< $T_PUT_RSS_MIB $(verdict "$URSS" lt "$T_PUT_RSS_MIB")"
  row "rclone copy $SMALL_FILES files, s (lighttpd)" "$RV" "$RL" "$(ratio "$RV" "$RL")" \
      "<= $T_RCLONE_VS_LIGHTTPD $(verdict "$(ratio "$RV" "$RL")" le "$T_RCLONE_VS_LIGHTTPD")"
  echo "runs: get v=[$(paste -sd' ' "$WORK/get-v")] nginx=[$(paste -sd' ' "$WORK/get-n")];" \
       "put v=[$(paste -sd' ' "$WORK/put-v")] plain=[$(paste -sd' ' "$WORK/plain")];" \
       "rclone v=[$(paste -sd' ' "$WORK/rclone-v")] lighttpd=[$(paste -sd' ' "$WORK/rclone-l")]"
} | tee "$RESULTS"
