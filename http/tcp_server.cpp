#include "http/tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "http/descriptor_limit.h"
#include "http/engine_errors.h"
#include "http/tcp_connection.h"

namespace vm {

namespace {

// The listener wakes this often to see a stop request without closing its socket under itself.
constexpr int kAcceptPollMs = 100;
// After accept fails for lack of descriptors or memory, wait this long before trying again
// instead of spinning on a listening socket that stays readable.
constexpr auto kAcceptBackoff = std::chrono::milliseconds(100);
// ... or this long when connections were closed to make room: they free their descriptors as
// soon as their threads see the close.
constexpr auto kRoomBackoff = std::chrono::milliseconds(5);
// Connections closed at once when accept finds no descriptor left.
constexpr int kEvictWhenExhausted = 8;
// Accepts in a row before the listener looks at its stop flag again.
constexpr int kAcceptBatch = 64;
// Connections are never limited below this many, however little room the descriptor limit
// leaves: with fewer the server could not serve a browser's page load.
constexpr int kMinConnectionLimit = 16;
// Stack kept resident below a pool thread's frame when it gives the rest back: the frames of
// the wait that follows.
constexpr uintptr_t kStackKeptBelowFrame = 16 * 1024;

std::string PeerAddressText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

// sendfile has no MSG_NOSIGNAL: a peer gone away would raise SIGPIPE on the sending thread.
// Blocking it on connection threads keeps the process alive; the call then fails with EPIPE.
void BlockSigPipeOnThisThread() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// The lowest address of this thread's stack; null when unknown.
char* StackLow() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return nullptr;
  void* low = nullptr;
  size_t size = 0;
  const bool known = pthread_attr_getstack(&attributes, &low, &size) == 0;
  pthread_attr_destroy(&attributes);
  return known ? static_cast<char*>(low) : nullptr;
}

// Gives back the stack pages below this frame: a request that went deep (a large listing, the
// upload parser) would otherwise keep them resident for as long as the thread waits in the
// pool. Nothing lives below the frame, and a page touched again comes back zeroed, as a new
// thread's would. Sanitizer builds keep their stacks: their runtimes watch that memory.
[[gnu::noinline]] void ReleaseStackBelowFrame(char* stackLow) {
  if (kConnectionStackScale != 1 || stackLow == nullptr) return;
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  const uintptr_t low = (reinterpret_cast<uintptr_t>(stackLow) + page - 1) / page * page;
  if (frame < low + kStackKeptBelowFrame + page) return;
  const uintptr_t end = (frame - kStackKeptBelowFrame) / page * page;
  madvise(reinterpret_cast<void*>(low), end - low, MADV_DONTNEED);
}

}  // namespace

struct TIdTCPServer::TWorker {
  TIdTCPServer* server = nullptr;
  pthread_t thread{};
  bool done = false;  // guarded by threadsLock: left its run function, to be joined
};

struct TIdTCPServer::Impl {
  std::mutex activeLock;  // serialises SetActive
  std::atomic<bool> active{false};
  std::atomic<int> boundPort{0};
  int listenSocket = -1;  // owned by the thread that holds activeLock
  std::atomic<bool> stopListening{false};
  std::thread listener;

  mutable std::mutex threadsLock;
  std::condition_variable threadEnded;  // a connection or a pool thread ended
  std::condition_variable workWaiting;  // a connection was queued for the pool, or stopping
  // Open connections in accept order (the oldest first), guarded by threadsLock.
  std::list<std::unique_ptr<TIdPeerThread>> live;
  std::unordered_map<uint32_t, int> perAddress;  // guarded by threadsLock: open per address
  int closing = 0;                    // guarded by threadsLock: closed to make room, not yet ended
  std::deque<TIdPeerThread*> queued;  // guarded by threadsLock: accepted, not yet taken
  std::list<TWorker> workers;         // guarded by threadsLock: pool threads not yet joined
  int runningWorkers = 0;             // guarded by threadsLock: of those, not yet done
  int idleWorkers = 0;                // guarded by threadsLock: waiting for a connection
  std::atomic<int> doneWorkers{0};    // done and not yet joined; read without the lock
  bool stopping = false;              // guarded by threadsLock: pool threads end when idle
  TIdServerCounters counters;         // guarded by threadsLock

  // Set at activation: connections beyond this many make room (see kDescriptorReserve).
  std::atomic<int> connectionLimit{kMinConnectionLimit};
  std::atomic<size_t> descriptorLimit{0};
};

TIdPeerThread::TIdPeerThread(TIdTCPServer* server, std::unique_ptr<TIdTCPConnection> connection)
    : server_(server), connection_(std::move(connection)) {}

TIdPeerThread::~TIdPeerThread() = default;

