#!/usr/bin/env bash
# Sets up, builds and runs every test: unit and socket tests (CTest), the same under AddressSanitizer
# and UBSan, the install test, the concurrency tests under ThreadSanitizer, each fuzz target for a
# bounded time, the mDNS announcement with a private daemon, the file-manager door with real
# clients (litmus, rclone, gvfs), the desktop test under Xvfb and the
# browser tests in headless Chromium.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tools/setup.sh test

took() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }
jobs=$(nproc)
# Tests on: tools/run.sh builds the same folder without them.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVELMARIND_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
echo "=== set-up and build: $(took "$SECONDS")"

# Each suite's output is shown and kept in a log, whose failure lines the summary names.
logs=$root/build/test-logs
rm -rf "$logs"
mkdir -p "$logs"
failed=() failed_logs=()
passed=0
run() {  # run NAME COMMAND...: runs one suite and records its outcome
  local name=$1; shift
  local log=$logs/$((passed + ${#failed[@]} + 1)).log start=$SECONDS status=0 out tee_pid i
  echo "=== $name"
  # Not a pipe into tee, which a process the suite left behind would hold up for ever: tee is
  # given up to 10 s to write the end of the log.
  exec {out}> >(tee "$log")
  tee_pid=$!
  "$@" >&"$out" 2>&1 || status=$?
  exec {out}>&-
  for ((i = 0; i < 100; i++)); do kill -0 "$tee_pid" 2>/dev/null || break; sleep 0.1; done
  if ((status == 0)); then
    echo "=== $name: passed in $(took $((SECONDS - start)))"; passed=$((passed + 1))
  else
    echo "=== $name: FAILED in $(took $((SECONDS - start)))"; failed+=("$name"); failed_logs+=("$log")
  fi
}
# The lines of a log that name what failed, in each runner's words: GoogleTest and Qt Test cases,
# CTest's list, node's test runner, the shell tests' checks, fuzz targets, sanitizer reports and
# compiler errors. Each once; the log's end when none is there.
failure_lines='^\[  FAILED  \] [^ ]+\.[^ ]+|^FAIL!  : |^[[:space:]]+[0-9]+ - [^ ]+ \(|^[[:space:]]*not ok [0-9]+ - |^FAILED: |^[[:alnum:]_]+: FAILED|SUMMARY: [[:alpha:]]+Sanitizer|runtime error: |: error: |undefined reference|^CMake Error'
failed_checks() {  # LOG
  local lines
  lines=$(grep -aE "$failure_lines" "$1" | sed -E 's/^[[:space:]]+//; s/ \([0-9]+ ms\)$//' |
    cut -c1-200 | awk '!seen[$0]++' | head -n 40 || true)
  if [[ -n $lines ]]; then echo "$lines"; else tail -n 5 "$1"; fi
}

run "unit and socket tests" ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMARIND_SANITIZE=ON -DVELMARIND_DESKTOP=OFF >/dev/null
run "sanitizer build" cmake --build build-asan -j"$jobs"
run "tests under AddressSanitizer and UBSan" ctest --test-dir build-asan --output-on-failure -j"$jobs"

run "install for one user" tests/install/run.sh "$root/build"
run "concurrency tests under ThreadSanitizer" tools/tsan.sh
run "fuzzing under AddressSanitizer and UBSan" tools/fuzz.sh

run "announced on the local network" tests/announce/run.sh "$root/build"
run "file managers (WebDAV): litmus, rclone, curl, gvfs" tests/dav/run.sh "$root/build"
run "file managers under AddressSanitizer and UBSan" tests/dav/run.sh "$root/build-asan"
if [[ -x tests/desktop/run.sh ]]; then
  run "desktop tray test" tests/desktop/run.sh "$root/build"
fi
if [[ -x tests/e2e/run.sh ]]; then
  run "browser tests" tests/e2e/run.sh "$root/build"
fi

echo "suites: $passed passed, ${#failed[@]} failed, in $(took "$SECONDS")"
if [[ ${#failed[@]} -gt 0 ]]; then
  for i in "${!failed[@]}"; do
    echo "FAILED: ${failed[$i]} (log: ${failed_logs[$i]})"
    failed_checks "${failed_logs[$i]}" | sed 's/^/    /'
  done
  exit 1
fi
