-- Prints one machine-readable line after a wrk run: requests/s, latency (ms) and error counts.
done = function(summary, latency, requests)
  local seconds = summary.duration / 1e6
  local e = summary.errors
  io.write(string.format(
    "BENCH rps=%.1f avg_ms=%.3f p50_ms=%.3f p99_ms=%.3f requests=%d socket_errors=%d non2xx=%d\n",
    summary.requests / seconds, latency.mean / 1000, latency:percentile(50) / 1000,
    latency:percentile(99) / 1000, summary.requests,
    e.connect + e.read + e.write + e.timeout, e.status))
end
