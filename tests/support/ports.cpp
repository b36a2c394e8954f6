#include "support/ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace vmtest {

namespace {

sockaddr_in AddressOf(uint32_t host, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(host);
  return address;
}

// Binds fd to host:port (and listens when asked); the port bound, 0 on failure.
int BindTo(int fd, uint32_t host, int port, bool listening) {
  sockaddr_in address = AddressOf(host, port);
  socklen_t size = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      (listening && listen(fd, 1) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

}  // namespace

TPortHolder::TPortHolder(int port)
    : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)),
      port_(BindTo(fd_, INADDR_LOOPBACK, port, true)) {}

TPortHolder::~TPortHolder() {
  if (fd_ >= 0) close(fd_);
}

int FreePort() {
  // Bound, read and released again; never listened on.
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int port = BindTo(fd, INADDR_ANY, 0, false);
  if (fd >= 0) close(fd);
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
