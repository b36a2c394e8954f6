// Request bodies: the stream they are read into, and what a posted body does.
//
// Three kinds of body are told apart by their bytes alone: a new-text form (URL-encoded, with
// "menu=newtext"), a multipart upload (a boundary line first, then parts), and any other body,
// which is handed back to the dispatcher as it stands.
#include "web/post_body.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/fs_names.h"
#include "platform/spill_stream.h"
#include "platform/text_helpers.h"
#include "web/page_file.h"
#include "web/share_paths.h"

namespace vm {

namespace {

constexpr std::string_view kNewTextMarker = "menu=newtext";
constexpr std::string_view kFieldHeader = " name=\"";       // a part's name parameter
constexpr std::string_view kFileNameHeader = " filename=";  // a file part's file name
constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kUploadMenu = "updimg";
constexpr std::string_view kUploadPrefix = "__vupd_img_";
constexpr char kPastDataName[] = "pastdata.txt";
// Names, values and file names this long or longer count as absent: no form of ours sends
// them, and they bound what one field can add to the parameter text.
constexpr size_t kCopyLimit = 5000;
// A boundary line this long is no browser's: such a body is refused as a whole.
constexpr size_t kBoundaryLimit = 5000;
// Bumps of the millisecond stamp tried before giving up on a free upload name.
constexpr int kMaxNameTries = 1000;
// Names tried for the link that becomes "pastdata.txt" before it is copied instead.
constexpr int kMaxLinkTries = 8;
// "pastdata.txt" is readable by all, as every file the system writes.
constexpr unsigned kPastDataMode = 0644;
// A search hands the pages it has passed back to the stream in steps of this size: a search
// across a large file's content then keeps at most about this much of it resident.
constexpr size_t kScanWindow = 4 * 1024 * 1024;
// Searches for the boundary line across at least this much are remembered, so that the second
// pass does not cross the same file content again.
constexpr size_t kRememberedSpan = 1024 * 1024;

// The range of a Shift_JIS double-byte character's second byte.
bool IsSjisSecondByte(char byte) {
  const unsigned char c = static_cast<unsigned char>(byte);
  return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

bool IsAsciiLetter(char c) { return AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z'; }

// True when pattern lies at position i of body, ignoring the case of ASCII letters.
bool MatchesAt(std::string_view body, size_t i, std::string_view pattern) {
  if (i > body.size() || body.size() - i < pattern.size()) return false;
  for (size_t k = 0; k < pattern.size(); ++k) {
    if (AsciiLower(body[i + k]) != AsciiLower(pattern[k])) return false;
  }
  return true;
}

// A pattern with its anchor: the longest run of bytes that are not ASCII letters, which a
// match holds exactly as they stand and can therefore be found with memmem.
struct TPattern {
  explicit TPattern(std::string_view text) : bytes(text) {
    for (size_t k = 0; k < text.size();) {
      if (IsAsciiLetter(text[k])) {
        ++k;
        continue;
      }
      size_t end = k;
      while (end < text.size() && !IsAsciiLetter(text[end])) ++end;
      if (end - k > anchorLength) {
        anchorOffset = k;
        anchorLength = end - k;
      }
      k = end;
    }
  }
  std::string_view bytes;
  size_t anchorOffset = 0;
  size_t anchorLength = 0;  // 0: letters only
};

const TPattern kNewTextPattern{kNewTextMarker};
const TPattern kFieldHeaderPattern{kFieldHeader};
const TPattern kFileNamePattern{kFileNameHeader};
const TPattern kHeaderEndPattern{kHeaderEnd};

// First position p in [from, to) where pattern lies (ignoring ASCII case; it may run on past
// to, not past the body); npos when none.
size_t FindFrom(std::string_view body, size_t from, size_t to, const TPattern& pattern) {
  to = std::min(to, body.size());
  if (pattern.bytes.empty() || from >= to) return std::string_view::npos;
  if (pattern.anchorLength == 0) {
    const char first = AsciiLower(pattern.bytes[0]);
    for (size_t i = from; i < to; ++i) {
      if (AsciiLower(body[i]) == first && MatchesAt(body, i, pattern.bytes)) return i;
    }
    return std::string_view::npos;
  }
  // The anchor of a match at i lies at i + anchorOffset, wholly inside the body.
  const std::string_view anchor = pattern.bytes.substr(pattern.anchorOffset, pattern.anchorLength);
  size_t a = from + pattern.anchorOffset;
  const size_t anchorEnd =
      std::min(body.size(), to + pattern.anchorOffset + pattern.anchorLength - 1);
  while (a < anchorEnd && anchorEnd - a >= anchor.size()) {
    const void* hit = memmem(body.data() + a, anchorEnd - a, anchor.data(), anchor.size());
    if (hit == nullptr) return std::string_view::npos;
    const size_t h = static_cast<size_t>(static_cast<const char*>(hit) - body.data());
    if (MatchesAt(body, h - pattern.anchorOffset, pattern.bytes)) return h - pattern.anchorOffset;
    a = h + 1;
  }
  return std::string_view::npos;
}

// The searches of one body. A search across a long stretch (a large file's content) goes in
// windows and hands each window it has passed back to the stream, so that the body is never
// resident all at once; searches for the boundary line across long stretches are remembered,
// so that the second pass crosses no file content again.
class TBodySearch {
 public:
  TBodySearch(std::string_view body, TStream& stream, std::string_view boundary)
      : body_(body), stream_(stream), boundary_(boundary) {}

  // First position in [from, to) where pattern lies; npos when none.
  size_t Find(size_t from, size_t to, const TPattern& pattern) const {
    to = std::min(to, body_.size());
    for (size_t w = from; w < to; w += kScanWindow) {
      const size_t wEnd = std::min(to, w + std::min(kScanWindow, to - w));
      const size_t hit = FindFrom(body_, w, wEnd, pattern);
      if (hit != std::string_view::npos) return hit;
      if (wEnd < to) Release(w, wEnd);
    }
    return std::string_view::npos;
  }

  // First position in [from, to) where first or second lies (first wins a tie); npos when
  // neither. isFirst tells which one it is.
  size_t FindEither(size_t from, size_t to, const TPattern& first, const TPattern& second,
                    bool& isFirst) const {
    to = std::min(to, body_.size());
    for (size_t w = from; w < to; w += kScanWindow) {
      const size_t wEnd = std::min(to, w + std::min(kScanWindow, to - w));
      const size_t a = FindFrom(body_, w, wEnd, first);
      const size_t b = FindFrom(body_, w, a == std::string_view::npos ? wEnd : a, second);
      if (b != std::string_view::npos) {
        isFirst = false;
        return b;
      }
      if (a != std::string_view::npos) {
        isFirst = true;
        return a;
      }
      if (wEnd < to) Release(w, wEnd);
    }
    return std::string_view::npos;
  }

  // First position in [from, to) where the boundary line starts; npos when none.
  size_t NextBoundary(size_t from, size_t to) const {
    auto known = known_.upper_bound(from);
    if (known != known_.begin()) {
      --known;
      const size_t start = known->first;
      const auto [end, hit] = known->second;  // the first boundary in [start, end): hit
      if (hit != std::string_view::npos && start <= from && from <= hit) {
        return hit < to ? hit : std::string_view::npos;
      }
      if (hit == std::string_view::npos && from < end) {
        if (to <= end) return std::string_view::npos;
        from = end;  // none before end: only the rest needs a look
      }
    }
    const size_t hit = Find(from, to, boundary_);
    if (from < to && (hit == std::string_view::npos ? to : hit) - from >= kRememberedSpan) {
      known_[from] = {to, hit};
    }
    return hit;
  }

  const TPattern& Boundary() const { return boundary_; }

 private:
  void Release(size_t from, size_t to) const {
    stream_.ReleaseView(static_cast<int64_t>(from), static_cast<int64_t>(to));
  }

  std::string_view body_;
  TStream& stream_;
  TPattern boundary_;
  mutable std::map<size_t, std::pair<size_t, size_t>> known_;  // from -> (to, first hit)
};

// The temporary a file replaced in a folder is first written to: hidden, and never a name
// the system gives a file of its own.
std::string TemporaryIn(const std::string& nativeFolder) {
  return nativeFolder + ".velmarind-XXXXXX";
}

// --- New-text body ---------------------------------------------------------------------------

// The value of the first field of that name, each value percent-decoded once on its own, so an
// "&" typed into the text (sent as %26) stays in it.
std::optional<std::string> FormField(std::string_view body, std::string_view name) {
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    std::string_view field = body.substr(start, end - start);
    const size_t equals = field.find('=');
    if (equals != std::string_view::npos && PercentDecoded(field.substr(0, equals)) == name) {
      return PercentDecoded(field.substr(equals + 1));
    }
    start = end + 1;
  }
  return std::nullopt;
}

// A name that stays in the folder: not empty, not "." or "..", no separator.
bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

std::string HandleNewText(const TSharedFolderList& folders, std::string_view body,
                          std::optional<TShareChange>& change) {
  const std::string folderName = HexDecode(FormField(body, "dirname").value_or(""));
  const std::string folderPath = SharedFolderPathByName(folders, folderName);
  const std::string fileName = FormField(body, "fname").value_or("");
  if (folderPath.empty() || !IsPlainFileName(fileName)) return "";
  // The text goes to disk in binary: the browser's CR LF line ends are kept as they came.
  const std::string text = FormField(body, "tbody").value_or("");
  const std::string nativeFolder = SystemToNative(folderPath);
  const std::string nativeTarget = SystemToNative(folderPath + fileName);
  if (!ReplaceFileAtomically(TemporaryIn(nativeFolder), nativeTarget, text)) return "";
  change = TShareChange{TShareChange::TKind::NewText, folderName, fileName, 1, ""};
  return PercentDecoded(body);
}

// --- Multipart upload ------------------------------------------------------------------------

struct TUploadScan {
  std::string_view body;
  std::string_view boundary;  // the first line, "--" and the boundary text
  size_t limit;               // no part starts past the last boundary's room
  TStream& stream;            // holds the body: saved files are copied from it
  TBodySearch search;

  size_t NextBoundary(size_t from, size_t to) const { return search.NextBoundary(from, to); }
};

// The extension of a browser's file name, lower-cased, dot included: from its last "." after
// its last "\", "/" and ":" (second bytes of Shift_JIS characters do not count); "" if none.
std::string UploadExtension(std::string_view fileName) {
  // One pass that tells first bytes from second bytes (IsSjisTrailByteAt would rescan the
  // name from its start for every byte). Only a byte that can be a second byte is taken for
  // one: a UTF-8 name (as FormData sends) such as "あ.png" keeps its dot.
  std::vector<bool> trail(fileName.size(), false);
  size_t dot = std::string_view::npos;
  for (size_t k = 0; k < fileName.size(); ++k) {
    const unsigned char c = static_cast<unsigned char>(fileName[k]);
    if (IsSjisLeadByte(c) && k + 1 < fileName.size() && IsSjisSecondByte(fileName[k + 1])) {
      trail[++k] = true;
      continue;
    }
    if (c == '\\' || c == '/' || c == ':') dot = std::string_view::npos;
    if (c == '.') dot = k;
  }
  if (dot == std::string_view::npos) return "";
  std::string extension;
  for (size_t k = dot; k < fileName.size(); ++k) {
    const unsigned char c = static_cast<unsigned char>(fileName[k]);
    if (c < 0x20) return "";  // no control bytes in a saved name
    extension.push_back(trail[k] ? fileName[k] : AsciiLower(fileName[k]));
  }
  return extension;
}

// Pass 1: the plain fields, in body order, as "&name=value" items. A file part's content is
// stepped over whole: nothing inside an uploaded file is taken for a field.
std::string ScanFormFields(const TUploadScan& scan, std::string& folderField,
                           std::string& menuField) {
  std::string result;
  const std::string_view body = scan.body;
  size_t i = scan.body.find("\r\n") + 2;
  while (i < scan.limit) {
    i = scan.search.Find(i, scan.limit, kFieldHeaderPattern);
    if (i == std::string_view::npos) break;
    const size_t nameStart = i + kFieldHeader.size();
    size_t quote = body.find('"', nameStart);
    if (quote == std::string_view::npos || quote >= scan.limit) break;
    const size_t nameLength = quote - nameStart;
    if (nameLength == 0 || nameLength >= kCopyLimit) {
      i = quote + 1;
      continue;
    }
    const std::string name(body.substr(nameStart, nameLength));
    i = quote + 1;
    while (i < scan.limit && (body[i] == '\r' || body[i] == '\n')) ++i;
    const size_t valueStart = i;
    size_t next = scan.NextBoundary(valueStart, scan.limit);
    const size_t end = next == std::string_view::npos ? scan.limit : next;
    if (scan.search.Find(valueStart, end, kFileNamePattern) != std::string_view::npos) {
      i = end;  // a file field: its content is not looked into
      continue;
    }
    std::string value;
    if (next != std::string_view::npos) {
      const size_t valueLength = next - valueStart;
      i = next;
      if (valueLength == 0 || valueLength >= kCopyLimit) continue;
      value.assign(body.substr(valueStart, valueLength));
      while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    } else {
      i = scan.limit;
    }
    result += "&" + name + "=" + value;
    if (name == "dirname") folderField = value;
    if (name == "menu") menuField = value;
  }
  return result;
}

enum class TSaveOutcome { Saved, NotWritten, CannotCreate };

// Saves one file's content under a fresh "__vupd_img_" + stamp + extension name in the folder;
// an existing file is never touched: a taken name moves the stamp on by a millisecond.
TSaveOutcome SaveUpload(const std::string& folderPath, const std::string& extension,
                        TStream& stream, size_t from, size_t count, std::string& savedName) {
  auto moment = std::chrono::system_clock::now();
  for (int attempt = 0; attempt < kMaxNameTries; ++attempt) {
    savedName = std::string(kUploadPrefix) + RequestStampAt(moment) + extension;
    const std::string nativePath = SystemToNative(folderPath + savedName);
    int fd = open(nativePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
      moment += std::chrono::milliseconds(1);
      continue;
    }
    if (fd < 0) return TSaveOutcome::CannotCreate;
    // From a file-backed stream the kernel copies: the content never passes through here.
    const bool written =
        stream.CopyRangeTo(fd, static_cast<int64_t>(from), static_cast<int64_t>(count));
    if (close(fd) != 0 || !written) {
      // A half-written upload would look like a whole one in the listing.
      unlink(nativePath.c_str());
      return TSaveOutcome::NotWritten;
    }
    return TSaveOutcome::Saved;
  }
  return TSaveOutcome::CannotCreate;
}

// Pass 2: every file part is saved; returns false when a file could not be created (the
// scan stops there, files saved before stay).
bool SaveFileParts(const TUploadScan& scan, const std::string& folderPath, std::string& result,
                   int& savedCount) {
  const std::string_view body = scan.body;
  // The delimiter after a file's data must lie wholly inside the body; the closing delimiter
  // right after the last part counts.
  const size_t far = body.size() - scan.boundary.size() + 1;
  std::string currentName;
  size_t i = 0;
  while (i < scan.limit) {
    // The next part name or file name, whichever comes first.
    bool isHeader = false;
    const size_t found =
        scan.search.FindEither(i, scan.limit, kFieldHeaderPattern, kFileNamePattern, isHeader);
    if (found == std::string_view::npos) break;
    if (isHeader) {
      const size_t header = found;
      // A part's name: up to the closing quote, unless a boundary comes first.
      currentName.clear();
      const size_t nameStart = header + kFieldHeader.size();
      size_t stop = nameStart;
      while (stop < scan.limit && body[stop] != '"' && !MatchesAt(body, stop, scan.boundary))
        ++stop;
      if (stop < scan.limit && body[stop] == '"') {
        const size_t length = stop - nameStart;
        if (length > 0 && length < kCopyLimit) currentName.assign(body.substr(nameStart, length));
      }
      i = stop + 1;
      continue;
    }
    // A file name: up to the next quote, CR or LF.
    size_t k = found + kFileNameHeader.size();
    if (k < scan.limit && body[k] == '"') ++k;
    const size_t fileNameStart = k;
    while (k < scan.limit && body[k] != '"' && body[k] != '\r' && body[k] != '\n' &&
           !MatchesAt(body, k, scan.boundary)) {
      ++k;
    }
    const size_t fileNameLength = k - fileNameStart;
    if (k >= scan.limit || MatchesAt(body, k, scan.boundary) || fileNameLength == 0 ||
        fileNameLength >= kCopyLimit) {
      i = k + 1;
      continue;
    }
    const std::string extension = UploadExtension(body.substr(fileNameStart, fileNameLength));
    // The part's data starts after its header lines, unless a boundary comes first (no data).
    bool atBoundary = false;
    const size_t headerEnd =
        scan.search.FindEither(k, far, scan.search.Boundary(), kHeaderEndPattern, atBoundary);
    if (headerEnd == std::string_view::npos) break;  // no part can follow
    if (atBoundary) {
      i = headerEnd + 1;
      continue;
    }
    const size_t dataStart = headerEnd + kHeaderEnd.size();
    const size_t e = scan.NextBoundary(dataStart, far);
    if (e == std::string_view::npos) break;  // the data never ends: nothing is saved
    size_t dataEnd = e;
    if (e >= dataStart + 2 && body.substr(e - 2, 2) == "\r\n") dataEnd = e - 2;
    std::string savedName;
    switch (SaveUpload(folderPath, extension, scan.stream, dataStart, dataEnd - dataStart,
                       savedName)) {
      case TSaveOutcome::CannotCreate:
        return false;
      case TSaveOutcome::Saved:
        ++savedCount;
        result += "&" + currentName + "=" + HexEncode(savedName);
        break;
      case TSaveOutcome::NotWritten:
        break;
    }
    i = e + 1;
  }
  return true;
}

std::string HandleUpload(const TSharedFolderList& folders, std::string_view body, TStream& stream,
                         std::string_view boundary, std::optional<TShareChange>& change) {
  const TUploadScan scan{body, boundary, body.size() - boundary.size(), stream,
                         TBodySearch(body, stream, boundary)};
  std::string folderField, menuField;
  std::string result = ScanFormFields(scan, folderField, menuField);
  if (folderField.empty() || menuField != kUploadMenu) return "";
  const std::string folderName = HexDecode(folderField);
  const std::string folderPath = SharedFolderPathByName(folders, folderName);
  if (folderPath.empty()) return "";
  int savedCount = 0;
  const bool complete = SaveFileParts(scan, folderPath, result, savedCount);
  // Files saved before a failure stay, so they count as received.
  if (savedCount > 0) {
    change = TShareChange{TShareChange::TKind::Upload, folderName, "", savedCount, ""};
  }
  return complete ? result : "";
}

// A fresh name for a temporary in the folder, of the same form mkstemp gives TemporaryIn's.
std::string RandomTemporaryIn(const std::string& nativeFolder) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  constexpr size_t kPlaceholders = 6;  // the "XXXXXX" that ends the template
  std::string name = TemporaryIn(nativeFolder);
  std::random_device random;
  for (size_t k = name.size() - kPlaceholders; k < name.size(); ++k) {
    name[k] = kLetters[random() % (sizeof kLetters - 1)];
  }
  return name;
}

// Gives a body that lies in a nameless file on the program folder's file system the name
// "pastdata.txt" without copying it: linked under a temporary name, then renamed over the old
// copy. False when the body cannot be linked there (in memory, or on another file system).
bool LinkPastData(TStream& stream, const std::string& nativeFolder, const std::string& target) {
  for (int attempt = 0; attempt < kMaxLinkTries; ++attempt) {
    const std::string temporary = RandomTemporaryIn(nativeFolder);
    if (!stream.LinkAs(temporary, kPastDataMode)) {
      if (errno == EEXIST) continue;
      return false;
    }
    if (rename(temporary.c_str(), target.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
  }
  return false;
}

// Copies the body into a temporary file in the folder, then renames it over the old copy.
bool CopyPastData(TStream& stream, const std::string& nativeFolder, const std::string& target) {
  std::string temporary = TemporaryIn(nativeFolder);
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = stream.CopyRangeTo(fd, 0, stream.Size());
  ok = fchmod(fd, kPastDataMode) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temporary.c_str(), target.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

// Keeps the body as "pastdata.txt" in the program folder. Either way the old copy is replaced
// by a rename, so that concurrent posts never leave a torn copy.
bool KeepPastData(const std::string& programFolder, TStream& stream) {
  const std::string nativeFolder = SystemToNative(programFolder);
  const std::string target = nativeFolder + kPastDataName;
  return LinkPastData(stream, nativeFolder, target) ||
         CopyPastData(stream, nativeFolder, target);
}

}  // namespace

std::unique_ptr<TStream> CreatePostStream() { return std::make_unique<TSpillStream>(); }

std::unique_ptr<TStream> CreatePostStream(const std::string& programFolder) {
  // A large body kept on the program folder's file system becomes "pastdata.txt" by a link.
  return std::make_unique<TSpillStream>(kSpillMemoryLimit, SystemToNative(programFolder));
}

std::string ParsePostBody(const TStateSnapshot& state, TStream& stream) {
  TPostOutcome ignored;
  return ParsePostBody(state, stream, ignored);
}

std::string ParsePostBody(const TStateSnapshot& state, TStream& stream, TPostOutcome& outcome) {
  outcome = TPostOutcome{};
  std::optional<TShareChange>& change = outcome.Change;
  if (stream.Size() < 1) return "";
  const std::string_view body = stream.View();
  if (!KeepPastData(state.ProgramFolder, stream)) return "";
  const size_t lineEnd = body.find("\r\n");
  const std::string_view boundary =
      lineEnd == std::string_view::npos ? std::string_view() : body.substr(0, lineEnd);
  // Inside a multipart body the marker may be any file's content: it only counts elsewhere.
  const bool multipart = boundary.size() >= 2 && boundary.substr(0, 2) == "--";
  if (!multipart &&
      TBodySearch(body, stream, "").Find(0, body.size(), kNewTextPattern) !=
          std::string_view::npos) {
    return HandleNewText(*state.SharedFolders, body, change);
  }
  if (boundary.empty()) return std::string(body);
  if (boundary.size() >= kBoundaryLimit) return "";
  return HandleUpload(*state.SharedFolders, body, stream, boundary, change);
}

}  // namespace vm
