#include "support/ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vmtest {

namespace {

sockaddr_in AddressOf(in_addr_t host, int port) {
  return {AF_INET, htons(static_cast<uint16_t>(port)), {htonl(host)}, {}};
}

// Binds fd to host:port, listening when asked; the port bound, 0 on failure.
int BindTo(int fd, in_addr_t host, int port, bool listening) {
  sockaddr_in address = AddressOf(host, port);
  socklen_t size = sizeof address;
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                     (!listening || listen(fd, 1) == 0) &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  return bound ? ntohs(address.sin_port) : 0;
}

}  // namespace

TPortHolder::TPortHolder(int port)
    : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)),
      port_(BindTo(fd_, INADDR_LOOPBACK, port, true)) {}

TPortHolder::~TPortHolder() { close(fd_); }

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int port = BindTo(fd, INADDR_ANY, 0, false);  // bound and released, never listened on
  close(fd);
  return port;
}

bool Refused(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = AddressOf(INADDR_LOOPBACK, port);
  const bool refused =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      errno == ECONNREFUSED;
  close(fd);
  return refused;
}

}  // namespace vmtest
