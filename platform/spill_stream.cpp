#include "platform/spill_stream.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/exception.h"

namespace vm {

namespace {

std::string TemporaryFolder() {
  const char* dir = std::getenv("TMPDIR");
  if (dir != nullptr && dir[0] != '\0') return dir;
  return "/tmp";
}

// Bytes moved per step when the kernel cannot copy between the two files itself.
constexpr size_t kCopyBlock = 256 * 1024;

// An open, already unlinked file: a nameless one in preferredFolder when it can have one there,
// else one in the temporary folder.
int OpenAnonymousFile(const std::string& preferredFolder) {
  if (!preferredFolder.empty()) {
    // No named fallback here: a file in that folder must never be seen, even for a moment.
    int fd = open(preferredFolder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
  }
  const std::string dir = TemporaryFolder();
  int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // Some file systems have no O_TMPFILE: make a named file and unlink it at once.
  std::string pattern = dir + "/velmarind-body-XXXXXX";
  fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0)
    throw Exception("cannot create a temporary file in " + dir + ": " + std::strerror(errno));
  unlink(pattern.c_str());
  return fd;
}

void WriteAllAt(int fd, const char* data, size_t count, int64_t offset) {
  while (count > 0) {
    ssize_t n = pwrite(fd, data, count, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Exception(std::string("cannot write the request body: ") + std::strerror(errno));
    }
    data += n;
    count -= static_cast<size_t>(n);
    offset += n;
  }
}

// True for the errors by which copy_file_range says it cannot copy between these two files
// (another file system, an old kernel, a file kind it does not handle), as opposed to a failed
// write.
bool KernelCannotCopy(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP ||
         error == EBADF;
}

// Copies by read and write through a small buffer; false on an error, with errno set.
bool CopyThroughBuffer(int in, int64_t from, int64_t count, int out) {
  std::vector<char> block(static_cast<size_t>(std::min<int64_t>(count, kCopyBlock)));
  while (count > 0) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(count, kCopyBlock));
    const ssize_t got = pread(in, block.data(), want, from);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;  // the file is shorter than the stream says
      return false;
    }
    const char* data = block.data();
    size_t left = static_cast<size_t>(got);
    while (left > 0) {
      const ssize_t put = write(out, data, left);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        if (put == 0) errno = EIO;
        return false;
      }
      data += put;
      left -= static_cast<size_t>(put);
    }
    from += got;
    count -= got;
  }
  return true;
}

}  // namespace

TSpillStream::TSpillStream(int64_t memoryLimit, std::string fileFolder)
    : memoryLimit_(memoryLimit), fileFolder_(std::move(fileFolder)) {}

TSpillStream::~TSpillStream() {
  Unmap();
  if (fd_ >= 0) close(fd_);
}

void TSpillStream::Unmap() {
  if (map_ != nullptr) munmap(map_, mapSize_);
  map_ = nullptr;
  mapSize_ = 0;
}

void TSpillStream::SpillToFile() {
  int fd = OpenAnonymousFile(fileFolder_);
  try {
    WriteAllAt(fd, memory_.data(), memory_.size(), 0);
  } catch (...) {
    close(fd);
    throw;
  }
  fd_ = fd;
  fileSize_ = static_cast<int64_t>(memory_.size());
  std::string().swap(memory_);
}

void TSpillStream::GrowFile(int64_t end) {
  if (end <= fileSize_) return;
  // Doubled, so that a body written in blocks extends the file a few times, not once per block
  // (on ext4 every write past the end also writes the inode: several times slower). The room
  // past the bytes is sparse, and cut off before the file gets a name.
  const int64_t size = linked_ ? end : std::max(end, 2 * fileSize_);
  if (ftruncate(fd_, size) != 0) {
    throw Exception(std::string("cannot size the request body: ") + std::strerror(errno));
  }
  fileSize_ = size;
}

void TSpillStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  // An announced size past the limit goes to the file at once: a huge Content-Length must not
  // be allocated in memory.
  if (!Spilled() && size > memoryLimit_) SpillToFile();
  if (Spilled()) {
    if (size != size_) Unmap();
    if (ftruncate(fd_, size) != 0) {
      throw Exception(std::string("cannot size the request body: ") + std::strerror(errno));
    }
    fileSize_ = size;
  } else {
    memory_.resize(static_cast<size_t>(size));
  }
  size_ = size;
}

size_t TSpillStream::Read(void* buffer, size_t count) {
  if (position_ >= size_ || count == 0) return 0;
  size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - position_));
  if (!Spilled()) {
    std::memcpy(buffer, memory_.data() + position_, n);
  } else {
    size_t done = 0;
    while (done < n) {
      ssize_t got = pread(fd_, static_cast<char*>(buffer) + done, n - done,
                          position_ + static_cast<int64_t>(done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    n = done;
  }
  position_ += static_cast<int64_t>(n);
  return n;
}

void TSpillStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  const int64_t end = position_ + static_cast<int64_t>(count);
  if (!Spilled() && end > memoryLimit_) SpillToFile();
  if (Spilled()) {
    GrowFile(end);
    WriteAllAt(fd_, static_cast<const char*>(buffer), count, position_);
    if (end > size_) {
      Unmap();
      size_ = end;
    }
  } else if (position_ == static_cast<int64_t>(memory_.size())) {
    // The usual case, a body arriving in order: the memory grows with it, geometrically.
    memory_.append(static_cast<const char*>(buffer), count);
    size_ = end;
  } else {
    if (static_cast<size_t>(end) > memory_.size()) memory_.resize(static_cast<size_t>(end));
    std::memcpy(memory_.data() + position_, buffer, count);
    size_ = std::max(size_, end);
  }
  position_ = end;
}

std::string_view TSpillStream::View() {
  if (!Spilled()) return memory_;
  if (size_ == 0) return {};
  if (map_ == nullptr) {
    void* map = mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED) {
      throw Exception(std::string("cannot map the request body: ") + std::strerror(errno));
    }
    map_ = map;
    mapSize_ = static_cast<size_t>(size_);
  }
  return std::string_view(static_cast<const char*>(map_), mapSize_);
}

void TSpillStream::ReleaseView(int64_t from, int64_t to) {
  if (map_ == nullptr) return;  // bytes in memory are the only copy: never dropped
  const int64_t page = sysconf(_SC_PAGESIZE);
  from = std::max<int64_t>(from, 0);
  to = std::min<int64_t>(to, static_cast<int64_t>(mapSize_));
  // Only whole pages inside the range, except that the range may end with the mapping.
  const int64_t start = (from + page - 1) / page * page;
  const int64_t end = to == static_cast<int64_t>(mapSize_) ? to : to / page * page;
  if (end <= start) return;
  // The mapping is a shared one of the file: dropping its pages keeps the bytes in the file.
  madvise(static_cast<char*>(map_) + start, static_cast<size_t>(end - start), MADV_DONTNEED);
}

bool TSpillStream::CopyRangeTo(int fd, int64_t from, int64_t count) {
  if (!Spilled()) return TStream::CopyRangeTo(fd, from, count);
  if (from < 0 || count < 0 || from + count > size_) {
    errno = EINVAL;
    return false;
  }
  loff_t in = from;
  while (count > 0) {
    const ssize_t n = copy_file_range(fd_, &in, fd, nullptr, static_cast<size_t>(count), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && KernelCannotCopy(errno)) return CopyThroughBuffer(fd_, in, count, fd);
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    count -= n;
  }
  return true;
}

bool TSpillStream::LinkAs(const std::string& nativePath, unsigned mode) {
  if (!Spilled()) return TStream::LinkAs(nativePath, mode);
  if (fchmod(fd_, static_cast<mode_t>(mode)) != 0) return false;
  // The file is to hold exactly the bytes, now and after later writes.
  if (fileSize_ != size_ && ftruncate(fd_, size_) != 0) return false;
  fileSize_ = size_;
  linked_ = true;
  // Linking a nameless file by its descriptor needs a privilege; through its /proc entry, not.
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, nativePath.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace vm
