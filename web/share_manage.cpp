#include "web/share_manage.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "platform/fs_names.h"
#include "platform/name_marks.h"
#include "platform/text_helpers.h"
#include "platform/trash_can.h"
#include "platform/unique_fd.h"
#include "web/share_paths.h"
#include "web/share_selection.h"

namespace vm {

namespace {

constexpr char kDoneHeader[] = "X-Velmarind-Done: ";
constexpr char kAllowPost[] = "Allow: POST";
// Folders made by a browser are readable by all, as any the user makes (the umask applies).
constexpr mode_t kNewFolderMode = 0755;

// A refusal: the status code and the word the page script reads.
struct TRefusal {
  int Code;
  const char* Word;
};
constexpr TRefusal kMethodNotAllowed{405, "MethodNotAllowed"};
constexpr TRefusal kForeign{403, "Foreign"};
constexpr TRefusal kNotAllowed{403, "NotAllowed"};
constexpr TRefusal kNotFound{404, "NotFound"};
constexpr TRefusal kBadName{400, "BadName"};
constexpr TRefusal kExists{409, "Exists"};
constexpr TRefusal kNoTrash{409, "NoTrash"};
constexpr TRefusal kHoldsShare{409, "HoldsShare"};
constexpr TRefusal kCannotWrite{500, "CannotWrite"};

void Refuse(TDocumentCall& call, const TRefusal& refusal) {
  if (refusal.Code == kMethodNotAllowed.Code) call.Response.CustomHeaders.Add(kAllowPost);
  AnswerRefusal(call.Response, refusal.Code, refusal.Word);
}

void AnswerDone(TDocumentCall& call, int count) {
  call.Response.ContentType = "text/plain; charset=UTF-8";
  call.Response.CustomHeaders.Add(kDoneHeader + std::to_string(count));
  call.Response.ContentText = "Done\r\n";
}

// The refusal of the file system's errno.
TRefusal RefusalOfError(int error) {
  switch (error) {
    case EEXIST:
    case ENOTEMPTY:
      return kExists;
    case ENOENT:
      return kNotFound;
    case ENAMETOOLONG:
    case EINVAL:
      return kBadName;
    default:
      return kCannotWrite;
  }
}

// The name of the share whose path holds the folder by text (the innermost), for the desktop
// notice; "" when none does.
std::string ShareNameOf(const TSharedFolderList& folders, const std::string& folderPath) {
  std::string name;
  size_t depth = 0;
  for (const std::string& entry : folders) {
    const std::string path = SharedFolderPath(entry);
    if (path.size() > 1 && IsInsideFolder(folderPath, path) && path.size() >= depth) {
      name = GetField(entry, 0);
      depth = path.size();
    }
  }
  return name;
}

// What every managing request starts with: a POST from our own pages, and the folder it names
// opened and checked to lie inside a share that allows the operation.
struct TManagedFolder {
  TShareAccess Access;
  TSelection Selection;
  TUniqueFd Fd;
};

std::optional<TRefusal> OpenManagedFolder(TDocumentCall& call, TShareOperation operation,
                                          TManagedFolder& folder) {
  if (call.Request.Command != "POST") return kMethodNotAllowed;
  if (call.Foreign) return kForeign;
  folder.Selection = SelectionFromParams(call.Params);
  TSharedEntry entry = folder.Access.Open(folder.Selection.FolderPath, TEntryKind::Folder);
  if (!entry.Fd) return kNotFound;
  // A new folder is made in the folder; the other operations act on entries in it, which
  // are checked one by one (a share's own folder is never moved away).
  if (operation == TShareOperation::NewFolder
          ? !folder.Access.Allows(entry.Fd.Get(), operation)
          : !ModeAllows(folder.Access.ModeAt(entry.Fd.Get()).value_or(kDefaultShareMode),
                        operation)) {
    return kNotAllowed;
  }
  folder.Fd = std::move(entry.Fd);
  return std::nullopt;
}

// The entry systemName of the folder, checked for the operation: a name the listing shows (a
// link only when what it leads to is listed), a place where its share allows the operation, and
// for a move or a rename no folder that holds a share's root or one of the program's own.
// Gives its native name.
std::optional<TRefusal> CheckEntry(const TManagedFolder& folder, const std::string& systemName,
                                   TShareOperation operation, std::string& nativeName) {
  if (!IsEntryName(systemName)) return kBadName;
  if (folder.Access.HidesName(systemName)) return kNotFound;
  nativeName = NativeEntryName(folder.Selection.FolderPath, systemName);
  const TUniqueFd entry(
      openat(folder.Fd.Get(), nativeName.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!entry || fstat(entry.Get(), &info) != 0) return kNotFound;
  if (S_ISLNK(info.st_mode)) {
    const TUniqueFd target(openat(folder.Fd.Get(), nativeName.c_str(), O_PATH | O_CLOEXEC));
    if (!target || !folder.Access.Allows(target.Get(), TShareOperation::List)) return kNotFound;
  }
  if (!folder.Access.Contains(entry.Get())) return kNotFound;
  if (!folder.Access.Allows(entry.Get(), operation)) return kNotAllowed;
  if (S_ISDIR(info.st_mode) && folder.Access.HoldsProtectedFolder(entry.Get())) return kHoldsShare;
  return std::nullopt;
}

// A name typed for a new entry (the hex of its UTF-8 bytes, which are its name on disk): one
// name, no control character or layout mark, not hidden (a leading "." would make a settings
// file).
std::optional<std::string> TypedName(const std::string& params, const char* field) {
  const std::string hex = GetParam(params, field);
  std::string name = HexDecode(hex);
  if (name.size() * 2 != hex.size() || !IsEntryName(name) || IsDotName(name) ||
      HasLayoutMarks(name)) {
    return std::nullopt;
  }
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return std::nullopt;
  }
  return name;
}

void Notify(TDocumentCall& call, TShareChange change) {
  change.ClientAddress = call.Address;
  call.State.NotifyShareChange(change);
}

}  // namespace

void TrashDocument(TDocumentCall& call) {
  TManagedFolder folder{TShareAccess(call.Snapshot), {}, {}};
  if (auto refusal = OpenManagedFolder(call, TShareOperation::Delete, folder)) {
    return Refuse(call, *refusal);
  }
  const TSelection& selection = folder.Selection;
  if (selection.Names.empty() || !selection.NamesUsable) return Refuse(call, kBadName);
  int trashed = 0;
  std::optional<TRefusal> stopped;
  for (const std::string& name : selection.Names) {
    std::string nativeName;
    stopped = CheckEntry(folder, name, TShareOperation::Delete, nativeName);
    if (stopped) break;
    switch (MoveToTrash(folder.Fd.Get(), nativeName)) {
      case TTrashOutcome::Trashed:
        ++trashed;
        continue;
      case TTrashOutcome::Missing:
        stopped = kNotFound;
        break;
      case TTrashOutcome::NoTrash:
        // Never deleted for good instead: the user gets the refusal.
        stopped = kNoTrash;
        break;
      case TTrashOutcome::Failed:
        stopped = kCannotWrite;
        break;
    }
    break;
  }
  if (trashed > 0) {
    Notify(call, {TShareChange::TKind::Trashed, ShareNameOf(*call.Snapshot.SharedFolders,
                                                            selection.FolderPath),
                  selection.Names.front(), trashed, "", ""});
  }
  if (stopped) {
    call.Response.CustomHeaders.Add(kDoneHeader + std::to_string(trashed));
    return Refuse(call, *stopped);
  }
  AnswerDone(call, trashed);
}

void RenameDocument(TDocumentCall& call) {
  TManagedFolder folder{TShareAccess(call.Snapshot), {}, {}};
  if (auto refusal = OpenManagedFolder(call, TShareOperation::Rename, folder)) {
    return Refuse(call, *refusal);
  }
  const std::string from = HexDecode(GetParam(call.Params, "from"));
  const std::optional<std::string> to = TypedName(call.Params, "to");
  std::string fromNative;
  if (auto refusal = CheckEntry(folder, from, TShareOperation::Rename, fromNative)) {
    return Refuse(call, *refusal);
  }
  if (!to) return Refuse(call, kBadName);
  if (renameat2(folder.Fd.Get(), fromNative.c_str(), folder.Fd.Get(), to->c_str(),
                RENAME_NOREPLACE) != 0) {
    // A file system that cannot rename without replacing is refused: it could replace.
    return Refuse(call, errno == EINVAL ? kCannotWrite : RefusalOfError(errno));
  }
  Notify(call, {TShareChange::TKind::Renamed,
                ShareNameOf(*call.Snapshot.SharedFolders, folder.Selection.FolderPath), from, 1,
                "", NativeToSystem(*to)});
  AnswerDone(call, 1);
}

void NewFolderDocument(TDocumentCall& call) {
  TManagedFolder folder{TShareAccess(call.Snapshot), {}, {}};
  if (auto refusal = OpenManagedFolder(call, TShareOperation::NewFolder, folder)) {
    return Refuse(call, *refusal);
  }
  const std::optional<std::string> name = TypedName(call.Params, "name");
  if (!name) return Refuse(call, kBadName);
  if (mkdirat(folder.Fd.Get(), name->c_str(), kNewFolderMode) != 0) {
    return Refuse(call, RefusalOfError(errno));
  }
  Notify(call, {TShareChange::TKind::NewFolder,
                ShareNameOf(*call.Snapshot.SharedFolders, folder.Selection.FolderPath),
                NativeToSystem(*name), 1, "", ""});
  AnswerDone(call, 1);
}

}  // namespace vm
