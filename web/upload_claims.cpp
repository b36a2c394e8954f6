#include "web/upload_claims.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace vm {

namespace {

// The claims of the whole process, by upload id; the connection of each claim's request.
struct TClaims {
  std::mutex mutex_;
  std::condition_variable released_;                  // signalled by every release
  std::map<std::string, TIdTCPConnection*> holders_;  // guarded by mutex_
};

TClaims& Claims() {
  static TClaims claims;
  return claims;
}

}  // namespace

TUploadClaim::TUploadClaim(std::string id, TIdTCPConnection* connection) : id_(std::move(id)) {
  TClaims& claims = Claims();
  std::unique_lock<std::mutex> lock(claims.mutex_);
  const auto deadline = std::chrono::steady_clock::now() + kTakeOverWait;
  // The newest connection wins: an older one that took the claim while this one waited is
  // ended too.
  for (auto held = claims.holders_.find(id_); held != claims.holders_.end();
       held = claims.holders_.find(id_)) {
    // Its holder cannot release (and so end its connection) without this lock.
    if (held->second != nullptr && connection != nullptr &&
        held->second->Serial() > connection->Serial()) {
      return;  // this request is the stale one
    }
    if (held->second != nullptr) held->second->CloseSocket();
    if (claims.released_.wait_until(lock, deadline) == std::cv_status::timeout &&
        claims.holders_.count(id_) != 0) {
      return;
    }
  }
  claims.holders_.emplace(id_, connection);
  claimed_ = true;
}

TUploadClaim::~TUploadClaim() {
  if (!claimed_) return;
  TClaims& claims = Claims();
  {
    std::lock_guard<std::mutex> lock(claims.mutex_);
    claims.holders_.erase(id_);
  }
  claims.released_.notify_all();
}

}  // namespace vm