void TIdPeerThread::AwaitHead() {
  TPeerPhase expected = TPeerPhase::InRequest;
  phase_.compare_exchange_strong(expected, TPeerPhase::AwaitingHead);
}

bool TIdPeerThread::BeginRequest() {
  TPeerPhase expected = TPeerPhase::AwaitingHead;
  return phase_.compare_exchange_strong(expected, TPeerPhase::InRequest) ||
         expected == TPeerPhase::InRequest;
}

TIdTCPServer::TIdTCPServer() : impl_(std::make_unique<Impl>()) {}

TIdTCPServer::~TIdTCPServer() { DeactivateForDestruction(); }

bool TIdTCPServer::Active() const { return impl_->active; }

int TIdTCPServer::BoundPort() const { return impl_->boundPort; }

int TIdTCPServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(impl_->threadsLock);
  return static_cast<int>(impl_->live.size());
}

int TIdTCPServer::ConnectionLimit() const { return impl_->connectionLimit; }

int TIdTCPServer::WorkerCount() const {
  std::lock_guard<std::mutex> lock(impl_->threadsLock);
  return impl_->runningWorkers;
}

int TIdTCPServer::IdleWorkerCount() const {
  std::lock_guard<std::mutex> lock(impl_->threadsLock);
  return impl_->idleWorkers;
}

TIdServerCounters TIdTCPServer::Counters() const {
  std::lock_guard<std::mutex> lock(impl_->threadsLock);
  return impl_->counters;
}

void TIdTCPServer::SetActive(bool active) {
  std::lock_guard<std::mutex> lock(impl_->activeLock);
  if (active == impl_->active) return;
  if (active) {
    Activate();
  } else {
    Deactivate();
  }
}

int TIdTCPServer::OpenListeningSocket(int port) {
  // A port beyond 16 bits would silently wrap to another port while the base URL names this one.
  if (port < 0 || port > 65535) {
    throw Exception("Could not bind socket. Port " + std::to_string(port) + " is outside 0-65535.");
  }
  // Non-blocking: the listener takes every waiting connection in one go and stops at the end.
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) throw Exception("Cannot allocate socket.");
  // Lets a restarted program bind at once despite connections in TIME_WAIT; a port that another
  // socket still listens on stays refused on Linux.
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  auto fail = [&](int code, const char* call) {
    close(fd);
    if (code == EADDRINUSE)
      throw Exception("Could not bind socket. Address and port are already in use.");
    throw EIdSocketError::OfCall(code, call);
  };
  if (!BindAddress.empty() && inet_pton(AF_INET, BindAddress.c_str(), &address.sin_addr) != 1)
    fail(EINVAL, "bind");
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail(errno, "bind");
  if (listen(fd, ListenQueue) != 0) fail(errno, "listen");
  return fd;
}

void TIdTCPServer::Activate() {
  int fd = -1;
  try {
    fd = OpenListeningSocket(DefaultPort);
  } catch (...) {
    Deactivate();
    throw;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);

  // Every connection takes a descriptor; what the process holds now (and the listening socket)
  // stays, and the reserve stays free for what requests open.
  const size_t limit = DescriptorLimit();
  const size_t held = std::max(OpenDescriptorCount(), static_cast<size_t>(fd) + 1);
  const size_t room = limit > held + kDescriptorReserve ? limit - held - kDescriptorReserve : 0;
  impl_->descriptorLimit = limit;
  impl_->connectionLimit = static_cast<int>(std::clamp<size_t>(room, kMinConnectionLimit, INT_MAX));
  {
    std::lock_guard<std::mutex> lock(impl_->threadsLock);
    impl_->stopping = false;
  }

  impl_->listenSocket = fd;
  impl_->boundPort = ntohs(bound.sin_port);
  impl_->stopListening = false;
  try {
    impl_->listener = std::thread(&TIdTCPServer::ListenLoop, this);
  } catch (const std::system_error& e) {
    impl_->listenSocket = -1;
    close(fd);
    Deactivate();
    throw EIdSocketError::OfCall(e.code().value(), "thread");
  }
  impl_->active = true;
}

void TIdTCPServer::Rebind(int port) {
  std::lock_guard<std::mutex> lock(impl_->activeLock);
  if (!impl_->active) {
    DefaultPort = port;
    return;
  }
  const int fd = OpenListeningSocket(port);  // throws: the old port keeps serving
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  impl_->stopListening = true;
  if (impl_->listener.joinable()) impl_->listener.join();
  close(impl_->listenSocket);
  impl_->listenSocket = fd;
  impl_->boundPort = ntohs(bound.sin_port);
  impl_->stopListening = false;
  DefaultPort = port;
  // Started as Activate starts it; should no thread be had, the server is left inactive.
  try {
    impl_->listener = std::thread(&TIdTCPServer::ListenLoop, this);
  } catch (const std::system_error& e) {
    Deactivate();
    throw EIdSocketError::OfCall(e.code().value(), "thread");
  }
}

