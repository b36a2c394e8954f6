// What a browser may be shown of a file, and under which content type.
//
// Only the kinds below are ever shown; every other file is only downloaded. Markup of any sort
// (HTML, SVG, XML) is shown as its text and never as a document: a previewed file must not run
// anything in the browser, whatever bytes it holds.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace vm {

// Picture: an image browsers cannot show (HEIC, TIFF, ...), shown converted by the server; only
// the formats this build converts are of this kind, every other one is only downloaded.
enum class TViewKind { None, Image, Picture, Video, Audio, Text, Pdf };

struct TViewType {
  TViewKind Kind = TViewKind::None;
  std::string ContentType;  // empty for None; "text/plain" for every text (the charset is added
                            // by whoever looked at the bytes)
};

class TViewTypes {
 public:
  // The system's registrations (/etc/mime.types) amend the built-in types.
  TViewTypes();
  // For tests: registrations read from the given mime.types file ("" for none), and the
  // converted extensions (comma-separated) in place of the build's.
  explicit TViewTypes(const std::string& mimeTypesFile, std::string_view converted = kConverted);

  // The kind and type of a file by its name's extension (ignoring case). The system's type wins
  // when it is of the kind's family and not a markup type; the built-in type otherwise.
  TViewType Lookup(std::string_view fileName) const;

 private:
  // The extensions of the pictures this build converts, comma-separated.
  static const std::string_view kConverted;

  std::unordered_map<std::string, std::string> system_;  // extension without dot -> type
  std::string converted_;                                // ",heic,tif," (commas around each)
};

// The table of the running program, read once.
const TViewTypes& SystemViewTypes();

// The charset of a text by its first bytes: "utf-8" when they are UTF-8 (a sequence cut at the
// end of the sample counts), else "Shift_JIS".
std::string_view DetectTextCharset(std::string_view sample);

}  // namespace vm
