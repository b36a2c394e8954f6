#!/usr/bin/env bash
# Sets up, builds and runs Velmarind from this checkout.
# On the first run it writes build/velmarind.ini (port 8080) and a demo shared folder.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVELMARIND_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"

if [[ ! -e build/velmarind.ini ]]; then
  demo="$PWD/build/demo"
  mkdir -p "$demo/docs"
  printf 'Welcome to Velmarind.\nFiles in this folder can be downloaded from a browser.\n' > "$demo/readme.txt"
  printf 'A file in a sub-folder.\n' > "$demo/docs/notes.txt"
  printf '[COMMON]\r\nHTTP_PORT=8080\r\nAUTO_RUN=0\r\nPASS_FLG=0\r\nPASSWORD=\r\n' > build/velmarind.ini
  printf 'Demo;;%s/\r\n' "$demo" > build/dirlst.ini
  echo "First run: wrote build/velmarind.ini (HTTP_PORT=8080) and build/dirlst.ini sharing $demo"
fi

exec build/velmarind "$@"
