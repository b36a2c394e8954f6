#include "http/tcp_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "http/engine_errors.h"

namespace vm {

namespace {

// One sendfile call hands the kernel at most this much, so that a stalled peer is noticed
// within one send timeout rather than after a whole large file.
constexpr size_t kSendFileChunk = 1 << 20;
// The consumed front of the input buffer is erased once it is this large (and more than half
// of the buffer), so that a long body does not copy the buffer on every read.
constexpr size_t kCompactThreshold = 65536;

using Clock = std::chrono::steady_clock;

uint64_t NextSerial() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

bool IsPeerGoneError(int errorCode) {
  return errorCode == ECONNRESET || errorCode == EPIPE || errorCode == ECONNABORTED;
}

}  // namespace

TIdTCPConnection::TIdTCPConnection(int socket, std::string peerIP)
    : serial_(NextSerial()), socket_(socket), peerIP_(std::move(peerIP)) {
  // A blocking send would wait for room without a limit we control (a send timeout restarts
  // with every byte the peer's kernel squeezes in); a send here waits in poll instead.
  const int flags = fcntl(socket_, F_GETFL);
  if (flags >= 0 && (flags & O_NONBLOCK) == 0) fcntl(socket_, F_SETFL, flags | O_NONBLOCK);
}

TIdTCPConnection::~TIdTCPConnection() {
  SetTransferProgress(nullptr);  // no cancel reaches a connection that is gone
  CloseNow(false);
}

void TIdTCPConnection::SetTransferProgress(std::shared_ptr<TTransferProgress> progress) {
  if (progress_) progress_->SetCancelHook(nullptr);
  progress_ = std::move(progress);
  if (progress_) progress_->SetCancelHook([this] { CloseSocket(); });
}

[[noreturn]] void TIdTCPConnection::FailSocket(int errorCode, const char* call) {
  throw EIdSocketError::OfCall(errorCode, call);
}

TIdTCPConnection::WaitResult TIdTCPConnection::WaitFor(short events, int timeoutMs) {
  if (socket_ < 0) throw EIdClosedSocket();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs > 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return WaitResult::TimedOut;
      wait = static_cast<int>(left.count());
    }
    pollfd p{socket_, events, 0};
    int r = poll(&p, 1, wait);
    if (r < 0) {
      if (errno == EINTR) continue;
      FailSocket(errno, "poll");
    }
    if (r == 0) return WaitResult::TimedOut;
    if (p.revents & POLLNVAL) throw EIdClosedSocket();
    return WaitResult::Ready;  // readable, or an error/hang-up that the next call reports
  }
}

size_t TIdTCPConnection::ReceiveInto(char* buffer, size_t count) {
  messageEnded_ = false;
  if (closedGracefully_) return 0;
  if (socket_ < 0) throw EIdClosedSocket();
  for (;;) {
    // Bytes that are already there are taken without a wait: a request usually arrives
    // together with the connection, and a body in a stream of full segments.
    ssize_t n = recv(socket_, buffer, count, MSG_DONTWAIT);
    if (n > 0) return static_cast<size_t>(n);
    if (n == 0) {
      closedGracefully_ = true;
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      int wait = ReadTimeout;
      if (readDeadline_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(*readDeadline_ - Clock::now());
        if (left.count() <= 0) throw EIdReadTimeout();
        wait = wait > 0 ? std::min(wait, static_cast<int>(left.count()))
                        : static_cast<int>(left.count());
      }
      if (WaitFor(POLLIN, wait) == WaitResult::TimedOut) throw EIdReadTimeout();
      continue;
    }
    int code = errno;
    if (IsPeerGoneError(code)) CloseNow(false);
    FailSocket(code, "recv");
  }
}

bool TIdTCPConnection::ReceiveMore() {
  if (inputStart_ > kCompactThreshold && inputStart_ * 2 > inputBuffer_.size()) {
    inputBuffer_.erase(0, inputStart_);
    inputStart_ = 0;
  }
  char block[kRecvBufferSize];
  size_t n = ReceiveInto(block, sizeof block);
  if (n == 0) return false;
  inputBuffer_.append(block, n);
  return true;
}

void TIdTCPConnection::Consume(size_t count) {
  inputStart_ += std::min(count, InputBufferSize());
  lineSearched_ = 0;
  if (inputStart_ == inputBuffer_.size()) {
    inputBuffer_.clear();
    inputStart_ = 0;
  }
}

std::string TIdTCPConnection::ReadLn() {
  // The longest acceptable line plus its CR LF.
  const size_t window = MaxLineLength + 2;
  for (;;) {
    const char* base = inputBuffer_.data() + inputStart_;
    const size_t limit = std::min(InputBufferSize(), window);
    if (lineSearched_ < limit) {
      const void* lf = std::memchr(base + lineSearched_, '\n', limit - lineSearched_);
      if (lf != nullptr) {
        size_t length = static_cast<size_t>(static_cast<const char*>(lf) - base);
        std::string line(base, length);
        inputStart_ += length + 1;
        lineSearched_ = 0;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > MaxLineLength) throw EIdMaxLineLengthExceeded();
        return line;
      }
      lineSearched_ = limit;  // the next search resumes here
    }
    if (InputBufferSize() >= window) throw EIdMaxLineLengthExceeded();
    if (!ReceiveMore()) throw EIdConnClosedGracefully();
  }
}

