// The real server and dispatcher on loopback, with a temporary program folder and shares:
// what the socket tests of downloads and of path safety talk to.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/form_hide_core.h"
#include "support/program_folder.h"

namespace vmtest {

// One answer off the wire: the status line, the header lines and the body.
struct THttpAnswer {
  std::string statusLine;
  std::vector<std::string> headers;  // in order, without CR LF
  std::string body;
  // The value of the first header of that name (compared ignoring case); "" when absent.
  std::string Header(const std::string& name) const;
};

// Splits raw bytes at the first empty line; a head without one leaves everything in statusLine.
THttpAnswer SplitAnswer(const std::string& raw);

// A request with a Host line naming 127.0.0.1, the extra header lines (each ending in CR LF)
// and, when there is one, the body with its Content-Length.
std::string Request(const std::string& method, const std::string& target,
                    const std::string& extraHeaders = "", const std::string& body = "");

class TServedCore {
 public:
  // What a test sets on the server before it starts (its time limits, say).
  using TPrepare = std::function<void(vm::TIdHTTPServer&)>;

  // Writes velmarind.ini (port 0, plus moreSettings lines) and dirlst.ini (one "name;;path"
  // per share) into a program folder of its own, and starts the server on 127.0.0.1.
  explicit TServedCore(const std::vector<std::string>& shares, const std::string& moreSettings = "",
                       const TPrepare& prepare = {});
  ~TServedCore();  // stops the server and removes its generated pages

  int Port() const;
  const TProgramFolder& Folder() const { return folder_; }
  const std::string& ProgramFolder() const { return folder_.Path(); }
  // Sends the request bytes from a fresh connection (from sourceAddress when given) and
  // returns the whole answer.
  std::string Exchange(const std::string& request, const std::string& sourceAddress = "") const;
  // "GET target HTTP/1.1" with a Host line and the extra header lines (each ending in CR LF).
  THttpAnswer Get(const std::string& target, const std::string& extraHeaders = "",
                  const std::string& method = "GET") const;
  // The base URL, "http://127.0.0.1:port/velmarind/".
  std::string BaseUrl() const;
  // The running program's state (its listener of share changes, for one), its core and server.
  vm::TMainState& State() { return core_->State(); }
  vm::TFormHideCore& Core() { return *core_; }
  vm::TIdHTTPServer& Server() { return core_->Server(); }

 private:
  TProgramFolder folder_;
  std::unique_ptr<vm::TFormHideCore> core_;
};

}  // namespace vmtest
