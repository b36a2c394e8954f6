#include "http/body_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "http/engine_errors.h"
#include "platform/sjis.h"
#include "platform/unique_fd.h"

namespace vm {

namespace {

// The pipe between socket and file holds this much when the kernel allows (the default limit
// for an unprivileged pipe is 1 MiB): fewer calls per chunk.
constexpr int kPipeBytes = 1 << 20;
// Bytes moved at a time where the file takes no splice.
constexpr size_t kFallbackBlock = 16 * 1024;

// Writes all bytes at offset; 0, or the error of the write that failed.
int WriteAt(int fd, const char* data, size_t size, int64_t offset) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, data, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    data += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return 0;
}

}  // namespace

TIdBodyReader::TIdBodyReader(TIdTCPConnection& connection, TIdHTTPRequestInfo& request)
    : connection_(connection),
      request_(request),
      remaining_(request.BodyOnConnection ? std::max<int64_t>(request.ContentLength, 0) : 0) {}

void TIdBodyReader::SendContinue() {
  if (continueSent_) return;
  // A client that asks first waits for this before it sends; it is sent only once the
  // application wants the bytes, so a refusal made from the head costs the client nothing.
  continueSent_ = true;
  if (EqualTextIgnoreCase(request_.RawHeaders.Values("Expect"), "100-continue"))
    connection_.Write("HTTP/1.1 100 Continue\r\n\r\n");
}

void TIdBodyReader::Took(int64_t count) {
  remaining_ -= count;
  if (remaining_ == 0) {
    request_.BodyOnConnection = false;
    connection_.MarkMessageEnd();
  }
}

size_t TIdBodyReader::Read(char* buffer, size_t count) {
  if (remaining_ <= 0 || count == 0) return 0;
  SendContinue();
  const size_t want =
      static_cast<size_t>(std::min<int64_t>(remaining_, static_cast<int64_t>(count)));
  const size_t got = connection_.ReadSome(buffer, want);
  if (got == 0) throw EIdConnClosedGracefully();
  Took(static_cast<int64_t>(got));
  return got;
}

void TIdBodyReader::Drop(int64_t count) {
  std::vector<char> block(TIdTCPConnection::kRecvBufferSize);
  while (count > 0) {
    count -= static_cast<int64_t>(
        Read(block.data(), static_cast<size_t>(std::min<int64_t>(count, block.size()))));
  }
}

bool TIdBodyReader::Skip(int64_t limit) {
  if (remaining_ > limit) return false;
  Drop(remaining_);
  return true;
}

void TIdBodyReader::AwaitInput() {
  pollfd p{connection_.Socket(), POLLIN, 0};
  for (;;) {
    const int wait = connection_.ReadTimeout > 0 ? connection_.ReadTimeout : -1;
    const int r = poll(&p, 1, wait);
    if (r > 0) return;  // bytes, the peer's close or an error: the next splice tells
    if (r == 0) throw EIdReadTimeout();
    if (errno != EINTR) throw EIdSocketError::OfCall(errno, "poll");
  }
}

int TIdBodyReader::ReadIntoFile(int fd, int64_t offset, int64_t count) {
  count = std::min(count, remaining_);
  if (count <= 0) return 0;
  SendContinue();
  // What came with the head is in the buffer already.
  const std::string_view buffered = connection_.InputBuffer().substr(
      0, static_cast<size_t>(std::min<int64_t>(count, connection_.InputBufferSize())));
  int error = WriteAt(fd, buffered.data(), buffered.size(), offset);
  connection_.Consume(buffered.size());
  Took(static_cast<int64_t>(buffered.size()));
  offset += static_cast<int64_t>(buffered.size());
  count -= static_cast<int64_t>(buffered.size());
  if (error != 0 || count == 0) {
    Drop(count);
    return error;
  }

  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) throw EIdSocketError::OfCall(errno, "pipe2");
  const TUniqueFd out(ends[0]), in(ends[1]);
  fcntl(in.Get(), F_SETPIPE_SZ, kPipeBytes);  // a smaller pipe only costs more calls
  bool spliceFile = true;
  while (count > 0) {
    // A splice from a socket waits for bytes without the idle limit: it is called only once
    // there are some, and then takes what is there. The pipe is empty here, so it never waits
    // for room either.
    AwaitInput();
    const ssize_t got = splice(connection_.Socket(), nullptr, in.Get(), nullptr,
                               static_cast<size_t>(std::min<int64_t>(count, kPipeBytes)),
                               SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (got == 0) throw EIdConnClosedGracefully();
    if (got < 0) {
      if (errno != EAGAIN && errno != EINTR) throw EIdSocketError::OfCall(errno, "splice");
      continue;
    }
    Took(got);
    count -= got;
    for (ssize_t left = got; left > 0;) {
      if (error == 0 && spliceFile) {
        const ssize_t put =
            splice(out.Get(), nullptr, fd, &offset, static_cast<size_t>(left), SPLICE_F_MOVE);
        if (put > 0) {
          left -= put;
        } else if (put < 0 && (errno == EINVAL || errno == ENOSYS)) {
          spliceFile = false;  // a file system that takes no splice: by read and write
        } else if (put == 0 || errno != EINTR) {
          error = put < 0 ? errno : ENOSPC;
        }
        continue;
      }
      // Through a buffer: without splice into the file, or to drop what a full disk refused.
      char block[kFallbackBlock];
      const ssize_t n = read(out.Get(), block, std::min<size_t>(sizeof block, left));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw EIdSocketError::OfCall(n < 0 ? errno : EIO, "read");
      left -= n;
      if (error == 0) error = WriteAt(fd, block, static_cast<size_t>(n), offset);
      offset += n;
    }
  }
  return error;
}

}  // namespace vm
