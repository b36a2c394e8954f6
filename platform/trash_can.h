// Moving entries to the desktop's trash (the freedesktop.org trash layout), so that the file
// manager lists them there and can put them back.
//
// An entry goes to the user's trash ($XDG_DATA_HOME/Trash, ~/.local/share/Trash by default)
// when it lies on the same file system, else to the trash at the top of its own file system:
// $topdir/.Trash/$uid when $topdir/.Trash is a real folder with the sticky bit, else
// $topdir/.Trash-$uid. Each entry gets its ".trashinfo" first, created exclusively, which
// reserves its name in the trash; then the entry is renamed into the trash, never over anything.
#pragma once

#include <string>
#include <vector>

namespace vm {

enum class TTrashOutcome {
  Trashed,
  Missing,  // no entry of that name
  NoTrash,  // no trash can be used for it (none can be made, or it is on another file system)
  Failed,   // the file system refused the move (no permission, say)
};

// Moves the entry nativeName of the open folder folderFd into the trash; a link is moved
// itself, not what it leads to. trashedAs, when given, gets the entry's path in the trash.
TTrashOutcome MoveToTrash(int folderFd, const std::string& nativeName,
                          std::string* trashedAs = nullptr);

// The user's trash folder ($XDG_DATA_HOME/Trash, by default under ~/.local/share).
std::string HomeTrashPath();

// The trash that an entry at the top of a file system would use, given that top folder:
// "$topdir/.Trash/$uid" when "$topdir/.Trash" qualifies, else "$topdir/.Trash-$uid". Created as
// needed (0700); "" when neither can be used.
std::string TopdirTrashPath(const std::string& topdir, unsigned uid);

// The names under which a folder at the top of a file system holds trash of this process's
// user: the administrator's shared ".Trash" (a folder per user inside) and ".Trash-$uid".
std::vector<std::string> TopdirTrashNames();

}  // namespace vm
