#include "web/zip_download.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "http/engine_errors.h"
#include "http/tcp_connection.h"
#include "platform/crc32.h"
#include "platform/fs_names.h"
#include "platform/text_helpers.h"
#include "platform/unique_fd.h"
#include "web/download.h"
#include "web/share_paths.h"
#include "web/share_selection.h"
#include "web/zip_records.h"

namespace vm {

namespace {

// The members of one archive are all held (the central directory needs each one's name, size
// and CRC at the end): a bound on their number bounds the memory of one request to some ten MiB.
constexpr size_t kMaxMembers = 200'000;
// Folders deeper than this below the selection are left out: each level holds a descriptor.
constexpr int kMaxDepth = 64;
// A selection sent as a form body: well above a few thousand names, far below a memory worry.
constexpr int64_t kMaxSelectionBody = int64_t{1} << 20;
// Bytes read from a file and sent at a time: large enough that system calls cost little next
// to the copying, small enough for the cache.
constexpr size_t kChunkSize = 256 * 1024;
constexpr char kZipType[] = "application/zip";
constexpr char kZipExtension[] = ".zip";

// The members of an archive, and where each one's bytes are found: the native path relative to
// the archive's base folder (empty for the members that are folders).
struct TArchivePlan {
  std::vector<TZipMember> Members;
  std::vector<std::string> NativePaths;
};

struct TFolderIdentity {
  dev_t Device;
  ino_t Inode;
  bool operator==(const TFolderIdentity&) const = default;
};

// The zip name of a native path: its UTF-8 as it is, or with the bytes that are not UTF-8
// replaced (the name then differs from the one on disk, but can be written anywhere).
std::string ZipName(std::string_view native) {
  return IsAscii(native) ? std::string(native) : ToValidUtf8(native);
}

class TArchivePlanner {
 public:
  TArchivePlanner(const TShareAccess& access, TArchivePlan& plan) : access_(access), plan_(plan) {}

