#include "support/waiting.h"

#include <dirent.h>
#include <unistd.h>

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
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return false;
  bool asleep = true;
  while (const dirent* entry = readdir(tasks)) {
    const std::string tid = entry->d_name;
    if (tid[0] == '.' || tid == self) continue;
    // "tid (name) S ...": the state letter follows the last ")", as the name may hold one. A
    // thread that has ended meanwhile reads as nothing.
    std::string stat;
    std::getline(std::ifstream("/proc/self/task/" + tid + "/stat"), stat);
    const size_t close = stat.rfind(')');
    const char state = close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
    if (state == 'R' || state == 'D') asleep = false;  // running, or in a disk wait
  }
  closedir(tasks);
  return asleep;
}

}  // namespace vmtest
