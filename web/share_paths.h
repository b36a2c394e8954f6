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
//
// Each share has a mode (view only, view and upload, full, upload only) that says which
// operations it allows. What decides is where the opened object really lies: a link in one share
// that leads into another gets the other's mode. Where shares nest, the innermost one decides (a
// drop box inside a viewed folder stays a drop box); of shares of the same folder, the first in
// the list decides, as name lookups take the first. A folder whose tree holds a share's root is
// never moved away or renamed through the share above it: the root would go along, and what it
// holds would fall to the outer share's mode.
//
// The program's own folders are outside every share, whatever the shares hold: the program
// folder (settings, pages, the script every browser runs), its caches, the runtime folder and the
// trash. A share that holds one shows everything else. Whether an object lies in one is told by
// the device and inode of the object and of each folder above it (reached through "..", from
// the descriptor), never by path text: a second mount or another spelling of the same folder is
// the same folder.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"
#include "state/main_state.h"
#include "state/share_mode.h"

namespace vm {

// What a request does in a share.
enum class TShareOperation { List, Download, Upload, NewText, Delete, Rename, NewFolder };

// True when a share of that mode allows the operation.
bool ModeAllows(TShareMode mode, TShareOperation operation);

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

// Where the object an open descriptor refers to lies now; nullopt when the kernel cannot say.
std::optional<std::string> DescriptorPath(int fd);

// The start of the names of what the program itself keeps in a shared folder while it works
// (unfinished uploads, files being written): never part of a share, whatever the dot-file rule.
inline constexpr std::string_view kProgramWorkPrefix = ".velmarind-";
bool IsProgramWorkName(std::string_view name);

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
  // Every share with the default mode.
  TShareAccess(const TSharedFolderList& folders, bool publishDotFiles);
  // Each share with its mode in modes (which must outlive it too); privateFolders (native
  // paths) and all they hold lie outside every share.
  TShareAccess(const TSharedFolderList& folders, bool publishDotFiles, const TShareModes& modes,
               std::vector<std::string> privateFolders = {});
  // The shares, dot-file rule and modes of a snapshot; its program folder and private folders
  // lie outside every share.
  explicit TShareAccess(const TStateSnapshot& state);

  bool PublishDotFiles() const { return publishDotFiles_; }
  // True for an entry name that listings, archives and file operations leave out: a dot name
  // unless dot files are published, and the program's own working files always.
  bool HidesName(std::string_view name) const;

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

  // Open, and the share the object lies in allows the operation there. This, with Allows, is
  // what every document that reads or changes a share asks.
  TSharedEntry Open(std::string_view systemPath, TEntryKind kind,
                    TShareOperation operation) const;
  // OpenFolderIn, and the share the folder lies in allows the operation there.
  TUniqueFd OpenFolderIn(std::string_view shareName, std::string_view systemPath,
                         TShareOperation operation) const;
  // True when the object the descriptor refers to lies inside a share (as Contains) whose mode
  // allows the operation there.
  bool Allows(int fd, TShareOperation operation) const;
  // Fills info for an entry of an open folder: its own, or for a link that of what it leads
  // to, and only when that lies in a share allowing the operation there (a link swapped
  // meanwhile tells nothing: what is checked is what was opened). False: leave the entry out.
  bool StatEntry(int folderFd, const std::string& nativeName, TShareOperation operation,
                 struct stat& info) const;
  // The mode that holds for the entries of the descriptor's folder (the innermost share's);
  // nothing when it lies in no share.
  std::optional<TShareMode> ModeAt(int fd) const;
  // True when the descriptor's object is a share's root or a private folder, or a folder above
  // one: moving or renaming it would carry that along.
  bool HoldsProtectedFolder(int fd) const;

 private:
  using TObjectId = std::pair<dev_t, ino_t>;
  struct TRoot {
    std::vector<std::string> Segments;  // normalised segments of the share's real path
    TShareMode Mode;
  };
  // Which operations hold at a real path: a bit per TShareOperation; 0 outside every share.
  unsigned PermissionsAt(std::string_view realPath) const;
  bool ContainsRealPath(std::string_view realPath) const;
  bool AdmitsText(std::string_view systemPath, std::string_view sharePath) const;
  TSharedEntry OpenChecked(std::string nativePath, TEntryKind kind) const;
  const std::vector<TRoot>& Roots() const;
  // True when the object (at realPath, as the kernel tells) is a private folder or lies in one.
  bool IsPrivate(int fd, const std::string& realPath) const;
  // The same for an open folder described by info, walking up through "..".
  bool InPrivateFolder(int folderFd, struct stat info) const;
  const std::set<TObjectId>& PrivateIds() const;

  const TSharedFolderList& folders_;
  bool publishDotFiles_;
  const TShareModes* modes_ = nullptr;  // null: every share has the default mode
  const std::vector<std::string> privateFolders_;
  // Each share's real path and mode; resolved at first need.
  mutable std::optional<std::vector<TRoot>> roots_;
  // The private folders as opened; resolved at first need.
  mutable std::optional<std::set<TObjectId>> privateIds_;
  // Folders seen to lie in no private folder, with all folders above them (a walk up stops at
  // the first it meets). Bounded: cleared when full.
  mutable std::set<TObjectId> clearFolders_;
  // The share roots and private folders and every folder above them; resolved at first need.
  mutable std::optional<std::set<TObjectId>> holders_;
};

}  // namespace vm
