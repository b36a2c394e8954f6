#include "web/zip_download.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "http/engine_errors.h"
#include "http/tcp_connection.h"
#include "platform/crc32.h"
#include "platform/fs_names.h"
#include "platform/record_stream.h"
#include "platform/spill_sorter.h"
#include "platform/spill_stream.h"
#include "platform/text_helpers.h"
#include "platform/unique_fd.h"
#include "web/download.h"
#include "web/share_paths.h"
#include "web/share_selection.h"
#include "web/zip_records.h"

namespace vm {

namespace {

// Members of one archive at most: beyond what any archive tool handles well, and a bound on
// the time one request takes to plan.
constexpr size_t kMaxMembers = 200'000;
// The planned members, and the central directory made as they are sent, are held in memory up
// to this size each; beyond it they go to a nameless temporary file. A member takes two copies
// of its path (some 4.7 KB under nine folders of 250-character names): a folder of 100,000
// such members would otherwise hold 470 MB until its client has read the archive.
constexpr int64_t kRecordsInMemory = int64_t{2} << 20;
// Archives made at once for one client address at most: each walks a tree and holds a thread.
constexpr int kZipsPerClient = 2;
// Folders deeper than this below the selection are left out: each level holds a descriptor.
constexpr int kMaxDepth = 64;
// A selection sent as a form body: well above a few thousand names, far below a memory worry.
constexpr int64_t kMaxSelectionBody = int64_t{1} << 20;
// Bytes read from a file and sent at a time: large enough that system calls cost little next
// to the copying, small enough for the cache.
constexpr size_t kChunkSize = 256 * 1024;
constexpr char kZipType[] = "application/zip";
constexpr char kZipExtension[] = ".zip";

// The members of an archive in the order they are sent, each with where its bytes are found:
// the native path relative to the archive's base folder (empty for the members that are
// folders). Kept as records in a stream, a few MiB in memory and the rest in a file.
class TArchivePlan {
 public:
  // False when the archive already has as many members as it may.
  bool Add(TZipMember member, const std::string& nativePath) {
    if (layout_.Count() >= kMaxMembers) return false;
    layout_.Add(member);
    const TRecordFields fields{member.Size, member.UnixMode,
                               static_cast<uint32_t>(member.Name.size()), member.DosTime,
                               member.DosDate};
    record_.assign(reinterpret_cast<const char*>(&fields), sizeof fields);
    record_ += member.Name;
    record_ += nativePath;
    framed_.clear();
    AppendFramedRecord(framed_, record_);
    records_.Write(framed_.data(), framed_.size());
    return true;
  }

  const TZipLayout& Layout() const { return layout_; }
  uint64_t Count() const { return layout_.Count(); }

  // Reads the members back in order, with the offsets the layout gave them.
  class TReader {
   public:
    explicit TReader(TArchivePlan& plan) : records_(plan.records_, 0, plan.records_.Size()) {}
    bool Next(TZipMember& member, std::string& nativePath) {
      std::string_view record;
      if (!records_.Next(record)) return false;
      TRecordFields fields;
      std::memcpy(&fields, record.data(), sizeof fields);
      record.remove_prefix(sizeof fields);
      member = TZipMember();
      member.Name = record.substr(0, fields.NameLength);
      nativePath = record.substr(fields.NameLength);
      member.Size = fields.Size;
      member.UnixMode = fields.UnixMode;
      member.DosTime = fields.DosTime;
      member.DosDate = fields.DosDate;
      layout_.Add(member);
      return true;
    }

   private:
    TFramedRecordReader records_;
    TZipLayout layout_;  // gives each member the offset it was planned with
  };

 private:
  // A member's record: these fields as they are in memory (the records never leave the
  // process), then its name, then its native path.
  struct TRecordFields {
    uint64_t Size;
    uint32_t UnixMode;
    uint32_t NameLength;
    uint16_t DosTime;
    uint16_t DosDate;
  };

  TZipLayout layout_;
  TSpillStream records_{kRecordsInMemory};
  std::string record_, framed_;  // reused for each member
};

// The claim of one archive on its client's share of the archives made at once.
class TZipSlot {
 public:
  explicit TZipSlot(std::string address) : address_(std::move(address)) {
    TSlots& slots = Slots();
    const std::lock_guard<std::mutex> lock(slots.mutex);
    int& held = slots.held[address_];
    held_ = held < kZipsPerClient;
    if (held_) ++held;
  }
  ~TZipSlot() {
    if (!held_) return;
    TSlots& slots = Slots();
    const std::lock_guard<std::mutex> lock(slots.mutex);
    if (--slots.held[address_] <= 0) slots.held.erase(address_);
  }
  TZipSlot(const TZipSlot&) = delete;
  TZipSlot& operator=(const TZipSlot&) = delete;
  bool Held() const { return held_; }

