#include "server/listen_failure.h"

#include <cerrno>
#include <cstring>

#include "http/engine_errors.h"
#include "platform/message_language.h"

namespace vm {
namespace {

// The engine reports a port in use with this message and no error number.
constexpr char kInUseMessage[] = "Could not bind socket. Address and port are already in use.";

std::string Replaced(std::string text, const std::string& mark, const std::string& value) {
  const size_t at = text.find(mark);
  if (at != std::string::npos) text.replace(at, mark.size(), value);
  return text;
}

std::string PortText(int port) { return std::to_string(port); }

}  // namespace

std::string TListenFailure::Reason() const {
  switch (Problem) {
    case TListenProblem::InUse:
      return Replaced(LocalMessage("ポート %p は他のプログラムが使っています。",
                                   "Port %p is in use by another program."),
                      "%p", PortText(Port));
    case TListenProblem::NeedsPrivilege:
      return Replaced(
          LocalMessage("ポート %p を使うには管理者の権限が要ります（1024 より小さい番号）。",
                       "Port %p needs administrator rights (numbers below 1024)."),
          "%p", PortText(Port));
    case TListenProblem::Other:
      break;
  }
  return Replaced(Replaced(LocalMessage("ポート %p で待ち受けできません（%d）。",
                                        "Cannot listen on port %p (%d)."),
                           "%p", PortText(Port)),
                  "%d", Detail);
}

TListenFailure ListenFailureOf(int port, const std::exception& cause) {
  TListenFailure failure;
  failure.Port = port;
  failure.Detail = cause.what();
  int code = 0;
  if (const auto* socketError = dynamic_cast<const EIdSocketError*>(&cause)) {
    code = socketError->ErrorCode();
  } else if (std::strcmp(cause.what(), kInUseMessage) == 0) {
    code = EADDRINUSE;
  }
  if (code == EADDRINUSE) {
    failure.Problem = TListenProblem::InUse;
  } else if (code == EACCES || code == EPERM) {
    failure.Problem = TListenProblem::NeedsPrivilege;
  }
  return failure;
}

EListenError::EListenError(const TListenFailure& failure)
    : Exception(failure.Reason() +
                LocalMessage("\n何も公開していません。「設定」の「システム」タブでポート番号を"
                             "変えてください。",
                             "\nNothing is shared. Change the port number on the System tab of "
                             "the settings.")) {}

EListenError::EListenError(const TListenFailure& failure, int servingPort)
    : Exception(failure.Reason() +
                Replaced(LocalMessage("\nポート %p で公開を続けています。設定は保存していません。",
                                      "\nStill sharing on port %p. The settings were not saved."),
                         "%p", PortText(servingPort))) {}

}  // namespace vm