void TIdTCPConnection::ReadStream(TStream& stream, int64_t count) {
  if (count <= 0) return;
  uint64_t remaining = static_cast<uint64_t>(count);
  size_t buffered = static_cast<size_t>(std::min<uint64_t>(InputBufferSize(), remaining));
  if (buffered > 0) {
    stream.Write(inputBuffer_.data() + inputStart_, buffered);
    if (progress_) progress_->Add(buffered);
    inputStart_ += buffered;
    lineSearched_ = 0;
    remaining -= buffered;
  }
  if (remaining == 0) return;
  std::vector<char> block(static_cast<size_t>(std::min<uint64_t>(kRecvBufferSize, remaining)));
  while (remaining > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(block.size(), remaining));
    size_t got = 0;
    while (got < want) {
      size_t n = ReceiveInto(block.data() + got, want - got);
      if (n == 0) throw EIdConnClosedGracefully();
      got += n;
      if (progress_) progress_->Add(n);  // per receive: a slow client's bytes show as they come
    }
    stream.Write(block.data(), want);
    remaining -= want;
  }
}

size_t TIdTCPConnection::ReadSome(char* buffer, size_t count) {
  if (count == 0) return 0;
  const size_t buffered = std::min(InputBufferSize(), count);
  if (buffered > 0) {
    std::memcpy(buffer, inputBuffer_.data() + inputStart_, buffered);
    Consume(buffered);
    return buffered;
  }
  return ReceiveInto(buffer, count);
}

void TIdTCPConnection::ReadStreamUntilClose(TStream& stream) {
  if (InputBufferSize() > 0) {
    stream.Write(inputBuffer_.data() + inputStart_, InputBufferSize());
    if (progress_) progress_->Add(InputBufferSize());
    inputStart_ = inputBuffer_.size();
    lineSearched_ = 0;
  }
  std::vector<char> block(kRecvBufferSize);
  for (;;) {
    size_t n = ReceiveInto(block.data(), block.size());
    if (n == 0) return;
    stream.Write(block.data(), n);
    if (progress_) progress_->Add(n);
  }
}

void TIdTCPConnection::SendAll(const char* data, size_t size, bool moreFollows) {
  // MSG_NOSIGNAL: a peer that went away must fail this send, not kill the process.
  // MSG_MORE: the bytes wait for what follows (a response's body after its header), so that a
  // small answer leaves in one segment; the next send, or the close, pushes them out.
  const int flags = MSG_NOSIGNAL | (moreFollows ? MSG_MORE : 0);
  while (size > 0) {
    if (socket_ < 0) throw EIdClosedSocket();
    ssize_t n = send(socket_, data, size, flags);
    if (n >= 0) {
      NoteSendProgress();
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      AwaitSendRoom("send");
      continue;
    }
    FailSend(errno, "send");
  }
}

void TIdTCPConnection::AwaitSendRoom(const char* call) {
  const auto now = Clock::now();
  if (!stalledSince_) stalledSince_ = now;
  int wait = 0;  // without limit
  if (ReadTimeout > 0) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        *stalledSince_ + std::chrono::milliseconds(ReadTimeout) - now);
    if (left.count() <= 0) FailSend(ETIMEDOUT, call);
    wait = static_cast<int>(left.count());
  }
  if (WaitFor(POLLOUT, wait) == WaitResult::TimedOut) FailSend(ETIMEDOUT, call);
}

void TIdTCPConnection::FailSend(int errorCode, const char* call) {
  if (IsPeerGoneError(errorCode)) CloseNow(false);
  FailSocket(errorCode, call);
}