 private:
  // The archives being made, per client address, in the whole process.
  struct TSlots {
    std::mutex mutex;
    std::unordered_map<std::string, int> held;  // guarded by mutex
  };
  static TSlots& Slots() {
    static TSlots slots;
    return slots;
  }
  std::string address_;
  bool held_ = false;
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
    if (access_.HidesName(nativeName)) return true;
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
    // The names in byte order, so that the same folder gives the same archive. A folder of
    // very many names is sorted through a temporary file rather than held.
    TSpillSorter names(NameBefore);
    AddNames(folder.Get(), names);
    ancestors_.push_back(identity);
    bool room = true;
    for (std::string_view name; room && names.Next(name);) {
      room = AddEntry(folder.Get(), std::string(name), folderPath, zipName, depth);
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
    TZipMember member;
    member.Name = zipName;
    member.Size = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
    member.UnixMode = info.st_mode;
    SetDosTime(member, info.st_mtime);
    return plan_.Add(std::move(member), nativePath);
  }

  static bool NameBefore(std::string_view a, std::string_view b) { return a < b; }

  static void AddNames(int folderFd, TSpillSorter& names) {
    const int own = dup(folderFd);
    if (own < 0) return;
    struct DirCloser {
      void operator()(DIR* dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, DirCloser> dir(fdopendir(own));
    if (!dir) {
      close(own);
      return;
    }
    while (const dirent* entry = readdir(dir.get())) names.Add(entry->d_name);
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
      : connection_(connection),
        access_(access),
        baseFd_(baseFd),
        buffer_(std::make_unique<char[]>(kChunkSize)) {}

  void Send(TArchivePlan& plan) {
    // The central directory is made as the members pass (it needs their CRCs), and kept like
    // the plan: in memory up to a few MiB, beyond that in a nameless file.
    TSpillStream directory(kRecordsInMemory);
    std::string records;
    TZipMember member;
    std::string nativePath;
    for (TArchivePlan::TReader members(plan); members.Next(member, nativePath);) {
      records.clear();
      AppendLocalHeader(records, member);
      Put(records);
      if (!member.Folder()) {
        SendData(member, nativePath);
        records.clear();
        AppendDataDescriptor(records, member);
        Put(records);
      }
      records.clear();
      AppendCentralHeader(records, member);
      directory.Write(records.data(), records.size());
    }
    const TZipLayout& layout = plan.Layout();
    if (directory.Size() != static_cast<int64_t>(layout.DirectorySize()))
      Break("the central directory differs from the planned one");
    directory.SetPosition(0);
    for (int64_t left = directory.Size(); left > 0;) {
      if (used_ == kChunkSize) Flush();
      const size_t room = static_cast<size_t>(std::min<int64_t>(left, kChunkSize - used_));
      const size_t got = directory.Read(buffer_.get() + used_, room);
      if (got == 0) Break("the central directory could not be read back");
      used_ += got;
      left -= static_cast<int64_t>(got);
    }
    records.clear();
    AppendDirectoryEnd(records, layout.Count(), layout.DirectoryOffset(), layout.DirectorySize());
    Put(records);
    Flush();
    if (sent_ != layout.Length()) Break("the archive's length differs from the announced one");
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
    const TUniqueFd file(
        openat(baseFd_, nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
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
  const TZipSlot slot(call.Address);
  if (!slot.Held()) {
    AnswerRefusal(response, 429, "TooManyZips");
    return;
  }
  const TSelection selection = SelectionFromParams(SelectionParams(call));
  const TShareAccess access(call.Snapshot);
  TSharedEntry folder =
      access.Open(selection.FolderPath, TEntryKind::Folder, TShareOperation::Download);
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
      const uint64_t before = plan.Count();
      room = planner.AddEntry(base.Get(), NativeEntryName(selection.FolderPath, name), "", "", 0);
      if (!room) break;
      if (plan.Count() == before) {
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
  const uint64_t length = plan.Layout().Length();
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
  sender.Send(plan);
}

}  // namespace vm
