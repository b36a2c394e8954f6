// The HTTP server: the request loop on each connection thread, and file serving.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/mime_table.h"
#include "http/request_info.h"
#include "http/response_info.h"
#include "http/tcp_server.h"

namespace vm {

class TIdCustomHTTPServer : public TIdTCPServer {
 public:
  using TCreatePostStreamEvent = std::function<void(TIdPeerThread* thread, std::unique_ptr<TStream>& stream)>;
  using TCommandGetEvent = std::function<void(TIdPeerThread* thread, TIdHTTPRequestInfo& request,
                                              TIdHTTPResponseInfo& response)>;

  TIdCustomHTTPServer();
  ~TIdCustomHTTPServer() override;

  bool KeepAlive = false;
  bool ParseParams = true;
  std::string ServerSoftware;
  TCreatePostStreamEvent OnCreatePostStream;
  TCommandGetEvent OnCommandGet;

  // Sends the named file (a path in the system's code page) as the body of response; returns
  // the number of bytes sent. Throws EFOpenError when the file cannot be opened. When the
  // response accepts ranges, one range in its RequestedRange is answered with 206 and exactly
  // those bytes, or with 416 and none when no byte of the file lies in it.
  virtual uint64_t ServeFile(TIdPeerThread* thread, TIdHTTPResponseInfo& response,
                             const std::string& fileName);

  const TIdMimeTable& MimeTable() const { return mimeTable_; }

 protected:
  void DoExecute(TIdPeerThread& thread) override;

 private:
  TIdMimeTable mimeTable_;
};

class TIdHTTPServer : public TIdCustomHTTPServer {};

}  // namespace vm
