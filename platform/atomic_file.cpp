#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/exception.h"
#include "platform/fs_names.h"

namespace vm {

bool WriteAllBytes(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool ReplaceFileAtomically(std::string tempTemplate, const std::string& nativeTarget,
                           std::string_view data, mode_t mode) {
  // The temporary file lies in the target's folder, so the rename replaces the file in one
  // step. Close-on-exec: a program started meanwhile (the browser opener) inherits nothing.
  const int fd = ::mkostemp(tempTemplate.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = WriteAllBytes(fd, data);
  ok = ::fchmod(fd, mode) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(tempTemplate.c_str(), nativeTarget.c_str()) != 0) {
    ::unlink(tempTemplate.c_str());
    return false;
  }
  return true;
}

std::string JoinCrLfLines(const std::vector<std::string>& lines) {
  size_t total = 0;
  for (const std::string& line : lines) total += line.size() + 2;
  std::string content;
  content.reserve(total);
  for (const std::string& line : lines) {
    content += line;
    content += "\r\n";
  }
  return content;
}

void WriteFileAtomically(const std::string& systemPath, std::string_view content, mode_t mode) {
  const std::string target = SystemToNative(systemPath);
  if (!ReplaceFileAtomically(target + std::string(kAtomicTemporarySuffix), target, content, mode)) {
    throw EFCreateError(systemPath);
  }
}

}  // namespace vm