  // Adds the entry nativeName of the open folder folderFd, whose path relative to the base
  // folder is folderPath ("" or ending in "/"), under zip name zipPrefix + name.
  // False once there are too many members.
  bool AddEntry(int folderFd, const std::string& nativeName, const std::string& folderPath,
                const std::string& zipPrefix, int depth) {
    if (nativeName == "." || nativeName == "..") return true;
    if (!access_.PublishDotFiles() && IsDotName(nativeName)) return true;
    // Links are followed only into shares that allow downloading: what lies elsewhere is not there.
    struct stat info {};
    if (!access_.StatEntry(folderFd, nativeName, TShareOperation::Download, info)) return true;
    const std::string path = folderPath + nativeName;
    const std::string zipName = zipPrefix + ZipName(nativeName);
    if (S_ISREG(info.st_mode)) {
      // A file that cannot be read is left out here rather than break the archive later.
      if (faccessat(folderFd, nativeName.c_str(), R_OK, AT_EACCESS) != 0) return true;
      return AddMember(zipName, path, info);
    }
    if (!S_ISDIR(info.st_mode) || depth >= kMaxDepth) return true;
    TUniqueFd folder(openat(folderFd, nativeName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) return true;
    return AddFolder(std::move(folder), path + "/", zipName + "/", depth + 1);
  }

  // Adds the open folder (checked here) and everything in it.
  bool AddFolder(TUniqueFd folder, const std::string& folderPath, const std::string& zipName,
                 int depth) {
    struct stat info {};
    if (fstat(folder.Get(), &info) != 0 ||
        !access_.Allows(folder.Get(), TShareOperation::Download)) {
      return true;
    }
    // A link back to a folder above would make the walk endless.
    const TFolderIdentity identity{info.st_dev, info.st_ino};
    if (std::find(ancestors_.begin(), ancestors_.end(), identity) != ancestors_.end()) return true;
    if (!AddMember(zipName, "", info)) return false;
    const std::vector<std::string> names = SortedNames(folder.Get());
    ancestors_.push_back(identity);
    bool room = true;
    for (const std::string& name : names) {
      if (!(room = AddEntry(folder.Get(), name, folderPath, zipName, depth))) break;
    }
    ancestors_.pop_back();
    return room;
  }

  // Marks the open folder whose entries are added one by one as one the walk never enters again
  // (a link in it back to it).
  void EnterBase(int folderFd) {
    struct stat info {};
    if (fstat(folderFd, &info) == 0) ancestors_.push_back({info.st_dev, info.st_ino});
  }

 private:
  bool AddMember(const std::string& zipName, const std::string& nativePath,
                 const struct stat& info) {
    if (plan_.Members.size() >= kMaxMembers) return false;
    TZipMember member;
    member.Name = zipName;
    member.Size = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
    member.UnixMode = info.st_mode;
    SetDosTime(member, info.st_mtime);
    plan_.Members.push_back(std::move(member));
    plan_.NativePaths.push_back(nativePath);
    return true;
  }

  // The names in the folder, in byte order: the same folder gives the same archive.
  static std::vector<std::string> SortedNames(int folderFd) {
    std::vector<std::string> names;
    const int own = dup(folderFd);
    if (own < 0) return names;
    struct DirCloser {
      void operator()(DIR* dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, DirCloser> dir(fdopendir(own));
    if (!dir) {
      close(own);
      return names;
    }
    while (const dirent* entry = readdir(dir.get())) names.emplace_back(entry->d_name);
    std::sort(names.begin(), names.end());
    return names;
  }

  const TShareAccess& access_;
  TArchivePlan& plan_;
  std::vector<TFolderIdentity> ancestors_;
};

// Sends the archive in chunks: headers and file bytes gathered in one buffer, each file's CRC
// computed as its bytes pass.
class TArchiveSender {
 public:
  TArchiveSender(TIdTCPConnection& connection, const TShareAccess& access, int baseFd)
      : connection_(connection), access_(access), baseFd_(baseFd),
        buffer_(std::make_unique<char[]>(kChunkSize)) {}

  void Send(TArchivePlan& plan, uint64_t length) {
    std::string records;
    for (size_t i = 0; i < plan.Members.size(); ++i) {
      TZipMember& member = plan.Members[i];
      records.clear();
      AppendLocalHeader(records, member);
      Put(records);
      if (member.Folder()) continue;
      SendData(member, plan.NativePaths[i]);
      records.clear();
      AppendDataDescriptor(records, member);
      Put(records);
    }
    const uint64_t directoryOffset = CentralDirectoryOffset(plan.Members);
    uint64_t directorySize = 0;
    for (const TZipMember& member : plan.Members) {
      records.clear();
      AppendCentralHeader(records, member);
      directorySize += records.size();
      Put(records);
    }
    records.clear();
    AppendDirectoryEnd(records, plan.Members.size(), directoryOffset, directorySize);
    Put(records);
    Flush();
    if (sent_ != length) Break("the archive's length differs from the announced one");
  }

 private:
  void Put(std::string_view bytes) {
    while (!bytes.empty()) {
      if (used_ == kChunkSize) Flush();
      const size_t step = std::min(bytes.size(), kChunkSize - used_);
      std::copy_n(bytes.data(), step, buffer_.get() + used_);
      used_ += step;
      bytes.remove_prefix(step);
    }
  }

  void Flush() {
    if (used_ == 0) return;
    connection_.Write(std::string_view(buffer_.get(), used_));
    sent_ += used_;
    used_ = 0;
  }

  // Ends the answer where it stands: the central directory never comes, so every reader sees
  // a broken archive, and the connection closes short of the announced length.
  [[noreturn]] void Break(const std::string& why) {
    throw EIdSocketError(EIO, "Archive broken off: " + why);
  }

  void SendData(TZipMember& member, const std::string& nativePath) {
    const TUniqueFd file(openat(baseFd_, nativePath.c_str(),
                                O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (!file || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        !access_.Allows(file.Get(), TShareOperation::Download)) {
      Break("\"" + member.Name + "\" is no longer there");
    }
    if (static_cast<uint64_t>(info.st_size) != member.Size) {
      Break("\"" + member.Name + "\" changed its size");
    }
    posix_fadvise(file.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    uint32_t crc = 0;
    uint64_t left = member.Size;
    while (left > 0) {
      if (used_ == kChunkSize) Flush();
      const size_t room = static_cast<size_t>(std::min<uint64_t>(left, kChunkSize - used_));
      const ssize_t got = read(file.Get(), buffer_.get() + used_, room);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) Break("\"" + member.Name + "\" became shorter");
      crc = Crc32Update(crc, buffer_.get() + used_, static_cast<size_t>(got));
      used_ += static_cast<size_t>(got);
      left -= static_cast<uint64_t>(got);
    }
    // A file written to meanwhile may have grown: its member would be a part of it.
    if (fstat(file.Get(), &info) != 0 || static_cast<uint64_t>(info.st_size) != member.Size) {
      Break("\"" + member.Name + "\" changed its size");
    }
    member.Crc = crc;
  }

  TIdTCPConnection& connection_;
  const TShareAccess& access_;
  int baseFd_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  uint64_t sent_ = 0;
};

// The parameter text of the request: the query, or a form body of a POST.
std::string SelectionParams(const TDocumentCall& call) {
  TIdHTTPRequestInfo& request = call.Request;
  if (request.PostStream && request.PostStream->Size() > 0) {
    if (request.PostStream->Size() > kMaxSelectionBody) return "";
    return PercentDecoded(request.PostStream->View());
  }
  return call.Params;
}

}  // namespace

void ZipDocument(TDocumentCall& call) {
  TIdHTTPResponseInfo& response = call.Response;
  if (call.Foreign) {
    AnswerRefusal(response, 403, "Foreign");
    return;
  }
  const TSelection selection = SelectionFromParams(SelectionParams(call));
  const TShareAccess access(call.Snapshot);
  TSharedEntry folder = access.Open(selection.FolderPath, TEntryKind::Folder,
                                    TShareOperation::Download);
  if (!folder.Fd || !selection.NamesUsable) {
    AnswerRefusal(response, 404, "NotFound");
    return;
  }
  TArchivePlan plan;
  TArchivePlanner planner(access, plan);
  bool room = true;
  std::string archiveName;
  // Members are opened again when their turn comes, relative to the selected folder.
  const TUniqueFd base(dup(folder.Fd.Get()));
  if (!base) {
    AnswerRefusal(response, 404, "NotFound");
    return;
  }
  if (selection.Names.empty()) {
    // The whole folder: its members under its own name, as "Send to zip" makes them. The
    // archive is named as the browser shows the folder (a share by its name).
    archiveName = FolderShownName(*call.Snapshot.SharedFolders, selection.FolderPath);
    const std::string zipName = ZipName(FolderBaseName(folder.NativePath)) + "/";
    room = planner.AddFolder(std::move(folder.Fd), "", zipName, 0);
  } else {
    archiveName = selection.Names.size() == 1
                      ? selection.Names.front()
                      : FolderShownName(*call.Snapshot.SharedFolders, selection.FolderPath);
    planner.EnterBase(base.Get());
    for (const std::string& name : selection.Names) {
      const size_t before = plan.Members.size();
      room = planner.AddEntry(base.Get(), NativeEntryName(selection.FolderPath, name), "", "", 0);
      if (!room) break;
      if (plan.Members.size() == before) {
        // A selected entry that is not there (or not to be had) is not silently left out.
        AnswerRefusal(response, 404, "NotFound");
        return;
      }
    }
  }
  if (!room) {
    AnswerRefusal(response, 413, "TooMany");
    return;
  }
  const uint64_t length = PlanZipArchive(plan.Members);
  if (archiveName.empty()) archiveName = "archive";
  const std::string systemName = archiveName + kZipExtension;
  response.ContentType = kZipType;
  response.ContentLength = static_cast<int64_t>(length);
  response.CustomHeaders.AddStdValues(
      {AttachmentDispositionEntry(systemName, SystemToDisplayUtf8(systemName))});
  response.WriteHeader();
  TIdTCPConnection* connection = response.Connection();
  if (response.HeadOnly || connection == nullptr) return;
  TArchiveSender sender(*connection, access, base.Get());
  sender.Send(plan, length);
}

}  // namespace vm
