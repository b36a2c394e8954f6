"""A bounded HTTP load on loopback from many client addresses, to keep a machine's network stack
busy while the tests run: a small server on 127.0.0.1 (port 0, the kernel's choice) and client
threads that connect from 127.0.X.Y, each asking for one small answer and closing first, so that
their ports stay in TIME_WAIT on those addresses as on a busy machine.

    python3 tools/loopback_load.py [--seconds S] [--connections N] [--rate R] [--clients C]
                                   [--addresses A]

Ends after S seconds or N connections, whichever comes first, or on SIGTERM or SIGINT, and
prints what it did."""
import argparse
import signal
import socket
import socketserver
import sys
import threading
import time

ANSWER = b"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"
REQUEST = b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
IO_TIMEOUT_S = 10  # one exchange on a loaded machine, at most


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        self.request.settimeout(IO_TIMEOUT_S)
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.request.recv(4096)
            if not chunk:
                return
            head += chunk
        self.request.sendall(ANSWER)
        # The client closes first: the TIME_WAIT stays with its port, not the server's.
        while self.request.recv(4096):
            pass


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    request_queue_size = 1024


def client_address(k, count):
    """The k-th of count client addresses: 127.0.X.Y with Y in 2..254 (127.0.0.1 stays quiet)."""
    k %= count
    return f"127.0.{k // 253}.{k % 253 + 2}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=3600)
    parser.add_argument("--connections", type=int, default=2_000_000)
    parser.add_argument("--rate", type=float, default=300, help="connections per second, at most")
    parser.add_argument("--clients", type=int, default=4, help="client threads")
    parser.add_argument("--addresses", type=int, default=1000, help="client addresses")
    opt = parser.parse_args()

    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    target = server.server_address
    stop = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stop.set())

    lock = threading.Lock()
    counts = {"started": 0, "done": 0, "failed": 0}
    start = time.monotonic()
    deadline = start + opt.seconds

    def next_ticket():
        """The number of the next connection, paced to the rate; None when the load is over."""
        with lock:
            k = counts["started"]
            if k >= opt.connections:
                return None
            counts["started"] += 1
        due = start + k / opt.rate
        while not stop.is_set():
            now = time.monotonic()
            if now >= deadline:
                return None
            if now >= due:
                return k
            stop.wait(min(due - now, deadline - now))
        return None

    def client():
        while (k := next_ticket()) is not None:
            ok = False
            try:
                with socket.socket() as s:
                    s.settimeout(IO_TIMEOUT_S)
                    s.bind((client_address(k, opt.addresses), 0))
                    s.connect(target)
                    s.sendall(REQUEST)
                    got = b""
                    while not got.endswith(b"ok"):
                        chunk = s.recv(4096)
                        if not chunk:
                            break
                        got += chunk
                    ok = got == ANSWER
            except OSError:
                pass
            with lock:
                counts["done" if ok else "failed"] += 1

    threads = [threading.Thread(target=client) for _ in range(opt.clients)]
    for t in threads:
        t.start()
    print(f"load: {opt.clients} clients from {opt.addresses} addresses on 127.0.x.y to "
          f"{target[0]}:{target[1]}, at most {opt.rate:g}/s, {opt.connections} connections, "
          f"{opt.seconds:g} s", flush=True)
    # Joined with a timeout: the stop signals' handler runs on this thread, which must wake for it.
    for t in threads:
        while t.is_alive():
            t.join(0.2)
    server.shutdown()
    took = time.monotonic() - start
    print(f"load: {counts['done']} connections answered, {counts['failed']} failed, in {took:.0f} s "
          f"({counts['done'] / max(took, 1e-9):.0f}/s)", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
