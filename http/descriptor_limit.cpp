#include "http/descriptor_limit.h"

#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>

namespace vm {

namespace {

// What an unlimited limit counts as: no connection budget comes near it.
constexpr size_t kUnlimited = size_t{1} << 30;

size_t AsCount(rlim_t value) {
  if (value == RLIM_INFINITY) return kUnlimited;
  return static_cast<size_t>(std::min<rlim_t>(value, kUnlimited));
}

}  // namespace

size_t RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return AsCount(limit.rlim_cur);
}

size_t DescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  return AsCount(limit.rlim_cur);
}

size_t OpenDescriptorCount() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return 0;
  size_t count = 0;
  while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count - std::min<size_t>(count, 1);  // the directory's own descriptor
}

}  // namespace vm
