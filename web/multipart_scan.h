// The parts of a multipart upload body, found by scanning its bytes. Nothing here writes: the
// save step takes what the scan yields.
//
// The body's first line (up to its first CR LF) is the boundary line, "--" and the boundary text,
// which every later delimiter line begins with. Part headers are found by their parameters as
// browsers write them: ` name="` for a field's name, ` filename=` for a file's.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/stream.h"
#include "web/body_search.h"

namespace vm {

// Names, values and file names this long or longer count as absent: no form of ours sends
// them, and they bound what one field can add to the parameter text.
inline constexpr size_t kCopyLimit = 5000;
// A boundary line this long is no browser's: such a body is refused as a whole.
inline constexpr size_t kBoundaryLimit = 5000;

// A plain form field; both views point into the body.
struct TFormField {
  std::string_view Name;   // 1 to 4,999 bytes
  std::string_view Value;  // up to 4,999 bytes, without the line breaks that end it
};

// A file part: where its content lies in the body, and what names it.
struct TFilePart {
  std::string_view FieldName;  // the last part name met before it ("" when none usable)
  std::string_view FileName;   // the browser's file name as sent (1 to 4,999 bytes)
  std::string Extension;       // of the browser's file name, lower-cased, dot included; or ""
  size_t DataStart = 0;
  size_t DataLength = 0;
};

class TMultipartScan {
 public:
  // body is the whole body, whose first line (non-empty, shorter than kBoundaryLimit) is the
  // boundary line; stream holds it and takes back the pages the scan has passed.
  TMultipartScan(std::string_view body, TStream& stream, const TBodyScanSizes& sizes);

  // The plain fields, in body order. A file part's content is stepped over whole: nothing
  // inside an uploaded file is taken for a field.
  void ForEachField(const std::function<void(const TFormField&)>& visit) const;
  // The file parts whose content ends with a delimiter, in body order; stops early when visit
  // returns false.
  void ForEachFilePart(const std::function<bool(const TFilePart&)>& visit) const;

 private:
  std::string_view body_;
  std::string_view boundaryLine_;
  size_t limit_;  // no part starts past the last boundary's room
  TPattern boundary_;
  TBodySearch search_;
};

// The extension of a browser's file name, lower-cased, dot included: from its last "." after
// its last "\", "/" and ":" (second bytes of Shift_JIS characters do not count); "" if none.
std::string UploadExtension(std::string_view fileName);

}  // namespace vm
