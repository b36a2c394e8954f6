// A tiny blocking client for socket tests: connects to 127.0.0.1, sends bytes, reads until close.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vm::testing {

class LoopbackClient {
 public:
  // Every read gives up after this long, so that a server that never answers fails the test
  // instead of hanging it.
  static constexpr int kReadTimeoutMs = 10000;

  // Connects to 127.0.0.1:port, from sourceAddress (for example "127.0.0.2") when given.
  // Fails the current test (and leaves the client unconnected) when it cannot.
  explicit LoopbackClient(int port, const std::string& sourceAddress = "");
  ~LoopbackClient();
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  bool Connected() const { return socket_ >= 0; }
  // Sends all bytes; false when the server has gone.
  bool Send(const std::string& bytes);
  // Half-closes: the server sees the end of the request body.
  void ShutdownWrite();
  // Reads until the server closes (or the read timeout); returns everything received.
  std::string ReadAll();
  // Reads at least count bytes (fewer when the server closes first).
  std::string ReadAtLeast(size_t count);
  // Closes with a reset instead of a FIN (SO_LINGER 0).
  void Reset();
  // True when the server closed the connection within timeoutMs (reads and drops what arrives).
  bool WaitForClose(int timeoutMs);
  // True when the server has read every byte sent so far: its end of the connection holds none
  // unread (or has gone).
  bool AllRead() const;

 private:
  int socket_ = -1;
};

using TClients = std::vector<std::unique_ptr<LoopbackClient>>;
// count connections to port from sourceAddress; with perAddress, that many from each of
// sourceAddress + "1", + "2"... (sourceAddress then a prefix such as "127.0.4.").
TClients OpenClients(int port, int count, const std::string& sourceAddress, int perAddress = 0);
// Drops the clients with a reset: a client that closes first leaves its address and port in
// TIME_WAIT for a minute, where a later bind of that port on every address would fail.
void ResetClients(TClients& clients);

// Sends request from a fresh connection and returns the whole answer.
std::string Exchange(int port, const std::string& request, const std::string& sourceAddress = "");

}  // namespace vm::testing
