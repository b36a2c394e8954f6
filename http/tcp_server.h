// Listener and connection threads: one listener thread, one thread per accepted connection.
#pragma once

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
  std::thread thread_;
};

class TIdTCPServer {
 public:
  TIdTCPServer();
  virtual ~TIdTCPServer();  // deactivates
  TIdTCPServer(const TIdTCPServer&) = delete;
  TIdTCPServer& operator=(const TIdTCPServer&) = delete;

  int DefaultPort = 80;
  int ListenQueue = 15;
  int TerminateWaitTime = 5000;  // milliseconds to wait for connection threads at deactivation
  // The address to bind; empty = all local IPv4 addresses. Tests bind "127.0.0.1".
  std::string BindAddress;
  // A client that sends no byte for this long while its request is read is closed, so that idle
  // or stalled clients cannot hold a thread for ever. Milliseconds; 0 = wait without limit.
  static constexpr int kDefaultIdleTimeoutMs = 60000;
  int IdleTimeout = kDefaultIdleTimeoutMs;

  bool Active() const;
  // true: binds, listens and starts the listener thread (throws on failure, undoing the partial
  // activation); false: stops the listener, closes every connection's socket, waits for the threads.
  void SetActive(bool active);
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
  void Deactivate();
  void ListenLoop();
  void StartPeer(int socket, std::string peerIP);
  void RunPeer(TIdPeerThread* thread);
  // Joins and frees connection threads that have ended.
  void ReapFinished();
  std::unique_ptr<Impl> impl_;
};

}  // namespace vm
