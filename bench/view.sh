#!/usr/bin/env bash
# Viewing figures in a real browser (headless Chromium at phone size), next to nginx and
# python3 -m http.server in the same run, all on 127.0.0.1:
#   - a folder of 10,000 entries: click to first screen, click to every entry in the page, the
#     first screen after the listing answer, the filter box per key;
#   - a gallery of 1,000 photos of 4000 x 3000: the first grid screen, cold and warm;
#   - the thumbnail program: peak memory, and its rate against vipsthumbnail on the same files.
#
#   bench/view.sh BUILD_FOLDER [ROUNDS [list|gallery]]
#     BUILD_FOLDER holds velmarind, velmarind-thumbnailer and page/; ROUNDS of each figure
#     (default 5); list or gallery measures only that part.
#
# Needs nginx-light, python3, libvips-tools (vips, vipsthumbnail), chromium and node with
# tests/e2e's playwright-core (installed there with npm ci when missing). Takes about 3 minutes
# and 2 GiB under /tmp; the photos are made from 4 generated pictures, each copied 250 times.
set -euo pipefail

readonly ENTRIES=10000
readonly PHOTOS=1000
readonly PHOTO_SOURCES=4
readonly SHARE_NAME=Bench

if [[ $# -lt 1 || ! -x "${1:-}/velmarind" || ! -x "${1:-}/velmarind-thumbnailer" ]]; then
  echo "usage: $0 BUILD_FOLDER [ROUNDS]" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
ROUNDS=${2:-5}
ONLY=${3:-}
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/.." && pwd)
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
for tool in "$NGINX" python3 vips vipsthumbnail node /usr/bin/chromium; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
if [[ ! -f "$REPO/tests/e2e/node_modules/playwright-core/package.json" ]]; then
  (cd "$REPO/tests/e2e" && npm ci --no-audit --no-fund --loglevel=error)
fi

WORK=$(mktemp -d /tmp/velmarind-view-bench.XXXXXX)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

PROG="$WORK/prog" SHARE="$WORK/share" NGX="$WORK/nginx"
mkdir -p "$PROG/page" "$SHARE/many" "$SHARE/photos" "$NGX/logs" "$NGX/tmp" "$WORK/cache" "$WORK/xdg"
cp "$BUILD/velmarind" "$BUILD/velmarind-thumbnailer" "$PROG/"
cp "$BUILD/page/vcom.css" "$BUILD/page/vcom.js" "$PROG/page/"

echo "making $ENTRIES entries and $PHOTOS photos..."
(cd "$SHARE/many" && seq -f 'entry-%05g.txt' 1 "$ENTRIES" | xargs touch)
[[ $ONLY == list ]] || for k in $(seq 1 "$PHOTO_SOURCES"); do
  # Noise, softened: about as costly to decode as a camera's photo of that size.
  vips gaussnoise "$WORK/n.v" 4000 3000 --sigma 30 --mean $((60 + k * 30))
  vips bandjoin "$WORK/n.v $WORK/n.v $WORK/n.v" "$WORK/c.v"
  vips gaussblur "$WORK/c.v" "$WORK/b.v" 1
  vips cast "$WORK/b.v" "$WORK/u.v" uchar
  vips jpegsave "$WORK/u.v" "$WORK/source-$k.jpg" --Q 88
done
rm -f "$WORK"/*.v
[[ $ONLY == list ]] || for n in $(seq 1 "$PHOTOS"); do
  cp "$WORK/source-$(( (n - 1) % PHOTO_SOURCES + 1 )).jpg" "$(printf '%s/photos/IMG_%04d.jpg' "$SHARE" "$n")"
done

read -r VPORT NPORT PPORT < <(python3 "$REPO/tests/support/free_port.py" 3 | xargs)
printf '[COMMON]\r\nHTTP_PORT=%s\r\nAUTO_RUN=0\r\nPASS_FLG=0\r\nPASSWORD=\r\n' "$VPORT" >"$PROG/velmarind.ini"
printf '%s;;%s/\r\n' "$SHARE_NAME" "$SHARE" >"$PROG/dirlst.ini"
user_line=""
[[ $(id -u) -eq 0 ]] && user_line="user $(id -un) $(id -gn);"
cat >"$NGX/nginx.conf" <<CONF
$user_line
worker_processes auto;
daemon off;
pid $NGX/nginx.pid;
error_log $NGX/logs/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  types { text/html html; image/jpeg jpg; }
  default_type application/octet-stream;
  autoindex on;
  client_body_temp_path $NGX/tmp/body;
  proxy_temp_path $NGX/tmp/proxy;
  fastcgi_temp_path $NGX/tmp/fastcgi;
  uwsgi_temp_path $NGX/tmp/uwsgi;
  scgi_temp_path $NGX/tmp/scgi;
  server { listen 127.0.0.1:$NPORT; root $SHARE; }
}
CONF

env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$WORK/xdg" XDG_CACHE_HOME="$WORK/cache" \
  "$PROG/velmarind" >"$WORK/velmarind.out" 2>&1 &
PIDS+=($!)
VPID=$!
"$NGINX" -p "$NGX/" -c "$NGX/nginx.conf" -e "$NGX/logs/error.log" >"$NGX/logs/stdout" 2>&1 &
PIDS+=($!)
python3 -m http.server "$PPORT" --bind 127.0.0.1 --directory "$SHARE" >"$WORK/python.out" 2>&1 &
PIDS+=($!)
for port in "$VPORT" "$NPORT" "$PPORT"; do
  for _ in $(seq 1 100); do
    curl -sf -o /dev/null "http://127.0.0.1:$port/" && break
    sleep 0.1
  done
done

node "$HERE/view_browser.mjs" --velmarind "http://127.0.0.1:$VPORT/velmarind/" \
  --nginx "http://127.0.0.1:$NPORT/" --python "http://127.0.0.1:$PPORT/" \
  --share "$SHARE_NAME" --rounds "$ROUNDS" --server-pid "$VPID" --photos "$PHOTOS" \
  --playwright "$REPO/tests/e2e/node_modules/playwright-core/index.mjs" --only "$ONLY"
[[ -z $ONLY ]] || exit 0

# The thumbnail program against vipsthumbnail on the same kind of photos, two at once each (the
# program runs two workers): images per second. Ours are taken through the server, with its
# cache emptied first. The machine's load changes: the runs alternate, ours, theirs, theirs, ours,
# on 100 photos each that none has seen before.
rm -rf "$WORK/cache/velmarind"
hexpath() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }
mkdir -p "$WORK/vt"
ours_n=0 ours_s=0 theirs_n=0 theirs_s=0
seconds_since() { python3 -c "import time; print(time.time() - $1)"; }
run_ours() {  # FIRST LAST: photos by their place in the folder
  mapfile -t part < <(cd "$SHARE/photos" && ls | sed -n "$1,$2p")
  for name in "${part[@]}"; do
    printf 'url = "http://127.0.0.1:%s/velmarind/vm-thumb?file=%s"\noutput = "/dev/null"\n' \
      "$VPORT" "$(hexpath "$SHARE/photos/$name")"
  done >"$WORK/thumbs.curl"
  local start; start=$(date +%s.%N)
  # One curl for all, two transfers at once: no process start per thumbnail.
  curl -sf --no-progress-meter --parallel --parallel-immediate --parallel-max 2 -K "$WORK/thumbs.curl"
  ours_s=$(python3 -c "print($ours_s + $(seconds_since "$start"))"); ours_n=$((ours_n + ${#part[@]}))
}
run_theirs() {
  mapfile -t part < <(cd "$SHARE/photos" && ls | sed -n "$1,$2p")
  local start; start=$(date +%s.%N)
  printf '%s\n' "${part[@]}" | (cd "$SHARE/photos" && xargs -P 2 -n 50 vipsthumbnail -s 256 -o "$WORK/vt/%s.jpg")
  theirs_s=$(python3 -c "print($theirs_s + $(seconds_since "$start"))"); theirs_n=$((theirs_n + ${#part[@]}))
}
run_ours 501 600; run_theirs 601 700; run_theirs 701 800; run_ours 801 900
ours=$(python3 -c "print(f'{$ours_n / $ours_s:.1f}')")
theirs=$(python3 -c "print(f'{$theirs_n / $theirs_s:.1f}')")
peak=0
for pid in $(pgrep -P "$VPID" -f velmarind-thumbnailer || true); do
  kb=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
  (( kb > peak )) && peak=$kb
done
printf 'thumbnails, 2 at once, 200 photos each: velmarind %s/s, vipsthumbnail %s/s (ratio %s)\n' \
  "$ours" "$theirs" "$(python3 -c "print(f'{$ours / $theirs:.2f}')")"
printf 'thumbnail program: peak RSS %.1f MiB (target under 100)\n' "$(python3 -c "print($peak / 1024)")"
