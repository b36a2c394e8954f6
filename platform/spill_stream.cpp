#include "platform/spill_stream.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/exception.h"

namespace vm {

namespace {

std::string TemporaryFolder() {
  const char* dir = std::getenv("TMPDIR");
  if (dir != nullptr && dir[0] != '\0') return dir;
  return "/tmp";
}

// An open, already unlinked file in the temporary folder.
int OpenAnonymousFile() {
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

}  // namespace

TSpillStream::TSpillStream(int64_t memoryLimit) : memoryLimit_(memoryLimit) {}

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
  int fd = OpenAnonymousFile();
  try {
    WriteAllAt(fd, memory_.data(), memory_.size(), 0);
  } catch (...) {
    close(fd);
    throw;
  }
  fd_ = fd;
  std::string().swap(memory_);
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
    WriteAllAt(fd_, static_cast<const char*>(buffer), count, position_);
    if (end > size_) {
      Unmap();
      size_ = end;
    }
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

}  // namespace vm
