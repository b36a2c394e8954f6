#!/usr/bin/env bash
# Folder downloads as one zip: the rate of a folder of files against the download of one file of
# the same bytes, measured in alternation in the same run, and Velmarind's peak resident memory
# while it zips a 10 GiB folder. Runs Velmarind alone, on 127.0.0.1, and stops it by its pid.
#
#   bench/zip.sh BUILD_FOLDER      (a Release build: BUILD_FOLDER/velmarind and BUILD_FOLDER/page/)
#
# Needs curl and python3; about 4.5 GiB free under /tmp (the 10 GiB file is sparse).
set -euo pipefail

readonly FILES=16            # the folder: this many files of random bytes ...
readonly FILE_MIB=128        # ... of this size each (2 GiB in all)
readonly ROUNDS=5            # alternating zip and single-file downloads; the medians count
readonly SPARSE_GIB=10       # the folder zipped while the memory is sampled
readonly T_RATE=0.9          # target: zip rate / single-file rate
readonly T_RSS_MIB=32        # target: peak RSS while zipping SPARSE_GIB

if [[ $# -ne 1 || ! -x "${1:-}/velmarind" || ! -d "${1:-}/page" ]]; then
  echo "usage: $0 BUILD_FOLDER   (the folder holding velmarind and page/)" >&2
  exit 2
fi
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)

WORK=$(mktemp -d /tmp/velmarind-zip-bench.XXXXXX)
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
mkdir -p "$PROG/page" "$SHARE/set" "$SHARE/sparse" "$WORK/xdg"
cp "$BUILD/velmarind" "$PROG/"
cp "$BUILD"/page/vcom.css "$BUILD"/page/vcom.js "$PROG/page/"

echo "Preparing $FILES files of $FILE_MIB MiB, their concatenation, a sparse $SPARSE_GIB GiB file..."
for k in $(seq -w 1 "$FILES"); do head -c "$((FILE_MIB << 20))" /dev/urandom >"$SHARE/set/part-$k.bin"; done
cat "$SHARE"/set/part-*.bin >"$SHARE/one.bin"
truncate -s "${SPARSE_GIB}G" "$SHARE/sparse/zeros.bin"
cat "$SHARE"/set/part-*.bin "$SHARE/one.bin" >/dev/null  # in the page cache for both

PORT=$(python3 "$HERE/../tests/support/free_port.py")
printf '[COMMON]\r\nHTTP_PORT=%s\r\nAUTO_RUN=0\r\nPASS_FLG=0\r\nPASSWORD=\r\n' "$PORT" >"$PROG/velmarind.ini"
printf 'Bench;;%s/\r\n' "$SHARE" >"$PROG/dirlst.ini"
env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$WORK/xdg" "$PROG/velmarind" >"$WORK/out" 2>&1 &
VPID=$!
BASE="http://127.0.0.1:$PORT/velmarind"
for _ in $(seq 100); do curl -s -o /dev/null --max-time 1 "$BASE/vcom.css" && break; sleep 0.1; done

hexof() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }
ZIP_URL="$BASE/vm-zip?dir=$(hexof "$SHARE/set/")"
ONE_URL="$BASE/download.html?file=$(hexof "$SHARE/one.bin")"
SPARSE_URL="$BASE/vm-zip?dir=$(hexof "$SHARE/sparse/")"
rate() { curl -s -o /dev/null -w '%{speed_download} %{size_download}\n' "$1"; }

zips=() ones=()
for _ in $(seq "$ROUNDS"); do
  read -r z zsize < <(rate "$ZIP_URL")
  read -r o osize < <(rate "$ONE_URL")
  zips+=("$z") ones+=("$o")
done

python3 "$HERE/peak_rss.py" "$WORK/rss" 600 "$VPID" &
SPID=$!
sleep 0.2
read -r s ssize < <(rate "$SPARSE_URL")
kill -TERM "$SPID"; wait "$SPID" 2>/dev/null || true; SPID=""

python3 - "$zsize" "$osize" "$ssize" "$(cat "$WORK/rss")" "$T_RATE" "$T_RSS_MIB" "$s" \
  "${zips[*]}" "${ones[*]}" <<'EOF'
import statistics, sys
zsize, osize, ssize, rss, t_rate, t_rss, sparse = sys.argv[1:8]
zips = [float(v) for v in sys.argv[8].split()]
ones = [float(v) for v in sys.argv[9].split()]
rss = dict(kv.split("=") for kv in rss.split())
peak = int(rss["vmrss_kib"]) / 1024
ratios = [z / o for z, o in zip(zips, ones)]
mb = lambda v: f"{v / 1e6:8.1f}"
print(f"zip of a folder of files ({int(zsize) / 2**20:.0f} MiB archive) vs one file ({int(osize) / 2**20:.0f} MiB), MB/s:")
print("  zip:    " + " ".join(mb(v) for v in zips) + f"   median {mb(statistics.median(zips))}")
print("  single: " + " ".join(mb(v) for v in ones) + f"   median {mb(statistics.median(ones))}")
print("  ratio per round: " + " ".join(f"{r:.2f}" for r in ratios))
ratio = statistics.median(zips) / statistics.median(ones)
print(f"zip of a {int(ssize) / 2**30:.1f} GiB folder: {mb(float(sparse))} MB/s, peak RSS {peak:.1f} MiB "
      f"(anonymous {int(rss['rssanon_kib']) / 1024:.1f} MiB)")
print(f"{'PASS' if ratio >= float(t_rate) else 'MISS'}  zip >= {t_rate} x single file     {ratio:.2f}")
print(f"{'PASS' if peak <= float(t_rss) else 'MISS'}  peak RSS <= {t_rss} MiB (10 GiB)   {peak:.1f} MiB")
EOF
