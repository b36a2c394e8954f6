// Ports for tests that need one taken, one free or one closed.
#pragma once

namespace vmtest {

// A socket listening on 127.0.0.1 that holds its port for the object's life; port 0 takes any
// free one. Loopback is enough to hold it: the program's bind on every address then fails too.
class TPortHolder {
 public:
  explicit TPortHolder(int port = 0);
  ~TPortHolder();
  TPortHolder(const TPortHolder&) = delete;
  TPortHolder& operator=(const TPortHolder&) = delete;
  int Port() const { return port_; }  // 0 when the port could not be had

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A port that was free on every local address a moment ago, as the program binds it: a port
// free on loopback alone may still be held on another address (a client socket in TIME_WAIT,
// say). 0 when none could be had.
int FreePort();

// True when a connection to 127.0.0.1:port is refused: nothing listens there.
bool Refused(int port);

}  // namespace vmtest
