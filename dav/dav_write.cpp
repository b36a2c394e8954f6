// The writing methods of the file-manager door: PUT, MKCOL, DELETE, COPY and MOVE.
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "dav/dav_exchange.h"
#include "http/body_reader.h"
#include "http/chunked_decoder.h"
#include "http/tcp_connection.h"
#include "platform/sjis.h"
#include "platform/trash_can.h"

namespace vm {

namespace {

// Readable by all, as any file or folder the user makes (the umask applies).
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kNewFolderMode = 0755;
// A hidden partial file, where the file system cannot make a nameless one.
constexpr char kPartialPrefix[] = ".velmarind-dav-";
// A copied tree is bounded: one request must not run for ever.
constexpr size_t kMaxCopyEntries = 100000;
constexpr size_t kMaxCopyDepth = 64;
// The disk writes of a received file start behind the receive in pieces of this size.
constexpr int64_t kWriteBehindBytes = 8 << 20;

std::string RandomSuffix() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::string suffix(10, 'x');
  for (char& c : suffix) c = kLetters[random() % (sizeof kLetters - 1)];
  return suffix;
}

std::string SelfPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// A new file in a folder, written before it takes its name: nameless where the file system
// can make one, else under a hidden name. Whatever happens before Place, it leaves nothing.
class TPendingFile {
 public:
  explicit TPendingFile(int folderFd) : folder_(folderFd) {
    fd_.Reset(openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kNewFileMode));
    if (fd_ || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return;
    for (int attempt = 0; attempt < 8 && !fd_; ++attempt) {
      hidden_ = kPartialPrefix + RandomSuffix();
      fd_.Reset(openat(folder_, hidden_.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode));
    }
    if (!fd_) hidden_.clear();
  }
  ~TPendingFile() {
    if (!hidden_.empty()) unlinkat(folder_, hidden_.c_str(), 0);
  }
  TPendingFile(const TPendingFile&) = delete;
  TPendingFile& operator=(const TPendingFile&) = delete;

  int Fd() const { return fd_.Get(); }
  explicit operator bool() const { return static_cast<bool>(fd_); }

  // Gives the file its name: never over an entry, or with replace over a file of that name.
  // 0, or the errno of the failure.
  int Place(const std::string& name, bool replace) {
    if (hidden_.empty()) {
      // A nameless file first gets a hidden name when it is to replace: a link cannot.
      const std::string target = replace ? kPartialPrefix + RandomSuffix() : name;
      if (linkat(AT_FDCWD, SelfPath(fd_.Get()).c_str(), folder_, target.c_str(),
                 AT_SYMLINK_FOLLOW) != 0)
        return errno;
      if (!replace) return Closed(name);
      hidden_ = target;
    }
    const int moved = replace ? renameat(folder_, hidden_.c_str(), folder_, name.c_str())
                              : renameat2(folder_, hidden_.c_str(), folder_, name.c_str(),
                                          RENAME_NOREPLACE);
    if (moved != 0) return errno;
    hidden_.clear();
    return Closed(name);
  }

 private:
  // Some file systems report a failed write only at the close: the named file is not whole.
  int Closed(const std::string& name) {
    if (close(fd_.Release()) == 0) return 0;
    const int error = errno;
    unlinkat(folder_, name.c_str(), 0);
    return error;
  }

  int folder_;
  TUniqueFd fd_;
  std::string hidden_;  // the file's hidden name while it has one
};

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

// The answer to a failed write of the file system.
void RefuseWrite(TDavExchange& exchange, int error) {
  if (IsDiskFull(error)) return exchange.Refuse(507, "The disk is full.");
  if (error == EEXIST) return exchange.Refuse(409, "An entry of that name appeared meanwhile.");
  if (error == ENAMETOOLONG) return exchange.Refuse(403, "The name is too long for the disk.");
  if (error == EBADMSG) return exchange.Refuse(400, "The chunked body cannot be read.");
  exchange.Refuse(500, "The file system refused the change.");
}

// Copies the bytes of one open file into another; 0 or the errno of the failure.
int CopyBytes(int from, int to) {
  for (;;) {
    const ssize_t n = copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
    if (n == 0) return 0;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    break;
  }
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = read(from, buffer, sizeof buffer);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(to, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return w < 0 ? errno : ENOSPC;
      done += w;
    }
  }
}

