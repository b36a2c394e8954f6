// Why the listener could not have its port, told the way the person at the desktop reads it.
#pragma once

#include <exception>
#include <string>

#include "platform/exception.h"

namespace vm {

enum class TListenProblem {
  InUse,           // another program listens on the port
  NeedsPrivilege,  // ports below 1024 are for privileged programs
  Other,
};

struct TListenFailure {
  int Port = 0;
  TListenProblem Problem = TListenProblem::Other;
  std::string Detail;  // the engine's own message, for Other

  // Which port failed and why, one sentence of system text.
  std::string Reason() const;
};

// Sorts the engine's failure to listen on port by its cause.
TListenFailure ListenFailureOf(int port, const std::exception& cause);

// A port that could not be had. The message says which and why, and what it means: at start (or
// while nothing is served) that nothing is served and where the port is changed; after a move
// that the old port goes on serving and nothing was saved.
class EListenError : public Exception {
 public:
  // Nothing is being served.
  explicit EListenError(const TListenFailure& failure);
  // The listener stays on servingPort.
  EListenError(const TListenFailure& failure, int servingPort);
};

}  // namespace vm
