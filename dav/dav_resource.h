// What a decoded address names on disk: the root of the shares, a share's folder, or an entry
// below it, opened and checked against the shares as the pages check (TShareAccess): the real
// path of what was opened decides, so a link leading out of the shares leads nowhere.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dav/dav_href.h"
#include "dav/dav_properties.h"
#include "platform/unique_fd.h"
#include "state/main_state.h"
#include "state/share_mode.h"
#include "web/share_paths.h"

namespace vm {

// What each share mode allows through the file-manager door.
enum class TDavAction {
  Read,     // list a collection's members, read a file
  Create,     // a new file (PUT, LOCK of a new name), or fill an empty one
  NewFolder,  // a new folder (MKCOL)
  Replace,    // overwrite a file with content
  Change,     // delete, move, copy
  Annotate,   // store dead properties
};
bool DavModeAllows(TShareMode mode, TDavAction action);

struct TDavResource {
  enum class TKind { Root, Missing, File, Folder };
  TDavPath Path;
  TKind Kind = TKind::Missing;
  std::string ShareName;  // system text of the share's name ("" for the root)
  TUniqueFd Parent;       // path descriptor of the folder holding the leaf (entries only)
  TUniqueFd Object;       // path descriptor of what the address names (when it exists)
  struct stat Info {};    // of Object (a link's target)
  std::optional<TShareMode> Mode;  // where it lies; for a missing entry, in its folder

  bool Exists() const { return Kind == TKind::File || Kind == TKind::Folder || Kind == TKind::Root; }
  bool IsCollection() const { return Kind == TKind::Folder || Kind == TKind::Root; }
  bool IsShareRoot() const { return Path.Segments.size() == 1; }
  TFileId Id() const { return {Info.st_dev, Info.st_ino}; }
};

enum class TResolveFault {
  None,
  NoShare,        // the first segment names no share (or the share's folder is gone)
  NoParent,       // a folder on the way is missing, not a folder, or outside the shares
  Hidden,         // a name starting with "." while dot files are not published
  Outside,        // the entry exists but lies outside the shares (a link): as missing
};

// One request's view of the shares; the snapshot must outlive it.
class TDavResolver {
 public:
  explicit TDavResolver(const TStateSnapshot& snapshot);

  // Opens what path names. A missing leaf in an existing folder is a TKind::Missing resource.
  std::optional<TDavResource> Resolve(const TDavPath& path, TResolveFault& fault) const;
  // The shares' display names (UTF-8) and system names, in list order, each name once.
  std::vector<std::pair<std::string, std::string>> Shares() const;
  const TShareAccess& Access() const { return access_; }

  // A member of a listed collection: its name on disk and what it is.
  struct TMember {
    std::string Name;
    struct stat Info;
  };
  // Calls take for each member a listing shows (files and folders; links only when what they
  // lead to lies in a share that lists it; dot names only when published), in directory order.
  void ForEachMember(const TDavResource& collection,
                     const std::function<void(const TMember&)>& take) const;

 private:
  const TStateSnapshot& snapshot_;
  TShareAccess access_;
};

}  // namespace vm
