#!/usr/bin/env python3
"""Uploads one file through Velmarind's resumable upload, as the page script sends it.

usage: chunk_upload.py PORT SHARE_NAME FILE [CHUNK_MIB]
Sends the file in pieces of CHUNK_MIB MiB (8, as the page script does) to
http://127.0.0.1:PORT/velmarind/vm-chunk, each on a new connection with its CRC-32, after asking
how much the server holds. The checksums are computed before the clock starts (the page script
computes each while the piece before it is on its way), so the figure is the server's path.
Prints "CODE SECONDS": the status of the last answer and the time from the first question to
the last answer; "000 0" when an answer was not the one expected.
"""
import http.client
import os
import secrets
import sys
import time
import zlib

TIMEOUT_S = 120  # per request: a stalled server fails the run instead of hanging it


def main():
    port, share, path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    chunk = int(sys.argv[4] if len(sys.argv) > 4 else 8) << 20
    size = os.path.getsize(path)
    query = "id=%s&dirname=%s&name=%s&size=%d&mtime=%d" % (
        secrets.token_hex(16), share.encode().hex(), os.path.basename(path).encode().hex(), size,
        int(os.path.getmtime(path) * 1000))
    with open(path, "rb") as f:
        crcs = []
        while block := f.read(chunk):
            crcs.append(zlib.crc32(block))

    def ask(method, target, body=None):
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=TIMEOUT_S)
        conn.request(method, "/velmarind/vm-chunk?" + target, body=body)
        answer = conn.getresponse()
        answer.read()
        conn.close()
        return answer.status, answer.getheader("X-Velmarind-Held"), answer.getheader("X-Velmarind-Saved")

    started = time.monotonic()
    status, held, _ = ask("GET", "op=held&" + query)
    if status != 200 or held != "0":
        print("000 0")
        return
    buffer = bytearray(chunk)
    view = memoryview(buffer)
    with open(path, "rb", buffering=0) as f:
        for index, crc in enumerate(crcs):
            offset = index * chunk
            n = f.readinto(buffer)
            status, held, saved = ask("POST", "op=put&%s&offset=%d&crc=%08x" % (query, offset, crc),
                                      view[:n])
            if status != 200 or int(held) != offset + n:
                print("000 0")
                return
    print(status if saved else "000", "%.3f" % (time.monotonic() - started))


if __name__ == "__main__":
    main()
