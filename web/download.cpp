// File download: the response is pointed at the named file, marked as an attachment.
#include "web/download.h"

#include "platform/exception.h"
#include "platform/fs_names.h"
#include "platform/text_helpers.h"
#include "web/share_paths.h"

namespace vm {

namespace {

constexpr char kDispositionEntry[] = "Content-Disposition=attachment;filename=";
// The extended parameter of RFC 5987/6266 carries the name in UTF-8 for browsers that do not
// take raw Shift_JIS bytes after "filename=" (they would save the file under another name).
constexpr char kExtendedNameParameter[] = "; filename*=UTF-8''";

// True when the raw form after "filename=" brings the name to the browser exactly: plain
// ASCII without the bytes a browser reads as the end of the value (";"), as quoting or
// escaping ('"', "'", "\"), or as percent-encoding ("%"), and without spaces at its ends.
bool PlainFormCarries(std::string_view name) {
  constexpr std::string_view kMeaningful = ";%\"'\\";
  for (unsigned char c : name) {
    if (c < 0x20 || c >= 0x7F || kMeaningful.find(static_cast<char>(c)) != std::string_view::npos) {
      return false;
    }
  }
  return name.empty() || (name.front() != ' ' && name.back() != ' ');
}

// attr-char of RFC 5987: letters, digits and !#$&+-.^_`|~ stand as they are.
bool IsAttrChar(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '&':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
      return true;
    default:
      return false;
  }
}

std::string DownloadFileName(std::string_view path) {
  // "/" is never the second byte of a Shift_JIS character, so the last one is a separator.
  // ":" is an ordinary name character here and does not split the name.
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The name as it goes raw after "filename=", made a value that a browser reads to its end: a
// control byte (CR and LF above all) would end the header line and let the requested name add
// header lines of its own; a ";" ends the value there, and a '"' opens a quoted string that runs
// on over the parameters after it. Each of these becomes "_". Such a name is never one the plain
// form carries, so its true form still travels in the extended parameter.
std::string PlainFileNameValue(std::string name) {
  for (char& c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == ';' || c == '"') c = '_';
  }
  return name;
}

}  // namespace

std::string ExtendedFileNameParameter(std::string_view nativeName) {
  return kExtendedNameParameter + PercentEncode(nativeName, IsAttrChar);
}

std::string AttachmentDispositionEntry(std::string_view systemName, std::string_view nativeName) {
  std::string entry = kDispositionEntry + PlainFileNameValue(std::string(systemName));
  if (!PlainFormCarries(systemName)) {
    entry += ExtendedFileNameParameter(nativeName);
  }
  return entry;
}

TDownload PrepareDownload(const TStateSnapshot& state, const std::string& params,
                          TIdHTTPResponseInfo& response) {
  const std::string path = HexDecode(GetParam(params, "file"));
  response.ContentType = "application/octet-stream";
  const std::string name = DownloadFileName(path);
  std::string entry = kDispositionEntry + PlainFileNameValue(name);
  const TShareAccess access(state);
  TSharedEntry file = access.Open(path, TEntryKind::File, TShareOperation::Download);
  if (!file.Fd) {
    // Outside the shares, hidden, missing, not a file, or in a share that is not for
    // downloading (a drop box): one answer for all, made of the requested text alone, so that
    // it tells nothing of what lies outside.
    response.CustomHeaders.AddStdValues({entry});
    throw EFOpenError(path);
  }
  response.CustomHeaders.AddStdValues(
      {AttachmentDispositionEntry(name, DownloadFileName(file.NativePath))});
  // Large files are fetched in parts and resumed after a break: downloads answer byte ranges.
  response.AcceptRanges = true;
  return {std::move(file.Fd), path};
}

}  // namespace vm
