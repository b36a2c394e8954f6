#include "support/waiting.h"

#include <thread>

namespace vmtest {

namespace {
// Short enough that a test never waits noticeably longer than its condition takes.
constexpr std::chrono::milliseconds kPollInterval{5};
}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(kPollInterval);
  }
  return condition();
}

}  // namespace vmtest
