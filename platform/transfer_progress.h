// How far one transfer (a body being received, a file being sent) has come, counted by the
// connection thread that moves the bytes and read by whoever shows it. One atomic add per block
// moved: no lock on the way of the bytes.
#pragma once

#include <atomic>
#include <cstdint>

namespace vm {

class TTransferProgress {
 public:
  // total: the bytes the transfer will move; -1 while unknown.
  explicit TTransferProgress(int64_t total = -1) : total_(total) {}

  void SetTotal(int64_t total) { total_.store(total, std::memory_order_relaxed); }
  void Add(uint64_t bytes) {
    done_.fetch_add(static_cast<int64_t>(bytes), std::memory_order_relaxed);
  }
  int64_t Done() const { return done_.load(std::memory_order_relaxed); }
  int64_t Total() const { return total_.load(std::memory_order_relaxed); }
  // From any thread: the transfer is to end; the thread moving the bytes stops at its next block.
  void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }
  bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> cancelled_{false};
  std::atomic<int64_t> done_{0};
  std::atomic<int64_t> total_;
};

}  // namespace vm
