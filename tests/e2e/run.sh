#!/usr/bin/env bash
# End-to-end browser tests of the built program.
# Usage: tests/e2e/run.sh [BUILD_FOLDER]   (default: $VELMARIND_BUILD, else build/)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
build="${1:-${VELMARIND_BUILD:-$repo/build}}"
export VELMARIND_BUILD="$(cd "$build" && pwd)"

if [ ! -x "$VELMARIND_BUILD/velmarind" ]; then
  echo "e2e: no program at $VELMARIND_BUILD/velmarind" >&2
  exit 1
fi

# The browser and a Japanese font come from Debian's packages, listed with the other test
# packages in tools/setup.sh; without them the browser check below tells what is missing.
chromium="${VELMARIND_CHROMIUM:-/usr/bin/chromium}"
if [ ! -x "$chromium" ] || [ ! -d /usr/share/fonts/opentype/noto ]; then
  "$repo/tools/setup.sh" test || true
fi
if [ ! -x "$chromium" ]; then
  echo "e2e: no chromium at $chromium" >&2
  exit 1
fi

cd "$here"
if [ ! -f node_modules/playwright-core/package.json ]; then
  npm ci --no-audit --no-fund --loglevel=error || npm install --no-audit --no-fund --omit-lockfile-registry-resolved --loglevel=error
fi

# Every test file here, so that a new one cannot be left out.
exec node --test --test-concurrency=1 ./*.test.mjs
