// Listening and connection threads: a pool of threads that wait in accept on the listening
// socket, each serving the connection it accepted from accept to close before it waits again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

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

// Where a connection is in its life, as far as making room for others goes.
enum class TPeerPhase {
  AwaitingHead,  // accepted, or between requests: may be closed to make room
  InRequest,     // its head is complete: closed to make room only when it is a stranger's
  Evicted,       // closed to make room: its request must not be served
};

// How the application stands to a connection's client, told from the client's address.
enum class TPeerStanding {
  Known,     // never closed to make room for strangers
  Stranger,  // one of at most MaxStrangerConnections: the oldest makes room for a newer one
};

// Why a connection was closed to make room.
enum class TRoomReason {
  None,
  Descriptors,  // it waited for a head while the descriptors ran short
  Strangers,    // it was the oldest stranger's when another stranger came
};

// One accepted connection and what serves it. A pooled worker thread runs it from accept to
// close, as if it were a thread of its own. Owns its connection.
class TIdPeerThread {
 public:
  TIdPeerThread(TIdTCPServer* server, std::unique_ptr<TIdTCPConnection> connection);
  ~TIdPeerThread();
  TIdTCPConnection* Connection() const { return connection_.get(); }
  TIdTCPServer* Server() const { return server_; }

  // The connection waits for a request head (the first, or the next on a kept-alive
  // connection): while it waits, the server may close it to make room for others.
  void AwaitHead();
  // The head is complete: the connection is no longer closed to make room. False when it was
  // closed for room in the meantime; the request must then be dropped.
  bool BeginRequest();

 private:
  friend class TIdTCPServer;
  TIdTCPServer* server_;
  std::unique_ptr<TIdTCPConnection> connection_;
  std::atomic<TPeerPhase> phase_{TPeerPhase::AwaitingHead};
  uint32_t address_ = 0;  // the peer's IPv4 address, network order: its per-address count
  std::list<std::unique_ptr<TIdPeerThread>>::iterator self_;  // its place among the open ones
  // The server's connection list lock guards these.
  TRoomReason closedFor_ = TRoomReason::None;
  bool amongStrangers_ = false;                   // counted among the strangers' open connections
  std::list<TIdPeerThread*>::iterator stranger_;  // its place there
};

// Figures of the connection limits and the worker pool since the server was created.
struct TIdServerCounters {
  uint64_t accepted = 0;            // connections taken on
  uint64_t refusedForAddress = 0;   // closed at once: their address had too many open
  uint64_t refusedForRoom = 0;      // closed at once: no room, and none could be made
  uint64_t closedForRoom = 0;       // waiting for a head, closed to make room for a newer one
  uint64_t closedForStrangers = 0;  // the oldest stranger's, closed for a newer stranger's
  uint64_t refusedStrangers = 0;    // a stranger's, closed at once: too many closing already
  uint64_t workersStarted = 0;      // pool threads started
  int peakConnections = 0;          // most connections open at once
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
  // A client that sends no byte for this long while its request is read, or takes no byte of
  // its answer for this long, is closed, so that idle or stalled clients cannot hold a thread
  // for ever. Milliseconds; 0 = wait without limit.
  static constexpr int kDefaultIdleTimeoutMs = 60000;
  int IdleTimeout = kDefaultIdleTimeoutMs;
  // Connections open at once from one client address; further ones are closed at once, without
  // an answer. A browser opens six or so per server; one host must not take every descriptor
  // and thread from the others.
  static constexpr int kDefaultMaxConnectionsPerAddress = 64;
  int MaxConnectionsPerAddress = kDefaultMaxConnectionsPerAddress;
  // Connections of strangers (see OnClassifyPeer) open at once, in all; one more closes the
  // oldest of them, whatever it is doing. Clients without standing, from however many
  // addresses, must not take the threads and memory that the known clients need.
  static constexpr int kDefaultMaxStrangerConnections = 256;
  int MaxStrangerConnections = kDefaultMaxStrangerConnections;
  // Tells the standing of a new connection's client from its dotted address; asked once per
  // connection as it is accepted, on a pool thread, with nothing locked. Unset: all are known.
  std::function<TPeerStanding(const std::string& peerIP)> OnClassifyPeer;
  // Descriptors kept free beside the connections for what requests open (served files, page
  // files, listed folders, body files). When the connections would eat into them, the oldest
  // connection still waiting for its head is closed to make room.
  static constexpr int kDescriptorReserve = 64;
  // A pool thread with no connection to serve for this long ends. Milliseconds.
  static constexpr int kDefaultWorkerIdleTimeMs = 10000;
  int WorkerIdleTime = kDefaultWorkerIdleTimeMs;
  // Stack of each connection thread, in bytes. One thread per open connection: the default
  // 8 MiB would reserve 8 GiB of address space for 1,000 clients. The deepest request (a 32 KiB
  // receive block, the page makers, a listing, the upload parser) stays far below this.
  // Sanitizers enlarge every frame, so their builds get more.
  static constexpr size_t kDefaultConnectionStackSize = size_t{256} * 1024 * kConnectionStackScale;
  size_t ConnectionStackSize = kDefaultConnectionStackSize;

