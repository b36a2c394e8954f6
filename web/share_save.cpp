#include "web/share_save.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <random>

#include "platform/unique_fd.h"

namespace vm {

namespace {

// Readable by all, as any file the user makes (the umask applies).
constexpr mode_t kNewFileMode = 0644;
// Where the file system has no nameless files, the content is written under a hidden name of
// this form (never one a browser may choose: new-text names starting with "." are refused).
constexpr char kTemporaryPrefix[] = ".velmarind-";
constexpr size_t kTemporaryLetters = 6;
// Hidden names tried before giving up; a clash is already unlikely at the first.
constexpr int kTemporaryTries = 16;

std::string RandomLetters(size_t count) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device random;
  std::string letters(count, 'x');
  for (char& c : letters) c = kLetters[random() % (sizeof kLetters - 1)];
  return letters;
}

// A new file for writing in the folder: nameless when the file system can make one (then
// temporaryName stays empty), else under a fresh hidden name. -1 with errno when neither.
int OpenUnnamed(int folderFd, std::string& temporaryName) {
  int fd = openat(folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kNewFileMode);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  for (int attempt = 0; attempt < kTemporaryTries; ++attempt) {
    temporaryName = kTemporaryPrefix + RandomLetters(kTemporaryLetters);
    fd = openat(folderFd, temporaryName.c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
    if (fd >= 0 || errno != EEXIST) break;
  }
  if (fd < 0) temporaryName.clear();
  return fd;
}

// Gives the file a name in the folder; fails with EEXIST when the name is taken, whatever by.
int LinkAs(int fd, int folderFd, const std::string& temporaryName, const std::string& name) {
  if (temporaryName.empty()) {
    // Linking a nameless file by its descriptor needs a privilege; through its /proc entry, not.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return linkat(AT_FDCWD, self.c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW);
  }
  return linkat(folderFd, temporaryName.c_str(), folderFd, name.c_str(), 0);
}

}  // namespace

TSaveOutcome SaveNewFile(int folderFd, const TNameForAttempt& nameFor, int maxAttempts,
                         const TContentWriter& write, int& attempt) {
  std::string temporaryName;
  TUniqueFd fd(OpenUnnamed(folderFd, temporaryName));
  if (!fd) return TSaveOutcome::CannotCreate;
  struct TTemporaryRemover {
    int folderFd;
    const std::string& name;
    ~TTemporaryRemover() {
      if (!name.empty()) unlinkat(folderFd, name.c_str(), 0);
    }
  } remover{folderFd, temporaryName};
  if (!write(fd.Get())) return TSaveOutcome::NotWritten;
  for (attempt = 1; attempt <= maxAttempts; ++attempt) {
    const std::string name = nameFor(attempt);
    if (LinkAs(fd.Get(), folderFd, temporaryName, name) != 0) {
      if (errno == EEXIST) continue;
      return errno == ENAMETOOLONG ? TSaveOutcome::NameTooLong : TSaveOutcome::CannotCreate;
    }
    // Some file systems report a failed write only when the file is closed: then the file
    // just named is not whole, and goes again.
    if (close(fd.Release()) != 0) {
      unlinkat(folderFd, name.c_str(), 0);
      return TSaveOutcome::NotWritten;
    }
    return TSaveOutcome::Saved;
  }
  return TSaveOutcome::NoFreeName;
}

}  // namespace vm
