// Write locks of the file-manager door (class 2): held in memory, per path key, until they are
// released or time out. A lock is a capability: whoever submits its token may use it.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dav/dav_href.h"

namespace vm {

struct TDavLock {
  std::string Token;  // "opaquelocktoken:<uuid>"
  TDavPath Root;      // the locked path
  bool Infinite = true;
  bool Exclusive = true;
  std::string OwnerXml;
  std::string Address;  // who took it, for the bounds
  std::chrono::seconds Timeout{0};
  std::chrono::steady_clock::time_point Expires;
};

// Applies locks to paths. Thread-safe.
class TDavLockTable {
 public:
  using TClock = std::chrono::steady_clock;
  // A client may hold this many locks, and all clients together this many: locks cost memory,
  // and a stranger must not be able to lock the whole tree away name by name.
  static constexpr size_t kMaxLocksPerAddress = 256;
  static constexpr size_t kMaxLocks = 4096;
  // Timeouts asked for are cut to this; "Infinite" gets it too.
  static constexpr std::chrono::seconds kMaxTimeout{24 * 3600};
  static constexpr std::chrono::seconds kDefaultTimeout{3600};

  enum class TOutcome { Granted, Conflict, TooMany };
  // Takes a new lock on path; conflicts with any exclusive lock meeting it (or any lock, when
  // the new one is exclusive): one covering path, or below it when the new one is infinite.
  TOutcome Lock(TDavLock& lock, TClock::time_point now = TClock::now());
  // Renews the lock of that token when it covers path; the renewed lock, or nothing.
  std::optional<TDavLock> Refresh(std::string_view token, const TDavPath& path,
                                  std::chrono::seconds timeout, TClock::time_point now = TClock::now());
  // Releases the lock of that token when it covers path.
  bool Unlock(std::string_view token, const TDavPath& path, TClock::time_point now = TClock::now());

  // True when no lock is held.
  bool Empty(TClock::time_point now = TClock::now()) const;
  // The locks that cover path: on it, or infinite on a collection above it.
  std::vector<TDavLock> Covering(const TDavPath& path, TClock::time_point now = TClock::now()) const;
  // The locks a change at path must show a token for: those covering it, and with below also
  // those on paths below it (a collection deleted or moved as a whole).
  std::vector<TDavLock> Affecting(const TDavPath& path, bool below,
                                  TClock::time_point now = TClock::now()) const;
  // True when token is a live lock covering path.
  bool Covers(std::string_view token, const TDavPath& path, TClock::time_point now = TClock::now()) const;
  // Drops the locks on path and below it (the resource is gone).
  void Forget(const TDavPath& path);

  // The timeout of a "Timeout" header: the first value it offers, cut to kMaxTimeout.
  static std::chrono::seconds ParseTimeout(std::string_view header);

 private:
  void Expire(TClock::time_point now) const;  // requires mutex_

  mutable std::mutex mutex_;
  mutable std::vector<TDavLock> locks_;  // guarded by mutex_
};

// One condition of an "If" header list.
struct TIfCondition {
  bool Not = false;
  bool IsEtag = false;
  std::string Value;  // the state token (without "<>") or the entity tag (with its quotes)
};
struct TIfList {
  std::string Resource;  // the tag (a URL or path) for a tagged list; "" for the request's own
  std::vector<TIfCondition> Conditions;
};
// The lists of an "If" header; nullopt when it cannot be read.
std::optional<std::vector<TIfList>> ParseIfHeader(std::string_view header);

// The state tokens of the lists (those not negated): what the client says it holds.
std::vector<std::string> SubmittedTokens(const std::vector<TIfList>& lists);

}  // namespace vm
