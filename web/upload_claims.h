// One request at a time per resumable upload. A phone whose network dropped leaves its request
// hanging in the server until the idle limit; when the same upload comes back on a new
// connection, the old request is ended at once rather than waited for. Which is old goes by the
// connections' age, not by which request got here first: a request from an older connection
// that arrives late (its thread was slow) never ends the newer one.
#pragma once

#include <chrono>
#include <string>

#include "http/tcp_connection.h"

namespace vm {

// The claim of one request on an upload id; released when it ends.
class TUploadClaim {
 public:
  // Longest wait for an older request on the same upload to let go once its connection is
  // closed: it is then only finishing a write.
  static constexpr std::chrono::seconds kTakeOverWait{10};

  // Claims id for the request on connection. A claim from an older connection is ended first:
  // its connection is closed, so that its read fails and it lets go. Claimed() is false when a
  // newer connection holds the claim, or when the older one did not let go within
  // kTakeOverWait.
  TUploadClaim(std::string id, TIdTCPConnection* connection);
  ~TUploadClaim();
  TUploadClaim(const TUploadClaim&) = delete;
  TUploadClaim& operator=(const TUploadClaim&) = delete;

  bool Claimed() const { return claimed_; }

 private:
  std::string id_;
  bool claimed_ = false;
};

}  // namespace vm
