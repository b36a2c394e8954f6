#include "platform/stream.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace vm {

void TStream::ReleaseView(int64_t, int64_t) {}

bool TStream::CopyRangeTo(int fd, int64_t from, int64_t count) {
  const std::string_view bytes = View();
  if (from < 0 || count < 0 || static_cast<uint64_t>(from) + static_cast<uint64_t>(count) >
                                   bytes.size()) {
    errno = EINVAL;
    return false;
  }
  std::string_view rest = bytes.substr(static_cast<size_t>(from), static_cast<size_t>(count));
  while (!rest.empty()) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    rest.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool TStream::LinkAs(const std::string&, unsigned) {
  errno = EOPNOTSUPP;  // the bytes are in memory: only a copy gives them a name
  return false;
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= Size()) return 0;
  size_t n = std::min(count, static_cast<size_t>(Size() - position_));
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += static_cast<int64_t>(n);
  return n;
}

void TMemoryStream::Write(const void* buffer, size_t count) {
  size_t end = static_cast<size_t>(position_) + count;
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, count);
  position_ = static_cast<int64_t>(end);
}

}  // namespace vm
