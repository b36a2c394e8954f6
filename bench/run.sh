#!/usr/bin/env bash
# Measures Velmarind's speed and memory against nginx serving the same files, both run here on
# 127.0.0.1 in the same run, and writes the table to BUILD_FOLDER/bench-results.txt.
#
#   bench/run.sh BUILD_FOLDER      (a Release build: BUILD_FOLDER/velmarind and BUILD_FOLDER/page/)
#
# Installs wrk and nginx from Debian when they are missing (as root only). Takes about 2 minutes
# and about 3 GiB of free space under /tmp for the duration of the run.
set -euo pipefail

# How long each request-rate run lasts, and its load: two client threads (the machine has two
# cores, shared with the server) holding 16 connections.
readonly WRK_ARGS=(-t2 -c16 -d10s)
readonly WRK_REFERENCE_ARGS=(-t2 -c16 -d5s)  # the extra keep-alive reference run
readonly SMALL_SIZE=4096
readonly BIG_MIB=256
readonly UPLOAD_MIB=1024
readonly DOWNLOAD_RUNS=3
readonly SHARE_NAME=Bench

if [[ $# -ne 1 || ! -x "$1/velmarind" || ! -d "$1/page" ]]; then
  echo "usage: $0 BUILD_FOLDER   (the folder holding velmarind and page/)" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
RESULTS="$BUILD/bench-results.txt"

# --- Tools ----------------------------------------------------------------------------------

NGINX=$(command -v nginx || true)
[[ -z "$NGINX" && -x /usr/sbin/nginx ]] && NGINX=/usr/sbin/nginx
missing=()
command -v wrk >/dev/null || missing+=(wrk)
[[ -n "$NGINX" ]] || missing+=(nginx-light)
command -v curl >/dev/null || missing+=(curl)
command -v python3 >/dev/null || missing+=(python3)
if [[ ${#missing[@]} -gt 0 ]]; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing: ${missing[*]}. Install them (apt-get install ${missing[*]}) and run again." >&2
    exit 1
  fi
  echo "Installing from Debian: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # Releases without the light flavour have the plain package.
    apt-get install -y -qq --no-install-recommends "${missing[@]/nginx-light/nginx}" >/dev/null
  fi
  NGINX=$(command -v nginx || echo /usr/sbin/nginx)
fi

# --- Temporary program folder, shared folder and nginx prefix --------------------------------

WORK=$(mktemp -d /tmp/velmarind-bench.XXXXXX)
VPID="" NPID="" SPID=""

stop_pid() {  # stop_pid PID: SIGTERM, up to 5 s for it to end, then SIGKILL
  local pid=$1
  [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  stop_pid "$SPID"
  stop_pid "$VPID"
  stop_pid "$NPID"
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

PROG="$WORK/prog" SHARE="$WORK/share" NGX="$WORK/nginx"
mkdir -p "$PROG/page" "$SHARE" "$NGX/logs" "$NGX/tmp" "$WORK/xdg" "$WORK/spill"
cp "$BUILD/velmarind" "$PROG/"
cp "$BUILD"/page/vcom.css "$BUILD"/page/vcom.js "$PROG/page/"

head -c "$SMALL_SIZE" /dev/urandom >"$SHARE/small.bin"
head -c "$((BIG_MIB << 20))" /dev/urandom >"$SHARE/big.bin"
# The upload source lies outside the shared folder; four copies of the big file make 1 GiB.
for _ in $(seq $((UPLOAD_MIB / BIG_MIB))); do cat "$SHARE/big.bin"; done >"$WORK/upload.bin"

# Two free loopback ports for the two servers (three: nginx also listens with keep-alive on).
read -r VPORT NPORT NKPORT < <(python3 - <<'EOF'
import socket
socks = [socket.socket() for _ in range(3)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in socks))
EOF
)

printf '[COMMON]\r\nHTTP_PORT=%s\r\nAUTO_RUN=0\r\nPASS_FLG=0\r\nPASSWORD=\r\n' "$VPORT" \
  >"$PROG/velmarind.ini"
printf '%s;;%s/\r\n' "$SHARE_NAME" "$SHARE" >"$PROG/dirlst.ini"

# nginx as this user, everything it writes inside $NGX. The first server closes every
# connection after its answer, as Velmarind does, so the two are compared request for request;
# the second keeps connections alive, for reference. PUT (WebDAV) stores an upload as a file.
user_line=""
[[ $(id -u) -eq 0 ]] && user_line="user $(id -un) $(id -gn);"
cat >"$NGX/nginx.conf" <<EOF
$user_line
worker_processes auto;
daemon off;
pid $NGX/nginx.pid;
error_log $NGX/logs/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  types { text/html html; }
  default_type application/octet-stream;
  sendfile on;
  client_max_body_size 0;
  client_body_temp_path $NGX/tmp/body;
  proxy_temp_path $NGX/tmp/proxy;
  fastcgi_temp_path $NGX/tmp/fastcgi;
  uwsgi_temp_path $NGX/tmp/uwsgi;
  scgi_temp_path $NGX/tmp/scgi;
  server {
    listen 127.0.0.1:$NPORT;
    root $SHARE;
    keepalive_timeout 0;
    location /up/ { dav_methods PUT; }
  }
  server {
    listen 127.0.0.1:$NKPORT;
    root $SHARE;
  }
}
EOF

# --- Start both servers ---------------------------------------------------------------------

env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$WORK/xdg" TMPDIR="$WORK/spill" \
  "$PROG/velmarind" >"$WORK/velmarind.out" 2>&1 &
VPID=$!
"$NGINX" -p "$NGX/" -c "$NGX/nginx.conf" -e "$NGX/logs/error.log" >"$NGX/logs/stdout" 2>&1 &
NPID=$!

wait_for() {  # wait_for URL NAME LOGFILE: up to 10 s for the server to answer
  for _ in $(seq 100); do
    curl -s -o /dev/null --max-time 1 "$1" && return 0
    sleep 0.1
  done
  echo "$2 did not start:" >&2
  cat "$3" >&2
  exit 1
}
VBASE="http://127.0.0.1:$VPORT"
NBASE="http://127.0.0.1:$NPORT"
wait_for "$VBASE/velmarind/vcom.css" velmarind "$WORK/velmarind.out"
wait_for "$NBASE/small.bin" nginx "$NGX/logs/error.log"
mkdir -p "$SHARE/up"

status_kib() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
tree_rss_kib() {  # resident KiB of a process and its direct children
  local total=0 pid
  for pid in "$1" $(cat "/proc/$1/task/$1/children" 2>/dev/null); do
    total=$((total + $(status_kib "$pid" VmRSS)))
  done
  echo "$total"
}
V_IDLE=$(status_kib "$VPID" VmRSS)
N_IDLE=$(tree_rss_kib "$NPID")

# --- Request rates --------------------------------------------------------------------------

field() { sed -n "s/.*[[:space:]]$2=\([^ ]*\).*/\1/p" <<<"$1"; }
run_wrk() {  # run_wrk URL [ARGS...]: the wrk_report line of one bounded run (WRK_ARGS if none)
  local url=$1
  shift
  local args=("$@")
  [[ ${#args[@]} -gt 0 ]] || args=("${WRK_ARGS[@]}")
  timeout 60 wrk "${args[@]}" --timeout 5s -s "$HERE/wrk_report.lua" "$url" |
    grep '^BENCH ' || echo "BENCH rps=0 avg_ms=0 p50_ms=0 p99_ms=0 requests=0 socket_errors=-1 non2xx=-1"
}

# The static copy of the index page: the very bytes Velmarind generates, so the sizes match.
curl -sf --max-time 10 -o "$SHARE/index-static.html" "$VBASE/velmarind/index.html"
PAGE_SIZE=$(stat -c %s "$SHARE/index-static.html")
SMALL_HEX=$(python3 -c 'import sys; print(sys.argv[1].encode().hex())' "$SHARE/small.bin")

echo "Velmarind on port $VPORT, nginx on $NPORT (keep-alive reference on $NKPORT)"
echo "index page ($PAGE_SIZE bytes)..."
V_INDEX=$(run_wrk "$VBASE/velmarind/index.html")
N_INDEX=$(run_wrk "$NBASE/index-static.html")
NK_INDEX=$(run_wrk "http://127.0.0.1:$NKPORT/index-static.html" "${WRK_REFERENCE_ARGS[@]}")
echo "4 KiB download..."
V_SMALL=$(run_wrk "$VBASE/velmarind/download.html?file=$SMALL_HEX")
N_SMALL=$(run_wrk "$NBASE/small.bin")
V_AFTER_LOAD=$(status_kib "$VPID" VmHWM)

# --- Large download -------------------------------------------------------------------------

download_mbs() {  # download_mbs URL: median MB/s (10^6 bytes) of the runs; 0 for a failed run
  local url=$1 speeds=() out code size speed
  for _ in $(seq "$DOWNLOAD_RUNS"); do
    out=$(curl -s -o /dev/null --max-time 60 -w '%{http_code} %{size_download} %{speed_download}' "$url" || true)
    read -r code size speed <<<"$out"
    if [[ "$code" == 200 && "$size" == $((BIG_MIB << 20)) ]]; then
      speeds+=("$(awk -v s="$speed" 'BEGIN { printf "%.1f", s / 1e6 }')")
    else
      speeds+=(0)
    fi
  done
  printf '%s\n' "${speeds[@]}" | sort -g | sed -n "$(((DOWNLOAD_RUNS + 1) / 2))p"
}
BIG_HEX=$(python3 -c 'import sys; print(sys.argv[1].encode().hex())' "$SHARE/big.bin")
echo "$BIG_MIB MiB download, median of $DOWNLOAD_RUNS..."
V_BIG=$(download_mbs "$VBASE/velmarind/download.html?file=$BIG_HEX")
N_BIG=$(download_mbs "$NBASE/big.bin")

# --- 1 GiB upload ---------------------------------------------------------------------------

sample_during() {  # sample_during OUT PID -- COMMAND...: runs COMMAND while sampling PID's memory
  local out=$1 pid=$2
  shift 3
  python3 "$HERE/peak_rss.py" "$out" 120 "$pid" </dev/null >/dev/null 2>&1 &
  SPID=$!
  "$@"
  stop_pid "$SPID"
  SPID=""
}
echo "$UPLOAD_MIB MiB upload..."
# curl's "Expect: 100-continue" round trip is left out for both servers: the figure is the
# transfer alone.
V_UP=$(sample_during "$WORK/v-peak" "$VPID" -- \
  curl -s -o /dev/null --max-time 120 -H 'Expect:' -w '%{http_code} %{time_total}' \
  -F menu=updimg -F "ifile=@$WORK/upload.bin" \
  -F "dirname=$(python3 -c 'import sys; print(sys.argv[1].encode().hex())' "$SHARE_NAME")" \
  "$VBASE/velmarind/index.html" || true)
V_HWM=$(status_kib "$VPID" VmHWM)
# Counted only when the saved file holds exactly the bytes sent.
saved_intact() { [[ -f "$1" ]] && cmp -s "$1" "$WORK/upload.bin" && echo 1 || echo 0; }
V_SAVED=$(saved_intact "$(find "$SHARE" -maxdepth 1 -name '__vupd_img_*' | head -n 1)")
rm -f "$SHARE"/__vupd_img_* "$PROG/pastdata.txt"

N_UP=$(sample_during "$WORK/n-peak" "$NPID" -- \
  curl -s -o /dev/null --max-time 120 -H 'Expect:' -w '%{http_code} %{time_total}' \
  -T "$WORK/upload.bin" "$NBASE/up/upload.bin" || true)
N_SAVED=$(saved_intact "$SHARE/up/upload.bin")
rm -f "$SHARE/up/upload.bin"

# --- Table ----------------------------------------------------------------------------------

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
row() { printf '%-44s %14s %14s %10s\n' "$1" "$2" "$3" "$(ratio "$2" "$3")"; }
errors() { echo "$(($(field "$1" socket_errors) + $(field "$1" non2xx)))"; }
read -r V_CODE V_SECS <<<"${V_UP:-000 0}"
read -r N_CODE N_SECS <<<"${N_UP:-000 0}"
[[ "$V_SAVED" == 1 ]] && V_SECS=$(printf '%.2f' "$V_SECS") || V_SECS=0
[[ "$N_SAVED" == 1 ]] && N_SECS=$(printf '%.2f' "$N_SECS") || N_SECS=0
up_mbs() { awk -v s="$1" -v m="$UPLOAD_MIB" 'BEGIN { if (s > 0) printf "%.1f", m * 1048576 / s / 1e6; else print 0 }'; }

{
  echo "Velmarind vs nginx $("$NGINX" -v 2>&1 | sed 's/.*nginx\///'), $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, loopback"
  echo "request rates: wrk ${WRK_ARGS[*]}; nginx closes each connection after its answer like Velmarind"
  echo
  printf '%-44s %14s %14s %10s\n' "" velmarind nginx "v/n"
  row "index page ($PAGE_SIZE B): requests/s" "$(field "$V_INDEX" rps)" "$(field "$N_INDEX" rps)"
  row "index page: latency avg (ms)" "$(field "$V_INDEX" avg_ms)" "$(field "$N_INDEX" avg_ms)"
  row "index page: latency p50 (ms)" "$(field "$V_INDEX" p50_ms)" "$(field "$N_INDEX" p50_ms)"
  row "index page: latency p99 (ms)" "$(field "$V_INDEX" p99_ms)" "$(field "$N_INDEX" p99_ms)"
  row "index page: failed requests" "$(errors "$V_INDEX")" "$(errors "$N_INDEX")"
  row "4 KiB download: requests/s" "$(field "$V_SMALL" rps)" "$(field "$N_SMALL" rps)"
  row "4 KiB download: latency p50 (ms)" "$(field "$V_SMALL" p50_ms)" "$(field "$N_SMALL" p50_ms)"
  row "4 KiB download: latency p99 (ms)" "$(field "$V_SMALL" p99_ms)" "$(field "$N_SMALL" p99_ms)"
  row "4 KiB download: failed requests" "$(errors "$V_SMALL")" "$(errors "$N_SMALL")"
  row "$BIG_MIB MiB download: MB/s (median of $DOWNLOAD_RUNS)" "$V_BIG" "$N_BIG"
  row "$UPLOAD_MIB MiB upload: seconds" "$V_SECS" "$N_SECS"
  row "$UPLOAD_MIB MiB upload: MB/s" "$(up_mbs "$V_SECS")" "$(up_mbs "$N_SECS")"
  row "peak RSS during upload (MiB)" "$(mib "$(field " $(cat "$WORK/v-peak")" vmrss_kib)")" \
    "$(mib "$(field " $(cat "$WORK/n-peak")" vmrss_kib)")"
  row "  of it anonymous (MiB)" "$(mib "$(field " $(cat "$WORK/v-peak")" rssanon_kib)")" \
    "$(mib "$(field " $(cat "$WORK/n-peak")" rssanon_kib)")"
  row "  of it file-backed (MiB)" "$(mib "$(field " $(cat "$WORK/v-peak")" rssfile_kib)")" \
    "$(mib "$(field " $(cat "$WORK/n-peak")" rssfile_kib)")"
  row "idle RSS (MiB)" "$(mib "$V_IDLE")" "$(mib "$N_IDLE")"
  echo
  echo "velmarind VmHWM: $(mib "$V_AFTER_LOAD") MiB after the request-rate runs, $(mib "$V_HWM") MiB after the upload"
  echo "upload: velmarind multipart POST (status $V_CODE, saved intact: $V_SAVED), nginx WebDAV PUT (status $N_CODE, saved intact: $N_SAVED)"
  echo "reference: nginx with keep-alive, index page: $(field "$NK_INDEX" rps) requests/s, p50 $(field "$NK_INDEX" p50_ms) ms (wrk ${WRK_REFERENCE_ARGS[*]})"
  echo "nginx memory is the master and its workers together; requests/s and MB/s: higher is better, the rest lower"
} | tee "$RESULTS"
echo "written to $RESULTS"
