#include "platform/trash_can.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "platform/atomic_file.h"
#include "platform/text_helpers.h"
#include "platform/unique_fd.h"

namespace vm {

namespace {

// Trash folders are the user's alone.
constexpr mode_t kTrashMode = 0700;
constexpr mode_t kInfoMode = 0600;
constexpr char kFilesFolder[] = "files";
constexpr char kInfoFolder[] = "info";
constexpr char kInfoSuffix[] = ".trashinfo";
constexpr char kSharedTrash[] = ".Trash";
constexpr char kOwnTrashPrefix[] = ".Trash-";
// Names tried in the trash ("a", "a.2", "a.3", ...) before giving up.
constexpr int kMaxNameTries = 1000;

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    return pw->pw_dir;
  }
  return "/";
}

std::optional<std::string> RealFolderOf(int fd) {
  char path[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = readlink(link.c_str(), path, sizeof path);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof path) return std::nullopt;
  return std::string(path, static_cast<size_t>(n));
}

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// "mkdir -p" of a folder, the last one (and those made) with the given mode.
bool MakeFolders(const std::string& folder, mode_t mode) {
  struct stat info {};
  if (stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  if (folder != "/" && !MakeFolders(Parent(folder), 0755 & ~0022)) return false;
  return mkdir(folder.c_str(), mode) == 0 || errno == EEXIST;
}

// A folder of the trash opened without following a link to it (one placed there by somebody
// else would send the entries elsewhere); made when missing.
TUniqueFd OpenTrashFolder(int parentFd, const char* name) {
  if (mkdirat(parentFd, name, kTrashMode) != 0 && errno != EEXIST) return {};
  return TUniqueFd(openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// A real folder (not a link) owned by the user.
bool IsOwnFolder(const std::string& path, unsigned uid) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid;
}

// The top of the file system the folder lies on: its highest ancestor on the same device.
std::string TopOfFileSystem(const std::string& realFolder, dev_t device) {
  std::string top = realFolder;
  while (top != "/") {
    struct stat info {};
    const std::string up = Parent(top);
    if (stat(up.c_str(), &info) != 0 || info.st_dev != device) break;
    top = up;
  }
  return top;
}

// Bytes of a path as a trash info file keeps them: escaped as in URLs (RFC 2396), "/" kept.
std::string EscapedPath(const std::string& path) {
  return PercentEncode(path, [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-_.!~*'()/").find(static_cast<char>(c)) != std::string_view::npos;
  });
}

std::string DeletionDate() {
  const time_t now = time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

std::string TrashName(const std::string& name, int attempt) {
  return attempt == 1 ? name : name + "." + std::to_string(attempt);
}

// renameat2 without replacing; on a file system that cannot promise that, a plain rename once
// no entry has the name (the info file just made reserves it against other trashing programs).
int MoveWithoutReplacing(int fromFd, const std::string& from, int toFd, const std::string& to) {
  if (renameat2(fromFd, from.c_str(), toFd, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return -1;
  struct stat taken {};
  if (fstatat(toFd, to.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  return renameat(fromFd, from.c_str(), toFd, to.c_str());
}

// Moves the entry into the trash at trashPath; infoPath is the original location as the
// info file records it.
TTrashOutcome MoveInto(const std::string& trashPath, int folderFd, const std::string& nativeName,
                       const std::string& infoPath, std::string* trashedAs) {
  const TUniqueFd trash(open(trashPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!trash) return TTrashOutcome::NoTrash;
  const TUniqueFd files = OpenTrashFolder(trash.Get(), kFilesFolder);
  const TUniqueFd info = OpenTrashFolder(trash.Get(), kInfoFolder);
  if (!files || !info) return TTrashOutcome::NoTrash;
  const std::string content = "[Trash Info]\nPath=" + EscapedPath(infoPath) +
                              "\nDeletionDate=" + DeletionDate() + "\n";
  for (int attempt = 1; attempt <= kMaxNameTries; ++attempt) {
    const std::string name = TrashName(nativeName, attempt);
    const std::string infoName = name + kInfoSuffix;
    TUniqueFd infoFile(openat(info.Get(), infoName.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kInfoMode));
    if (!infoFile) {
      if (errno == EEXIST) continue;
      return errno == ENAMETOOLONG ? TTrashOutcome::Failed : TTrashOutcome::NoTrash;
    }
    const bool written = WriteAllBytes(infoFile.Get(), content) && close(infoFile.Release()) == 0;
    if (written && MoveWithoutReplacing(folderFd, nativeName, files.Get(), name) == 0) {
      if (trashedAs != nullptr) *trashedAs = trashPath + "/" + kFilesFolder + "/" + name;
      return TTrashOutcome::Trashed;
    }
    const int error = written ? errno : EIO;
    unlinkat(info.Get(), infoName.c_str(), 0);
    // A name in files/ without its info file (left by another program): the next name.
    if (error == EEXIST) continue;
    if (error == ENOENT) return TTrashOutcome::Missing;
    // Another file system after all (a bind mount of the same device), or no way to move.
    if (error == EXDEV) return TTrashOutcome::NoTrash;
    return TTrashOutcome::Failed;
  }
  return TTrashOutcome::NoTrash;
}

}  // namespace

std::string HomeTrashPath() {
  // A relative XDG_DATA_HOME is invalid by the base-directory rules and is ignored.
  const char* data = std::getenv("XDG_DATA_HOME");
  const std::string folder =
      (data != nullptr && data[0] == '/') ? data : HomeFolder() + "/.local/share";
  return folder + "/Trash";
}

std::string TopdirTrashPath(const std::string& topdir, unsigned uid) {
  const std::string base = topdir == "/" ? "" : topdir;
  const std::string shared = base + "/" + kSharedTrash;
  struct stat info {};
  // The administrator's shared trash: a real folder, sticky, with a folder per user inside.
  if (lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX)) {
    const std::string own = shared + "/" + std::to_string(uid);
    if ((mkdir(own.c_str(), kTrashMode) == 0 || errno == EEXIST) && IsOwnFolder(own, uid)) {
      return own;
    }
  }
  const std::string own = base + "/" + kOwnTrashPrefix + std::to_string(uid);
  if ((mkdir(own.c_str(), kTrashMode) == 0 || errno == EEXIST) && IsOwnFolder(own, uid)) {
    return own;
  }
  return "";
}

std::vector<std::string> TopdirTrashNames() {
  return {kSharedTrash, kOwnTrashPrefix + std::to_string(getuid())};
}

TTrashOutcome MoveToTrash(int folderFd, const std::string& nativeName, std::string* trashedAs) {
  struct stat entry {};
  if (fstatat(folderFd, nativeName.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
    return TTrashOutcome::Missing;
  }
  const std::optional<std::string> folder = RealFolderOf(folderFd);
  if (!folder) return TTrashOutcome::Failed;
  const std::string original = (*folder == "/" ? "" : *folder) + "/" + nativeName;
  const std::string home = HomeTrashPath();
  if (MakeFolders(home, kTrashMode)) {
    struct stat homeInfo {};
    if (stat(home.c_str(), &homeInfo) == 0 && homeInfo.st_dev == entry.st_dev) {
      return MoveInto(home, folderFd, nativeName, original, trashedAs);
    }
  }
  // Elsewhere the entry goes to the trash of its own file system; the info file names it
  // relative to that file system's top, so that the trash still fits when it is mounted
  // elsewhere.
  const std::string topdir = TopOfFileSystem(*folder, entry.st_dev);
  const std::string trash = TopdirTrashPath(topdir, getuid());
  if (trash.empty()) return TTrashOutcome::NoTrash;
  const std::string relative =
      topdir == "/" ? original.substr(1) : original.substr(topdir.size() + 1);
  return MoveInto(trash, folderFd, nativeName, relative, trashedAs);
}

}  // namespace vm