  bool Active() const;
  // true: binds, listens and starts the pool's first thread (throws on failure, undoing the
  // partial activation); false: stops listening, closes every connection's socket, and waits
  // for the connection threads and the pool's threads to end.
  void SetActive(bool active);
  // Moves an active server to another port: the new port is bound and listened on first, and
  // only then replaces the old one, whose connections in progress go on. Throws the bind error
  // and keeps serving on the old port when the new one cannot be had. Also sets DefaultPort.
  void Rebind(int port);
  // The port actually bound (useful with DefaultPort 0 in tests); 0 when inactive.
  int BoundPort() const;
  // Number of connections open now.
  int ConnectionCount() const;
  // Most connections open at once before room is made, from the descriptor limit at activation.
  int ConnectionLimit() const;
  // Pool threads alive now, and of them those waiting for a connection.
  int WorkerCount() const;
  int IdleWorkerCount() const;
  TIdServerCounters Counters() const;
  // Deactivates without throwing: connection threads that outlive TerminateWaitTime are waited
  // for without limit. For destructors: every class that overrides DoExecute, or derives from
  // one that does, calls it from its own destructor, because no connection thread may call
  // DoExecute while the object's class changes during its destruction.
  void DeactivateForDestruction() noexcept;

 protected:
  // Runs one accepted connection to its end, on a pool thread.
  virtual void DoExecute(TIdPeerThread& thread) = 0;

 private:
  struct Impl;
  struct TWorker;
  struct TListener;
  void Activate();
  // A listening socket on port (BindAddress or every IPv4 address); throws as activation does.
  int OpenListeningSocket(int port);
  static int BoundPortOf(int socket);
  void Deactivate();
  // Takes an accepted socket on (the connection list locked): its connection, or null when its
  // address has too many open or no room can be made (the caller then closes the socket).
  TIdPeerThread* Admit(int socket, uint32_t address, TPeerStanding standing);
  // Closes the oldest connection still waiting for its head; false when there is none.
  // Called with the connection list locked.
  bool EvictOldestAwaitingHead();
  // Closes the oldest stranger's connection (the connection list locked).
  void EvictOldestStranger();
  // Closes a connection to make room (the connection list locked).
  void Evict(TIdPeerThread& peer, TRoomReason reason);
  // Starts a pool thread (connection list locked); false when no thread can be had.
  bool StartWorker();
  // The pool thread's life: accept, serve, accept again; ends when idle too long or stopping.
  static void* WorkerEntry(void* worker);
  void RunWorker(TWorker* worker);
  // Runs the connection to its end and closes it.
  void RunPeer(TIdPeerThread* thread);
  // Takes an ended connection out of the open ones (the connection list locked); returns it
  // to be freed once the lock is let go.
  std::unique_ptr<TIdPeerThread> Forget(TIdPeerThread* thread);
  // Joins pool threads that have ended (connection list not locked).
  void ReapFinished();
  std::unique_ptr<Impl> impl_;
};

}  // namespace vm
