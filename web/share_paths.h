// Confinement of listings and downloads to the shared folders.
//
// A requested path is admitted when it lies inside a shared folder's path twice over: as text,
// after "." and ".." components are resolved and compared segment by segment (so a share
// "/x/data/" does not admit "/x/database/"), and on disk, after symbolic links are resolved (so
// a link inside a share that leads outside every share admits nothing).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "state/main_state.h"

namespace vm {

// The segments of an absolute path with "." dropped, ".." taking back the previous segment
// (never above the root) and empty segments (repeated "/") ignored; nullopt for a relative path.
std::optional<std::vector<std::string>> NormalisedSegments(std::string_view path);

// True when path names folder itself or something below it, by normalised segments.
bool IsInsideFolder(std::string_view path, std::string_view folder);

// The folder path (field 1) of a shared-folder entry, with a final "/" added when it lacks one
// (a path typed by hand may): names are put directly after it.
std::string SharedFolderPath(std::string_view entry);

// SharedFolderPath of the first shared folder whose name (field 0) equals name byte for byte;
// "" when no shared folder has that name.
std::string SharedFolderPathByName(const TSharedFolderList& folders, std::string_view name);

// The resolved native path of systemPath when it lies inside a shared folder, both as text and
// after resolving links on disk; nullopt otherwise (also when it does not exist).
std::optional<std::string> ResolveSharedPath(const TSharedFolderList& folders,
                                             std::string_view systemPath);

// The real paths of the shared folders, resolved once for the many checks of one listing.
class TShareRoots {
 public:
  explicit TShareRoots(const TSharedFolderList& folders);
  // True when the native path exists and its real path lies inside one of the roots.
  bool Contain(const std::string& nativePath) const;

 private:
  std::vector<std::vector<std::string>> roots_;  // normalised segments of each real path
};

// True when the native path exists and its real path lies inside the real path of some shared
// folder: TShareRoots for a single check.
bool RealPathInsideShares(const TSharedFolderList& folders, const std::string& nativePath);

}  // namespace vm
