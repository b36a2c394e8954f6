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
