#!/usr/bin/env bash
# Measures Velmarind's speed and memory next to three other servers of the same files (nginx,
# python3 -m http.server and the npm package http-server), all started here on 127.0.0.1 in the
# same run, prints one table with the ratios and PASS/MISS per target, and writes it to
# BUILD_FOLDER/bench-results.txt.
#
#   bench/run.sh BUILD_FOLDER      (a Release build: BUILD_FOLDER/velmarind and BUILD_FOLDER/page/)
#
# Installs wrk, nginx-light, curl, python3 and npm from Debian when they are missing (as root
# only; otherwise it names them), and http-server into bench/node_modules with npm ci. Takes
# about 3 minutes and about 4 GiB of free space under /tmp while it runs.
set -euo pipefail

# Small pages: two client threads (the machine may have two cores, shared with the server)
# holding 32 connections, each request on a new connection as a browser's page loads are here.
# (32 from one address: below the 64 connections Velmarind keeps from one client address.)
readonly WRK_ARGS=(-t2 -c32 -d10s)
readonly BIG_MIB=1024           # download and upload size
readonly DOWNLOAD_RUNS=3        # the median counts
readonly LISTING_ENTRIES=10000  # entries of the listed folder
readonly LISTING_RUNS=30        # requests per server; the median counts
readonly IDLE_CONNECTIONS=1000
readonly IDLE_HOLD_SECONDS=3    # memory is sampled this long once all are open
readonly NOFILE_WANTED=8192     # descriptors: 1,000 idle sockets on each side, and some
readonly SHARE_NAME=Bench

# Targets: each is a ratio of two figures of this run (see bench/README.md).
readonly T_DOWNLOAD_VS_NGINX=0.9
readonly T_PAGES_VS_NGINX=0.7
readonly T_PAGES_VS_PYTHON=5
readonly T_LISTING_VS_NGINX=1.2
readonly T_UPLOAD_VS_DISK=0.5
readonly T_UPLOAD_RSS_MIB=64
readonly T_CHUNK_UP_VS_DISK=0.9
readonly T_CHUNK_UP_RSS_MIB=32
readonly T_IDLE_RSS_MIB=100

