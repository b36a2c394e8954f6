// Listener and connection threads: one listener thread, one thread per accepted connection.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vm {

// Sanitizer builds put red zones around locals and keep extra frames: their threads need more
// stack than a plain build's.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr size_t kConnectionStackScale = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr size_t kConnectionStackScale = 4;
#else
inline constexpr size_t kConnectionStackScale = 1;
#endif
#else
inline constexpr size_t kConnectionStackScale = 1;
#endif

class TIdTCPConnection;
class TIdTCPServer;

// One accepted connection's thread. Owns its connection.
class TIdPeerThread {
 public:
  TIdPeerThread(TIdTCPServer* server, std::unique_ptr<TIdTCPConnection> connection);
  ~TIdPeerThread();
  TIdTCPConnection* Connection() const { return connection_.get(); }
  TIdTCPServer* Server() const { return server_; }

 private:
  friend class TIdTCPServer;
  TIdTCPServer* server_;
  std::unique_ptr<TIdTCPConnection> connection_;
  // A POSIX thread rather than std::thread: only it lets us choose the stack size.
  pthread_t thread_{};
  bool started_ = false;
};

class TIdTCPServer {
 public:
  TIdTCPServer();
  virtual ~TIdTCPServer();  // deactivates
  TIdTCPServer(const TIdTCPServer&) = delete;
  TIdTCPServer& operator=(const TIdTCPServer&) = delete;

  int DefaultPort = 80;
  // Backlog of connections the kernel completes before we accept them. Browsers open several
  // connections at once and a page's script fetches more; with a short queue a burst overflows
  // it and the kernel drops the handshakes, so each such client stalls a second or more before
  // it retries. The kernel caps the value at net.core.somaxconn.
  static constexpr int kDefaultListenQueue = 1024;
  int ListenQueue = kDefaultListenQueue;
  int TerminateWaitTime = 5000;  // milliseconds to wait for connection threads at deactivation
  // The address to bind; empty = all local IPv4 addresses. Tests bind "127.0.0.1".
  std::string BindAddress;
  // A client that sends no byte for this long while its request is read is closed, so that idle
  // or stalled clients cannot hold a thread for ever. Milliseconds; 0 = wait without limit.
  static constexpr int kDefaultIdleTimeoutMs = 60000;
  int IdleTimeout = kDefaultIdleTimeoutMs;
  // Stack of each connection thread, in bytes. One thread per connection and no limit on
  // connections: the default 8 MiB would reserve 8 GiB of address space for 1,000 clients.
  // The deepest request (a 32 KiB receive block, the page makers, a listing, the upload parser)
  // stays far below this. Sanitizers enlarge every frame, so their builds get more.
  static constexpr size_t kDefaultConnectionStackSize = size_t{256} * 1024 * kConnectionStackScale;
  size_t ConnectionStackSize = kDefaultConnectionStackSize;

  bool Active() const;
  // true: binds, listens and starts the listener thread (throws on failure, undoing the partial
  // activation); false: stops the listener, closes every connection's socket, waits for the threads.
  void SetActive(bool active);
  // Moves an active server to another port: the new port is bound and listened on first, and
  // only then replaces the old one, whose connections in progress go on. Throws the bind error
  // and keeps serving on the old port when the new one cannot be had. Also sets DefaultPort.
  void Rebind(int port);
  // The port actually bound (useful with DefaultPort 0 in tests); 0 when inactive.
  int BoundPort() const;
  // Number of connection threads alive now.
  int ConnectionCount() const;
  // Deactivates without throwing: connection threads that outlive TerminateWaitTime are waited
  // for without limit. For destructors; every class that overrides DoExecute calls it from its
  // own destructor, because no connection thread may run DoExecute while its class is torn down.
  void DeactivateForDestruction() noexcept;

 protected:
  // Runs one accepted connection to its end, on its own thread.
  virtual void DoExecute(TIdPeerThread& thread) = 0;

 private:
  struct Impl;
  void Activate();
  // A listening socket on port (BindAddress or every IPv4 address); throws as activation does.
  int OpenListeningSocket(int port);
  void Deactivate();
  void ListenLoop();
  void StartPeer(int socket, std::string peerIP);
  void RunPeer(TIdPeerThread* thread);
  static void* PeerThreadEntry(void* thread);
  // Joins and frees connection threads that have ended.
  void ReapFinished();
  std::unique_ptr<Impl> impl_;
};

}  // namespace vm
