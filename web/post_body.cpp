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
#include <cstring>
#include <optional>
#include <vector>

#include "platform/fs_names.h"
#include "platform/spill_stream.h"
#include "web/page_file.h"
#include "web/share_paths.h"
#include "web/text_helpers.h"

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

// First position p in [from, to) where pattern lies (ignoring ASCII case); npos when none.
// Jumps with memchr on the first byte, so a large file part is crossed quickly.
size_t FindFrom(std::string_view body, size_t from, size_t to, std::string_view pattern) {
  if (pattern.empty()) return std::string_view::npos;
  to = std::min(to, body.size());
  const char first = pattern[0];
  const bool letter = IsAsciiLetter(first);
  for (size_t i = from; i < to; ++i) {
    if (letter) {
      if (AsciiLower(body[i]) != AsciiLower(first)) continue;
    } else {
      const void* hit = std::memchr(body.data() + i, first, to - i);
      if (hit == nullptr) return std::string_view::npos;
      i = static_cast<size_t>(static_cast<const char*>(hit) - body.data());
    }
    if (MatchesAt(body, i, pattern)) return i;
  }
  return std::string_view::npos;
}

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

  size_t NextBoundary(size_t from, size_t to) const { return FindFrom(body, from, to, boundary); }
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
    i = FindFrom(body, i, scan.limit, kFieldHeader);
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
    if (FindFrom(body, valueStart, end, kFileNameHeader) != std::string_view::npos) {
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
                        std::string_view content, std::string& savedName) {
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
    const bool written = WriteAllBytes(fd, content);
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
    const size_t header = FindFrom(body, i, scan.limit, kFieldHeader);
    const size_t fileHeader =
        FindFrom(body, i, header == std::string_view::npos ? scan.limit : header, kFileNameHeader);
    if (fileHeader == std::string_view::npos) {
      if (header == std::string_view::npos) break;
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
    size_t k = fileHeader + kFileNameHeader.size();
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
    const size_t nextBoundary = scan.NextBoundary(k, far);
    const size_t headerEnd =
        FindFrom(body, k, nextBoundary == std::string_view::npos ? far : nextBoundary, kHeaderEnd);
    if (headerEnd == std::string_view::npos) {
      if (nextBoundary == std::string_view::npos) break;  // no part can follow
      i = nextBoundary + 1;
      continue;
    }
    const size_t dataStart = headerEnd + kHeaderEnd.size();
    const size_t e = scan.NextBoundary(dataStart, far);
    if (e == std::string_view::npos) break;  // the data never ends: nothing is saved
    size_t dataEnd = e;
    if (e >= dataStart + 2 && body.substr(e - 2, 2) == "\r\n") dataEnd = e - 2;
    std::string savedName;
    switch (
        SaveUpload(folderPath, extension, body.substr(dataStart, dataEnd - dataStart), savedName)) {
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

std::string HandleUpload(const TSharedFolderList& folders, std::string_view body,
                         std::string_view boundary, std::optional<TShareChange>& change) {
  const TUploadScan scan{body, boundary, body.size() - boundary.size()};
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

// Keeps the body as "pastdata.txt" in the program folder, through a temporary file and a
// rename, so that concurrent posts never leave a torn copy.
bool KeepPastData(const std::string& programFolder, std::string_view body) {
  const std::string nativeFolder = SystemToNative(programFolder);
  return ReplaceFileAtomically(TemporaryIn(nativeFolder), nativeFolder + kPastDataName, body);
}

}  // namespace

std::unique_ptr<TStream> CreatePostStream() { return std::make_unique<TSpillStream>(); }

std::string ParsePostBody(const TStateSnapshot& state, TStream& stream) {
  std::optional<TShareChange> ignored;
  return ParsePostBody(state, stream, ignored);
}

std::string ParsePostBody(const TStateSnapshot& state, TStream& stream, std::optional<TShareChange>& change) {
  change.reset();
  if (stream.Size() < 1) return "";
  const std::string_view body = stream.View();
  if (!KeepPastData(state.ProgramFolder, body)) return "";
  const size_t lineEnd = body.find("\r\n");
  const std::string_view boundary =
      lineEnd == std::string_view::npos ? std::string_view() : body.substr(0, lineEnd);
  // Inside a multipart body the marker may be any file's content: it only counts elsewhere.
  const bool multipart = boundary.size() >= 2 && boundary.substr(0, 2) == "--";
  if (!multipart && FindFrom(body, 0, body.size(), kNewTextMarker) != std::string_view::npos) {
    return HandleNewText(*state.SharedFolders, body, change);
  }
  if (boundary.empty()) return std::string(body);
  if (boundary.size() >= kBoundaryLimit) return "";
  return HandleUpload(*state.SharedFolders, body, boundary, change);
}

}  // namespace vm