if [[ $# -ne 1 || ! -x "${1:-}/velmarind" || ! -d "${1:-}/page" ]]; then
  echo "usage: $0 BUILD_FOLDER   (the folder holding velmarind and page/)" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
RESULTS="$BUILD/bench-results.txt"

# --- Tools ----------------------------------------------------------------------------------

find_nginx() { command -v nginx || { [[ -x /usr/sbin/nginx ]] && echo /usr/sbin/nginx; } || true; }
NGINX=$(find_nginx)
missing=()
command -v wrk >/dev/null || missing+=(wrk)
[[ -n "$NGINX" ]] || missing+=(nginx-light)
command -v curl >/dev/null || missing+=(curl)
command -v python3 >/dev/null || missing+=(python3)
command -v npm >/dev/null || missing+=(npm)
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
  NGINX=$(find_nginx)
fi
HTTP_SERVER="$HERE/node_modules/http-server/bin/http-server"
if [[ ! -f "$HTTP_SERVER" ]]; then
  echo "Installing http-server into $HERE/node_modules (npm ci)..."
  (cd "$HERE" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi

# 1,000 idle sockets need as many descriptors in the servers and in the client.
if [[ $(ulimit -Hn) == unlimited || $(ulimit -Hn) -ge $NOFILE_WANTED ]]; then
  ulimit -n "$NOFILE_WANTED"
else
  ulimit -n "$(ulimit -Hn)"
fi

# --- Temporary program folder, shared folder and peer configurations -------------------------

WORK=$(mktemp -d /tmp/velmarind-bench.XXXXXX)
PIDS=()   # servers started here, stopped by pid at the end
SPID=""   # the memory sampler while it runs

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
  local pid
  for pid in "${PIDS[@]}"; do stop_pid "$pid"; done
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

PROG="$WORK/prog" SHARE="$WORK/share" NGX="$WORK/nginx"
mkdir -p "$PROG/page" "$SHARE/many" "$NGX/logs" "$NGX/tmp" "$WORK/xdg" "$WORK/spill"
cp "$BUILD/velmarind" "$PROG/"
cp "$BUILD"/page/vcom.css "$BUILD"/page/vcom.js "$PROG/page/"

echo "Preparing files: $BIG_MIB MiB of random bytes, a folder of $LISTING_ENTRIES files..."
head -c "$((BIG_MIB << 20))" /dev/urandom >"$SHARE/big.bin"
python3 - "$SHARE/many" "$LISTING_ENTRIES" <<'EOF'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for k in range(count):
    with open(os.path.join(folder, f"file-{k:05d}.txt"), "wb") as f:
        f.write(b"x" * (k % 1000))
EOF

read -r VPORT NPORT PPORT HPORT < <(python3 "$HERE/../tests/support/free_port.py" 4 | xargs)

printf '[COMMON]\r\nHTTP_PORT=%s\r\nAUTO_RUN=0\r\nPASS_FLG=0\r\nPASSWORD=\r\n' "$VPORT" \
  >"$PROG/velmarind.ini"
printf '%s;;%s/\r\n' "$SHARE_NAME" "$SHARE" >"$PROG/dirlst.ini"

# nginx as this user, everything it writes inside $NGX. PUT (WebDAV) stores an upload as a
# file, for a reference figure.
user_line=""
[[ $(id -u) -eq 0 ]] && user_line="user $(id -un) $(id -gn);"
cat >"$NGX/nginx.conf" <<EOF
$user_line
worker_processes auto;
worker_rlimit_nofile $NOFILE_WANTED;
daemon off;
pid $NGX/nginx.pid;
error_log $NGX/logs/error.log warn;
events { worker_connections 4096; }
http {
  access_log off;
  types { text/html html; }
  default_type application/octet-stream;
  sendfile on;
  autoindex on;
  client_max_body_size 0;
  client_body_temp_path $NGX/tmp/body;
  proxy_temp_path $NGX/tmp/proxy;
  fastcgi_temp_path $NGX/tmp/fastcgi;
  uwsgi_temp_path $NGX/tmp/uwsgi;
  scgi_temp_path $NGX/tmp/scgi;
  server {
    listen 127.0.0.1:$NPORT;
    root $SHARE;
    location /up/ { dav_methods PUT; }
  }
}
EOF

# --- Start the servers ----------------------------------------------------------------------

env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$WORK/xdg" TMPDIR="$WORK/spill" \
  "$PROG/velmarind" >"$WORK/velmarind.out" 2>&1 &
VPID=$!
PIDS+=("$VPID")
"$NGINX" -p "$NGX/" -c "$NGX/nginx.conf" -e "$NGX/logs/error.log" >"$NGX/logs/stdout" 2>&1 &
NPID=$!
PIDS+=("$NPID")
python3 -m http.server "$PPORT" --bind 127.0.0.1 --directory "$SHARE" >"$WORK/python.out" 2>&1 &
PPID_=$!
PIDS+=("$PPID_")
node "$HTTP_SERVER" "$SHARE" -a 127.0.0.1 -p "$HPORT" -s -c-1 >"$WORK/http-server.out" 2>&1 &
HPID=$!
PIDS+=("$HPID")

VBASE="http://127.0.0.1:$VPORT" NBASE="http://127.0.0.1:$NPORT"
PBASE="http://127.0.0.1:$PPORT" HBASE="http://127.0.0.1:$HPORT"
wait_for() {  # wait_for URL NAME LOGFILE: up to 10 s for the server to answer
  for _ in $(seq 100); do
    curl -s -o /dev/null --max-time 1 "$1" && return 0
    sleep 0.1
  done
  echo "$2 did not start:" >&2
  cat "$3" >&2
  exit 1
}
wait_for "$VBASE/velmarind/vcom.css" velmarind "$WORK/velmarind.out"
wait_for "$NBASE/" nginx "$NGX/logs/error.log"
wait_for "$PBASE/" "python3 -m http.server" "$WORK/python.out"
wait_for "$HBASE/" http-server "$WORK/http-server.out"
mkdir -p "$SHARE/up"

status_kib() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
tree_rss_kib() {  # resident KiB of a process and its direct children (nginx's workers)
  local total=0 pid
  for pid in "$1" $(cat "/proc/$1/task/$1/children" 2>/dev/null); do
    total=$((total + $(status_kib "$pid" VmRSS)))
  done
  echo "$total"
}
V_IDLE=$(tree_rss_kib "$VPID") N_IDLE=$(tree_rss_kib "$NPID")
P_IDLE=$(tree_rss_kib "$PPID_") H_IDLE=$(tree_rss_kib "$HPID")
hex() { python3 -c 'import sys; print(sys.argv[1].encode().hex())' "$1"; }
# MB/s from dd's summary line ("N bytes (...) copied, S s, ...").
dd_mbs() { awk '/copied/ { for (i = 1; i <= NF; i++) if ($i == "copied,") printf "%.1f\n", $1 / $(i + 1) / 1e6 }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : 0) }'; }

# --- Small pages ----------------------------------------------------------------------------

field() { sed -n "s/.*[[:space:]]$2=\([^ ]*\).*/\1/p" <<<"$1"; }
run_wrk() {  # run_wrk URL: the wrk_report line of one bounded run
  timeout 60 wrk "${WRK_ARGS[@]}" --timeout 5s -H "Connection: close" \
    -s "$HERE/wrk_report.lua" "$1" |
    grep '^BENCH ' || echo "BENCH rps=0 avg_ms=0 p50_ms=0 p99_ms=0 requests=0 socket_errors=-1 non2xx=-1"
}
# The peers serve a static copy of the index page: the very bytes Velmarind generates.
curl -sf --max-time 10 -o "$SHARE/index-static.html" "$VBASE/velmarind/index.html"
PAGE_SIZE=$(stat -c %s "$SHARE/index-static.html")
echo "Velmarind :$VPORT, nginx :$NPORT, python :$PPORT, http-server :$HPORT"
echo "small page ($PAGE_SIZE bytes), wrk ${WRK_ARGS[*]}, 10 s per server..."
V_PAGE=$(run_wrk "$VBASE/velmarind/index.html")
N_PAGE=$(run_wrk "$NBASE/index-static.html")
P_PAGE=$(run_wrk "$PBASE/index-static.html")
H_PAGE=$(run_wrk "$HBASE/index-static.html")

# --- 1 GiB download -------------------------------------------------------------------------

download_mbs() {  # download_mbs URL: median MB/s (10^6 bytes) of the runs; 0 for a failed run
  local out code size speed
  for _ in $(seq "$DOWNLOAD_RUNS"); do
    out=$(curl -s -o /dev/null --max-time 60 -w '%{http_code} %{size_download} %{speed_download}' "$1" || true)
    read -r code size speed <<<"$out"
    if [[ "$code" == 200 && "$size" == $((BIG_MIB << 20)) ]]; then
      awk -v s="$speed" 'BEGIN { printf "%.1f\n", s / 1e6 }'
    else
      echo 0
    fi
  done | median
}
echo "$BIG_MIB MiB download, median of $DOWNLOAD_RUNS per server..."
cat "$SHARE/big.bin" >/dev/null  # warm: every reader finds the file in the page cache
READ_MBS=$(for _ in $(seq "$DOWNLOAD_RUNS"); do
  dd if="$SHARE/big.bin" of=/dev/null bs=1M 2>&1 | dd_mbs
done | median)
V_DOWN=$(download_mbs "$VBASE/velmarind/download.html?file=$(hex "$SHARE/big.bin")")
N_DOWN=$(download_mbs "$NBASE/big.bin")
P_DOWN=$(download_mbs "$PBASE/big.bin")
H_DOWN=$(download_mbs "$HBASE/big.bin")

# --- Listing of 10,000 entries --------------------------------------------------------------

listing_ms() {  # listing_ms URL: median milliseconds of the requests; 0 when one failed
  local out
  for _ in $(seq "$LISTING_RUNS"); do
    out=$(curl -s -o /dev/null --max-time 30 -w '%{http_code} %{time_total}' "$1" || true)
    [[ "$out" == "200 "* ]] && awk -v t="${out#200 }" 'BEGIN { printf "%.2f\n", t * 1000 }' || echo 0
  done | median
}
echo "listing of $LISTING_ENTRIES entries, median of $LISTING_RUNS per server..."
V_LIST_URL="$VBASE/velmarind/script.html?pid=m1&name=$(hex "$SHARE_NAME")&path=$(hex "$SHARE/many/")"
V_LIST_RECORDS=$( (curl -s --max-time 30 "$V_LIST_URL" || true) | grep -o ';;F::' | wc -l || true)
V_LIST=$(listing_ms "$V_LIST_URL")
N_LIST=$(listing_ms "$NBASE/many/")
P_LIST=$(listing_ms "$PBASE/many/")
H_LIST=$(listing_ms "$HBASE/many/")

# --- 1 GiB upload ---------------------------------------------------------------------------

# Neither the plain write nor Velmarind syncs to the disk, so both are compared without fsync,
# each starting with nothing dirty in the page cache; the fsync'ed write is shown for reference.
plain_write_mbs() {  # plain_write_mbs [dd options...]: MB/s of dd writing the big file anew
  sync
  local mbs
  mbs=$(dd if="$SHARE/big.bin" of="$WORK/dd.bin" bs=1M "$@" 2>&1 | dd_mbs)
  rm -f "$WORK/dd.bin"
  echo "${mbs:-0}"
}
echo "$BIG_MIB MiB upload against the plain write..."
# The plain write is measured three times, before, between and after the two uploads: on a
# shared virtual disk one write alone has been off by a factor of three; the median counts.
DISK_RUNS=("$(plain_write_mbs)")
DISK_SYNC_MBS=$(plain_write_mbs conv=fsync)
sample_during() {  # sample_during OUT PID -- COMMAND...: runs COMMAND while sampling PID's memory
  local out=$1 pid=$2
  shift 3
  python3 "$HERE/peak_rss.py" "$out" 120 "$pid" </dev/null >/dev/null 2>&1 &
  SPID=$!
  "$@"
  stop_pid "$SPID"
  SPID=""
}
sync
# curl's "Expect: 100-continue" round trip is left out: the figure is the transfer alone.
V_UP=$(sample_during "$WORK/v-peak" "$VPID" -- \
  curl -s -o /dev/null --max-time 120 -H 'Expect:' -w '%{http_code} %{time_total}' \
  -F menu=updimg -F "ifile=@$SHARE/big.bin" -F "dirname=$(hex "$SHARE_NAME")" \
  "$VBASE/velmarind/index.html" || true)
# Counted only when the saved file holds exactly the bytes sent.
saved_intact() { [[ -f "$1" ]] && cmp -s "$1" "$SHARE/big.bin" && echo 1 || echo 0; }
V_SAVED=$(saved_intact "$(find "$SHARE" -maxdepth 1 -name '__vupd_img_*' | head -n 1)")
rm -f "$SHARE"/__vupd_img_* "$PROG/pastdata.txt"
DISK_RUNS+=("$(plain_write_mbs)")
sync
# The resumable upload, in 8 MiB pieces as the page script sends a large file.
V_CHUNK_UP=$(sample_during "$WORK/v-chunk-peak" "$VPID" -- \
  timeout 300 python3 "$HERE/chunk_upload.py" "$VPORT" "$SHARE_NAME" "$SHARE/big.bin" || true)
V_CHUNK_SAVED=$(saved_intact "$(find "$SHARE" -maxdepth 1 -name '__vupd_img_*' | head -n 1)")
rm -f "$SHARE"/__vupd_img_*
DISK_RUNS+=("$(plain_write_mbs)")
DISK_MBS=$(printf '%s\n' "${DISK_RUNS[@]}" | sort -g | sed -n 2p)
sync
N_UP=$(curl -s -o /dev/null --max-time 120 -H 'Expect:' -w '%{http_code} %{time_total}' \
  -T "$SHARE/big.bin" "$NBASE/up/upload.bin" || true)
N_SAVED=$(saved_intact "$SHARE/up/upload.bin")
rm -f "$SHARE/up/upload.bin"

# --- 1,000 idle connections -----------------------------------------------------------------

echo "$IDLE_CONNECTIONS idle connections per server..."
idle() { (cd "$HERE" && timeout 60 python3 idle_conns.py "$1" "$IDLE_CONNECTIONS" \
  "$IDLE_HOLD_SECONDS" "$2") || echo "opened=0 peak_rss_kib=0"; }
V_IDLE_C=$(idle "$VPORT" "$VPID")
N_IDLE_C=$(idle "$NPORT" "$NPID")
P_IDLE_C=$(idle "$PPORT" "$PPID_")
H_IDLE_C=$(idle "$HPORT" "$HPID")

# --- Table ----------------------------------------------------------------------------------

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
up_mbs() {  # up_mbs "CODE SECONDS" INTACT: MB/s of a complete, intact upload; 0 otherwise
  local code secs
  read -r code secs <<<"${1:-000 0}"
  [[ "$2" == 1 ]] || secs=0
  awk -v s="$secs" -v m="$BIG_MIB" 'BEGIN { if (s > 0) printf "%.1f", m * 1048576 / s / 1e6; else print 0 }'
}
V_UP_MBS=$(up_mbs "$V_UP" "$V_SAVED")
N_UP_MBS=$(up_mbs "$N_UP" "$N_SAVED")
V_UP_RSS=$(field " $(cat "$WORK/v-peak" 2>/dev/null)" vmrss_kib)
V_UP_ANON=$(field " $(cat "$WORK/v-peak" 2>/dev/null)" rssanon_kib)
failed() { echo "$(($(field "$1" socket_errors) + $(field "$1" non2xx)))"; }

FMT='%-38s %11s %11s %11s %11s\n'
row() { printf "$FMT" "$@"; }
RESULT_LINES=()
target() {  # target TEXT MET(1/0) VALUE
  local verdict=MISS
  [[ "$2" == 1 ]] && verdict=PASS
  RESULT_LINES+=("$(printf '%-4s  %-58s %s' "$verdict" "$1" "$3")")
}
at_least() { awk -v a="$1" -v t="$2" 'BEGIN { print (a != "-" && a + 0 >= t + 0) ? 1 : 0 }'; }
at_most() { awk -v a="$1" -v t="$2" 'BEGIN { print (a != "-" && a + 0 > 0 && a + 0 <= t + 0) ? 1 : 0 }'; }

R_DOWN=$(ratio "$V_DOWN" "$N_DOWN")
R_PAGE_N=$(ratio "$(field "$V_PAGE" rps)" "$(field "$N_PAGE" rps)")
R_PAGE_P=$(ratio "$(field "$V_PAGE" rps)" "$(field "$P_PAGE" rps)")
R_LIST=$(ratio "$V_LIST" "$N_LIST")
R_UP=$(ratio "$V_UP_MBS" "$DISK_MBS")
UP_RSS_MIB=$(mib "$V_UP_RSS")
V_CHUNK_MBS=$(up_mbs "$V_CHUNK_UP" "$V_CHUNK_SAVED")
R_CHUNK_UP=$(ratio "$V_CHUNK_MBS" "$DISK_MBS")
CHUNK_RSS_MIB=$(mib "$(field " $(cat "$WORK/v-chunk-peak" 2>/dev/null)" vmrss_kib)")
IDLE_RSS_MIB=$(mib "$(field " $V_IDLE_C" peak_rss_kib)")
V_OPENED=$(field " $V_IDLE_C" opened)
target "download >= $T_DOWNLOAD_VS_NGINX x nginx" "$(at_least "$R_DOWN" "$T_DOWNLOAD_VS_NGINX")" "$R_DOWN"
target "small pages >= $T_PAGES_VS_NGINX x nginx" "$(at_least "$R_PAGE_N" "$T_PAGES_VS_NGINX")" "$R_PAGE_N"
target "small pages >= $T_PAGES_VS_PYTHON x python" "$(at_least "$R_PAGE_P" "$T_PAGES_VS_PYTHON")" "$R_PAGE_P"
target "listing latency <= $T_LISTING_VS_NGINX x nginx" "$(at_most "$R_LIST" "$T_LISTING_VS_NGINX")" "$R_LIST"
target "upload >= $T_UPLOAD_VS_DISK x plain disk write" "$(at_least "$R_UP" "$T_UPLOAD_VS_DISK")" "$R_UP"
target "upload peak RSS <= $T_UPLOAD_RSS_MIB MiB" \
  "$(at_most "$UP_RSS_MIB" "$T_UPLOAD_RSS_MIB")" "$UP_RSS_MIB MiB"
target "resumable upload >= $T_CHUNK_UP_VS_DISK x plain disk write" \
  "$(at_least "$R_CHUNK_UP" "$T_CHUNK_UP_VS_DISK")" "$R_CHUNK_UP"
target "resumable upload peak RSS <= $T_CHUNK_UP_RSS_MIB MiB" \
  "$(at_most "$CHUNK_RSS_MIB" "$T_CHUNK_UP_RSS_MIB")" "$CHUNK_RSS_MIB MiB"
idle_met=$(at_most "$IDLE_RSS_MIB" "$((T_IDLE_RSS_MIB - 1)).99")
[[ "$V_OPENED" == "$IDLE_CONNECTIONS" ]] || idle_met=0
target "$IDLE_CONNECTIONS idle connections < $T_IDLE_RSS_MIB MiB RSS" "$idle_met" \
  "$IDLE_RSS_MIB MiB ($V_OPENED open)"

{
  echo "Velmarind and peers, $(date -u '+%Y-%m-%d %H:%M UTC'), loopback 127.0.0.1"
  echo "machine: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), $(nproc) cores, Linux $(uname -r)"
  echo "peers: nginx $("$NGINX" -v 2>&1 | sed 's/.*nginx\///'), $(python3 --version), http-server $(node -p "require('$HERE/node_modules/http-server/package.json').version") on node $(node --version)"
  echo
  row "" velmarind nginx python http-server
  row "small page ($PAGE_SIZE B): requests/s" "$(field "$V_PAGE" rps)" "$(field "$N_PAGE" rps)" \
    "$(field "$P_PAGE" rps)" "$(field "$H_PAGE" rps)"
  row "small page: latency p50 (ms)" "$(field "$V_PAGE" p50_ms)" "$(field "$N_PAGE" p50_ms)" \
    "$(field "$P_PAGE" p50_ms)" "$(field "$H_PAGE" p50_ms)"
  row "small page: latency p99 (ms)" "$(field "$V_PAGE" p99_ms)" "$(field "$N_PAGE" p99_ms)" \
    "$(field "$P_PAGE" p99_ms)" "$(field "$H_PAGE" p99_ms)"
  row "small page: failed requests" "$(failed "$V_PAGE")" "$(failed "$N_PAGE")" \
    "$(failed "$P_PAGE")" "$(failed "$H_PAGE")"
  row "$BIG_MIB MiB download: MB/s (median)" "$V_DOWN" "$N_DOWN" "$P_DOWN" "$H_DOWN"
  row "listing of $LISTING_ENTRIES: ms (median)" "$V_LIST" "$N_LIST" "$P_LIST" "$H_LIST"
  row "$BIG_MIB MiB upload: MB/s" "$V_UP_MBS" "$N_UP_MBS" - -
  row "upload: peak RSS (MiB)" "$UP_RSS_MIB" - - -
  row "upload: of it anonymous (MiB)" "$(mib "$V_UP_ANON")" - - -
  row "$BIG_MIB MiB resumable upload: MB/s" "$V_CHUNK_MBS" - - -
  row "resumable upload: peak RSS (MiB)" "$CHUNK_RSS_MIB" - - -
  row "$IDLE_CONNECTIONS idle connections: RSS (MiB)" "$IDLE_RSS_MIB" \
    "$(mib "$(field " $N_IDLE_C" peak_rss_kib)")" "$(mib "$(field " $P_IDLE_C" peak_rss_kib)")" \
    "$(mib "$(field " $H_IDLE_C" peak_rss_kib)")"
  row "  connections open" "$V_OPENED" "$(field " $N_IDLE_C" opened)" \
    "$(field " $P_IDLE_C" opened)" "$(field " $H_IDLE_C" opened)"
  row "RSS after start (MiB)" "$(mib "$V_IDLE")" "$(mib "$N_IDLE")" "$(mib "$P_IDLE")" "$(mib "$H_IDLE")"
  echo
  echo "limits on this disk: plain read of the $BIG_MIB MiB file (warm cache) $READ_MBS MB/s;"
  echo "  plain write of it (dd bs=1M, no fsync) $DISK_MBS MB/s (median of ${DISK_RUNS[*]}), with conv=fsync $DISK_SYNC_MBS MB/s"
  echo "resumable upload: 8 MiB pieces to vm-chunk, a connection each (status ${V_CHUNK_UP%% *}," \
    "saved intact: $V_CHUNK_SAVED)"
  echo "upload: velmarind multipart POST (status ${V_UP%% *}, saved intact: $V_SAVED);" \
    "nginx WebDAV PUT (status ${N_UP%% *}, saved intact: $N_SAVED); the others take no uploads"
  echo "listing: velmarind script.html sent $V_LIST_RECORDS file records; the peers their HTML index"
  echo "MB/s = 10^6 bytes/s; nginx memory is the master and its workers together"
  echo
  echo "targets (ratios of this run):"
  printf '%s\n' "${RESULT_LINES[@]}"
} | tee "$RESULTS"
echo "written to $RESULTS"