void TIdTCPServer::Deactivate() {
  impl_->stopListening = true;
  if (impl_->listener.joinable()) impl_->listener.join();
  if (impl_->listenSocket >= 0) close(impl_->listenSocket);
  impl_->listenSocket = -1;
  impl_->boundPort = 0;
  impl_->active = false;

  std::unique_lock<std::mutex> lock(impl_->threadsLock);
  // Idle pool threads end now, busy ones once their connection has ended.
  impl_->stopping = true;
  impl_->workWaiting.notify_all();
  // A thread blocked in a read or send on its socket returns at once and ends.
  for (auto& thread : impl_->live) thread->Connection()->CloseSocket();
  const bool ended = impl_->threadEnded.wait_for(
      lock, std::chrono::milliseconds(TerminateWaitTime),
      [&] { return impl_->live.empty() && impl_->runningWorkers == 0; });
  lock.unlock();
  ReapFinished();
  if (!ended) throw EIdTerminateThreadTimeout();
}

void TIdTCPServer::DeactivateForDestruction() noexcept {
  try {
    SetActive(false);
  } catch (const std::exception&) {
  }
  {
    // Threads still inside a hook after TerminateWaitTime: wait for them, as they use this object.
    std::unique_lock<std::mutex> lock(impl_->threadsLock);
    impl_->stopping = true;
    impl_->workWaiting.notify_all();
    impl_->threadEnded.wait(lock,
                            [&] { return impl_->live.empty() && impl_->runningWorkers == 0; });
  }
  ReapFinished();
}

