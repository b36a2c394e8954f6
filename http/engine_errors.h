// The HTTP engine's failures. None of them reaches the user: a connection thread swallows them,
// except a handler's own failure, which the request loop turns into a 500 answer.
#pragma once

#include <string>
#include <system_error>

#include "platform/exception.h"

namespace vm {

// A socket call failed; ErrorCode is the errno of the call.
class EIdSocketError : public Exception {
 public:
  EIdSocketError(int errorCode, const std::string& message)
      : Exception(message), errorCode_(errorCode) {}
  // The failure of a named socket call: "Socket Error # code (call): system message".
  static EIdSocketError OfCall(int errorCode, const char* call) {
    return EIdSocketError(errorCode, "Socket Error # " + std::to_string(errorCode) + " (" + call +
                                         "): " + std::system_category().message(errorCode));
  }
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};

// The peer closed its side before the bytes we wait for arrived.
class EIdConnClosedGracefully : public Exception {
 public:
  EIdConnClosedGracefully() : Exception("Connection Closed Gracefully.") {}
};

// An operation on a connection whose socket is already closed.
class EIdClosedSocket : public Exception {
 public:
  EIdClosedSocket() : Exception("Disconnected.") {}
};

// The peer sent no byte for the connection's idle time while we waited for one.
class EIdReadTimeout : public Exception {
 public:
  EIdReadTimeout() : Exception("Read Timeout") {}
};

// A line read found no line end within the connection's MaxLineLength.
class EIdMaxLineLengthExceeded : public Exception {
 public:
  EIdMaxLineLengthExceeded() : Exception("Max line length exceeded.") {}
};

// Deactivation could not end every connection thread within TerminateWaitTime.
class EIdTerminateThreadTimeout : public Exception {
 public:
  EIdTerminateThreadTimeout() : Exception("Terminate Thread Timeout") {}
};

// The request line has no space.
class EIdHTTPErrorParsingCommand : public Exception {
 public:
  EIdHTTPErrorParsingCommand() : Exception("Error in parsing command.") {}
};

// The request line and header lines together passed the head limit.
class EIdHTTPHeadTooLarge : public Exception {
 public:
  EIdHTTPHeadTooLarge() : Exception("Request head too large.") {}
};

// A body that was to be dropped went past the most the engine reads only to drop it.
class EIdHTTPBodyTooLarge : public Exception {
 public:
  EIdHTTPBodyTooLarge() : Exception("Request body too large.") {}
};

// WriteHeader was called a second time on one response.
class EIdHTTPHeaderAlreadyWritten : public Exception {
 public:
  EIdHTTPHeaderAlreadyWritten() : Exception("Header has already been written.") {}
};

// A response stream ended before its announced size.
class EIdNoDataToRead : public Exception {
 public:
  EIdNoDataToRead() : Exception("No data to read.") {}
};

}  // namespace vm
