#include "web/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/atomic_file.h"
#include "platform/exception.h"
#include "platform/fs_names.h"
#include "platform/sjis.h"

namespace vm {

namespace {

constexpr std::string_view kPageExtension = ".html";
// The page on disk is compared in reads of this size: a large listing needs no second buffer
// of its own size.
constexpr size_t kCompareChunk = 32 * 1024;
// A page written as it is made goes to its file in writes of this size.
constexpr size_t kWriteChunk = 64 * 1024;

// True when the file holds exactly these bytes. A page is mostly the same as the one written
// for the previous request; reading it back is far cheaper than creating and renaming a file,
// which also serialises every writer on the page folder.
bool HoldsExactly(const std::string& nativePath, std::string_view content) {
  // O_NONBLOCK: something other than a file in the page's place (a FIFO) must not hold the
  // request until a writer comes; it is replaced like any page that differs.
  const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  // A page left readable by others (by an earlier version) is written anew, with the page mode.
  bool same = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              (info.st_mode & 07777) == kPageFileMode &&
              static_cast<uint64_t>(info.st_size) == content.size();
  if (same) {
    // One byte more than the page is asked for, so that a file grown meanwhile shows.
    char chunk[kCompareChunk + 1];
    size_t got = 0;
    while (same) {
      const size_t wanted = std::min(kCompareChunk, content.size() - got) + 1;
      const ssize_t n = ::read(fd, chunk, wanted);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      const size_t read = static_cast<size_t>(n);
      same = got + read <= content.size() &&
             std::string_view(chunk, read) == content.substr(got, read);
      got += read;
      // A regular file reads short only at its end: no further call to learn that.
      if (read < wanted) break;
    }
    same = same && got == content.size();
  }
  ::close(fd);
  return same;
}

bool IsAsciiLetterOrDigit(char c) {
  return (c >= '0' && c <= '9') || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z');
}

}  // namespace

std::string WritePageFile(const std::string& path, const std::vector<std::string>& lines) {
  return WritePageText(path, JoinCrLfLines(lines));
}

std::string WritePageText(const std::string& path, std::string content) {
  const std::string target = SystemToNative(path);
  if (!HoldsExactly(target, content)) WriteFileAtomically(path, content, kPageFileMode);
  return content;
}

TPageFileWriter::TPageFileWriter(const std::string& path)
    : path_(path), temporary_(SystemToNative(path) + std::string(kAtomicTemporarySuffix)) {
  // In the page's folder, so that the rename replaces the page in one step.
  file_.Reset(::mkostemp(temporary_.data(), O_CLOEXEC));
  if (!file_) throw EFCreateError(path_);
  pending_.reserve(kWriteChunk);
}

TPageFileWriter::~TPageFileWriter() {
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void TPageFileWriter::Append(std::string_view bytes) {
  if (pending_.size() + bytes.size() > kWriteChunk) Flush();
  if (bytes.size() > kWriteChunk) {
    if (!WriteAllBytes(file_.Get(), bytes)) throw EFCreateError(path_);
    return;
  }
  pending_ += bytes;
}

void TPageFileWriter::Flush() {
  if (!WriteAllBytes(file_.Get(), pending_)) throw EFCreateError(path_);
  pending_.clear();
}

TUniqueFd TPageFileWriter::Commit() {
  Flush();
  if (::fchmod(file_.Get(), kPageFileMode) != 0 ||
      ::rename(temporary_.c_str(), SystemToNative(path_).c_str()) != 0) {
    throw EFCreateError(path_);
  }
  temporary_.clear();
  // The descriptor was opened for writing as well: served by offset, it is read from the start.
  return std::move(file_);
}

bool IsPageFileTemporaryName(std::string_view name) {
  const size_t randomLength = kAtomicTemporarySuffix.size() - 1;  // the "." is not chosen
  if (name.size() < kPageExtension.size() + kAtomicTemporarySuffix.size()) return false;
  const std::string_view random = name.substr(name.size() - randomLength);
  const std::string_view rest = name.substr(0, name.size() - kAtomicTemporarySuffix.size());
  return name[rest.size()] == '.' &&
         std::all_of(random.begin(), random.end(), IsAsciiLetterOrDigit) &&
         EqualTextIgnoreCase(rest.substr(rest.size() - kPageExtension.size()), kPageExtension);
}

std::string PageFilePath(const std::string& programFolder, const std::string& kind,
                         const std::string& address) {
  return programFolder + "page/" + kind + "_" + address + std::string(kPageExtension);
}

std::string RequestStamp() { return RequestStampAt(std::chrono::system_clock::now()); }

std::string RequestStampAt(std::chrono::system_clock::time_point moment) {
  using namespace std::chrono;
  const auto sinceEpoch = moment.time_since_epoch();
  const std::time_t seconds =
      static_cast<std::time_t>(duration_cast<std::chrono::seconds>(sinceEpoch).count());
  const int millis = static_cast<int>(duration_cast<milliseconds>(sinceEpoch).count() % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d%02d%02d%03d", local.tm_year % 100,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis);
  return stamp;
}

}  // namespace vm
