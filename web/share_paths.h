// Confinement of listings, downloads and writes to the shared folders.
//
// A requested path is admitted when it lies inside a shared folder's path twice over: as text,
// after "." and ".." components are resolved and compared segment by segment (so a share
// "/x/data/" does not admit "/x/database/"), and on disk, by the real path of the object that
// was actually opened (so a link inside a share that leads outside every share admits nothing,
// and a link swapped between a check and an open cannot send anyone elsewhere: the descriptor
// that is checked is the one that is read or written through).
//
// Names starting with "." are settings and secrets on Linux (.ssh, .gnupg, browser profiles).
// Unless dot files are published, no component below a share root may start with "."; the
// share's own path may (a share /home/u/.local/x is the user's choice).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"
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

// True for a name that dot-file rules hide: one that starts with ".".
bool IsDotName(std::string_view name);

// What Open opens.
enum class TEntryKind { File, Folder };

// An opened and checked object of the shares.
struct TSharedEntry {
  TUniqueFd Fd;            // read-only; invalid when refused
  std::string NativePath;  // the path it was opened by, in the file system's names
};

// The rules of one request: the shares of a snapshot (which must outlive it), and whether dot
// files are published. Not for sharing between threads: the real paths of the shares are
// resolved at first need.
class TShareAccess {
 public:
  TShareAccess(const TSharedFolderList& folders, bool publishDotFiles);

  bool PublishDotFiles() const { return publishDotFiles_; }

  // Opens what systemPath names, a regular file or a folder as kind says, when it lies inside
  // a share by its text and by the real path of what was opened. Fd is invalid otherwise
  // (outside, missing, another kind, not readable): the callers answer all of these alike.
  TSharedEntry Open(std::string_view systemPath, TEntryKind kind) const;
  // Opens the folder that systemPath names inside the share of that name, to create files in
  // it; the share's own folder when systemPath is empty. Invalid when the share is not there,
  // or the folder is not inside it by text, not inside a share on disk, or not a folder.
  TUniqueFd OpenFolderIn(std::string_view shareName, std::string_view systemPath) const;
  // True when the object the descriptor refers to lies inside a share root on disk (and no
  // component below that root starts with "." unless dot files are published).
  bool Contains(int fd) const;

 private:
  bool ContainsRealPath(std::string_view realPath) const;
  bool AdmitsText(std::string_view systemPath, std::string_view sharePath) const;
  TSharedEntry OpenChecked(std::string nativePath, TEntryKind kind) const;
  const std::vector<std::vector<std::string>>& Roots() const;

  const TSharedFolderList& folders_;
  bool publishDotFiles_;
  // Normalised segments of each share's real path; resolved at first need.
  mutable std::optional<std::vector<std::vector<std::string>>> roots_;
};

}  // namespace vm
