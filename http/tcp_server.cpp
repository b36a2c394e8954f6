#include "http/tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "http/descriptor_limit.h"
#include "http/engine_errors.h"
#include "http/tcp_connection.h"

namespace vm {

namespace {

// Pool threads waiting in accept at once; the other idle ones wait to be called. A thread
// waiting in accept holds a descriptor (the kernel takes the new socket's number before it
// waits), so a thousand of them would use up the descriptors they wait to hand out.
constexpr int kMaxAcceptingWorkers = 8;
// A pool thread waiting in accept wakes this often to count its idle time (the listening
// socket's receive timeout). Stopping does not wait for it: shutting the listening socket down
// wakes every waiting accept at once.
constexpr int kAcceptWakeMs = 500;
// After accept fails for lack of descriptors or memory, wait this long before trying again
// instead of spinning on a listening socket that stays readable.
constexpr auto kAcceptBackoff = std::chrono::milliseconds(100);
// ... or this long when connections were closed to make room: they free their descriptors as
// soon as their threads see the close.
constexpr auto kRoomBackoff = std::chrono::milliseconds(5);
// Connections closed to make room and not yet ended, at most: beyond this, no connection is
// taken on until some have ended.
constexpr int kEvictWhenExhausted = 8;
// Connections are never limited below this many, however little room the descriptor limit
// leaves: with fewer the server could not serve a browser's page load.
constexpr int kMinConnectionLimit = 16;
// Stack kept resident below a pool thread's frame when it gives the rest back: the frames of
// the accept that follows.
constexpr uintptr_t kStackKeptBelowFrame = 16 * 1024;

std::string PeerAddressText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

timeval AsTimeval(int milliseconds) {
  return timeval{milliseconds / 1000, (milliseconds % 1000) * 1000};
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

// A listening socket, closed when the last pool thread accepting on it lets go of it.
struct TIdTCPServer::TListener {
  explicit TListener(int socket) : fd(socket) {}
  ~TListener() { close(fd); }
  TListener(const TListener&) = delete;
  TListener& operator=(const TListener&) = delete;
  const int fd;
};

struct TIdTCPServer::TWorker {
  TIdTCPServer* server = nullptr;
  pthread_t thread{};
  bool done = false;  // guarded by threadsLock: left its run function, to be joined
};

struct TIdTCPServer::Impl {
  std::mutex activeLock;  // serialises SetActive and Rebind
  std::atomic<bool> active{false};
  std::atomic<int> boundPort{0};

  mutable std::mutex threadsLock;
  std::condition_variable threadEnded;     // a connection or a pool thread ended
  std::condition_variable acceptorWanted;  // fewer threads wait in accept than should, or stop
  // The socket pool threads accept on; null while inactive. Guarded by threadsLock.
  std::shared_ptr<TListener> listener;
  // Open connections in accept order (the oldest first), guarded by threadsLock.
  std::list<std::unique_ptr<TIdPeerThread>> live;
  std::unordered_map<uint32_t, int> perAddress;  // guarded by threadsLock: open per address
  int closing = 0;                  // guarded by threadsLock: closed to make room, not yet ended
  std::list<TWorker> workers;       // guarded by threadsLock: pool threads not yet joined
  int runningWorkers = 0;           // guarded by threadsLock: of those, not yet done
  int acceptingWorkers = 0;         // guarded by threadsLock: waiting in accept
  int waitingWorkers = 0;           // guarded by threadsLock: idle, waiting to be called
  std::atomic<int> doneWorkers{0};  // done and not yet joined; read without the lock
  bool stopping = false;            // guarded by threadsLock: pool threads end
  TIdServerCounters counters;       // guarded by threadsLock
  // Strangers' connections not closed for room, the oldest first; and those closed for a newer
  // stranger's and not yet ended. Guarded by threadsLock.
  std::list<TIdPeerThread*> strangers;
  int strangersClosing = 0;

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
  return impl_->acceptingWorkers + impl_->waitingWorkers;
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
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw Exception("Cannot allocate socket.");
  // Lets a restarted program bind at once despite connections in TIME_WAIT; a port that another
  // socket still listens on stays refused on Linux.
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // A waiting accept returns now and then, so that an idle pool thread can count its time.
  const timeval acceptWake = AsTimeval(kAcceptWakeMs);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &acceptWake, sizeof acceptWake);

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

int TIdTCPServer::BoundPortOf(int socket) {
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length);
  return ntohs(bound.sin_port);
}

void TIdTCPServer::Activate() {
  ReapFinished();  // threads of an earlier activation that ended late
  const int fd = OpenListeningSocket(DefaultPort);  // throws: nothing to undo yet

  // Every connection takes a descriptor; what the process holds now (and the listening socket)
  // stays, and the reserve stays free for what requests open.
  const size_t limit = DescriptorLimit();
  const size_t held = std::max(OpenDescriptorCount(), static_cast<size_t>(fd) + 1);
  const size_t room = limit > held + kDescriptorReserve ? limit - held - kDescriptorReserve : 0;
  impl_->descriptorLimit = limit;
  impl_->connectionLimit = static_cast<int>(std::clamp<size_t>(room, kMinConnectionLimit, INT_MAX));

  bool started = false;
  {
    std::lock_guard<std::mutex> lock(impl_->threadsLock);
    impl_->listener = std::make_shared<TListener>(fd);
    impl_->stopping = false;
    // One thread waits in accept; the pool grows from there.
    started = impl_->acceptingWorkers + impl_->waitingWorkers > 0 || StartWorker();
  }
  if (!started) {
    Deactivate();
    throw EIdSocketError::OfCall(EAGAIN, "thread");
  }
  impl_->boundPort = BoundPortOf(fd);
  impl_->active = true;
}

void TIdTCPServer::Rebind(int port) {
  std::lock_guard<std::mutex> lock(impl_->activeLock);
  if (!impl_->active) {
    DefaultPort = port;
    return;
  }
  const int fd = OpenListeningSocket(port);  // throws: the old port keeps serving
  std::shared_ptr<TListener> old;
  {
    std::lock_guard<std::mutex> threads(impl_->threadsLock);
    old = std::exchange(impl_->listener, std::make_shared<TListener>(fd));
  }
  // Threads waiting on the old socket return at once and take the new one; it closes when the
  // last of them lets go of it.
  shutdown(old->fd, SHUT_RDWR);
  impl_->boundPort = BoundPortOf(fd);
  DefaultPort = port;
}

void TIdTCPServer::Deactivate() {
  std::shared_ptr<TListener> listener;
  std::unique_lock<std::mutex> lock(impl_->threadsLock);
  impl_->stopping = true;
  impl_->acceptorWanted.notify_all();
  listener = std::move(impl_->listener);
  // Every thread waiting in accept returns at once; no connection is taken on after this.
  if (listener) shutdown(listener->fd, SHUT_RDWR);
  // A thread blocked in a read or send on its socket returns at once and ends.
  for (auto& thread : impl_->live) thread->Connection()->CloseSocket();
  lock.unlock();
  listener.reset();  // closed once no thread holds it any more
  impl_->boundPort = 0;
  impl_->active = false;

  lock.lock();
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
    impl_->threadEnded.wait(lock,
                            [&] { return impl_->live.empty() && impl_->runningWorkers == 0; });
  }
  ReapFinished();
}

void TIdTCPServer::Evict(TIdPeerThread& peer, TRoomReason reason) {
  peer.phase_ = TPeerPhase::Evicted;
  peer.closedFor_ = reason;
  if (peer.amongStrangers_) {
    impl_->strangers.erase(peer.stranger_);
    peer.amongStrangers_ = false;
  }
  // Its thread's read or send returns at once, and the thread ends its request.
  peer.Connection()->CloseSocket();
  if (reason == TRoomReason::Strangers) {
    ++impl_->strangersClosing;
    ++impl_->counters.closedForStrangers;
  } else {
    ++impl_->closing;
    ++impl_->counters.closedForRoom;
  }
}

bool TIdTCPServer::EvictOldestAwaitingHead() {
  for (auto& peer : impl_->live) {
    TPeerPhase expected = TPeerPhase::AwaitingHead;
    if (!peer->phase_.compare_exchange_strong(expected, TPeerPhase::Evicted)) continue;
    Evict(*peer, TRoomReason::Descriptors);
    return true;
  }
  return false;
}

void TIdTCPServer::EvictOldestStranger() {
  if (!impl_->strangers.empty()) Evict(*impl_->strangers.front(), TRoomReason::Strangers);
}

TIdPeerThread* TIdTCPServer::Admit(int socket, uint32_t address, TPeerStanding standing) {
  int& fromAddress = impl_->perAddress[address];
  // Open connections, not counting those already closed for room and about to end.
  const int open = static_cast<int>(impl_->live.size()) - impl_->closing;
  const size_t limit = impl_->descriptorLimit;
  // Descriptors are handed out lowest first, so every one below this socket's is in use: one
  // this high means the process as a whole is near its limit, whoever holds the rest.
  const bool nearLimit = open >= impl_->connectionLimit ||
                         (limit > 0 && static_cast<size_t>(socket) + kDescriptorReserve >= limit);
  const bool stranger = standing == TPeerStanding::Stranger;
  const bool strangersFull =
      stranger && static_cast<int>(impl_->strangers.size()) >= MaxStrangerConnections;
  auto refuse = [&](uint64_t& counter) -> TIdPeerThread* {
    if (fromAddress == 0) impl_->perAddress.erase(address);
    ++counter;
    return nullptr;
  };
  if (fromAddress >= MaxConnectionsPerAddress) return refuse(impl_->counters.refusedForAddress);
  // Strangers closed for room still hold their threads until they see the close (one waiting
  // for its turn at the login sees it late): no more are taken on than that many again.
  if (strangersFull && impl_->strangersClosing >= MaxStrangerConnections)
    return refuse(impl_->counters.refusedStrangers);
  if (nearLimit && !EvictOldestAwaitingHead()) return refuse(impl_->counters.refusedForRoom);
  if (strangersFull) EvictOldestStranger();
  ++fromAddress;
  ++impl_->counters.accepted;
  impl_->live.push_back(std::make_unique<TIdPeerThread>(
      this, std::make_unique<TIdTCPConnection>(socket, std::string())));
  TIdPeerThread* peer = impl_->live.back().get();
  peer->self_ = std::prev(impl_->live.end());
  peer->address_ = address;
  if (stranger) {
    peer->stranger_ = impl_->strangers.insert(impl_->strangers.end(), peer);
    peer->amongStrangers_ = true;
  }
  impl_->counters.peakConnections =
      std::max(impl_->counters.peakConnections, static_cast<int>(impl_->live.size()));
  return peer;
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
  const auto idleLimit = std::chrono::milliseconds(WorkerIdleTime);
  auto idleSince = std::chrono::steady_clock::now();
  bool stackReleased = false;
  // Idle for a while: the stack a deep request touched goes back. A thread kept busy keeps its
  // pages instead of faulting them in again for every connection.
  auto releaseStack = [&](std::unique_lock<std::mutex>& lock) {
    if (stackReleased) return;
    lock.unlock();
    ReleaseStackBelowFrame(stackLow);
    ReapFinished();
    lock.lock();
    stackReleased = true;
  };
  std::unique_ptr<TIdPeerThread> ended;  // the last connection, freed with the lock let go
  std::unique_lock<std::mutex> lock(impl_->threadsLock);
  while (!impl_->stopping && impl_->listener) {
    const auto idle = std::chrono::steady_clock::now() - idleSince;
    if (impl_->acceptingWorkers >= kMaxAcceptingWorkers) {
      // Enough threads wait in accept: this one waits to be called, and ends when idle too long.
      if (idle >= idleLimit) break;
      ++impl_->waitingWorkers;
      const bool called = impl_->acceptorWanted.wait_for(
          lock, stackReleased ? idleLimit - idle : std::chrono::milliseconds(kAcceptWakeMs),
          [&] { return impl_->acceptingWorkers < kMaxAcceptingWorkers || impl_->stopping; });
      --impl_->waitingWorkers;
      if (!called) releaseStack(lock);
      continue;
    }

    // Connections closed to make room still hold their descriptors until their threads end:
    // taking more on meanwhile would eat into the reserve (a flood of new clients outruns them).
    if (impl_->closing >= kEvictWhenExhausted) {
      impl_->threadEnded.wait_for(lock, kRoomBackoff);
      continue;
    }
    std::shared_ptr<TListener> listener = impl_->listener;
    ++impl_->acceptingWorkers;
    lock.unlock();
    ended.reset();
    // The kernel hands each new connection to one of the threads waiting here.
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const int fd = accept4(listener->fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    const int error = errno;
    listener.reset();
    const std::string peerIP = fd >= 0 ? PeerAddressText(peer) : std::string();
    const TPeerStanding standing =
        fd >= 0 && OnClassifyPeer ? OnClassifyPeer(peerIP) : TPeerStanding::Known;
    lock.lock();
    --impl_->acceptingWorkers;
    if (fd >= 0) {
      TIdPeerThread* thread = Admit(fd, peer.sin_addr.s_addr, standing);
      // The next connection must find a thread waiting in accept: one is called, or the pool
      // grows, before this one is served. Without a thread to be had, connections wait in the
      // kernel's queue until one comes back.
      bool call = false;
      if (impl_->acceptingWorkers == 0 && !impl_->stopping) {
        call = impl_->waitingWorkers > 0;
        if (!call) StartWorker();
      }
      lock.unlock();
      if (call) impl_->acceptorWanted.notify_one();
      if (thread == nullptr) {
        close(fd);  // refused: closed at once, without an answer
      } else {
        thread->Connection()->SetPeerIP(peerIP);
        RunPeer(thread);
      }
      lock.lock();
      if (thread != nullptr) ended = Forget(thread);
      idleSince = std::chrono::steady_clock::now();
      stackReleased = false;
      continue;
    }
    if (error == EAGAIN || error == EWOULDBLOCK) {
      releaseStack(lock);
      // Idle too long: the pool shrinks, down to one thread waiting for the next client.
      if (idle >= idleLimit && impl_->acceptingWorkers > 0) break;
    } else if (error == EMFILE || error == ENFILE) {
      // No descriptor for the next client: close connections that are only waiting, unless
      // enough closes are under way already.
      bool madeRoom = impl_->closing > 0;
      while (impl_->closing < kEvictWhenExhausted && EvictOldestAwaitingHead()) madeRoom = true;
      lock.unlock();
      std::this_thread::sleep_for(madeRoom ? kRoomBackoff : kAcceptBackoff);
      lock.lock();
    } else if (error == ENOBUFS || error == ENOMEM) {
      lock.unlock();
      std::this_thread::sleep_for(kAcceptBackoff);
      lock.lock();
    }
    // Anything else is a client that gave up before it was accepted, a signal, or the socket
    // shut down for a stop or a new port, which the loop's condition sees.
  }
  lock.unlock();
  ended.reset();
  lock.lock();
  worker->done = true;
  --impl_->runningWorkers;
  ++impl_->doneWorkers;
  // A thread that waited in accept leaves: another takes its place.
  if (impl_->acceptingWorkers == 0) impl_->acceptorWanted.notify_one();
  impl_->threadEnded.notify_all();
}

void TIdTCPServer::RunPeer(TIdPeerThread* thread) {
  TIdTCPConnection& connection = *thread->Connection();
  try {
    connection.ReadTimeout = IdleTimeout;
    DoExecute(*thread);
  } catch (...) {
    // A failure ends this connection only; nothing reaches the user or the other threads.
  }
  try {
    connection.Disconnect();
  } catch (...) {
  }
}

std::unique_ptr<TIdPeerThread> TIdTCPServer::Forget(TIdPeerThread* thread) {
  std::unique_ptr<TIdPeerThread> ended = std::move(*thread->self_);
  impl_->live.erase(thread->self_);
  auto count = impl_->perAddress.find(thread->address_);
  if (count != impl_->perAddress.end() && --count->second <= 0) impl_->perAddress.erase(count);
  if (thread->amongStrangers_) impl_->strangers.erase(thread->stranger_);
  if (thread->closedFor_ == TRoomReason::Descriptors) --impl_->closing;
  if (thread->closedFor_ == TRoomReason::Strangers) --impl_->strangersClosing;
  impl_->threadEnded.notify_all();
  return ended;
}

void TIdTCPServer::ReapFinished() {
  if (impl_->doneWorkers == 0) return;
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
