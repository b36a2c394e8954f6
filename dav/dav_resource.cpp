#include "dav/dav_resource.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>

#include "platform/fs_names.h"
#include "platform/text_helpers.h"

namespace vm {

bool DavModeAllows(TShareMode mode, TDavAction action) {
  switch (action) {
    case TDavAction::Read:
      return mode != TShareMode::UploadOnly;
    case TDavAction::Create:
      return mode != TShareMode::ViewOnly;
    case TDavAction::NewFolder:
    case TDavAction::Annotate:
      return mode == TShareMode::ViewUpload || mode == TShareMode::Full;
    case TDavAction::Replace:
    case TDavAction::Change:
      return mode == TShareMode::Full;
  }
  return false;
}

TDavResolver::TDavResolver(const TStateSnapshot& snapshot)
    : snapshot_(snapshot), access_(snapshot) {}

std::vector<std::pair<std::string, std::string>> TDavResolver::Shares() const {
  std::vector<std::pair<std::string, std::string>> shares;
  for (const std::string& entry : *snapshot_.SharedFolders) {
    const std::string system = GetField(entry, 0);
    std::string display = SystemToDisplayUtf8(system);
    if (system.empty() || display.find('/') != std::string::npos) continue;
    const bool taken = std::any_of(shares.begin(), shares.end(),
                                   [&](const auto& share) { return share.first == display; });
    if (!taken) shares.emplace_back(std::move(display), system);
  }
  return shares;
}

std::optional<TDavResource> TDavResolver::Resolve(const TDavPath& path,
                                                  TResolveFault& fault) const {
  fault = TResolveFault::None;
  TDavResource resource;
  resource.Path = path;
  if (path.IsRoot()) {
    resource.Kind = TDavResource::TKind::Root;
    return resource;
  }
  auto failed = [&fault](TResolveFault why) -> std::optional<TDavResource> {
    fault = why;
    return std::nullopt;
  };
  for (const auto& [display, system] : Shares()) {
    if (display == path.Segments.front()) resource.ShareName = system;
  }
  if (resource.ShareName.empty()) return failed(TResolveFault::NoShare);
  TUniqueFd folder = access_.OpenFolderIn(resource.ShareName, "");
  if (!folder) return failed(TResolveFault::NoShare);
  const size_t count = path.Segments.size();
  for (size_t k = 1; k + 1 < count; ++k) {
    if (access_.HidesName(path.Segments[k])) return failed(TResolveFault::Hidden);
    TUniqueFd next(openat(folder.Get(), path.Segments[k].c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!next) return failed(TResolveFault::NoParent);
    folder = std::move(next);
  }
  if (count == 1) {
    if (fstat(folder.Get(), &resource.Info) != 0) return failed(TResolveFault::NoShare);
    resource.Kind = TDavResource::TKind::Folder;
    resource.Mode = access_.ModeAt(folder.Get());
    resource.Object = std::move(folder);
    return resource;
  }
  if (!access_.Contains(folder.Get())) return failed(TResolveFault::NoParent);
  const std::string& leaf = path.Leaf();
  if (access_.HidesName(leaf)) return failed(TResolveFault::Hidden);
  resource.Mode = access_.ModeAt(folder.Get());
  resource.Parent = std::move(folder);
  struct stat own {};
  if (fstatat(resource.Parent.Get(), leaf.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) {
    resource.Kind = TDavResource::TKind::Missing;
    return resource;
  }
  TUniqueFd object(openat(resource.Parent.Get(), leaf.c_str(), O_PATH | O_CLOEXEC));
  if (!object || fstat(object.Get(), &resource.Info) != 0) {
    // A link that leads nowhere: the name is taken, but there is nothing to show.
    return failed(TResolveFault::Outside);
  }
  const bool regular = S_ISREG(resource.Info.st_mode);
  if ((!regular && !S_ISDIR(resource.Info.st_mode)) || !access_.Contains(object.Get())) {
    return failed(TResolveFault::Outside);
  }
  if (S_ISLNK(own.st_mode)) resource.Mode = access_.ModeAt(object.Get());
  resource.Kind = regular ? TDavResource::TKind::File : TDavResource::TKind::Folder;
  resource.Object = std::move(object);
  return resource;
}

void TDavResolver::ForEachMember(const TDavResource& collection,
                                 const std::function<void(const TMember&)>& take) const {
  if (collection.Kind != TDavResource::TKind::Folder) return;
  const int fd = openat(collection.Object.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return;
  }
  // Closed also when take throws (the client went away mid-answer).
  struct TDirCloser {
    DIR* dir;
    ~TDirCloser() { closedir(dir); }
  } closer{dir};
  TMember member{};
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || access_.HidesName(name)) continue;
    member.Name.assign(name);
    if (!access_.StatEntry(fd, member.Name, TShareOperation::List, member.Info)) continue;
    if (!S_ISREG(member.Info.st_mode) && !S_ISDIR(member.Info.st_mode)) continue;
    take(member);
  }
}

}  // namespace vm
