#include "support/process_figures.h"

#include <dirent.h>

#include <cstring>
#include <fstream>
#include <string>

namespace vmtest {

namespace {

// Entries of a folder of /proc but "." and ".."; a listing of /proc/self/fd does not count
// the descriptor it reads through.
int CountEntries(const char* folder) {
  int count = 0;
  if (DIR* dir = opendir(folder)) {
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count - (std::strcmp(folder, "/proc/self/fd") == 0 ? 1 : 0);
}

}  // namespace

long StatusKiB(std::string_view field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.size() > field.size() && line.compare(0, field.size(), field) == 0 &&
        line[field.size()] == ':') {
      return std::stol(line.substr(field.size() + 1));
    }
  }
  return -1;
}

int ThreadCount() { return CountEntries("/proc/self/task"); }
int DescriptorCount() { return CountEntries("/proc/self/fd"); }

}  // namespace vmtest
