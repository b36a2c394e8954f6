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

 private:
  TIdTCPConnection& connection_;
  TIdHTTPRequestInfo& request_;
  int64_t remaining_;
  bool continueSent_ = false;
};

}  // namespace vm