void TIdTCPConnection::SendBoth(std::string_view first, std::string_view second) {
  while (!first.empty()) {
    if (socket_ < 0) throw EIdClosedSocket();
    iovec parts[2] = {{const_cast<char*>(first.data()), first.size()},
                      {const_cast<char*>(second.data()), second.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = second.empty() ? 1 : 2;
    const ssize_t n = sendmsg(socket_, &message, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        AwaitSendRoom("sendmsg");
        continue;
      }
      FailSend(errno, "sendmsg");
    }
    NoteSendProgress();
    size_t sent = static_cast<size_t>(n);
    const size_t fromFirst = std::min(sent, first.size());
    first.remove_prefix(fromFirst);
    second.remove_prefix(sent - fromFirst);
  }
  SendAll(second.data(), second.size());
}

void TIdTCPConnection::Write(std::string_view bytes) {
  if (writeBufferOpen_) {
    writeBuffer_.append(bytes);
    return;
  }
  SendAll(bytes.data(), bytes.size());
}

void TIdTCPConnection::WriteLn(std::string_view line) {
  std::string withEnd;
  withEnd.reserve(line.size() + 2);
  withEnd.append(line).append("\r\n");
  Write(withEnd);
}

void TIdTCPConnection::WriteStream(TStream& stream) {
  stream.SetPosition(0);
  std::vector<char> block(kSendBufferSize);
  int64_t remaining = stream.Size();
  while (remaining > 0) {
    size_t want = static_cast<size_t>(std::min<int64_t>(remaining, kSendBufferSize));
    size_t n = stream.Read(block.data(), want);
    if (n == 0) throw EIdNoDataToRead();
    Write(std::string_view(block.data(), n));
    remaining -= static_cast<int64_t>(n);
  }
}

uint64_t TIdTCPConnection::WriteFile(int fileDescriptor, uint64_t offset, uint64_t count) {
  uint64_t sent = 0;
  off_t position = static_cast<off_t>(offset);
  bool useSendFile = true;
  std::vector<char> block;
  while (sent < count) {
    if (socket_ < 0) throw EIdClosedSocket();
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(count - sent, kSendFileChunk));
    if (useSendFile) {
      ssize_t n = sendfile(socket_, fileDescriptor, &position, chunk);
      if (n > 0) {
        NoteSendProgress();
        sent += static_cast<uint64_t>(n);
        if (progress_) progress_->Add(static_cast<uint64_t>(n));
        continue;
      }
      if (n == 0) break;  // the file is shorter than announced
      int code = errno;
      if (code == EINTR) continue;
      if (code == EINVAL || code == ENOSYS) {  // a file system without sendfile: copy by hand
        useSendFile = false;
        continue;
      }
      if (code == EAGAIN || code == EWOULDBLOCK) {
        AwaitSendRoom("sendfile");
        continue;
      }
      if (IsPeerGoneError(code)) CloseNow(false);
      FailSocket(code, "sendfile");
    }
    block.resize(kSendBufferSize);
    ssize_t n = pread(fileDescriptor, block.data(), std::min(chunk, block.size()), position);
    if (n < 0) {
      if (errno == EINTR) continue;
      FailSocket(errno, "read");
    }
    if (n == 0) break;
    SendAll(block.data(), static_cast<size_t>(n));
    position += n;
    sent += static_cast<uint64_t>(n);
    if (progress_) progress_->Add(static_cast<uint64_t>(n));
  }
  return sent;
}

void TIdTCPConnection::OpenWriteBuffer() {
  writeBufferOpen_ = true;
  writeBuffer_.clear();
}

void TIdTCPConnection::FlushWriteBuffer() {
  std::string pending;
  pending.swap(writeBuffer_);
  SendAll(pending.data(), pending.size());
}

void TIdTCPConnection::CloseWriteBuffer(bool moreFollows) {
  writeBufferOpen_ = false;
  std::string pending;
  pending.swap(writeBuffer_);
  SendAll(pending.data(), pending.size(), moreFollows);
}

void TIdTCPConnection::CloseWriteBuffer(std::string_view body) {
  writeBufferOpen_ = false;
  std::string pending;
  pending.swap(writeBuffer_);
  SendBoth(pending, body);
}

void TIdTCPConnection::Disconnect() { CloseNow(true); }

void TIdTCPConnection::CloseSocket() {
  std::lock_guard<std::mutex> lock(socketLock_);
  if (socket_ >= 0) shutdown(socket_, SHUT_RDWR);
}

bool TIdTCPConnection::Connected() const {
  return socket_ >= 0 && (!closedGracefully_ || InputBufferSize() > 0);
}

void TIdTCPConnection::CloseNow(bool linger) {
  const int fd = socket_;  // only the owning thread changes socket_
  if (fd < 0) return;
  if (linger && sentAny_ && !closedGracefully_ && messageEnded_ && InputBufferSize() == 0) {
    int unread = 0;
    linger = ioctl(fd, FIONREAD, &unread) != 0 || unread > 0;
  }
  if (linger && sentAny_ && !closedGracefully_) {
    shutdown(fd, SHUT_WR);
    // The peer reads our FIN after the response and closes; wait for that (briefly).
    const auto deadline = Clock::now() + std::chrono::milliseconds(kLingerMs);
    size_t drained = 0;
    char scratch[4096];
    while (drained < kLingerMaxBytes) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd, POLLIN, 0};
      int r = poll(&p, 1, static_cast<int>(left.count()));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      ssize_t n = recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) break;
      drained += static_cast<size_t>(n);
    }
  }
  std::lock_guard<std::mutex> lock(socketLock_);
  close(fd);
  socket_ = -1;
  writeBufferOpen_ = false;
  writeBuffer_.clear();
}

}  // namespace vm
