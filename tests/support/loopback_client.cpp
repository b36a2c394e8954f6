#include "support/loopback_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>

namespace vm::testing {

LoopbackClient::LoopbackClient(int port, const std::string& sourceAddress) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    ADD_FAILURE() << "socket: " << errno;
    return;
  }
  timeval tv{kReadTimeoutMs / 1000, (kReadTimeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (!sourceAddress.empty()) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, sourceAddress.c_str(), &local.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      ADD_FAILURE() << "bind " << sourceAddress << ": " << errno;
      close(fd);
      return;
    }
  }
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<uint16_t>(port));
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
    ADD_FAILURE() << "connect to port " << port << ": " << errno;
    close(fd);
    return;
  }
  socket_ = fd;
}

LoopbackClient::~LoopbackClient() {
  if (socket_ >= 0) close(socket_);
}

bool LoopbackClient::Send(const std::string& bytes) {
  size_t done = 0;
  while (socket_ >= 0 && done < bytes.size()) {
    ssize_t n = send(socket_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return socket_ >= 0;
}

void LoopbackClient::ShutdownWrite() {
  if (socket_ >= 0) shutdown(socket_, SHUT_WR);
}

std::string LoopbackClient::ReadAtLeast(size_t count) {
  std::string received;
  char block[65536];
  while (socket_ >= 0 && received.size() < count) {
    ssize_t n = recv(socket_, block, sizeof block, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // closed, reset or timed out
    received.append(block, static_cast<size_t>(n));
  }
  return received;
}

std::string LoopbackClient::ReadAll() { return ReadAtLeast(std::string::npos); }

void LoopbackClient::Reset() {
  if (socket_ < 0) return;
  linger option{1, 0};
  setsockopt(socket_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  close(socket_);
  socket_ = -1;
}

bool LoopbackClient::WaitForClose(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char block[4096];
  while (socket_ >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{socket_, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    ssize_t n = recv(socket_, block, sizeof block, 0);
    if (n <= 0) return true;
  }
  return true;
}

bool LoopbackClient::AllRead() const {
  sockaddr_in self{}, peer{};
  socklen_t size = sizeof self;
  if (socket_ < 0 || getsockname(socket_, reinterpret_cast<sockaddr*>(&self), &size) != 0 ||
      getpeername(socket_, reinterpret_cast<sockaddr*>(&peer), &size) != 0) {
    return true;
  }
  // /proc/net/tcp names each end as the kernel holds it: the address's four bytes as one word,
  // then the port, in hexadecimal.
  const auto name = [](const sockaddr_in& a) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X:%04X", a.sin_addr.s_addr, ntohs(a.sin_port));
    return std::string(text);
  };
  const std::string serverEnd = name(peer), clientEnd = name(self);
  std::ifstream table("/proc/net/tcp");
  for (std::string line; std::getline(table, line);) {
    char local[32], remote[32];
    unsigned long sendQueue = 0, receiveQueue = 0;
    if (std::sscanf(line.c_str(), "%*s %31s %31s %*s %lx:%lx", local, remote, &sendQueue,
                    &receiveQueue) == 4 &&
        local == serverEnd && remote == clientEnd) {
      return receiveQueue == 0;
    }
  }
  return true;
}

TClients OpenClients(int port, int count, const std::string& sourceAddress, int perAddress) {
  TClients clients;
  for (int i = 0; i < count; ++i) {
    const std::string group = perAddress > 0 ? std::to_string(1 + i / perAddress) : "";
    clients.push_back(std::make_unique<LoopbackClient>(port, sourceAddress + group));
  }
  return clients;
}

void ResetClients(TClients& clients) {
  for (auto& client : clients) client->Reset();
  clients.clear();
}

std::string Exchange(int port, const std::string& request, const std::string& sourceAddress) {
  LoopbackClient client(port, sourceAddress);
  client.Send(request);
  return client.ReadAll();
}

}  // namespace vm::testing
