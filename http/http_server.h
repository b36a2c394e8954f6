// The HTTP server: the request loop on each connection thread, and file serving.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/mime_table.h"
#include "http/request_head.h"
#include "http/request_info.h"
#include "http/response_info.h"
#include "http/tcp_server.h"

namespace vm {

// What the request loop does with a request's body, decided from the head before any body byte
// is read: a client that may not post must not make us hold or write what it sends.
enum class TBodyAdmission {
  Keep,       // read into the post stream (OnCreatePostStream's, or the engine's own)
  SmallForm,  // a body of at most kSmallFormLimit bytes is kept in FormText, any other is dropped
  Discard,    // read into a fixed scratch buffer and dropped
  Handler,    // left on the connection for OnCommandGet to read (TIdBodyReader); the connection
              // is closed after the answer
};

class TIdCustomHTTPServer : public TIdTCPServer {
 public:
  // A dropped body is read and thrown away up to this size, so that the client still gets its
  // answer; a connection announcing (or sending) more is closed without one.
  static constexpr int64_t kMaxDiscardedBody = int64_t{1} << 20;
  // The largest body TBodyAdmission::SmallForm keeps: a login form, not a document.
  static constexpr int64_t kSmallFormLimit = 8 * 1024;

  using TAdmitBodyEvent =
      std::function<TBodyAdmission(TIdPeerThread* thread, const TIdHTTPRequestInfo& request)>;
  using TCreatePostStreamEvent = std::function<void(TIdPeerThread* thread, std::unique_ptr<TStream>& stream)>;
  using TCommandGetEvent = std::function<void(TIdPeerThread* thread, TIdHTTPRequestInfo& request,
                                              TIdHTTPResponseInfo& response)>;

  TIdCustomHTTPServer();
  ~TIdCustomHTTPServer() override;

  bool KeepAlive = false;
  bool ParseParams = true;
  std::string ServerSoftware;
  // Header lines ("Name: value") that every answer carries, error answers included.
  std::vector<std::string> CommonHeaders;
  // Asked for a request line whose method is not GET, POST or HEAD: true has it read and
  // handed to the hooks like those; unset or false closes the connection without an answer.
  TMethodFilter OnAnswerMethod;
  // Asked after the head and before the body; unset means Keep.
  TAdmitBodyEvent OnAdmitBody;
  TCreatePostStreamEvent OnCreatePostStream;
  TCommandGetEvent OnCommandGet;

  // Sends the named file (a path in the system's code page) as the body of response; returns
  // the number of bytes sent. Throws EFOpenError when the file cannot be opened. When the
  // response accepts ranges, one range in its RequestedRange is answered with 206 and exactly
  // those bytes, or with 416 and none when no byte of the file lies in it.
  virtual uint64_t ServeFile(TIdPeerThread* thread, TIdHTTPResponseInfo& response,
                             const std::string& fileName);
  // The same for a file the caller has opened (and checked): takes the descriptor and closes it.
  // fileName only names the file in failures. Throws EFOpenError when it is not a regular file.
  virtual uint64_t ServeOpenFile(TIdPeerThread* thread, TIdHTTPResponseInfo& response, int fd,
                                 const std::string& fileName);

  const TIdMimeTable& MimeTable() const { return mimeTable_; }

 protected:
  void DoExecute(TIdPeerThread& thread) override;

 private:
  TIdMimeTable mimeTable_;
};

class TIdHTTPServer : public TIdCustomHTTPServer {
 public:
  // Stops every connection thread before the object's dynamic type changes under them.
  ~TIdHTTPServer() override { DeactivateForDestruction(); }
};

}  // namespace vm
