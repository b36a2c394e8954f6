#include "web/share_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/fs_names.h"
#include "platform/text_helpers.h"
#include "platform/trash_can.h"

namespace vm {

namespace {

constexpr char kSeparator = '/';
// The kernel's name of an open descriptor: it leads to the very object, not to a path.
constexpr char kSelfFdFolder[] = "/proc/self/fd/";
// Real paths longer than this are not looked at: no share lies that deep.
constexpr size_t kMaxRealPath = 1 << 20;

std::string SelfFdPath(int fd) { return kSelfFdFolder + std::to_string(fd); }

// realpath of a native path, or nullopt when it does not resolve (missing, loop, no access).
std::optional<std::string> RealPath(const std::string& nativePath) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(nativePath.c_str(), nullptr),
                                                       &std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

// No folder lies deeper than this below the root (a path holds at most PATH_MAX bytes); a
// walk up that goes on longer tells nothing, and its object is kept out.
constexpr int kMaxFolderDepth = PATH_MAX / 2;
// Folders remembered as lying in no private folder, per request.
constexpr size_t kMaxClearFolders = 4096;

// The trash folders' names: such a folder is private wherever it lies.
const std::vector<std::string>& TrashNames() {
  static const std::vector<std::string> names = TopdirTrashNames();
  return names;
}

bool IsTrashName(const std::string& name) {
  for (const std::string& trash : TrashNames()) {
    if (name == trash) return true;
  }
  return false;
}

TUniqueFd OpenParent(int folderFd) {
  return TUniqueFd(openat(folderFd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// The program folder of a snapshot and its other private folders, as native paths.
std::vector<std::string> PrivateFoldersOf(const TStateSnapshot& state) {
  std::vector<std::string> folders;
  if (!state.ProgramFolder.empty()) folders.push_back(SystemToNative(state.ProgramFolder));
  if (state.PrivateFolders) {
    folders.insert(folders.end(), state.PrivateFolders->begin(), state.PrivateFolders->end());
  }
  return folders;
}

bool SegmentsStartWith(const std::vector<std::string>& path,
                       const std::vector<std::string>& folder) {
  if (folder.size() > path.size()) return false;
  for (size_t k = 0; k < folder.size(); ++k) {
    if (path[k] != folder[k]) return false;
  }
  return true;
}

// True when no segment from index first on is hidden: a dot name unless dot files are
// published, a name of the program's own working files ever.
bool NoHiddenNameFrom(const std::vector<std::string>& segments, size_t first,
                      bool publishDotFiles) {
  for (size_t k = first; k < segments.size(); ++k) {
    if ((!publishDotFiles && IsDotName(segments[k])) || IsProgramWorkName(segments[k])) {
      return false;
    }
  }
  return true;
}

constexpr unsigned Bit(TShareOperation operation) { return 1u << static_cast<unsigned>(operation); }

constexpr unsigned kViewing = Bit(TShareOperation::List) | Bit(TShareOperation::Download);
constexpr unsigned kAdding = Bit(TShareOperation::Upload) | Bit(TShareOperation::NewText);
// Set for every real path inside a share, whatever its mode allows.
constexpr unsigned kInsideBit = 1u << 31;
constexpr unsigned kManaging = Bit(TShareOperation::Delete) | Bit(TShareOperation::Rename) |
                               Bit(TShareOperation::NewFolder);

unsigned ModePermissions(TShareMode mode) {
  switch (mode) {
    case TShareMode::ViewOnly:
      return kViewing;
    case TShareMode::ViewUpload:
      return kViewing | kAdding;
    case TShareMode::Full:
      return kViewing | kAdding | kManaging;
    case TShareMode::UploadOnly:
      return kAdding;
  }
  return 0;
}

constexpr TShareMode kAllModes[] = {TShareMode::ViewOnly, TShareMode::ViewUpload,
                                   TShareMode::Full, TShareMode::UploadOnly};

}  // namespace

std::optional<std::string> DescriptorPath(int fd) {
  const std::string link = SelfFdPath(fd);
  std::string path(PATH_MAX, '\0');
  while (path.size() <= kMaxRealPath) {
    const ssize_t n = readlink(link.c_str(), path.data(), path.size());
    if (n < 0) return std::nullopt;
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
  return std::nullopt;
}

bool ModeAllows(TShareMode mode, TShareOperation operation) {
  return (ModePermissions(mode) & Bit(operation)) != 0;
}

std::optional<std::vector<std::string>> NormalisedSegments(std::string_view path) {
  if (path.empty() || path.front() != kSeparator) return std::nullopt;
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(kSeparator, start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.emplace_back(segment);
    }
    start = end + 1;
  }
  return segments;
}

bool IsInsideFolder(std::string_view path, std::string_view folder) {
  auto pathSegments = NormalisedSegments(path);
  auto folderSegments = NormalisedSegments(folder);
  if (!pathSegments || !folderSegments) return false;
  return SegmentsStartWith(*pathSegments, *folderSegments);
}

std::string SharedFolderPath(std::string_view entry) {
  // Without the final separator, a new file would land beside the folder instead of inside it.
  return WithFinalSlash(GetField(entry, 1));
}

std::string SharedFolderPathByName(const TSharedFolderList& folders, std::string_view name) {
  for (const std::string& entry : folders) {
    if (GetField(entry, 0) == name) return SharedFolderPath(entry);
  }
  return "";
}

bool IsDotName(std::string_view name) { return !name.empty() && name.front() == '.'; }

bool IsProgramWorkName(std::string_view name) {
  return name.substr(0, kProgramWorkPrefix.size()) == kProgramWorkPrefix;
}

bool TShareAccess::HidesName(std::string_view name) const {
  return (!publishDotFiles_ && IsDotName(name)) || IsProgramWorkName(name);
}

TShareAccess::TShareAccess(const TSharedFolderList& folders, bool publishDotFiles)
    : folders_(folders), publishDotFiles_(publishDotFiles) {}

TShareAccess::TShareAccess(const TSharedFolderList& folders, bool publishDotFiles,
                           const TShareModes& modes, std::vector<std::string> privateFolders)
    : folders_(folders),
      publishDotFiles_(publishDotFiles),
      modes_(&modes),
      privateFolders_(std::move(privateFolders)) {}

TShareAccess::TShareAccess(const TStateSnapshot& state)
    : TShareAccess(*state.SharedFolders, state.Settings.PublishDotFiles, state.Settings.ShareModes,
                   PrivateFoldersOf(state)) {}

const std::vector<TShareAccess::TRoot>& TShareAccess::Roots() const {
  if (!roots_) {
    roots_.emplace();
    for (const std::string& entry : folders_) {
      const std::string path = GetField(entry, 1);
      if (path.empty()) continue;
      auto real = RealPath(SystemToNative(path));
      if (!real) continue;
      const TShareMode mode =
          modes_ != nullptr ? ShareModeOf(*modes_, GetField(entry, 0)) : kDefaultShareMode;
      if (auto segments = NormalisedSegments(*real)) {
        roots_->push_back({std::move(*segments), mode});
      }
    }
  }
  return *roots_;
}

unsigned TShareAccess::PermissionsAt(std::string_view realPath) const {
  auto segments = NormalisedSegments(realPath);
  if (!segments) return 0;
  size_t depth = 0;
  bool found = false;
  unsigned permissions = 0;
  for (const TRoot& root : Roots()) {
    if (!SegmentsStartWith(*segments, root.Segments) ||
        !NoHiddenNameFrom(*segments, root.Segments.size(), publishDotFiles_)) {
      continue;
    }
    // The innermost share decides; of shares of the same folder, the first in the list.
    if (!found || root.Segments.size() > depth) {
      depth = root.Segments.size();
      permissions = ModePermissions(root.Mode);
    }
    found = true;
  }
  // A share's own folder is never moved away or renamed through a browser.
  if (found && depth == segments->size()) {
    permissions &= ~(Bit(TShareOperation::Delete) | Bit(TShareOperation::Rename));
  }
  // Inside a share whose mode allows nothing there is still inside: the caller tells the two
  // apart with the bit that no permission set uses.
  return found ? (permissions | kInsideBit) : 0;
}

bool TShareAccess::ContainsRealPath(std::string_view realPath) const {
  return PermissionsAt(realPath) != 0;
}

bool TShareAccess::Contains(int fd) const {
  auto path = DescriptorPath(fd);
  return path && ContainsRealPath(*path) && !IsPrivate(fd, *path);
}

bool TShareAccess::Allows(int fd, TShareOperation operation) const {
  auto path = DescriptorPath(fd);
  return path && (PermissionsAt(*path) & Bit(operation)) != 0 && !IsPrivate(fd, *path);
}

const std::set<TShareAccess::TObjectId>& TShareAccess::PrivateIds() const {
  if (!privateIds_) {
    privateIds_.emplace();
    for (const std::string& folder : privateFolders_) {
      struct stat info {};
      if (!folder.empty() && stat(folder.c_str(), &info) == 0) {
        privateIds_->insert({info.st_dev, info.st_ino});
      }
    }
  }
  return *privateIds_;
}

bool TShareAccess::IsPrivate(int fd, const std::string& realPath) const {
  struct stat info {};
  if (fstat(fd, &info) != 0) return true;
  if (PrivateIds().count({info.st_dev, info.st_ino}) != 0) return true;
  if (S_ISDIR(info.st_mode)) return InPrivateFolder(fd, info);
  // Not a folder, so no ".." leads up from it: its folder is the one the kernel names, as long
  // as that folder still holds this very object under its name.
  const size_t slash = realPath.rfind(kSeparator);
  if (slash == std::string::npos) return true;
  const TUniqueFd folder(
      open(slash == 0 ? "/" : realPath.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat entry {};
  struct stat folderInfo {};
  if (!folder ||
      fstatat(folder.Get(), realPath.c_str() + slash + 1, &entry, AT_SYMLINK_NOFOLLOW) != 0 ||
      entry.st_dev != info.st_dev || entry.st_ino != info.st_ino ||
      fstat(folder.Get(), &folderInfo) != 0) {
    return true;
  }
  return InPrivateFolder(folder.Get(), folderInfo);
}

bool TShareAccess::InPrivateFolder(int folderFd, struct stat info) const {
  std::vector<TObjectId> walked;
  TUniqueFd above;  // the folder reached, once above folderFd
  int at = folderFd;
  for (int depth = 0;; ++depth) {
    if (depth == kMaxFolderDepth) return true;
    const TObjectId id{info.st_dev, info.st_ino};
    if (PrivateIds().count(id) != 0) return true;
    // Came up from a trash folder (of a file system's top, or of any folder by that name)?
    for (size_t k = 0; !walked.empty() && k < TrashNames().size(); ++k) {
      struct stat trash {};
      if (fstatat(at, TrashNames()[k].c_str(), &trash, AT_SYMLINK_NOFOLLOW) == 0 &&
          TObjectId{trash.st_dev, trash.st_ino} == walked.back()) {
        return true;
      }
    }
    if (clearFolders_.count(id) != 0) break;
    walked.push_back(id);
    TUniqueFd parent = OpenParent(at);
    struct stat up {};
    if (!parent || fstat(parent.Get(), &up) != 0) return true;        // cannot tell: kept out
    if (up.st_dev == info.st_dev && up.st_ino == info.st_ino) break;  // the root
    above = std::move(parent);
    at = above.Get();
    info = up;
  }
  if (clearFolders_.size() + walked.size() > kMaxClearFolders) clearFolders_.clear();
  clearFolders_.insert(walked.begin(), walked.end());
  return false;
}

bool TShareAccess::HoldsProtectedFolder(int fd) const {
  if (!holders_) {
    holders_.emplace();
    std::vector<std::string> places = privateFolders_;
    for (const TRoot& root : Roots()) {
      std::string path;
      for (const std::string& segment : root.Segments) path += kSeparator + segment;
      places.push_back(path.empty() ? std::string(1, kSeparator) : path);
    }
    for (const std::string& place : places) {
      TUniqueFd at(open(place.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
      for (int depth = 0; at && depth < kMaxFolderDepth; ++depth) {
        struct stat info {};
        // A folder met before: so were all above it. The root is its own parent.
        if (fstat(at.Get(), &info) != 0 || !holders_->insert({info.st_dev, info.st_ino}).second) {
          break;
        }
        at = OpenParent(at.Get());
      }
    }
  }
  struct stat info {};
  return fstat(fd, &info) == 0 && holders_->count({info.st_dev, info.st_ino}) != 0;
}

bool TShareAccess::StatEntry(int folderFd, const std::string& nativeName,
                             TShareOperation operation, struct stat& info) const {
  if (fstatat(folderFd, nativeName.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (PrivateIds().count({info.st_dev, info.st_ino}) != 0 ||
      (S_ISDIR(info.st_mode) && IsTrashName(nativeName))) {
    return false;
  }
  if (!S_ISLNK(info.st_mode)) return true;
  const TUniqueFd target(openat(folderFd, nativeName.c_str(), O_PATH | O_CLOEXEC));
  return target && Allows(target.Get(), operation) && fstat(target.Get(), &info) == 0;
}

std::optional<TShareMode> TShareAccess::ModeAt(int fd) const {
  auto path = DescriptorPath(fd);
  if (!path) return std::nullopt;
  // A share's own folder has its share's mode, though it is not itself deleted or renamed.
  const unsigned permissions = PermissionsAt(*path + "/x");
  if (permissions == 0) return std::nullopt;
  for (TShareMode mode : kAllModes) {
    if ((permissions & ~kInsideBit) == ModePermissions(mode)) return mode;
  }
  return kDefaultShareMode;  // not reached: the permissions are always those of one mode
}

bool TShareAccess::AdmitsText(std::string_view systemPath, std::string_view sharePath) const {
  auto pathSegments = NormalisedSegments(systemPath);
  auto shareSegments = NormalisedSegments(sharePath);
  if (!pathSegments || !shareSegments || !SegmentsStartWith(*pathSegments, *shareSegments)) {
    return false;
  }
  return NoHiddenNameFrom(*pathSegments, shareSegments->size(), publishDotFiles_);
}

TSharedEntry TShareAccess::OpenChecked(std::string nativePath, TEntryKind kind) const {
  // A path-only descriptor: opening it has no effect on the object (a FIFO does not block, a
  // device is not touched), and the object it names stays the same whatever happens to names.
  TUniqueFd path(open(nativePath.c_str(), O_PATH | O_CLOEXEC));
  struct stat checked {};
  if (!path || fstat(path.Get(), &checked) != 0) return {};
  const bool rightKind =
      kind == TEntryKind::File ? S_ISREG(checked.st_mode) : S_ISDIR(checked.st_mode);
  if (!rightKind || !Contains(path.Get())) return {};
  // Opened for reading through the checked descriptor's own entry, not by name again.
  const int flags =
      O_RDONLY | O_CLOEXEC | O_NOCTTY | (kind == TEntryKind::Folder ? O_DIRECTORY : 0);
  TUniqueFd fd(open(SelfFdPath(path.Get()).c_str(), flags));
  struct stat opened {};
  if (!fd || fstat(fd.Get(), &opened) != 0 || opened.st_dev != checked.st_dev ||
      opened.st_ino != checked.st_ino) {
    return {};
  }
  return {std::move(fd), std::move(nativePath)};
}

TSharedEntry TShareAccess::Open(std::string_view systemPath, TEntryKind kind) const {
  for (const std::string& entry : folders_) {
    const std::string sharePath = GetField(entry, 1);
    if (!sharePath.empty() && AdmitsText(systemPath, sharePath)) {
      return OpenChecked(SystemToNative(systemPath), kind);
    }
  }
  return {};
}

TSharedEntry TShareAccess::Open(std::string_view systemPath, TEntryKind kind,
                                TShareOperation operation) const {
  TSharedEntry entry = Open(systemPath, kind);
  if (entry.Fd && !Allows(entry.Fd.Get(), operation)) return {};
  return entry;
}

TUniqueFd TShareAccess::OpenFolderIn(std::string_view shareName, std::string_view systemPath,
                                     TShareOperation operation) const {
  TUniqueFd folder = OpenFolderIn(shareName, systemPath);
  if (folder && !Allows(folder.Get(), operation)) return {};
  return folder;
}

TUniqueFd TShareAccess::OpenFolderIn(std::string_view shareName,
                                     std::string_view systemPath) const {
  const std::string sharePath = SharedFolderPathByName(folders_, shareName);
  if (sharePath.empty()) return {};
  const std::string target = systemPath.empty() ? sharePath : std::string(systemPath);
  if (!AdmitsText(target, sharePath)) return {};
  return std::move(OpenChecked(SystemToNative(target), TEntryKind::Folder).Fd);
}

}  // namespace vm
