#include "web/login_throttle.h"

#include <algorithm>

namespace vm {

TLoginThrottle::TLoginThrottle(TClock::duration firstDelay) : firstDelay_(firstDelay) {}

TLoginThrottle::TClock::duration TLoginThrottle::DelayOf(int attempt) const {
  if (attempt <= kFreeAttempts) return TClock::duration::zero();
  return firstDelay_ * (1 << std::min(attempt - kFreeAttempts - 1, kMaxDoublings));
}

bool TLoginThrottle::MakeRoom(TClock::time_point now) {
  std::erase_if(entries_,
                [&](const auto& item) { return now - item.second.lastSeen > kForgetAfter; });
  if (entries_.size() < kMaxAddresses) return true;
  // The fewest attempts go first, the longest quiet among them; never one that is delayed.
  auto dropped = entries_.end();
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    const TEntry& entry = it->second;
    if (entry.attempts >= kFreeAttempts) continue;
    if (dropped == entries_.end() || entry.attempts < dropped->second.attempts ||
        (entry.attempts == dropped->second.attempts && entry.lastSeen < dropped->second.lastSeen)) {
      dropped = it;
    }
  }
  if (dropped != entries_.end()) {
    entries_.erase(dropped);
    return true;
  }
  return entries_.size() < kMaxTrackedAddresses;
}

bool TLoginThrottle::Crowded(TClock::time_point now) {
  while (!recent_.empty() && now - recent_.front() >= std::chrono::seconds(1)) {
    recent_.pop_front();
  }
  return recent_.size() >= static_cast<size_t>(kMaxWrongPerSecond);
}

std::optional<TLoginThrottle::TClock::time_point> TLoginThrottle::Reserve(
    const std::string& address, TClock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = entries_.find(address);
  if (found != entries_.end() && now - found->second.lastSeen > kForgetAfter) {
    found->second = TEntry{};
  }
  if (found == entries_.end()) {
    if (entries_.size() >= kMaxAddresses && !MakeRoom(now)) return std::nullopt;
    found = entries_.emplace(address, TEntry{}).first;
  }
  TEntry& entry = found->second;
  TClock::time_point turn = std::max(now, entry.nextCheck) + DelayOf(entry.attempts + 1);
  if (turn - now > DelayOf(kFreeAttempts + 1 + kMaxDoublings)) return std::nullopt;
  if (Crowded(now)) turn = std::max(turn, now + firstDelay_);
  recent_.push_back(now);
  if (recent_.size() > static_cast<size_t>(kMaxWrongPerSecond)) recent_.pop_front();
  ++entry.attempts;
  entry.nextCheck = turn;
  entry.lastSeen = now;
  return turn;
}

TLoginThrottle::TClock::duration TLoginThrottle::WaitAhead(const std::string& address,
                                                          TClock::time_point now) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = entries_.find(address);
  if (found == entries_.end() || now - found->second.lastSeen > kForgetAfter) {
    return TClock::duration::zero();
  }
  const TEntry& entry = found->second;
  const TClock::duration wait =
      std::max(now, entry.nextCheck) - now + DelayOf(entry.attempts + 1);
  return std::min(wait, DelayOf(kFreeAttempts + 1 + kMaxDoublings));
}

void TLoginThrottle::Succeeded(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase(address);
  if (!recent_.empty()) recent_.pop_back();
}

size_t TLoginThrottle::TrackedAddresses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

bool TLoginThrottle::WaitForTurn(const std::string& address) {
  const std::optional<TClock::time_point> turn = Reserve(address, TClock::now());
  std::unique_lock<std::mutex> lock(waitMutex_);
  if (!turn) return false;
  wake_.wait_until(lock, *turn, [this] { return stopped_; });
  return !stopped_;
}

void TLoginThrottle::Stop() {
  {
    std::lock_guard<std::mutex> lock(waitMutex_);
    stopped_ = true;
  }
  wake_.notify_all();
}

void TLoginThrottle::Start() {
  std::lock_guard<std::mutex> lock(waitMutex_);
  stopped_ = false;
}

}  // namespace vm
