#!/usr/bin/env bash
# Two builds of the program side by side, in turns on the same machine: requests/s of the index
# page (wrk, a new connection per request), MB/s of a download and of an upload of one file, so
# that a change's cost shows as a ratio taken under the same load. Loopback only.
#   bench/ab_compare.sh BUILD_A BUILD_B [ROUNDS] [FILE_MIB]
# Each build folder holds velmarind and page/. Prints each round and the median ratio B/A.
set -euo pipefail
a=$(cd "${1:?usage: ab_compare.sh BUILD_A BUILD_B [ROUNDS] [FILE_MIB]}" && pwd)
b=$(cd "${2:?}" && pwd)
rounds=${3:-3}
mib=${4:-256}
for tool in wrk curl python3; do command -v "$tool" >/dev/null || { echo "missing: $tool"; exit 1; }; done

work=$(mktemp -d /tmp/velmarind-ab-XXXXXX)
pid=
cleanup() {
  # Only the program this script started, by its id.
  [[ -n $pid ]] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/share"
head -c $((mib << 20)) /dev/urandom >"$work/big.bin"
cp "$work/big.bin" "$work/share/big.bin"
hex=$(printf '%s' "$work/share/big.bin" | od -An -tx1 | tr -d ' \n')

free_port() { python3 "$(dirname "$0")/../tests/support/free_port.py"; }
start() {  # BUILD: the program from a folder of its own, headless
  local app=$work/app port
  rm -rf "$app" && mkdir -p "$app/page"
  cp "$1/velmarind" "$app/" && cp "$1"/page/vcom.* "$app/page/"
  port=$(free_port)
  printf '[COMMON]\r\nHTTP_PORT=%s\r\n' "$port" >"$app/velmarind.ini"
  printf 'S;;%s/share/\r\n' "$work" >"$app/dirlst.ini"
  (cd "$app" && unset DISPLAY WAYLAND_DISPLAY && XDG_CONFIG_HOME=$work exec ./velmarind) >/dev/null 2>&1 &
  pid=$!
  url=http://127.0.0.1:$port/velmarind/
  for _ in $(seq 100); do curl -s -o /dev/null "$url" && return 0; sleep 0.1; done
  echo "the program did not start"; exit 1
}
stop() { kill "$pid"; wait "$pid" 2>/dev/null || true; pid=; }
measure() {  # BUILD: "requests/s download-MB/s upload-MB/s"
  start "$1"
  local rps down up
  rps=$(wrk -t2 -c32 -d5s -H "Connection: close" "${url}index.html" | awk '/Requests\/sec/ { print $2 }')
  down=$(curl -s -o /dev/null -w '%{speed_download}' "${url}download.html?file=$hex")
  up=$(curl -s -o /dev/null -w '%{speed_upload}' -F menu=updimg -F "ifile=@$work/big.bin" -F dirname=53 \
    "${url}index.html")
  rm -f "$work"/share/__vupd_img_*
  stop
  awk -v r="$rps" -v d="$down" -v u="$up" 'BEGIN { printf "%.0f %.1f %.1f\n", r, d / 1e6, u / 1e6 }'
}

echo "round  A: req/s down up (MB/s)   B: req/s down up (MB/s)"
ratios=()
for ((i = 1; i <= rounds; i++)); do
  ma=$(measure "$a")
  mb=$(measure "$b")
  echo "$i      $ma      $mb"
  ratios+=("$(awk -v x="$ma" -v y="$mb" 'BEGIN { split(x, p); split(y, q);
    printf "%.3f %.3f %.3f", q[1] / p[1], q[2] / p[2], q[3] / p[3] }')")
done
printf '%s\n' "${ratios[@]}" | awk '{ r[NR] = $1; d[NR] = $2; u[NR] = $3 }
  function median(v, n,   i, j, t) { for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++)
    if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t } return v[int((n + 1) / 2)] }
  END { n = NR; printf "B/A median (spread): req/s %.3f (%.3f-%.3f)", median(r, n), r[1], r[n];
        printf ", download %.3f (%.3f-%.3f)", median(d, n), d[1], d[n];
        printf ", upload %.3f (%.3f-%.3f)\n", median(u, n), u[1], u[n] }'