void TIdTCPServer::ListenLoop() {
  const int listenSocket = impl_->listenSocket;
  while (!impl_->stopListening) {
    if (impl_->doneWorkers > 0) ReapFinished();
    pollfd p{listenSocket, POLLIN, 0};
    int r = poll(&p, 1, kAcceptPollMs);
    if (impl_->stopListening) break;
    if (r <= 0) continue;
    for (int i = 0; i < kAcceptBatch; ++i) {
      sockaddr_in peer{};
      socklen_t length = sizeof peer;
      const int fd =
          accept4(listenSocket, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
      if (fd >= 0) {
        Admit(fd, peer.sin_addr.s_addr, PeerAddressText(peer));
        continue;
      }
      if (errno == EBADF || errno == ENOTSOCK || errno == EINVAL) return;  // socket closed
      if (errno == EMFILE || errno == ENFILE) {
        // No descriptor for the next client: close connections that are only waiting.
        bool madeRoom = false;
        {
          std::lock_guard<std::mutex> lock(impl_->threadsLock);
          for (int n = 0; n < kEvictWhenExhausted && EvictOldestAwaitingHead(); ++n)
            madeRoom = true;
        }
        std::this_thread::sleep_for(madeRoom ? kRoomBackoff : kAcceptBackoff);
      } else if (errno == ENOBUFS || errno == ENOMEM) {
        std::this_thread::sleep_for(kAcceptBackoff);
      } else if (errno == EINTR || errno == ECONNABORTED) {
        continue;  // a client that gave up before we accepted it, or a signal
      }
      break;  // EAGAIN: nobody else waiting
    }
  }
}

bool TIdTCPServer::EvictOldestAwaitingHead() {
  for (auto& peer : impl_->live) {
    TPeerPhase expected = TPeerPhase::AwaitingHead;
    if (!peer->phase_.compare_exchange_strong(expected, TPeerPhase::Evicted)) continue;
    peer->Connection()->CloseSocket();
    ++impl_->closing;
    ++impl_->counters.closedForRoom;
    return true;
  }
  return false;
}

void TIdTCPServer::Admit(int socket, uint32_t address, std::string peerIP) {
  std::unique_ptr<TIdPeerThread> refused;
  {
    std::lock_guard<std::mutex> lock(impl_->threadsLock);
    int& fromAddress = impl_->perAddress[address];
    // Open connections, not counting those already closed for room and about to end.
    const int open = static_cast<int>(impl_->live.size()) - impl_->closing;
    const size_t limit = impl_->descriptorLimit;
    // Descriptors are handed out lowest first, so every one below this socket's is in use:
    // one this high means the process as a whole is near its limit, whoever holds the rest.
    const bool nearLimit = open >= impl_->connectionLimit ||
                           (limit > 0 && static_cast<size_t>(socket) + kDescriptorReserve >= limit);
    bool admitted = false;
    if (fromAddress >= MaxConnectionsPerAddress) {
      ++impl_->counters.refusedForAddress;
    } else if (nearLimit && !EvictOldestAwaitingHead()) {
      ++impl_->counters.refusedForRoom;
    } else {
      admitted = true;
    }
    if (!admitted) {
      if (fromAddress == 0) impl_->perAddress.erase(address);
    } else {
      auto peer = std::make_unique<TIdPeerThread>(
          this, std::make_unique<TIdTCPConnection>(socket, std::move(peerIP)));
      peer->address_ = address;
      TIdPeerThread* raw = peer.get();
      impl_->live.push_back(std::move(peer));
      ++fromAddress;
      ++impl_->counters.accepted;
      impl_->counters.peakConnections =
          std::max(impl_->counters.peakConnections, static_cast<int>(impl_->live.size()));
      impl_->queued.push_back(raw);
      // Each idle pool thread takes one queued connection; beyond them the pool grows.
      if (static_cast<int>(impl_->queued.size()) <= impl_->idleWorkers) {
        impl_->workWaiting.notify_one();
        return;
      }
      if (StartWorker()) return;
      // No thread to be had: the client is dropped.
      impl_->queued.pop_back();
      refused = std::move(impl_->live.back());
      impl_->live.pop_back();
      if (--fromAddress == 0) impl_->perAddress.erase(address);
      return;  // refused closes the socket as it goes
    }
  }
  close(socket);
}

bool TIdTCPServer::StartWorker() {
  TWorker& worker = impl_->workers.emplace_back();
  worker.server = this;
  pthread_attr_t attributes;
  bool started = pthread_attr_init(&attributes) == 0;
  if (started) {
    const size_t stack = std::max(ConnectionStackSize, static_cast<size_t>(PTHREAD_STACK_MIN));
    started = pthread_attr_setstacksize(&attributes, stack) == 0 &&
              pthread_create(&worker.thread, &attributes, &TIdTCPServer::WorkerEntry, &worker) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (!started) {
    impl_->workers.pop_back();
    return false;
  }
  ++impl_->runningWorkers;
  ++impl_->counters.workersStarted;
  return true;
}

void* TIdTCPServer::WorkerEntry(void* worker) {
  auto* self = static_cast<TWorker*>(worker);
  self->server->RunWorker(self);
  return nullptr;
}

void TIdTCPServer::RunWorker(TWorker* worker) {
  BlockSigPipeOnThisThread();
  char* const stackLow = StackLow();
  std::unique_lock<std::mutex> lock(impl_->threadsLock);
  for (;;) {
    if (impl_->queued.empty()) {
      if (impl_->stopping) break;
      ++impl_->idleWorkers;
      const bool woken =
          impl_->workWaiting.wait_for(lock, std::chrono::milliseconds(WorkerIdleTime),
                                      [&] { return !impl_->queued.empty() || impl_->stopping; });
      --impl_->idleWorkers;
      if (!woken) break;  // idle too long: the pool shrinks
      continue;
    }
    TIdPeerThread* peer = impl_->queued.front();
    impl_->queued.pop_front();
    lock.unlock();
    RunPeer(peer);
    ReleaseStackBelowFrame(stackLow);
    lock.lock();
  }
  worker->done = true;
  --impl_->runningWorkers;
  ++impl_->doneWorkers;
  impl_->threadEnded.notify_all();
}

void TIdTCPServer::RunPeer(TIdPeerThread* thread) {
  TIdTCPConnection& connection = *thread->Connection();
  try {
    connection.SetReadTimeout(IdleTimeout);
    DoExecute(*thread);
  } catch (...) {
    // A failure ends this connection only; nothing reaches the user or the other threads.
  }
  try {
    connection.Disconnect();
  } catch (...) {
  }
  std::unique_ptr<TIdPeerThread> ended;  // freed after the lock is let go
  std::lock_guard<std::mutex> lock(impl_->threadsLock);
  for (auto it = impl_->live.begin(); it != impl_->live.end(); ++it) {
    if (it->get() != thread) continue;
    ended = std::move(*it);
    impl_->live.erase(it);
    break;
  }
  auto count = impl_->perAddress.find(thread->address_);
  if (count != impl_->perAddress.end() && --count->second <= 0) impl_->perAddress.erase(count);
  if (thread->phase_ == TPeerPhase::Evicted) --impl_->closing;
  impl_->threadEnded.notify_all();
}

void TIdTCPServer::ReapFinished() {
  std::list<TWorker> ended;
  {
    std::lock_guard<std::mutex> lock(impl_->threadsLock);
    for (auto it = impl_->workers.begin(); it != impl_->workers.end();) {
      auto next = std::next(it);
      if (it->done) ended.splice(ended.end(), impl_->workers, it);
      it = next;
    }
    impl_->doneWorkers -= static_cast<int>(ended.size());
  }
  // Each has left its run function; joining only collects it.
  for (TWorker& worker : ended) pthread_join(worker.thread, nullptr);
}

}  // namespace vm
