// The body of a request that the application reads itself, straight from the connection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "http/request_info.h"
#include "http/tcp_connection.h"

namespace vm {

// Reads the body of a request admitted with TBodyAdmission::Handler, which the request loop left
// on the connection: the application decides from the head where the bytes go (a file at an
// offset, say) and takes them without a copy in between. A body it leaves unread is dropped
// with the connection, which is never kept for another request.
class TIdBodyReader {
 public:
  TIdBodyReader(TIdTCPConnection& connection, TIdHTTPRequestInfo& request);
  TIdBodyReader(const TIdBodyReader&) = delete;
  TIdBodyReader& operator=(const TIdBodyReader&) = delete;

  // Bytes of the announced body not read yet; a body without a length is never read (0).
  int64_t Remaining() const { return remaining_; }
  // Reads up to count bytes of the body into buffer; 0 once all of it is read. Throws
  // EIdConnClosedGracefully when the client stops before the end, and what a read throws
  // (EIdReadTimeout, EIdSocketError, EIdClosedSocket).
  size_t Read(char* buffer, size_t count);
  // Reads and drops the rest of the body when at most limit bytes remain, so that the client
  // gets the answer that follows; false, reading nothing, when more remain.
  bool Skip(int64_t limit);
  // Moves the next count bytes of the body (at most Remaining()) into the file fd at offset.
  // They go from the socket to the file through a pipe, without a copy in this process; bytes
  // already received are written from the buffer. Returns 0, or the error of a write the file
  // refused (a full disk), after which the bytes up to count are still read and dropped. Throws
  // as Read does when the connection fails.
  int ReadIntoFile(int fd, int64_t offset, int64_t count);

 private:
  // Before the first byte is taken: the interim answer a client that asks first waits for.
  void SendContinue();
  // Reads count bytes of the body into nothing.
  void Drop(int64_t count);
  // Waits until the socket has bytes (or is closed); throws EIdReadTimeout after the idle limit.
  void AwaitInput();
  // Takes count bytes that the socket delivered out of this reader's account of the body.
  void Took(int64_t count);

  TIdTCPConnection& connection_;
  TIdHTTPRequestInfo& request_;
  int64_t remaining_;
  bool continueSent_ = false;
};

}  // namespace vm
