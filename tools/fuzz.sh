#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UBSan in build-fuzz, and runs each
# for a bounded time on a copy of its seed corpus. Fails when any target finds a crash, a leak, a
# sanitizer report or a hang; the input that did it is kept under build-fuzz/artifacts/.
usage="usage: tools/fuzz.sh [TARGET...]   (FUZZ_SECONDS=30 per target; default: every *_fuzzer)"
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [[ "${1:-}" == "-h" || "${1:-}" == "--help" ]]; then echo "$usage"; exit 0; fi
seconds=${FUZZ_SECONDS:-30}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then echo "FUZZ_SECONDS must be a positive number" >&2; exit 2; fi
# One input running longer than this counts as a hang.
per_input_timeout=10
if ! command -v clang++ >/dev/null || ! command -v clang >/dev/null; then
  echo "clang is missing: run tools/setup.sh test" >&2
  exit 2
fi

build=$root/build-fuzz
work=$(mktemp -d "${TMPDIR:-/tmp}/velmarind-fuzz-run-XXXXXX")
trap 'rm -rf "$work"' EXIT

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMARIND_FUZZ=ON \
  -DVELMARIND_TESTS=OFF -DVELMARIND_DESKTOP=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target velmarind_fuzzers >/dev/null

if [[ $# -gt 0 ]]; then
  targets=("$@")
else
  targets=()
  for src in fuzz/*_fuzzer.cpp; do
    name=$(basename "$src" .cpp)
    targets+=("${name%_fuzzer}")
  done
fi

mkdir -p "$build/artifacts" "$build/logs"
fuzz_target() {  # TARGET: runs one target and prints its verdict
  local target=$1
  local exe=$build/fuzz/${target}_fuzzer
  if [[ ! -x "$exe" ]]; then echo "$target: no such fuzz target"; return 1; fi
  # The run adds what it finds to a copy: the seed corpus in the repository stays small.
  local corpus=$work/corpus-$target
  mkdir -p "$corpus" "$work/tmp-$target"
  if [[ -d fuzz/corpus/$target ]]; then cp -r "fuzz/corpus/$target/." "$corpus/"; fi
  local options=(-max_total_time="$seconds" -timeout="$per_input_timeout" -rss_limit_mb=2048
                 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-")
  if [[ -f fuzz/$target.dict ]]; then options+=(-dict="fuzz/$target.dict"); fi
  local log=$build/logs/$target.log status=0 runs artifacts
  touch "$work/start-$target"
  # The targets' own temporary files (shared folders, spilled bodies) go into the work folder.
  TMPDIR=$work/tmp-$target "$exe" "${options[@]}" "$corpus" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [[ $status -eq 0 ]]; then
    echo "$target: ${runs:-?} executions in ${seconds} s, no finding"
    return
  fi
  artifacts=$(find "$build/artifacts" -name "$target-*" -newer "$work/start-$target" | tr '\n' ' ')
  echo "$target: FAILED (exit $status) after ${runs:-?} executions; log $log; input ${artifacts:-none}"
  grep -m1 -E 'ERROR: |runtime error|broken invariant|round trip' "$log" || true
  return
}
# As many targets at once as there are cores: each runs its time on a core of its own.
for target in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= $(nproc))); do wait -n || true; done
  fuzz_target "$target" >"$work/verdict-$target" &
done
wait
failed=()
for target in "${targets[@]}"; do
  cat "$work/verdict-$target"
  grep -q ', no finding$' "$work/verdict-$target" || failed+=("$target")
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz targets with findings: ${failed[*]}"
  exit 1
fi
