#include "web/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/exception.h"
#include "platform/fs_names.h"
#include "platform/sjis.h"

namespace vm {

namespace {

constexpr char kLineEnd[] = "\r\n";
// mkstemp's template: it replaces the six "X" with letters and digits.
constexpr std::string_view kTemporarySuffix = ".XXXXXX";
constexpr std::string_view kPageExtension = ".html";
// Page files are ordinary documents: readable by everyone like any file the user creates
// (mkstemp alone would leave them owner-only).
constexpr mode_t kPageFileMode = 0644;

std::string JoinLines(const std::vector<std::string>& lines) {
  size_t total = 0;
  for (const std::string& line : lines) total += line.size() + 2;
  std::string content;
  content.reserve(total);
  for (const std::string& line : lines) {
    content += line;
    content += kLineEnd;
  }
  return content;
}

bool IsAsciiLetterOrDigit(char c) {
  return (c >= '0' && c <= '9') || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z');
}

bool WriteAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void WritePageFile(const std::string& path, const std::vector<std::string>& lines) {
  const std::string target = SystemToNative(path);
  // The temporary file lies in the same folder, so the rename replaces the page in one step:
  // a concurrent reader opens either the previous or the new page, each of them complete.
  std::string tempName = target + std::string(kTemporarySuffix);
  const int fd = ::mkstemp(tempName.data());
  if (fd < 0) throw EFCreateError(path);
  const std::string content = JoinLines(lines);
  bool ok = WriteAll(fd, content);
  ok = ::fchmod(fd, kPageFileMode) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(tempName.c_str(), target.c_str()) != 0) {
    ::unlink(tempName.c_str());
    throw EFCreateError(path);
  }
}

bool IsPageFileTemporaryName(std::string_view name) {
  const size_t randomLength = kTemporarySuffix.size() - 1;  // the "." is not chosen
  if (name.size() < kPageExtension.size() + kTemporarySuffix.size()) return false;
  const std::string_view random = name.substr(name.size() - randomLength);
  const std::string_view rest = name.substr(0, name.size() - kTemporarySuffix.size());
  return name[rest.size()] == '.' &&
         std::all_of(random.begin(), random.end(), IsAsciiLetterOrDigit) &&
         EqualTextIgnoreCase(rest.substr(rest.size() - kPageExtension.size()), kPageExtension);
}

std::string PageFilePath(const std::string& programFolder, const std::string& kind,
                         const std::string& address) {
  return programFolder + "page/" + kind + "_" + address + std::string(kPageExtension);
}

std::string RequestStamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto sinceEpoch = now.time_since_epoch();
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
