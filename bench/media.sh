#!/usr/bin/env bash
# Photos and videos browsers cannot show by themselves, all on 127.0.0.1:
#   - video thumbnails of 1080p H.264 files through the server (two at once, as the program runs
#     two workers): per second, and the thumbnail programs' peak memory while they made them;
#   - a gallery of 300 HEIC photos of 12 megapixels in headless Chromium at phone size: the first
#     screen of thumbnails, cold (empty caches) and warm;
#   - one such HEIC converted to a 2560-pixel view through the server, against `vips thumbnail`
#     of the same file to the same size, in alternate rounds.
#
#   bench/media.sh BUILD_FOLDER [ROUNDS]
#     BUILD_FOLDER holds velmarind, velmarind-thumbnailer and page/; ROUNDS (default 5) of the
#     warm gallery and of the conversion.
#
# Needs heif-enc (libheif-examples), ffmpeg, libvips-tools (vips), curl, python3, chromium and
# node with tests/e2e's playwright-core. Takes about 6 minutes on two cores, most of it making
# the HEIC files, and 1 GiB under /tmp.
set -euo pipefail

readonly PHOTOS=300
readonly PHOTO_SOURCES=2
readonly VIDEOS=40
readonly VIDEO_SOURCES=4
readonly SHARE_NAME=Bench