// Copies a tree: the entry name of fromFolder into toFolder as newName. Entries a listing
// would not show (hidden names, links leading out of the shares) are left out. 0 or errno.
struct TTreeCopy {
  const TShareAccess& Access;
  size_t Entries = 0;

  int Copy(int fromFolder, const std::string& name, int toFolder, const std::string& newName,
           bool members, size_t depth) {
    if (++Entries > kMaxCopyEntries || depth > kMaxCopyDepth) return EFBIG;
    TUniqueFd from(openat(fromFolder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (!from || fstat(from.Get(), &info) != 0) return errno;
    if (S_ISREG(info.st_mode)) {
      TPendingFile copy(toFolder);
      if (!copy) return errno;
      if (const int error = CopyBytes(from.Get(), copy.Fd())) return error;
      return copy.Place(newName, false);
    }
    if (!S_ISDIR(info.st_mode)) return 0;
    if (mkdirat(toFolder, newName.c_str(), kNewFolderMode) != 0) return errno;
    if (!members) return 0;
    TUniqueFd target(openat(toFolder, newName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const int listing = dup(from.Get());
    DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!target || dir == nullptr) {
      if (listing >= 0 && dir == nullptr) close(listing);
      return EIO;
    }
    int result = 0;
    while (const dirent* entry = readdir(dir)) {
      const std::string child = entry->d_name;
      if (child == "." || child == ".." || Access.HidesName(child)) continue;
      struct stat childInfo {};
      if (!Access.StatEntry(from.Get(), child, TShareOperation::List, childInfo)) continue;
      result = Copy(from.Get(), child, target.Get(), child, true, depth + 1);
      if (result != 0) break;
    }
    closedir(dir);
    return result;
  }
};

// Trashes what lies at the resource (an overwritten destination): true when it is gone.
bool TrashExisting(TDavExchange& exchange, const TDavResource& resource) {
  switch (MoveToTrash(resource.Parent.Get(), resource.Path.Leaf())) {
    case TTrashOutcome::Trashed:
    case TTrashOutcome::Missing:
      exchange.Locks.Forget(resource.Path);
      exchange.Properties.Remove(resource.Path);
      return true;
    case TTrashOutcome::NoTrash:
      exchange.Refuse(507, "No trash can take it, and nothing is deleted for good.");
      return false;
    case TTrashOutcome::Failed:
      break;
  }
  exchange.Refuse(500, "The file system refused to move it to the trash.");
  return false;
}

// Starts the disk writes of a file being received behind the receive, a piece at a time, without
// waiting for them: a large file is on disk soon after its last byte arrives, instead of all of
// it waiting in memory for the system's flush, which a client that syncs, or any writer held back
// by that many dirty pages, would then wait for. Nothing is promised: a write error still shows
// at the close.
class TWriteBehind {
 public:
  explicit TWriteBehind(int fd) : fd_(fd) {}
  // The file holds the received bytes up to end.
  void Written(int64_t end) {
    if (end - started_ < kWriteBehindBytes) return;
    sync_file_range(fd_, started_, end - started_, SYNC_FILE_RANGE_WRITE);
    started_ = end;
  }

 private:
  const int fd_;
  int64_t started_ = 0;  // writes of the bytes before this have been started
};

bool IsChunked(TDavExchange& exchange) {
  return LowerAscii(exchange.Header("Transfer-Encoding")).find("chunked") != std::string::npos;
}

// Writes all of data at the file's position; 0 or the errno of the failure.
int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

// A body sent in chunks (some clients send files so), decoded from the connection into the
// file as it arrives. 0, the errno of a refused write (the rest is still read), or EBADMSG for
// a body that is no chunked body. A client that stops early ends the request by exception.
int ReceiveChunkedBody(TIdTCPConnection& connection, TDavExchange& exchange, int fd) {
  if (EqualTextIgnoreCase(exchange.Header("Expect"), "100-continue"))
    connection.Write("HTTP/1.1 100 Continue\r\n\r\n");
  TChunkedDecoder decoder;
  TWriteBehind writeBehind(fd);
  int64_t written = 0;
  int error = 0;
  for (;;) {
    if (connection.InputBufferSize() == 0 && !connection.ReceiveMore()) return EBADMSG;
    const TChunkedDecoder::TStep step = decoder.Next(connection.InputBuffer());
    if (error == 0 && !step.Data.empty()) {
      error = WriteAll(fd, step.Data);
      written += static_cast<int64_t>(step.Data.size());
      writeBehind.Written(written);
    }
    connection.Consume(step.Consumed);
    if (step.Status == TChunkedDecoder::TStatus::Done) {
      exchange.BodyConsumed = true;
      return error;
    }
    if (step.Status == TChunkedDecoder::TStatus::Malformed) return EBADMSG;
  }
}

// Reads the body of a PUT into the file; 0 or the errno of a refused write (or EBADMSG). A
// client that stops before the end ends the request by the reader's exception.
int ReceiveBody(TDavExchange& exchange, int fd) {
  TIdHTTPRequestInfo& request = exchange.Request();
  if (IsChunked(exchange) && exchange.Call.Thread != nullptr) {
    return ReceiveChunkedBody(*exchange.Call.Thread->Connection(), exchange, fd);
  }
  if (!request.BodyOnConnection || request.ContentLength <= 0) return 0;
  if (exchange.Call.Thread == nullptr) return EIO;
  TIdTCPConnection& connection = *exchange.Call.Thread->Connection();
  connection.SetTransferProgress(exchange.Call.State.Clients().BeginTransfer(
      request.RemoteIP, TTransferKind::Upload, exchange.Path.Leaf(), request.ContentLength));
  TIdBodyReader reader(connection, request);
  TWriteBehind writeBehind(fd);
  int error = 0;
  // The whole file is reserved first: a disk that cannot hold it refuses it before any byte is
  // written, its blocks lie together, and the writes go into a file of its size (on some file
  // systems a write past the end also writes the file's record).
  if (fallocate(fd, 0, 0, request.ContentLength) != 0 && IsDiskFull(errno)) error = errno;
  for (int64_t done = 0; error == 0 && done < request.ContentLength;) {
    const int64_t piece = std::min(kWriteBehindBytes, request.ContentLength - done);
    error = reader.ReadIntoFile(fd, done, piece);
    done += piece;
    writeBehind.Written(done);
  }
  reader.Skip(request.ContentLength);  // what a refused write leaves is read and dropped
  exchange.BodyConsumed = true;  // read to the end also when the disk refused it
  return error;
}

}  // namespace

void DavPut(TDavExchange& exchange) {
  TIdHTTPRequestInfo& request = exchange.Request();
  if (!exchange.Header("Content-Range").empty()) {
    return exchange.Refuse(400, "A part of a file cannot be written; send the whole file.");
  }
  if (!request.HasContentLength() && !IsChunked(exchange)) {
    return exchange.Refuse(411, "The length of the file must be sent (Content-Length).");
  }
  if (exchange.Path.Segments.size() < 2) return exchange.Refuse(405, "A collection cannot be written.");
  std::optional<TDavResource> target = exchange.ResolveOrRefuse(exchange.Path, true);
  if (!target) return;
  if (target->Kind == TDavResource::TKind::Folder) {
    return exchange.Refuse(405, "A collection cannot be written.");
  }
  const bool exists = target->Kind == TDavResource::TKind::File;
  // Replacing an empty file loses nothing: clients make one first (LOCK of a new name, or an
  // empty PUT) and then send the content.
  const bool replaces = exists && target->Info.st_size > 0;
  if (!exchange.Allowed(*target, replaces ? TDavAction::Replace : TDavAction::Create)) return;
  if (!exists && !exchange.NewNameAllowed(target->Path.Leaf())) return;
  const std::string ifMatch = exchange.Header("If-Match");
  const std::string ifNoneMatch = exchange.Header("If-None-Match");
  if ((!ifMatch.empty() && (!exists || (ifMatch != "*" && ifMatch != DavEtag(target->Info)))) ||
      (ifNoneMatch == "*" && exists)) {
    return exchange.Refuse(412, "The file is not in the state the request expects.");
  }
  if (!exchange.PassesLocks({{target->Path, false}, {target->Path.Parent(), false}})) return;

  TPendingFile file(target->Parent.Get());
  if (!file) return RefuseWrite(exchange, errno);
  if (const int error = ReceiveBody(exchange, file.Fd())) return RefuseWrite(exchange, error);
  if (const int error = file.Place(target->Path.Leaf(), exists)) return RefuseWrite(exchange, error);
  struct stat placed {};
  if (fstatat(target->Parent.Get(), target->Path.Leaf().c_str(), &placed, 0) == 0) {
    exchange.Response().CustomHeaders.Add("ETag: " + DavEtag(placed));
  }
  exchange.Notify(TShareChange::TKind::Upload, *target);
  exchange.Empty(exists ? 204 : 201);
}

void DavMkcol(TDavExchange& exchange) {
  if (exchange.Request().ContentLength > 0) {
    return exchange.Refuse(415, "MKCOL takes no body here.");
  }
  std::optional<TDavResource> target = exchange.ResolveOrRefuse(exchange.Path, true);
  if (!target) return;
  if (target->Exists()) return exchange.Refuse(405, "Something of that name exists.");
  if (!exchange.Allowed(*target, TDavAction::NewFolder)) return;
  if (!exchange.NewNameAllowed(target->Path.Leaf())) return;
  if (!exchange.PassesLocks({{target->Path, false}, {target->Path.Parent(), false}})) return;
  if (mkdirat(target->Parent.Get(), target->Path.Leaf().c_str(), kNewFolderMode) != 0) {
    return RefuseWrite(exchange, errno);
  }
  exchange.Notify(TShareChange::TKind::NewFolder, *target);
  exchange.Empty(201);
}

void DavDelete(TDavExchange& exchange) {
  std::optional<TDavResource> target = exchange.ResolveOrRefuse(exchange.Path, false);
  if (!target) return;
  if (!target->Exists()) return exchange.Refuse(404, "Not found.");
  if (target->Path.Segments.size() < 2) {
    return exchange.Refuse(403, "A share is removed in the settings window, not by clients.");
  }
  if (!exchange.Allowed(*target, TDavAction::Change) || !exchange.MayRemove(*target)) return;
  if (!exchange.PassesLocks({{target->Path, true}, {target->Path.Parent(), false}})) return;
  if (!TrashExisting(exchange, *target)) return;
  exchange.Notify(TShareChange::TKind::Trashed, *target);
  exchange.Empty(204);
}

void DavCopyMove(TDavExchange& exchange, bool move) {
  const std::string destinationText = exchange.Header("Destination");
  if (destinationText.empty()) return exchange.Refuse(400, "The Destination header is missing.");
  std::string host;
  TDavPathFault fault = TDavPathFault::None;
  std::optional<TDavPath> destination = ParseDavTarget(destinationText, &fault, &host);
  if (!destination) {
    return fault == TDavPathFault::Malformed
               ? exchange.Refuse(400, "The Destination cannot be read as a path.")
               : exchange.Refuse(403, "The Destination lies outside the shares.");
  }
  if (!host.empty() && !EqualTextIgnoreCase(host, exchange.Request().Host)) {
    return exchange.Refuse(502, "The Destination is on another server.");
  }
  const TDavPath& from = exchange.Path;
  if (from.Segments.size() < 2 || destination->Segments.size() < 2) {
    return exchange.Refuse(403, "A share itself is neither copied, moved nor replaced.");
  }
  if (from.Segments.front() != destination->Segments.front()) {
    return exchange.Refuse(403, "Entries are copied and moved within their share only.");
  }
  if (IsSameOrBelow(*destination, from)) {
    return exchange.Refuse(403, "The Destination is the source, or lies inside it.");
  }
  const std::optional<int> depth = exchange.Depth(-1);
  if (!depth) return;
  if (*depth == 1 || (move && *depth == 0)) {
    return exchange.Refuse(400, "The Depth header does not fit the method.");
  }
  const std::string overwrite = exchange.Header("Overwrite");
  if (!overwrite.empty() && overwrite != "T" && overwrite != "F") {
    return exchange.Refuse(400, "The Overwrite header must be T or F.");
  }
  std::optional<TDavResource> source = exchange.ResolveOrRefuse(from, false);
  if (!source) return;
  if (!source->Exists()) return exchange.Refuse(404, "Not found.");
  if (!exchange.Allowed(*source, move ? TDavAction::Change : TDavAction::Read)) return;
  if (move && !exchange.MayRemove(*source)) return;
  std::optional<TDavResource> target = exchange.ResolveOrRefuse(*destination, true);
  if (!target) return;
  if (!exchange.Allowed(*target, TDavAction::Change)) return;
  if (!exchange.NewNameAllowed(target->Path.Leaf())) return;
  const bool replaces = target->Exists();
  if (replaces && overwrite == "F") {
    return exchange.Refuse(412, "The Destination exists and Overwrite is F.");
  }
  if (replaces && !exchange.MayRemove(*target)) return;
  std::vector<std::pair<TDavPath, bool>> scopes = {{target->Path, true},
                                                   {target->Path.Parent(), false}};
  if (move) {
    scopes.push_back({source->Path, true});
    scopes.push_back({source->Path.Parent(), false});
  }
  if (!exchange.PassesLocks(scopes)) return;
  if (replaces && !TrashExisting(exchange, *target)) return;

  const std::string& leaf = source->Path.Leaf();
  const std::string& newLeaf = target->Path.Leaf();
  if (move) {
    if (renameat2(source->Parent.Get(), leaf.c_str(), target->Parent.Get(), newLeaf.c_str(),
                  RENAME_NOREPLACE) != 0) {
      if (errno == EXDEV) return exchange.Refuse(502, "The Destination is on another disk.");
      return RefuseWrite(exchange, errno);
    }
    exchange.Locks.Forget(source->Path);
    exchange.Properties.Move(source->Path, target->Path);
    exchange.Notify(TShareChange::TKind::Renamed, *source, newLeaf);
  } else {
    TTreeCopy copy{exchange.Resolver.Access()};
    if (const int error = copy.Copy(source->Parent.Get(), leaf, target->Parent.Get(), newLeaf,
                                    *depth != 0, 0)) {
      if (error == EFBIG) return exchange.Refuse(507, "The tree is too large to copy at once.");
      return RefuseWrite(exchange, error);
    }
    const TDavResolver& resolver = exchange.Resolver;
    exchange.Properties.Copy(source->Path, target->Path,
                             [&resolver](const TDavPath& path) -> std::optional<TFileId> {
                               TResolveFault ignored = TResolveFault::None;
                               const auto copied = resolver.Resolve(path, ignored);
                               if (!copied || !copied->Exists()) return std::nullopt;
                               return copied->Id();
                             });
    exchange.Notify(TShareChange::TKind::Upload, *target);
  }
  exchange.Empty(replaces ? 204 : 201);
}

}  // namespace vm
