// How far one transfer (a body being received, a file being sent) has come, counted by the
// connection thread that moves the bytes and read by whoever shows it. One atomic add per block
// moved: no lock on the way of the bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

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
  // From any thread: the transfer is to end. The hook of whoever moves the bytes runs (at once
  // when it is set already, else when it is set).
  void Cancel() {
    std::lock_guard<std::mutex> lock(hookLock_);
    cancelled_ = true;
    if (cancelHook_) cancelHook_();
  }
  // How the mover is stopped (its socket shut down, say); empty when it lets go. After this
  // returns, a hook taken away is not running and will not run.
  void SetCancelHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(hookLock_);
    cancelHook_ = std::move(hook);
    if (cancelled_ && cancelHook_) cancelHook_();
  }

 private:
  std::mutex hookLock_;  // taken only to cancel and to set the hook, never per block
  bool cancelled_ = false;                // guarded by hookLock_
  std::function<void()> cancelHook_;      // guarded by hookLock_
  std::atomic<int64_t> done_{0};
  std::atomic<int64_t> total_;
};

}  // namespace vm
