"""Prints ports for the program, one a line (as many as asked, all different): each was free on
every local address a moment ago, as the program binds it. A port free on loopback alone may
still be held on another address, by a client socket in TIME_WAIT say, and the program's bind
would fail there.

    python3 tests/support/free_port.py [COUNT]"""
import socket
import sys

# Bound and released, never listened on; all held until printed, so they differ.
held = [socket.socket() for _ in range(int(sys.argv[1]) if len(sys.argv) > 1 else 1)]
for s in held:
    s.bind(("0.0.0.0", 0))
print("\n".join(str(s.getsockname()[1]) for s in held))
