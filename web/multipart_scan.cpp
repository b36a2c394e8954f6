// Two passes over a multipart body: the plain fields first, then the file parts.
//
// Every pass goes forward through the body and each search of a pattern starts where the
// previous one of that pattern began or later, so that a pass costs time linear in the body.
#include "web/multipart_scan.h"

#include <vector>

#include "platform/sjis.h"

namespace vm {

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr std::string_view kFieldHeader = " name=\"";       // a part's name parameter
constexpr std::string_view kFileNameHeader = " filename=";  // a file part's file name
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

const TPattern kFieldHeaderPattern{kFieldHeader};
const TPattern kFileNamePattern{kFileNameHeader};
const TPattern kHeaderEndPattern{kHeaderEnd};

// The range of a Shift_JIS double-byte character's second byte.
bool IsSjisSecondByte(char byte) {
  const unsigned char c = static_cast<unsigned char>(byte);
  return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// The first position in [from, to) of one of the bytes; to when none (from when from >= to).
size_t FirstOf(std::string_view body, size_t from, size_t to, std::string_view bytes) {
  if (from >= to) return from;
  const size_t at = body.substr(from, to - from).find_first_of(bytes);
  return at == npos ? to : from + at;
}

}  // namespace

TMultipartScan::TMultipartScan(std::string_view body, TStream& stream, const TBodyScanSizes& sizes)
    : body_(body),
      boundaryLine_(body.substr(0, body.find("\r\n"))),
      limit_(body.size() - boundaryLine_.size()),
      boundary_(boundaryLine_),
      search_(body, stream, sizes) {}

void TMultipartScan::ForEachField(const std::function<void(const TFormField&)>& visit) const {
  TPatternFinder header(kFieldHeaderPattern, body_);
  TPatternFinder fileName(kFileNamePattern, body_);
  TPatternFinder boundary(boundary_, body_);
  search_.StartPass();
  size_t i = boundaryLine_.size() + 2;
  while (i < limit_) {
    search_.Passed(i);
    i = search_.Find(header, i, limit_);
    if (i == npos) break;
    const size_t nameStart = i + kFieldHeader.size();
    const size_t quote = body_.find('"', nameStart);
    if (quote == npos || quote >= limit_) break;
    const size_t nameLength = quote - nameStart;
    i = quote + 1;
    if (nameLength == 0 || nameLength >= kCopyLimit) continue;
    const std::string_view name = body_.substr(nameStart, nameLength);
    while (i < limit_ && (body_[i] == '\r' || body_[i] == '\n')) ++i;
    const size_t valueStart = i;
    const size_t next = search_.NextBoundary(boundary, valueStart, limit_);
    const size_t end = next == npos ? limit_ : next;
    if (search_.Find(fileName, valueStart, end) != npos) {
      i = end;  // a file field: its content is not looked into
      continue;
    }
    std::string_view value;
    if (next != npos) {
      const size_t valueLength = next - valueStart;
      i = next;
      if (valueLength == 0 || valueLength >= kCopyLimit) continue;
      value = body_.substr(valueStart, valueLength);
      while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) {
        value.remove_suffix(1);
      }
    } else {
      i = limit_;
    }
    visit(TFormField{name, value});
  }
}

void TMultipartScan::ForEachFilePart(const std::function<bool(const TFilePart&)>& visit) const {
  TPatternFinder header(kFieldHeaderPattern, body_);
  TPatternFinder fileName(kFileNamePattern, body_);
  TPatternFinder boundary(boundary_, body_);
  TPatternFinder headerEnd(kHeaderEndPattern, body_);
  search_.StartPass();
  // The delimiter after a file's data must lie wholly inside the body; the closing delimiter
  // right after the last part counts.
  const size_t far = body_.size() - boundaryLine_.size() + 1;
  std::string_view currentName;
  size_t i = 0;
  while (i < limit_) {
    search_.Passed(i);
    // The next part name or file name, whichever comes first.
    bool isHeader = false;
    const size_t found = search_.FindEither(header, fileName, i, limit_, isHeader);
    if (found == npos) break;
    if (isHeader) {
      // A part's name: up to the closing quote, unless a boundary comes first.
      currentName = {};
      const size_t nameStart = found + kFieldHeader.size();
      const size_t quote = FirstOf(body_, nameStart, limit_, "\"");
      const size_t cut = search_.Find(boundary, nameStart, quote);
      const size_t stop = cut == npos ? quote : cut;
      if (stop < limit_ && body_[stop] == '"') {
        const size_t length = stop - nameStart;
        if (length > 0 && length < kCopyLimit) currentName = body_.substr(nameStart, length);
      }
      i = stop + 1;
      continue;
    }
    // A file name: up to the next quote, CR or LF, unless a boundary comes first.
    size_t k = found + kFileNameHeader.size();
    if (k < limit_ && body_[k] == '"') ++k;
    const size_t fileNameStart = k;
    const size_t stopByte = FirstOf(body_, fileNameStart, limit_, "\"\r\n");
    const size_t cut = search_.Find(boundary, fileNameStart, stopByte);
    k = cut == npos ? stopByte : cut;
    const size_t fileNameLength = k - fileNameStart;
    if (k >= limit_ || cut != npos || search_.Find(boundary, k, k + 1) == k ||
        fileNameLength == 0 || fileNameLength >= kCopyLimit) {
      i = k + 1;
      continue;
    }
    const std::string_view browserName = body_.substr(fileNameStart, fileNameLength);
    std::string extension = UploadExtension(browserName);
    // The part's data starts after its header lines, unless a boundary comes first (no data).
    bool atBoundary = false;
    const size_t headerStop = search_.FindEither(boundary, headerEnd, k, far, atBoundary);
    if (headerStop == npos) break;  // no part can follow
    if (atBoundary) {
      i = headerStop + 1;
      continue;
    }
    const size_t dataStart = headerStop + kHeaderEnd.size();
    const size_t e = search_.NextBoundary(boundary, dataStart, far);
    if (e == npos) break;  // the data never ends: nothing is saved
    size_t dataEnd = e;
    if (e >= dataStart + 2 && body_.substr(e - 2, 2) == "\r\n") dataEnd = e - 2;
    if (!visit(TFilePart{currentName, browserName, std::move(extension), dataStart,
                         dataEnd - dataStart})) {
      return;
    }
    i = e + 1;
  }
}

std::string UploadExtension(std::string_view fileName) {
  // One pass that tells first bytes from second bytes. Only a byte that can be a second byte
  // is taken for one: a UTF-8 name (as FormData sends) such as "あ.png" keeps its dot.
  std::vector<bool> trail(fileName.size(), false);
  size_t dot = npos;
  for (size_t k = 0; k < fileName.size(); ++k) {
    const unsigned char c = static_cast<unsigned char>(fileName[k]);
    if (IsSjisLeadByte(c) && k + 1 < fileName.size() && IsSjisSecondByte(fileName[k + 1])) {
      trail[++k] = true;
      continue;
    }
    if (c == '\\' || c == '/' || c == ':') dot = npos;
    if (c == '.') dot = k;
  }
  if (dot == npos) return "";
  std::string extension;
  for (size_t k = dot; k < fileName.size(); ++k) {
    const unsigned char c = static_cast<unsigned char>(fileName[k]);
    if (c < 0x20) return "";  // no control bytes in a saved name
    extension.push_back(trail[k] ? fileName[k] : AsciiLower(fileName[k]));
  }
  return extension;
}

}  // namespace vm
