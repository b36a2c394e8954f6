#include "support/waiting.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
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

bool OthersAsleep() {
  const std::string self = std::to_string(gettid());
  std::error_code ignored;  // a thread that ends meanwhile is as good as asleep
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ignored)) {
    if (task.path().filename() == self) continue;
    // "tid (name) S ...": the state letter follows the last ")", as the name may hold one.
    std::string stat;
    std::getline(std::ifstream(task.path() / "stat"), stat);
    const size_t close = stat.rfind(')');
    const char state = close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
    if (state == 'R' || state == 'D') return false;  // running, or in a disk wait
  }
  return true;
}

}  // namespace vmtest
