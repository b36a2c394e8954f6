#include "platform/address_watch.h"

#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vm {
namespace {

// Without the routing socket: how often the addresses are read again. Short enough that a
// window opened after a network change shows the new address; one read costs a system call.
constexpr int kPollMilliseconds = 3000;
// A burst of messages (an interface coming up brings several) is told as one change once the
// socket has been quiet this long.
constexpr int kSettleMilliseconds = 200;

int OpenRouteSocket() {
  const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  if (fd < 0) return -1;
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_LINK;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads what waits on the socket; the content does not matter, only that something changed.
void Drain(int fd) {
  char buffer[8192];
  for (;;) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
  }
}

}  // namespace

TAddressWatch::TAddressWatch(std::function<void()> changed)
    : changed_(std::move(changed)), routes_(OpenRouteSocket()) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;  // no way to stop a thread: none is started
  stopRead_.Reset(ends[0]);
  stopWrite_.Reset(ends[1]);
  thread_ = std::thread([this] { Run(); });
}

TAddressWatch::~TAddressWatch() {
  stopWrite_.Reset();
  if (thread_.joinable()) thread_.join();
}

void TAddressWatch::Run() {
  pollfd fds[2] = {{stopRead_.Get(), POLLIN, 0}, {routes_.Get(), POLLIN, 0}};
  const nfds_t count = routes_ ? 2 : 1;
  for (;;) {
    const int ready = poll(fds, count, routes_ ? -1 : kPollMilliseconds);
    if (ready < 0 && errno != EINTR) return;
    if (fds[0].revents != 0) return;
    if (ready == 0) {  // polling: the addresses are read again on every round
      changed_();
      continue;
    }
    if (count < 2 || fds[1].revents == 0) continue;
    // Wait for the burst to end, then tell once.
    do {
      Drain(routes_.Get());
      if (poll(fds, count, kSettleMilliseconds) > 0 && fds[0].revents != 0) return;
    } while (fds[1].revents != 0);
    changed_();
  }
}

}  // namespace vm
