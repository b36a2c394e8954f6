#!/usr/bin/env bash
# Builds the tests that run threads or sockets with ThreadSanitizer in build-tsan (no desktop
# parts) and runs them under CTest. Any ThreadSanitizer report fails the run.
usage="usage: tools/tsan.sh [CTEST_REGEX]   (default: the concurrency tests)"
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [[ "${1:-}" == "-h" || "${1:-}" == "--help" ]]; then echo "$usage"; exit 0; fi

# Tests where several threads meet: the connection threads and their pool, whole requests on
# loopback (dispatcher, downloads, load and faults, connection limits), concurrent page, body and
# pastdata writers, the per-thread converter, the headless program serving while it is
# stopped by a signal, resumable uploads taken over from a request that hangs, the record of
# clients read while connections count their transfers, the announcer's thread reporting into
# the state, and requests waiting for the thumbnail workers.
concurrency_tests=(tcp_server_test http_server_test dispatcher_test range_download_test
                   load_fault_test connection_limits_test page_file_test post_body_test
                   text_helpers_test headless_program_test chunk_upload_test client_log_test
                   announce_test thumbnail_maker_test)
if [[ $# -gt 0 ]]; then
  regex=$1
else
  regex="^($(IFS='|'; echo "${concurrency_tests[*]}"))\$"
fi

build=$root/build-tsan
# -O1 with line tables: quick to build, fast enough to run, and reports still name the lines.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DVELMARIND_TSAN=ON -DVELMARIND_DESKTOP=OFF >/dev/null
# Only the tests that will run (and the program, which headless_program_test starts).
mapfile -t selected < <(ctest --test-dir "$build" -N -R "$regex" | sed -n 's/^ *Test *#[0-9]*: //p')
if [[ ${#selected[@]} -eq 0 ]]; then echo "no test matches $regex" >&2; exit 2; fi
cmake --build "$build" -j"$(nproc)" --target velmarind "${selected[@]}" >/dev/null

# halt_on_error: the first report fails the test process (exit code 66), which fails its test.
# Reports also go to files, so that one from a process a test starts (the program) is not lost
# in the output that test keeps to itself.
reports=$build/tsan-reports
rm -rf "$reports"
mkdir -p "$reports"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tools/tsan.supp log_path=$reports/report ${TSAN_OPTIONS:-}"
# ThreadSanitizer needs its fixed memory layout; kernels with much address randomisation break
# it, so randomisation is switched off for the run where the system allows that.
no_aslr=()
if setarch "$(uname -m)" -R true 2>/dev/null; then no_aslr=(setarch "$(uname -m)" -R); fi
status=0
"${no_aslr[@]}" ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -R "$regex" || status=$?
if compgen -G "$reports/report*" >/dev/null; then
  for report in "$reports"/report*; do echo "=== $report"; cat "$report"; done
  echo "ThreadSanitizer reported (reports in $reports)" >&2
  exit 1
fi
exit "$status"
