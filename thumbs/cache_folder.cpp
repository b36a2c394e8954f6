#include "thumbs/cache_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace vm::thumbs {

void TrimFolder(const std::string& folder, uint64_t budget, uint64_t target) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  struct TEntry {
    std::string Name;
    timespec Changed;
    uint64_t Bytes;
  };
  std::vector<TEntry> entries;
  uint64_t total = 0;
  while (dirent* e = readdir(dir)) {
    struct stat info {};
    if (fstatat(dirfd(dir), e->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) {
      continue;
    }
    // What a file takes on disk: an empty one (a remembered failure) costs a block all the same.
    const uint64_t bytes = std::max<uint64_t>(uint64_t(info.st_blocks) * 512, 512);
    entries.push_back({e->d_name, info.st_mtim, bytes});
    total += bytes;
  }
  closedir(dir);
  if (total <= budget) return;
  std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) {
    return a.Changed.tv_sec != b.Changed.tv_sec ? a.Changed.tv_sec < b.Changed.tv_sec
                                                : a.Changed.tv_nsec < b.Changed.tv_nsec;
  });
  for (const TEntry& entry : entries) {
    if (total <= target) break;
    if (unlink((folder + entry.Name).c_str()) == 0) total -= entry.Bytes;
  }
}

}  // namespace vm::thumbs
