#include "http/tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <system_error>

#include "http/engine_errors.h"
#include "http/tcp_connection.h"

namespace vm {

namespace {

// The listener wakes this often to see a stop request without closing its socket under itself.
constexpr int kAcceptPollMs = 100;
// After accept fails for lack of descriptors or memory, wait this long before trying again
// instead of spinning on a listening socket that stays readable.
constexpr auto kAcceptBackoff = std::chrono::milliseconds(100);

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

}  // namespace

struct TIdTCPServer::Impl {
  std::mutex activeLock;  // serialises SetActive
  std::atomic<bool> active{false};
  std::atomic<int> boundPort{0};
  int listenSocket = -1;  // owned by the thread that holds activeLock
  std::atomic<bool> stopListening{false};
  std::thread listener;

  mutable std::mutex threadsLock;
  std::condition_variable threadEnded;                  // signalled when a thread leaves `live`
  std::list<std::unique_ptr<TIdPeerThread>> live;      // guarded by threadsLock
  std::list<std::unique_ptr<TIdPeerThread>> finished;  // guarded by threadsLock: ended, not joined
};

TIdPeerThread::TIdPeerThread(TIdTCPServer* server, std::unique_ptr<TIdTCPConnection> connection)
    : server_(server), connection_(std::move(connection)) {}

TIdPeerThread::~TIdPeerThread() {
  if (started_) pthread_join(thread_, nullptr);
}

TIdTCPServer::TIdTCPServer() : impl_(std::make_unique<Impl>()) {}

TIdTCPServer::~TIdTCPServer() { DeactivateForDestruction(); }

bool TIdTCPServer::Active() const { return impl_->active; }

int TIdTCPServer::BoundPort() const { return impl_->boundPort; }

int TIdTCPServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(impl_->threadsLock);
  return static_cast<int>(impl_->live.size());
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
  // A thread blocked in a read or send on its socket returns at once and ends.
  for (auto& thread : impl_->live) thread->Connection()->CloseSocket();
  const bool ended =
      impl_->threadEnded.wait_for(lock, std::chrono::milliseconds(TerminateWaitTime),
                                  [&] { return impl_->live.empty(); });
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
    impl_->threadEnded.wait(lock, [&] { return impl_->live.empty(); });
  }
  ReapFinished();
}

void TIdTCPServer::ListenLoop() {
  const int listenSocket = impl_->listenSocket;
  while (!impl_->stopListening) {
    ReapFinished();
    pollfd p{listenSocket, POLLIN, 0};
    int r = poll(&p, 1, kAcceptPollMs);
    if (impl_->stopListening) break;
    if (r <= 0) continue;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(listenSocket, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EBADF || errno == ENOTSOCK || errno == EINVAL) break;  // socket closed
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        std::this_thread::sleep_for(kAcceptBackoff);
      continue;  // a client that gave up before we accepted it, or a signal
    }
    StartPeer(fd, PeerAddressText(peer));
  }
}

void TIdTCPServer::StartPeer(int socket, std::string peerIP) {
  auto connection = std::make_unique<TIdTCPConnection>(socket, std::move(peerIP));
  connection->SetReadTimeout(IdleTimeout);
  auto thread = std::make_unique<TIdPeerThread>(this, std::move(connection));
  TIdPeerThread* raw = thread.get();
  std::lock_guard<std::mutex> lock(impl_->threadsLock);
  impl_->live.push_back(std::move(thread));
  // Started under the lock: the thread removes itself from `live` only after this returns.
  pthread_attr_t attributes;
  bool started = pthread_attr_init(&attributes) == 0;
  if (started) {
    const size_t stack = std::max(ConnectionStackSize, static_cast<size_t>(PTHREAD_STACK_MIN));
    started = pthread_attr_setstacksize(&attributes, stack) == 0 &&
              pthread_create(&raw->thread_, &attributes, &TIdTCPServer::PeerThreadEntry, raw) == 0;
    pthread_attr_destroy(&attributes);
  }
  raw->started_ = started;
  if (!started) impl_->live.pop_back();  // no thread to be had: the client is dropped
}

void* TIdTCPServer::PeerThreadEntry(void* thread) {
  auto* peer = static_cast<TIdPeerThread*>(thread);
  peer->Server()->RunPeer(peer);
  return nullptr;
}

void TIdTCPServer::RunPeer(TIdPeerThread* thread) {
  BlockSigPipeOnThisThread();
  try {
    DoExecute(*thread);
  } catch (...) {
    // A failure ends this connection only; nothing reaches the user or the other threads.
  }
  try {
    thread->Connection()->Disconnect();
  } catch (...) {
  }
  std::lock_guard<std::mutex> lock(impl_->threadsLock);
  for (auto it = impl_->live.begin(); it != impl_->live.end(); ++it) {
    if (it->get() == thread) {
      impl_->finished.splice(impl_->finished.end(), impl_->live, it);
      break;
    }
  }
  impl_->threadEnded.notify_all();
}

void TIdTCPServer::ReapFinished() {
  std::list<std::unique_ptr<TIdPeerThread>> ended;
  {
    std::lock_guard<std::mutex> lock(impl_->threadsLock);
    ended.swap(impl_->finished);
  }
  ended.clear();  // each destructor joins a thread that has already left its run function
}

}  // namespace vm
