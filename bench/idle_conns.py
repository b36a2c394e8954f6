#!/usr/bin/env python3
"""Opens many idle connections to a server and reports its resident memory while they are open.

usage: idle_conns.py PORT COUNT HOLD_SECONDS PID
Connects COUNT sockets to 127.0.0.1:PORT, sends nothing, samples the memory of PID (with its
direct children, as peak_rss.py does) for HOLD_SECONDS once all are open, then closes them.
The sockets come from PER_ADDRESS each of the loopback addresses 127.0.0.2, 127.0.0.3, ...:
Velmarind keeps at most 64 connections from one client address, and a thousand browsers are
a thousand addresses.
Prints one line: "opened=N peak_rss_kib=N before_kib=N".
Connecting gives up after CONNECT_DEADLINE seconds in all, so a server that stops accepting
cannot hold the run.
"""
import socket
import sys
import time

from peak_rss import children, status_kib

CONNECT_DEADLINE = 30.0  # seconds for all connections together
CONNECT_TIMEOUT = 5.0  # one connect: a full accept queue costs a SYN retry of 1 s, then 3 s
SAMPLE_INTERVAL = 0.05
PER_ADDRESS = 50  # below Velmarind's cap of 64 connections per client address


def rss_kib(pid):
    return sum(status_kib(p).get("VmRSS", 0) for p in [pid] + children(pid))


def main():
    port, count, hold, pid = (int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]),
                              int(sys.argv[4]))
    if count > 250 * PER_ADDRESS:
        sys.exit(f"at most {250 * PER_ADDRESS} connections (250 source addresses)")
    before = rss_kib(pid)
    sockets = []
    deadline = time.monotonic() + CONNECT_DEADLINE
    try:
        while len(sockets) < count and time.monotonic() < deadline:
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.settimeout(CONNECT_TIMEOUT)
            try:
                s.bind((f"127.0.0.{2 + len(sockets) // PER_ADDRESS}", 0))
                s.connect(("127.0.0.1", port))
            except OSError:
                s.close()
                continue
            sockets.append(s)
        # Let the server take every connection in (a thread or an event each) before measuring.
        peak = 0
        end = time.monotonic() + hold
        while time.monotonic() < end:
            peak = max(peak, rss_kib(pid))
            time.sleep(SAMPLE_INTERVAL)
        print(f"opened={len(sockets)} peak_rss_kib={peak} before_kib={before}")
    finally:
        for s in sockets:
            s.close()


if __name__ == "__main__":
    main()
