#include "support/waiting.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace vmtest {

namespace {
// Short enough that a test never waits noticeably longer than its condition takes.
constexpr std::chrono::milliseconds kPollInterval{5};

// The state letter of a thread of this process ('R' running, 'D' in a disk wait, 'S' asleep);
// '?' when it has ended.
char ThreadState(const std::string& tid) {
  std::ifstream stat("/proc/self/task/" + tid + "/stat");
  std::string text;
  std::getline(stat, text);
  // "tid (name) S ...": the name may hold spaces and parentheses, the last ")" ends it.
  const size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() ? text[close + 2] : '?';
}
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
  while (dirent* entry = readdir(tasks)) {
    const std::string tid = entry->d_name;
    if (tid[0] == '.' || tid == self) continue;
    const char state = ThreadState(tid);
    if (state == 'R' || state == 'D') asleep = false;
  }
  closedir(tasks);
  return asleep;
}

}  // namespace vmtest
