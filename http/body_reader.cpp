#include "http/body_reader.h"

#include <algorithm>
#include <vector>

#include "http/engine_errors.h"
#include "platform/sjis.h"

namespace vm {

TIdBodyReader::TIdBodyReader(TIdTCPConnection& connection, TIdHTTPRequestInfo& request)
    : connection_(connection),
      request_(request),
      remaining_(request.BodyOnConnection ? std::max<int64_t>(request.ContentLength, 0) : 0) {}

size_t TIdBodyReader::Read(char* buffer, size_t count) {
  if (remaining_ <= 0 || count == 0) return 0;
  if (!continueSent_) {
    // A client that asks first waits for this before it sends; it is sent only once the
    // application wants the bytes, so a refusal made from the head costs the client nothing.
    continueSent_ = true;
    if (EqualTextIgnoreCase(request_.RawHeaders.Values("Expect"), "100-continue"))
      connection_.Write("HTTP/1.1 100 Continue\r\n\r\n");
  }
  const size_t want = static_cast<size_t>(std::min<int64_t>(remaining_, static_cast<int64_t>(count)));
  const size_t got = connection_.ReadSome(buffer, want);
  if (got == 0) throw EIdConnClosedGracefully();
  remaining_ -= static_cast<int64_t>(got);
  if (remaining_ == 0) {
    request_.BodyOnConnection = false;
    connection_.MarkMessageEnd();
  }
  return got;
}

bool TIdBodyReader::Skip(int64_t limit) {
  if (remaining_ > limit) return false;
  std::vector<char> block(TIdTCPConnection::kRecvBufferSize);
  while (Read(block.data(), block.size()) > 0) {
  }
  return true;
}

}  // namespace vm
