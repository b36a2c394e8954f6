#include "dav/dav_locks.h"

#include <algorithm>
#include <charconv>
#include <random>

#include "platform/sjis.h"

namespace vm {

namespace {

std::string NewToken() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::random_device random;
  std::string uuid;
  for (int k = 0; k < 32; ++k) {
    unsigned digit = random() & 15;
    if (k == 12) digit = 4;                  // version 4: random
    if (k == 16) digit = 8 | (digit & 3);    // the variant of RFC 4122
    uuid += kHex[digit];
    if (k == 7 || k == 11 || k == 15 || k == 19) uuid += '-';
  }
  return "opaquelocktoken:" + uuid;
}

bool CoversPath(const TDavLock& lock, const TDavPath& path) {
  if (!IsSameOrBelow(path, lock.Root)) return false;
  return lock.Infinite || path.Segments.size() == lock.Root.Segments.size();
}

}  // namespace

void TDavLockTable::Expire(TClock::time_point now) const {
  std::erase_if(locks_, [now](const TDavLock& lock) { return lock.Expires <= now; });
}

TDavLockTable::TOutcome TDavLockTable::Lock(TDavLock& lock, TClock::time_point now) {
  std::lock_guard<std::mutex> guard(mutex_);
  Expire(now);
  for (const TDavLock& held : locks_) {
    const bool meets = CoversPath(held, lock.Root) ||
                       (lock.Infinite && IsSameOrBelow(held.Root, lock.Root));
    if (meets && (held.Exclusive || lock.Exclusive)) return TOutcome::Conflict;
  }
  const size_t mine = static_cast<size_t>(std::count_if(
      locks_.begin(), locks_.end(), [&](const TDavLock& held) { return held.Address == lock.Address; }));
  if (locks_.size() >= kMaxLocks || mine >= kMaxLocksPerAddress) return TOutcome::TooMany;
  lock.Token = NewToken();
  if (lock.Timeout <= std::chrono::seconds(0)) lock.Timeout = kDefaultTimeout;
  lock.Expires = now + lock.Timeout;
  locks_.push_back(lock);
  return TOutcome::Granted;
}

std::optional<TDavLock> TDavLockTable::Refresh(std::string_view token, const TDavPath& path,
                                               std::chrono::seconds timeout,
                                               TClock::time_point now) {
  std::lock_guard<std::mutex> guard(mutex_);
  Expire(now);
  for (TDavLock& held : locks_) {
    if (held.Token != token || !CoversPath(held, path)) continue;
    if (timeout > std::chrono::seconds(0)) held.Timeout = timeout;
    held.Expires = now + held.Timeout;
    return held;
  }
  return std::nullopt;
}

bool TDavLockTable::Unlock(std::string_view token, const TDavPath& path, TClock::time_point now) {
  std::lock_guard<std::mutex> guard(mutex_);
  Expire(now);
  const size_t before = locks_.size();
  std::erase_if(locks_, [&](const TDavLock& held) {
    return held.Token == token && CoversPath(held, path);
  });
  return locks_.size() != before;
}

bool TDavLockTable::Empty(TClock::time_point now) const {
  std::lock_guard<std::mutex> guard(mutex_);
  Expire(now);
  return locks_.empty();
}

std::vector<TDavLock> TDavLockTable::Covering(const TDavPath& path, TClock::time_point now) const {
  return Affecting(path, false, now);
}

std::vector<TDavLock> TDavLockTable::Affecting(const TDavPath& path, bool below,
                                               TClock::time_point now) const {
  std::lock_guard<std::mutex> guard(mutex_);
  Expire(now);
  std::vector<TDavLock> found;
  for (const TDavLock& held : locks_) {
    if (CoversPath(held, path) || (below && IsSameOrBelow(held.Root, path))) found.push_back(held);
  }
  return found;
}

bool TDavLockTable::Covers(std::string_view token, const TDavPath& path,
                           TClock::time_point now) const {
  std::lock_guard<std::mutex> guard(mutex_);
  Expire(now);
  return std::any_of(locks_.begin(), locks_.end(), [&](const TDavLock& held) {
    return held.Token == token && CoversPath(held, path);
  });
}

void TDavLockTable::Forget(const TDavPath& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::erase_if(locks_, [&](const TDavLock& held) { return IsSameOrBelow(held.Root, path); });
}

std::chrono::seconds TDavLockTable::ParseTimeout(std::string_view header) {
  const std::string_view first = TrimView(header.substr(0, header.find(',')));
  constexpr std::string_view kSecond = "Second-";
  if (first.size() > kSecond.size() && EqualTextIgnoreCase(first.substr(0, kSecond.size()), kSecond)) {
    const std::string_view digits = first.substr(kSecond.size());
    long long seconds = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), seconds);
    if (error == std::errc::result_out_of_range) return kMaxTimeout;
    if (error == std::errc() && end == digits.data() + digits.size() && seconds > 0) {
      return std::min(std::chrono::seconds(seconds), kMaxTimeout);
    }
  }
  if (EqualTextIgnoreCase(first, "Infinite")) return kMaxTimeout;
  return kDefaultTimeout;
}

std::optional<std::vector<TIfList>> ParseIfHeader(std::string_view header) {
  std::vector<TIfList> lists;
  std::string resource;
  size_t k = 0;
  auto skipSpace = [&] {
    while (k < header.size() && (header[k] == ' ' || header[k] == '\t')) ++k;
  };
  for (;;) {
    skipSpace();
    if (k >= header.size()) break;
    if (header[k] == '<') {  // a resource tag for the lists that follow
      const size_t end = header.find('>', k);
      if (end == std::string_view::npos) return std::nullopt;
      resource = std::string(header.substr(k + 1, end - k - 1));
      k = end + 1;
      continue;
    }
    if (header[k] != '(') return std::nullopt;
    ++k;
    TIfList list{resource, {}};
    for (;;) {
      skipSpace();
      if (k >= header.size()) return std::nullopt;
      if (header[k] == ')') {
        ++k;
        break;
      }
      TIfCondition condition;
      if (header.substr(k, 3) == "Not" || header.substr(k, 3) == "not") {
        condition.Not = true;
        k += 3;
        skipSpace();
      }
      if (k >= header.size()) return std::nullopt;
      const char open = header[k];
      const char close = open == '<' ? '>' : open == '[' ? ']' : '\0';
      if (close == '\0') return std::nullopt;
      const size_t end = header.find(close, k + 1);
      if (end == std::string_view::npos) return std::nullopt;
      condition.IsEtag = open == '[';
      condition.Value = std::string(header.substr(k + 1, end - k - 1));
      k = end + 1;
      list.Conditions.push_back(std::move(condition));
    }
    if (list.Conditions.empty()) return std::nullopt;
    lists.push_back(std::move(list));
  }
  if (lists.empty()) return std::nullopt;
  return lists;
}

std::vector<std::string> SubmittedTokens(const std::vector<TIfList>& lists) {
  std::vector<std::string> tokens;
  for (const TIfList& list : lists) {
    for (const TIfCondition& condition : list.Conditions) {
      if (!condition.Not && !condition.IsEtag) tokens.push_back(condition.Value);
    }
  }
  return tokens;
}

}  // namespace vm
