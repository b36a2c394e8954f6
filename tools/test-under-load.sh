#!/usr/bin/env bash
# Runs tools/test.sh twice in a row on a machine kept busy meanwhile, and prints each run's time
# and result. The load: two `sha256sum /dev/zero` keep both cores busy, and an HTTP load on
# loopback comes from many 127.0.x.y client addresses, whose ports stay in TIME_WAIT as on a busy
# machine (tools/loopback_load.py). All of it is bounded in time and ended at the close, by the
# ids of the processes this script started. Not part of CI: it takes about an hour.
#   tools/test-under-load.sh              the two runs
#   tools/test-under-load.sh --load-only SECONDS
#                                         only the load, for that long, and its figures
usage="usage: tools/test-under-load.sh [--load-only SECONDS]"
set -uo pipefail
cd "$(dirname "$0")/.."
source tests/support/checks.sh

load_seconds=10800  # the load ends by itself after this, should this script be killed
runs=2
if [[ ${1:-} == --load-only ]]; then
  [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || { echo "$usage" >&2; exit 2; }
  load_seconds=$2 runs=0
elif [[ $# -gt 0 ]]; then
  echo "$usage" >&2
  exit 2
fi

work=$(mktemp -d /tmp/velmarind-under-load-XXXXXX)
pids=()
stop_load() {
  ((${#pids[@]})) && end_started "${pids[@]}"
  pids=()
}
trap 'stop_load; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

for _ in 1 2; do
  timeout "$load_seconds" sha256sum /dev/zero >/dev/null &
  pids+=($!)
done
python3 tools/loopback_load.py --seconds "$load_seconds" >"$work/load.log" 2>&1 &
pids+=($!)
load_started() { grep -q '^load: .* clients' "$work/load.log"; }
wait_for 30 load_started || { echo "the loopback load did not start:"; cat "$work/load.log"; exit 1; }
head -n 1 "$work/load.log"
echo "busy: two sha256sum /dev/zero; processes of the load: ${pids[*]}"

took() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }
load_figures() {  # the load average and the sockets in TIME_WAIT now
  echo "load average $(cut -d' ' -f1-3 /proc/loadavg), $(($(ss -Htan state time-wait | wc -l))) sockets in TIME_WAIT"
}
results=()
all_passed=true
if ((runs == 0)); then
  sleep "$load_seconds"  # the load only, for the time asked
  results+=("after $load_seconds s: $(load_figures)")
fi
for ((run = 1; run <= runs; run++)); do
  echo "=== run $run of $runs of tools/test.sh under load, from $(date +%T); $(load_figures)"
  start=$SECONDS status=0
  tools/test.sh || status=$?
  outcome=passed
  ((status == 0)) || { outcome="FAILED (exit $status)"; all_passed=false; }
  results+=("run $run: $outcome in $(took $((SECONDS - start))); at its end $(load_figures)")
  echo "=== ${results[-1]}"
  # Each run's suite logs are kept apart: the next run writes its own.
  rm -rf "build/test-logs-run$run" && mv build/test-logs "build/test-logs-run$run" 2>/dev/null
done

stop_load
tail -n 1 "$work/load.log"
printf '%s\n' "${results[@]}"
((runs == 0)) || echo "suite logs: build/test-logs-run*/"
$all_passed
