#include "web/chunk_upload.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "http/body_reader.h"
#include "platform/atomic_file.h"
#include "platform/crc32.h"
#include "platform/fs_names.h"
#include "platform/text_helpers.h"
#include "platform/unique_fd.h"
#include "web/multipart_scan.h"
#include "web/share_paths.h"
#include "web/upload_claims.h"
#include "web/upload_names.h"
#include "web/upload_records.h"

namespace vm {

namespace {

// The browser's id: 128 random bits as lowercase hex. Only that browser knows it; it names the
// record, so nothing but these characters may reach a file name.
constexpr size_t kIdLength = 32;
// The hex of a browser's file name: no file system takes a name of more than 255 bytes, and a
// browser's may be cut to that, but not be longer than this.
constexpr size_t kMaxNameHex = 2 * 4096;
// Far beyond any disk, far below the overflow of a 64-bit offset plus a chunk.
constexpr int64_t kMaxUploadSize = int64_t{1} << 50;
constexpr size_t kCrcDigits = 8;
// A chunk's checksum is read from the file through mappings of this size.
constexpr int64_t kCrcWindow = 4 << 20;
// The random part of a partial file's name.
constexpr size_t kPartialTokenLetters = 16;
// A partial file is the uploader's alone until it is complete and named.
constexpr mode_t kPartialMode = 0600;
// Old partial uploads are looked for at most this often, by the requests of any upload.
constexpr auto kSweepInterval = std::chrono::minutes(10);
// Partial uploads at once: each holds disk space until it is whole or swept, and a client
// (or all of them) must not hold more than these.
constexpr int kMaxUnfinishedPerClient = 4;
constexpr int kMaxUnfinished = 32;
// Pieces reserved on the disk ahead of the one being written: enough that a disk filling up
// refuses the next piece rather than a write in the middle of it, and never the whole file.
constexpr int64_t kReservedPieces = 2;
// The folder of the program's partial files at a share's top: its owner's alone.
constexpr mode_t kPartialsFolderMode = 0700;

constexpr char kHeldHeader[] = "X-Velmarind-Held: ";
constexpr char kSavedHeader[] = "X-Velmarind-Saved: ";
constexpr char kRefusedHeader[] = "X-Velmarind-Refused: ";

enum class TChunkOp { Held, Put, Cancel };

struct TChunkRequest {
  TChunkOp Op = TChunkOp::Held;
  std::string Id;
  TPartialUpload Upload;  // what the request names: folder, name, size, modification time
  int64_t Offset = 0;     // Put only
  int64_t Length = 0;     // Put only: the body's announced length
  uint32_t Crc = 0;       // Put only
};

// What a request is answered with.
struct TReply {
  int Code = 200;
  const char* Reason = "OK";
  const char* Refusal = nullptr;  // the word of X-Velmarind-Refused
  std::optional<int64_t> Held;
  std::string Saved;  // system text
};

TReply Refusal(int code, const char* reason, const char* word,
               std::optional<int64_t> held = std::nullopt) {
  return {code, reason, word, held, ""};
}
TReply HeldReply(int64_t held) { return {200, "OK", nullptr, held, ""}; }
TReply SavedReply(const TPartialUpload& upload) {
  return {200, "OK", nullptr, upload.Size, upload.SavedName};
}

void Send(TIdHTTPResponseInfo& response, const TReply& reply) {
  response.SetResponseCode(reply.Code);
  response.ResponseText = reply.Reason;
  response.ContentType = "text/plain; charset=us-ascii";
  response.CustomHeaders.Add("Cache-Control: no-store");
  std::string text;
  if (reply.Held) {
    response.CustomHeaders.Add(kHeldHeader + std::to_string(*reply.Held));
    text += "held=" + std::to_string(*reply.Held) + "\r\n";
  }
  if (!reply.Saved.empty()) {
    response.CustomHeaders.Add(kSavedHeader + HexEncode(reply.Saved));
    text += "saved=" + HexEncode(reply.Saved) + "\r\n";
  }
  if (reply.Refusal != nullptr) {
    response.CustomHeaders.Add(std::string(kRefusedHeader) + reply.Refusal);
    text += std::string("refused=") + reply.Refusal + "\r\n";
  }
  response.ContentText = std::move(text);
}

bool IsHex(std::string_view text, bool lowerOnly) {
  for (const char c : text) {
    const bool digit = c >= '0' && c <= '9';
    const bool lower = c >= 'a' && c <= 'f';
    const bool upper = !lowerOnly && c >= 'A' && c <= 'F';
    if (!digit && !lower && !upper) return false;
  }
  return text.size() % 2 == 0;
}

// A whole decimal number from 0 to max; nothing for anything else.
std::optional<int64_t> Decimal(std::optional<std::string_view> text, int64_t max) {
  if (!text || text->empty() || text->size() > 18) return std::nullopt;
  int64_t value = 0;
  for (const char c : *text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

std::optional<TChunkRequest> ParseChunkRequest(std::string_view params) {
  TChunkRequest request;
  const std::string_view op = ParamValue(params, "op").value_or("");
  if (op == "held") {
    request.Op = TChunkOp::Held;
  } else if (op == "put") {
    request.Op = TChunkOp::Put;
  } else if (op == "cancel") {
    request.Op = TChunkOp::Cancel;
  } else {
    return std::nullopt;
  }
  const std::string_view id = ParamValue(params, "id").value_or("");
  const std::string_view share = ParamValue(params, "dirname").value_or("");
  const std::string_view folder = ParamValue(params, "dirpath").value_or("");
  const std::string_view name = ParamValue(params, "name").value_or("");
  if (id.size() != kIdLength || !IsHex(id, true) || share.empty() || !IsHex(share, false) ||
      !IsHex(folder, false) || name.empty() || name.size() > kMaxNameHex || !IsHex(name, false)) {
    return std::nullopt;
  }
  const std::optional<int64_t> size = Decimal(ParamValue(params, "size"), kMaxUploadSize);
  const std::optional<int64_t> modified = Decimal(ParamValue(params, "mtime"), kMaxUploadSize);
  if (!size || !modified) return std::nullopt;
  request.Id = std::string(id);
  request.Upload.ShareName = HexDecode(share);
  request.Upload.FolderPath = HexDecode(folder);
  request.Upload.Name = HexDecode(name);
  request.Upload.Size = *size;
  request.Upload.ModifiedMs = *modified;
  if (request.Op != TChunkOp::Put) return request;
  const std::optional<int64_t> offset = Decimal(ParamValue(params, "offset"), *size);
  const std::string_view crc = ParamValue(params, "crc").value_or("");
  if (!offset || crc.size() != kCrcDigits || !IsHex(crc, false)) return std::nullopt;
  request.Offset = *offset;
  request.Crc = static_cast<uint32_t>(std::stoul(std::string(crc), nullptr, 16));
  return request;
}

// The folder an upload goes to, opened and checked inside its share. Every question, chunk and
// cancel passes here, so that what may be written where is decided in this one place.
TUniqueFd OpenUploadFolder(const TDocumentCall& call, const TPartialUpload& upload) {
  // Every question, piece and cancel needs a share that takes uploads (not a view-only one).
  const TShareAccess access(call.Snapshot);
  return access.OpenFolderIn(upload.ShareName, upload.FolderPath, TShareOperation::Upload);
}

std::string RandomToken(size_t count) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::string token(count, 'x');
  for (char& c : token) c = kLetters[random() % (sizeof kLetters - 1)];
  return token;
}

// Where the open folder lies now, for the sweep; "" when the kernel cannot say.
std::string FolderPathOf(int fd) {
  std::string path(PATH_MAX, '\0');
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = readlink(link.c_str(), path.data(), path.size());
  if (n <= 0 || static_cast<size_t>(n) >= path.size()) return "";
  path.resize(static_cast<size_t>(n));
  return path;
}

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

TReply WriteFailure(int error) {
  if (IsDiskFull(error)) return Refusal(507, "Insufficient Storage", "DiskFull");
  return Refusal(500, "Internal Server Error", "CannotWrite");
}

// The partial file of a recorded upload, open for writing and checked: a regular file with no
// other name. Invalid when it is gone (the sweep took it, or the user deleted it).
TUniqueFd OpenPartial(int place, const TPartialUpload& upload) {
  TUniqueFd fd(openat(place, upload.PartialName.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!fd || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) return {};
  return fd;
}

// The folder that holds a recorded upload's partial file; invalid when it is gone.
TUniqueFd OpenRecordedPlace(const TPartialUpload& upload) {
  return TUniqueFd(open(upload.NativeFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// True when a rename moves a file between the two folders: they lie on one mount (by its id
// where the kernel tells it, else by the device).
bool OnOneMount(int first, int second) {
  struct statx a {};
  struct statx b {};
  if (statx(first, "", AT_EMPTY_PATH, STATX_MNT_ID, &a) != 0 ||
      statx(second, "", AT_EMPTY_PATH, STATX_MNT_ID, &b) != 0) {
    return false;
  }
  if ((a.stx_mask & b.stx_mask & STATX_MNT_ID) != 0) return a.stx_mnt_id == b.stx_mnt_id;
  return a.stx_dev_major == b.stx_dev_major && a.stx_dev_minor == b.stx_dev_minor;
}

// The folder a new upload's partial file is kept in until it is whole: the program's own at the
// top of the share, where the sweep finds it however the folder it goes to moves meanwhile.
// The folder it goes to itself when that lies on another mount (a whole file is named by a
// rename, which stays on one) or the share's top takes no folder.
TUniqueFd OpenNewPlace(const TStateSnapshot& snapshot, const std::string& shareName, int folder) {
  const std::string top = SharedFolderPathByName(*snapshot.SharedFolders, shareName);
  const TUniqueFd root(open(SystemToNative(top).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (root && OnOneMount(root.Get(), folder)) {
    const std::string name(kPartialsFolder);
    if (mkdirat(root.Get(), name.c_str(), kPartialsFolderMode) == 0 || errno == EEXIST) {
      TUniqueFd place(
          openat(root.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (place) return place;
    }
  }
  return TUniqueFd(fcntl(folder, F_DUPFD_CLOEXEC, 0));
}

int64_t SizeOf(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

// Reserves count bytes of the file from offset without changing its size, where the file system
// can, so that a disk too small refuses a piece before it is sent rather than in its middle.
// The refusal when the disk has no room.
std::optional<TReply> Reserve(int fd, int64_t offset, int64_t count) {
  if (count > 0 && fallocate(fd, FALLOC_FL_KEEP_SIZE, offset, count) != 0 && IsDiskFull(errno))
    return WriteFailure(errno);
  return std::nullopt;
}

// Starts a recorded upload for the client: refused when the client or everyone has too many
// partial uploads, or the disk has less room than the whole file. The record comes first, so
// that the sweep finds every partial file, then the empty partial file in place.
std::optional<TReply> BeginUpload(const TUploadRecords& records, const std::string& id,
                                  const std::string& client, TPartialUpload& upload, int place,
                                  TUniqueFd& partial) {
  struct statvfs disk {};
  if (fstatvfs(place, &disk) == 0 &&
      static_cast<uint64_t>(upload.Size) > static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize) {
    return WriteFailure(ENOSPC);
  }
  upload.PartialName = std::string(kPartialPrefix) + RandomToken(kPartialTokenLetters);
  upload.NativeFolder = FolderPathOf(place);
  upload.Client = client;
  upload.GrownAt = std::time(nullptr);
  upload.GrownHeld = 0;
  {
    // Counted and recorded under one lock: two uploads that begin at once see each other.
    static std::mutex counting;
    const std::lock_guard<std::mutex> lock(counting);
    const TUploadRecords::TUnfinished unfinished = records.CountUnfinished(client);
    if (unfinished.OfClient >= kMaxUnfinishedPerClient || unfinished.All >= kMaxUnfinished) {
      return Refusal(429, "Too Many Requests", "TooManyUploads");
    }
    if (!records.Write(id, upload)) return Refusal(500, "Internal Server Error", "CannotWrite");
  }
  partial.Reset(openat(place, upload.PartialName.c_str(),
                       O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPartialMode));
  const int error = partial ? 0 : errno;
  if (error != 0) {
    records.Remove(id);
    return WriteFailure(error);
  }
  return std::nullopt;
}

// Gives up what a chunk wrote; false when the file could not be cut (it then holds bytes that
// were never checked, and says so by its size: the next chunk's offset no longer fits).
bool CutBack(int fd, int64_t held) { return ftruncate(fd, held) == 0; }

// Gives the complete partial file its name in the folder: the first free one, never replacing
// an entry. The name the answer gives (system text) on success: in a drop box the browser's,
// whatever the file got, so that the answer never tells that a name was taken.
std::optional<std::string> NameUpload(int place, int folder, const TPartialUpload& upload,
                                      bool keepNames, bool dropBox, int& error) {
  const TUploadNamer namer(keepNames, upload.Name, UploadExtension(upload.Name),
                           std::chrono::system_clock::now(), dropBox);
  const char* partial = upload.PartialName.c_str();
  for (int attempt = 1; attempt <= namer.MaxAttempts(); ++attempt) {
    const std::string name = namer.NativeName(attempt);
    if (renameat2(place, partial, folder, name.c_str(), RENAME_NOREPLACE) == 0)
      return NativeToSystem(namer.AnsweredName(attempt));
    if (errno == EEXIST) continue;
    if (errno != EINVAL && errno != ENOSYS) break;
    // A file system that cannot rename without replacing: a link, which never replaces either.
    if (linkat(place, partial, folder, name.c_str(), 0) == 0) {
      unlinkat(place, partial, 0);
      return NativeToSystem(namer.AnsweredName(attempt));
    }
    if (errno != EEXIST) break;
  }
  error = errno;
  return std::nullopt;
}

// The CRC-32 of count bytes of the file from offset, read through a mapping of the file's pages
// (just written, so in the cache) a window at a time: no copy, and little resident at once.
std::optional<uint32_t> FileCrc32(int fd, int64_t offset, int64_t count) {
  // A mapping read past the end of the file would end the process: the bytes must be there.
  if (SizeOf(fd) < offset + count) {
    errno = EIO;
    return std::nullopt;
  }
  const int64_t page = sysconf(_SC_PAGESIZE);
  uint32_t crc = 0;
  while (count > 0) {
    const int64_t start = offset - offset % page;
    const size_t length = static_cast<size_t>(offset - start + std::min(count, kCrcWindow));
    void* map = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, start);
    if (map == MAP_FAILED) return std::nullopt;
    const size_t skip = static_cast<size_t>(offset - start);
    crc = Crc32Update(crc, static_cast<const char*>(map) + skip, length - skip);
    munmap(map, length);
    offset += static_cast<int64_t>(length - skip);
    count -= static_cast<int64_t>(length - skip);
  }
  return crc;
}

// Moves the chunk from the connection into the partial file at its offset, then checks it; the
// reply when it is refused. On any failure the file is cut back to what it held, also when the
// client goes away in the middle (the exception then ends the request).
std::optional<TReply> ReceiveChunk(TIdBodyReader& body, int fd, const TChunkRequest& request) {
  int writeError = 0;
  try {
    writeError = body.ReadIntoFile(fd, request.Offset, request.Length);
  } catch (...) {
    CutBack(fd, request.Offset);
    throw;
  }
  std::optional<uint32_t> crc;
  if (writeError == 0) crc = FileCrc32(fd, request.Offset, request.Length);
  if (writeError == 0 && !crc) writeError = errno;
  if (writeError == 0 && *crc == request.Crc) return std::nullopt;
  const bool cut = CutBack(fd, request.Offset);
  if (writeError != 0) return WriteFailure(writeError);
  if (!cut) return WriteFailure(errno);
  return Refusal(422, "Unprocessable Content", "Checksum", request.Offset);
}

void MaybeSweep(const std::string& programFolder) {
  static std::atomic<int64_t> lastSweep{INT64_MIN};
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  int64_t last = lastSweep.load();
  const int64_t interval = std::chrono::duration_cast<std::chrono::seconds>(kSweepInterval).count();
  if (last != INT64_MIN && now - last < interval) return;
  if (!lastSweep.compare_exchange_strong(last, now)) return;  // another request sweeps
  SweepPartialUploads(programFolder);
}

TReply AnswerHeld(const TUploadRecords& records, const TChunkRequest& request) {
  const std::optional<TPartialUpload> record = records.Read(request.Id);
  if (!record) return HeldReply(0);
  if (!record->SameUpload(request.Upload)) return Refusal(409, "Conflict", "Mismatch");
  if (!record->SavedName.empty()) return SavedReply(*record);
  const TUniqueFd place = OpenRecordedPlace(*record);
  const TUniqueFd partial = place ? OpenPartial(place.Get(), *record) : TUniqueFd();
  if (!partial) {
    records.Remove(request.Id);
    return HeldReply(0);
  }
  return HeldReply(SizeOf(partial.Get()));
}

TReply AnswerCancel(const TUploadRecords& records, const TChunkRequest& request) {
  const std::optional<TPartialUpload> record = records.Read(request.Id);
  if (!record) return HeldReply(0);
  if (!record->SameUpload(request.Upload)) return Refusal(409, "Conflict", "Mismatch");
  if (!record->SavedName.empty()) return SavedReply(*record);
  const TUniqueFd place = OpenRecordedPlace(*record);
  if (place && OpenPartial(place.Get(), *record)) {
    unlinkat(place.Get(), record->PartialName.c_str(), 0);
  }
  records.Remove(request.Id);
  return HeldReply(0);
}

TReply AnswerPut(TDocumentCall& call, const TUploadRecords& records, const TChunkRequest& request,
                 int folder, TIdBodyReader& body) {
  std::optional<TPartialUpload> record = records.Read(request.Id);
  TUniqueFd place, partial;
  if (!record) {
    if (request.Offset != 0) return Refusal(409, "Conflict", "Offset", 0);
    record = request.Upload;
    place = OpenNewPlace(call.Snapshot, record->ShareName, folder);
    if (!place) return WriteFailure(errno);
    if (std::optional<TReply> refused =
            BeginUpload(records, request.Id, call.Address, *record, place.Get(), partial)) {
      return *refused;
    }
  } else {
    if (!record->SameUpload(request.Upload)) return Refusal(409, "Conflict", "Mismatch");
    if (!record->SavedName.empty()) return SavedReply(*record);
    place = OpenRecordedPlace(*record);
    if (place) partial = OpenPartial(place.Get(), *record);
    if (!partial) {
      records.Remove(request.Id);
      return Refusal(409, "Conflict", "Offset", 0);
    }
  }
  const int64_t held = SizeOf(partial.Get());
  if (request.Offset != held) return Refusal(409, "Conflict", "Offset", held);
  // Room for this piece and the next, again: a cut piece gave back what was reserved past it,
  // and the disk may have filled since the upload began.
  const int64_t ahead = std::min(record->Size - held, kReservedPieces * request.Length);
  if (std::optional<TReply> full = Reserve(partial.Get(), held, ahead)) {
    // Nothing held yet: nothing is kept either. What was held stays, to go on with once there is
    // room again.
    if (held == 0) {
      unlinkat(place.Get(), record->PartialName.c_str(), 0);
      records.Remove(request.Id);
    }
    return *full;
  }
  if (std::optional<TReply> refused = ReceiveChunk(body, partial.Get(), request)) return *refused;
  const int64_t now = request.Offset + request.Length;
  if (now < record->Size) {
    if (record->RenewedBy(now)) {
      record->GrownAt = std::time(nullptr);
      record->GrownHeld = now;
      records.Write(request.Id, *record);
    }
    return HeldReply(now);
  }

  // Whole: it takes its name only if every byte is there and the file system took them all
  // (some report a failed write only at the close).
  if (SizeOf(partial.Get()) != record->Size || fchmod(partial.Get(), kPublicFileMode) != 0 ||
      close(partial.Release()) != 0) {
    const int error = errno;
    unlinkat(place.Get(), record->PartialName.c_str(), 0);
    records.Remove(request.Id);
    return WriteFailure(error);
  }
  int error = 0;
  const bool dropBox = TShareAccess(call.Snapshot).ModeAt(folder) == TShareMode::UploadOnly;
  std::optional<std::string> saved = NameUpload(
      place.Get(), folder, *record, call.Snapshot.Settings.KeepUploadNames, dropBox, error);
  if (!saved) return WriteFailure(error);
  record->SavedName = std::move(*saved);
  records.Write(request.Id, *record);  // a lost answer can be asked again
  call.State.NotifyShareChange(
      TShareChange{TShareChange::TKind::Upload, record->ShareName, "", 1, call.Address, ""});
  return SavedReply(*record);
}

}  // namespace

void SweepPartialUploads(const std::string& programFolder) {
  TUploadRecords(programFolder).Sweep(kPartialLifetime);
}

void AnswerChunkRequest(TDocumentCall& call) {
  MaybeSweep(call.Snapshot.ProgramFolder);
  TIdHTTPResponseInfo& response = call.Response;
  TIdTCPConnection* connection = response.Connection();
  std::optional<TIdBodyReader> body;
  if (connection != nullptr) body.emplace(*connection, call.Request);
  // What is left of a body is still read when it is no larger than a chunk, so that the client
  // hears the answer instead of a reset.
  auto reply = [&](const TReply& answer) {
    if (body) body->Skip(kMaxChunkBytes);
    Send(response, answer);
  };
  // Another site's page sent it: nothing is looked at, nothing changes.
  if (call.Foreign) return Send(response, Refusal(403, "Forbidden", "Foreign"));
  std::optional<TChunkRequest> request = ParseChunkRequest(call.Params);
  if (!request) return reply(Refusal(400, "Bad Request", "BadRequest"));
  if (request->Op == TChunkOp::Put) {
    if (call.Request.Command != "POST") return reply(Refusal(400, "Bad Request", "BadRequest"));
    if (!call.Request.HasContentLength()) {
      return Send(response, Refusal(411, "Length Required", "LengthRequired"));
    }
    if (call.Request.ContentLength > kMaxChunkBytes) {
      return Send(response, Refusal(413, "Content Too Large", "TooLarge"));
    }
    request->Length = call.Request.ContentLength;
    if (request->Offset + request->Length > request->Upload.Size) {
      return reply(Refusal(400, "Bad Request", "BeyondSize"));
    }
  }
  const TUniqueFd folder = OpenUploadFolder(call, request->Upload);
  if (!folder) return reply(Refusal(404, "Not Found", "NoFolder"));
  const TUploadClaim claim(request->Id, connection);
  if (!claim.Claimed()) return reply(Refusal(503, "Service Unavailable", "Busy"));
  const TUploadRecords records(call.Snapshot.ProgramFolder);
  switch (request->Op) {
    case TChunkOp::Held:
      return reply(AnswerHeld(records, *request));
    case TChunkOp::Cancel:
      return reply(AnswerCancel(records, *request));
    case TChunkOp::Put:
      break;
  }
  if (!body) return Send(response, Refusal(400, "Bad Request", "BadRequest"));
  reply(AnswerPut(call, records, *request, folder.Get(), *body));
}

}  // namespace vm