if [[ $# -lt 1 || ! -x "${1:-}/velmarind" || ! -x "${1:-}/velmarind-thumbnailer" ]]; then
  echo "usage: $0 BUILD_FOLDER [ROUNDS]" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
ROUNDS=${2:-5}
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/.." && pwd)
for tool in heif-enc ffmpeg vips curl python3 node /usr/bin/chromium; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
if [[ ! -f "$REPO/tests/e2e/node_modules/playwright-core/package.json" ]]; then
  (cd "$REPO/tests/e2e" && npm ci --no-audit --no-fund --loglevel=error)
fi

WORK=$(mktemp -d /tmp/velmarind-media-bench.XXXXXX)
VPID=""
cleanup() {
  if [[ -n $VPID ]]; then kill "$VPID" 2>/dev/null || true; wait "$VPID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("0.0.0.0",0)); print(s.getsockname()[1])'; }
hexpath() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }
now() { date +%s.%N; }
calc() { python3 -c "print($1)"; }
PROG="$WORK/prog" SHARE="$WORK/share"
mkdir -p "$PROG/page" "$SHARE/heic" "$SHARE/video" "$WORK/cache" "$WORK/xdg" "$WORK/out"
cp "$BUILD/velmarind" "$BUILD/velmarind-thumbnailer" "$PROG/"
cp "$BUILD/page/vcom.css" "$BUILD/page/vcom.js" "$PROG/page/"

echo "making $VIDEOS videos and $PHOTOS HEIC photos..."
for k in $(seq 1 "$VIDEO_SOURCES"); do
  ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=30" -f lavfi -i "sine=frequency=$((200 * k))" \
    -t 10 -c:v libx264 -preset ultrafast -g 60 -pix_fmt yuv420p -c:a aac -shortest "$WORK/clip-$k.mp4"
done
for n in $(seq 1 "$VIDEOS"); do
  cp "$WORK/clip-$(( (n - 1) % VIDEO_SOURCES + 1 )).mp4" "$(printf '%s/video/VID_%04d.mp4' "$SHARE" "$n")"
done
for k in $(seq 1 "$PHOTO_SOURCES"); do
  # Noise, softened: about as costly to decode as a phone's photo; with the 320-pixel thumbnail
  # a phone stores beside it.
  vips gaussnoise "$WORK/n.v" 4032 3024 --sigma 30 --mean $((60 + k * 40))
  vips bandjoin "$WORK/n.v $WORK/n.v $WORK/n.v" "$WORK/c.v"
  vips gaussblur "$WORK/c.v" "$WORK/b.v" 1
  vips cast "$WORK/b.v" "$WORK/source-$k.jpg[Q=90]" uchar
  heif-enc -q 60 -t 320 -o "$WORK/source-$k.heic" "$WORK/source-$k.jpg" >/dev/null
done
rm -f "$WORK"/*.v
for n in $(seq 1 "$PHOTOS"); do
  cp "$WORK/source-$(( (n - 1) % PHOTO_SOURCES + 1 )).heic" "$(printf '%s/heic/IMG_%04d.heic' "$SHARE" "$n")"
done

PORT=$(free_port)
printf '[COMMON]\r\nHTTP_PORT=%s\r\nAUTO_RUN=0\r\nPASS_FLG=0\r\nPASSWORD=\r\n' "$PORT" >"$PROG/velmarind.ini"
printf '%s;;%s/\r\n' "$SHARE_NAME" "$SHARE" >"$PROG/dirlst.ini"
env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$WORK/xdg" XDG_CACHE_HOME="$WORK/cache" \
  "$PROG/velmarind" >"$WORK/velmarind.out" 2>&1 &
VPID=$!
BASE="http://127.0.0.1:$PORT/velmarind/"
python3 - "$BASE" <<'PY'
import sys, time, urllib.request
deadline = time.time() + 30
while True:
    try:
        urllib.request.urlopen(sys.argv[1], timeout=2); break
    except Exception:
        if time.time() > deadline: sys.exit("the server did not answer")
        time.sleep(0.1)
PY
peak_of_programs() {  # the largest VmHWM (KiB) of the server's thumbnail programs
  local peak=0 kb
  for pid in $(pgrep -P "$VPID" -f velmarind-thumbnailer || true); do
    kb=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    (( kb > peak )) && peak=$kb
  done
  echo "$peak"
}

# Video thumbnails first, while the programs are new: their peak memory is that of videos.
for name in $(cd "$SHARE/video" && ls); do
  printf 'url = "%svm-thumb?file=%s"\noutput = "/dev/null"\n' "$BASE" "$(hexpath "$SHARE/video/$name")"
done >"$WORK/videos.curl"
start=$(now)
curl -sf --no-progress-meter --parallel --parallel-immediate --parallel-max 2 -K "$WORK/videos.curl"
video_s=$(calc "$(now) - $start")
video_peak=$(peak_of_programs)
made=$(find "$WORK/cache/velmarind/thumbnails" -name '*.jpg' | wc -l)

when=$(date -u '+%Y-%m-%d %H:%M')
echo "Photos and videos, $when UTC, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'video thumbnails, 1080p H.264, 2 at once: %.1f/s (%d of %d made in %.2f s) (target at least 5/s)\n' \
  "$(calc "$VIDEOS / $video_s")" "$made" "$VIDEOS" "$video_s"
printf 'thumbnail program: peak RSS %.1f MiB making them (target under 150)\n' "$(calc "$video_peak / 1024")"

node "$HERE/view_browser.mjs" --velmarind "$BASE" --share "$SHARE_NAME" --rounds "$ROUNDS" \
  --server-pid "$VPID" --photos "$PHOTOS" --folder heic/ --tile vm-tile-picture \
  --cold-target 2000 --warm-target 300 --only gallery \
  --playwright "$REPO/tests/e2e/node_modules/playwright-core/index.mjs" | sed 1d | sed 's/photos/HEIC photos/'

# A view of 2560 pixels of a 12-megapixel HEIC: through the server (a copy it has not seen, so
# none is cached), against vips thumbnail of the same file, in turns as the machine's load
# changes. Seconds per conversion, median of the rounds.
ours=() theirs=()
for r in $(seq 1 "$ROUNDS"); do
  file="$SHARE/heic/$(printf 'IMG_%04d.heic' $((PHOTOS - r + 1)))"
  ours+=("$(curl -sf -o "$WORK/out/ours.jpg" -w '%{time_total}' "${BASE}vm-picture?file=$(hexpath "$file")")")
  start=$(now)
  vips thumbnail "$file" "$WORK/out/theirs.jpg" 2560
  theirs+=("$(calc "$(now) - $start")")
done
size_ours=$(vipsheader "$WORK/out/ours.jpg" | cut -d: -f2 | cut -d' ' -f2)
size_theirs=$(vipsheader "$WORK/out/theirs.jpg" | cut -d: -f2 | cut -d' ' -f2)
python3 - "${ours[*]}" "${theirs[*]}" "$size_ours" "$size_theirs" <<'PY'
import statistics, sys
ours = [float(x) for x in sys.argv[1].split()]
theirs = [float(x) for x in sys.argv[2].split()]
fmt = lambda xs: ' '.join(f'{x:.2f}' for x in xs)
print(f'HEIC 4032 x 3024 to a view of 2560 px ({sys.argv[3]}; vips thumbnail {sys.argv[4]}), seconds:')
print(f'  velmarind (vm-picture): {fmt(ours)}   median {statistics.median(ours):.2f}')
print(f'  vips thumbnail:         {fmt(theirs)}   median {statistics.median(theirs):.2f}')
print(f'  ratio of medians {statistics.median(ours) / statistics.median(theirs):.2f} (target at most 1.2)')
PY
printf 'thumbnail program: peak RSS %.1f MiB after the conversions\n' "$(calc "$(peak_of_programs) / 1024")"
