# Shared by the file-manager door's tests: a program folder in a temporary folder, the program
# started headless on a port it binds itself (HTTP_PORT=0), stopped by its pid.
#   start_program BUILD WORK SETTING... lays WORK/app (program), WORK/data/<folder> per share
#   named in SHARES ("name", "name:mode" or "name:mode:folder" words; the folder is the name
#   unless given) and starts it; sets PORT, PID, BASE.

start_program() {
  local build=$1 work=$2; shift 2
  mkdir -p "$work/app/page" "$work/data" "$work/config" "$work/user-data"
  cp "$build/velmarind" "$work/app/velmarind"
  cp "$build/page/vcom.css" "$build/page/vcom.js" "$work/app/page/"
  : > "$work/app/dirlst.ini"
  local modes="" share name mode folder
  for share in $SHARES; do
    IFS=: read -r name mode folder <<< "$share"
    folder=${folder:-$name}
    mkdir -p "$work/data/$folder"
    printf '%s;;%s/\r\n' "$name" "$work/data/$folder" >> "$work/app/dirlst.ini"
    if [[ -n "$mode" ]]; then
      modes+="${modes:+,}$(printf '%s' "$name" | od -An -tx1 | tr -d ' \n'):$mode"
    fi
  done
  printf '[COMMON]\r\nHTTP_PORT=0\r\nAUTO_RUN=0\r\nSHARE_MODES=%s\r\n' "$modes" > "$work/app/velmarind.ini"
  local setting
  for setting in "$@"; do printf '%s\r\n' "$setting" >> "$work/app/velmarind.ini"; done
  (cd "$work/app" && exec env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work/config" \
     XDG_DATA_HOME="$work/user-data" XDG_CACHE_HOME="$work/cache" ./velmarind \
     > "$work/program.out" 2> "$work/program.err") &
  PID=$!
  local deadline=$((SECONDS + 60))
  until grep -q 'http://' "$work/program.out" 2>/dev/null; do
    if ! kill -0 "$PID" 2>/dev/null || (( SECONDS > deadline )); then
      echo "the program did not start:" >&2; cat "$work/program.err" >&2; return 1
    fi
    sleep 0.1
  done
  PORT=$(sed -n 's|^http://[^/]*:\([0-9][0-9]*\)/.*|\1|p' "$work/program.out" | head -1)
  BASE="http://127.0.0.1:$PORT/velmarind-dav"
}

stop_program() {
  [[ -n "${PID:-}" ]] || return 0
  kill -TERM "$PID" 2>/dev/null || true
  local deadline=$((SECONDS + 30))
  while kill -0 "$PID" 2>/dev/null && (( SECONDS < deadline )); do sleep 0.1; done
  kill -KILL "$PID" 2>/dev/null || true
  wait "$PID" 2>/dev/null || true
  PID=""
}
