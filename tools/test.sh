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

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"

failed=()
passed=0
run() {  # run NAME COMMAND...: runs one suite and records its outcome
  local name=$1; shift
  echo "=== $name"
  if "$@"; then echo "=== $name: passed"; passed=$((passed + 1)); else echo "=== $name: FAILED"; failed+=("$name"); fi
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

echo "suites: $passed passed, ${#failed[@]} failed"
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "Failed suites: ${failed[*]}"
  exit 1
fi
