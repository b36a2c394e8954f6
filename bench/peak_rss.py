#!/usr/bin/env python3
"""Samples the resident memory of processes until SIGTERM (or a time limit) and prints peaks.

usage: peak_rss.py OUT_FILE MAX_SECONDS PID...
Each PID counts together with its direct children (a server's worker processes). OUT_FILE gets
one line: "vmrss_kib=N rssanon_kib=N rssfile_kib=N samples=N", each the peak of the summed
values over all samples.
"""
import signal
import sys
import time

INTERVAL = 0.02  # fine enough to catch a peak that lasts a fraction of a second


def children(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(p) for p in f.read().split()]
    except OSError:
        return []


def status_kib(pid):
    values = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key in ("VmRSS", "RssAnon", "RssFile"):
                    values[key] = int(rest.split()[0])
    except OSError:
        pass
    return values


def main():
    out, limit, roots = sys.argv[1], float(sys.argv[2]), [int(p) for p in sys.argv[3:]]
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    peaks = {"VmRSS": 0, "RssAnon": 0, "RssFile": 0}
    samples = 0
    end = time.monotonic() + limit
    while not stop and time.monotonic() < end:
        pids = set(roots)
        for root in roots:
            pids.update(children(root))
        total = {"VmRSS": 0, "RssAnon": 0, "RssFile": 0}
        for pid in pids:
            for key, value in status_kib(pid).items():
                total[key] += value
        for key in peaks:
            peaks[key] = max(peaks[key], total[key])
        samples += 1
        time.sleep(INTERVAL)
    with open(out, "w") as f:
        f.write(f"vmrss_kib={peaks['VmRSS']} rssanon_kib={peaks['RssAnon']} "
                f"rssfile_kib={peaks['RssFile']} samples={samples}\n")


if __name__ == "__main__":
    main()
