# Named, counted checks for the shell tests; source it, then end with: ((failed == 0))
passed=0 failed=0
check() {  # check NAME COMMAND...: one named check, counted
  local name=$1; shift
  if "$@"; then echo "ok: $name"; passed=$((passed + 1)); else echo "FAILED: $name"; failed=$((failed + 1)); fi
}
# wait_for SECONDS COMMAND...: polls the command every 0.2 s until it succeeds or time is up.
wait_for() {
  local tries=$(($1 * 5)); shift
  for ((i = 0; i < tries; i++)); do "$@" && return 0; sleep 0.2; done
  return 1
}
checks_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# free_port: a port for the program, free on every local address (see free_port.py).
free_port() { python3 "$checks_dir/free_port.py"; }
# end_started PID...: ends processes this test started, by their ids: SIGTERM, up to 10 s for
# them to end, then SIGKILL to any still there.
end_started() {
  local pid
  for pid in "$@"; do kill "$pid" 2>/dev/null; done
  all_ended() { for pid in "$@"; do kill -0 "$pid" 2>/dev/null && return 1; done; return 0; }
  wait_for 10 all_ended "$@"
  for pid in "$@"; do kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null; done
  return 0
}
