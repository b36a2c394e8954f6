// Slows password guessing per client address.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace vm {

// After kFreeAttempts wrong passwords from one address, each further attempt from that address
// is checked only after a delay: the first delay, then twice as long each time, up to
// kMaxDoublings doublings (1 s, 2 s, ... 64 s). A correct password starts the count again.
// Attempts that arrive together queue one behind the other, so parallel connections guess no
// faster than one. Other addresses are slowed only by a crowd: above kMaxWrongPerSecond
// attempts a second from all addresses together, every further attempt waits at least the
// first delay, so that many addresses with their free attempts each still guess slowly.
class TLoginThrottle {
 public:
  using TClock = std::chrono::steady_clock;

  static constexpr int kFreeAttempts = 5;
  static constexpr int kMaxDoublings = 6;
  static constexpr int kMaxWrongPerSecond = 20;
  // Addresses are forgotten after this long without an attempt. A new address beyond
  // kMaxAddresses takes the place of the one with the fewest attempts (the longest quiet among
  // those); an address still delayed is never dropped, as it would get its free attempts
  // again. Only delayed addresses fill the table beyond kMaxAddresses, up to
  // kMaxTrackedAddresses: past that, new addresses are refused until some are forgotten. A
  // flood of addresses costs bounded memory.
  static constexpr auto kForgetAfter = std::chrono::hours(1);
  static constexpr size_t kMaxAddresses = 4096;
  static constexpr size_t kMaxTrackedAddresses = 65536;

  explicit TLoginThrottle(TClock::duration firstDelay = std::chrono::seconds(1));

  // Counts an attempt from address that arrives at now and returns when it may be checked; nothing
  // when its turn would lie further ahead than the longest delay (it is then not counted, and is
  // answered as a wrong password without a check, holding no thread for longer).
  std::optional<TClock::time_point> Reserve(const std::string& address, TClock::time_point now);
  // How long an attempt from address arriving at now would wait for its check, without counting
  // it: zero while it has free attempts left; the longest delay when none would be given.
  TClock::duration WaitAhead(const std::string& address, TClock::time_point now) const;
  // A correct password from address: its count starts again, and it is no wrong password
  // of the crowd.
  void Succeeded(const std::string& address);
  // Addresses held now.
  size_t TrackedAddresses() const;

  // Reserves a turn for address and waits for it. False when the attempt must not be checked:
  // refused by Reserve, or Stop was called. Waiting holds none of the table's lock.
  bool WaitForTurn(const std::string& address);
  // Ends every wait at once and refuses new ones (the server is stopping) until Start.
  void Stop();
  void Start();

 private:
  struct TEntry {
    int attempts = 0;                // since the last correct password
    TClock::time_point nextCheck{};  // the latest turn given out
    TClock::time_point lastSeen{};
  };
  TClock::duration DelayOf(int attempt) const;
  // Room for one more address; false when every entry is still delayed and the table is full.
  bool MakeRoom(TClock::time_point now);  // requires mutex_
  // True when kMaxWrongPerSecond attempts came in the second before now: one more is too many.
  bool Crowded(TClock::time_point now);  // requires mutex_

  const TClock::duration firstDelay_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, TEntry> entries_;  // guarded by mutex_
  // The latest attempts from all addresses, at most kMaxWrongPerSecond; guarded by mutex_.
  std::deque<TClock::time_point> recent_;

  std::mutex waitMutex_;  // released while a turn is waited for
  std::condition_variable wake_;
  bool stopped_ = false;  // guarded by waitMutex_
};

}  // namespace vm
