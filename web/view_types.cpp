#include "web/view_types.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/sjis.h"

namespace vm {

namespace {

constexpr char kSystemMimeTypesFile[] = "/etc/mime.types";
constexpr char kTextType[] = "text/plain";

struct TBuiltInType {
  std::string_view Extension;
  TViewKind Kind;
  std::string_view Type;
};

// What browsers show today. Video and audio need the browser to play the codec inside; the
// viewer asks the video's facts first and says so when it cannot.
// clang-format off
constexpr TBuiltInType kBuiltIn[] = {
    {"jpg", TViewKind::Image, "image/jpeg"}, {"jpeg", TViewKind::Image, "image/jpeg"},
    {"jpe", TViewKind::Image, "image/jpeg"}, {"jfif", TViewKind::Image, "image/jpeg"},
    {"png", TViewKind::Image, "image/png"}, {"gif", TViewKind::Image, "image/gif"},
    {"webp", TViewKind::Image, "image/webp"}, {"avif", TViewKind::Image, "image/avif"},
    {"bmp", TViewKind::Image, "image/bmp"},
    {"mp4", TViewKind::Video, "video/mp4"}, {"m4v", TViewKind::Video, "video/mp4"},
    {"webm", TViewKind::Video, "video/webm"}, {"mov", TViewKind::Video, "video/quicktime"},
    {"mkv", TViewKind::Video, "video/x-matroska"}, {"avi", TViewKind::Video, "video/x-msvideo"},
    {"3gp", TViewKind::Video, "video/3gpp"}, {"mts", TViewKind::Video, "video/mp2t"},
    {"m2ts", TViewKind::Video, "video/mp2t"}, {"wmv", TViewKind::Video, "video/x-ms-wmv"},
    {"flv", TViewKind::Video, "video/x-flv"}, {"mpg", TViewKind::Video, "video/mpeg"},
    {"mpeg", TViewKind::Video, "video/mpeg"}, {"ogv", TViewKind::Video, "video/ogg"},
    {"mp3", TViewKind::Audio, "audio/mpeg"}, {"m4a", TViewKind::Audio, "audio/mp4"},
    {"aac", TViewKind::Audio, "audio/aac"}, {"ogg", TViewKind::Audio, "audio/ogg"},
    {"oga", TViewKind::Audio, "audio/ogg"}, {"opus", TViewKind::Audio, "audio/ogg"},
    {"flac", TViewKind::Audio, "audio/flac"}, {"wav", TViewKind::Audio, "audio/wav"},
    {"pdf", TViewKind::Pdf, "application/pdf"},
};
// Texts, and source code of the usual languages; markup is among them, shown as its source.
constexpr std::string_view kTextExtensions[] = {
    "txt", "text", "md", "markdown", "csv", "tsv", "log", "json", "ini", "cfg", "conf", "toml",
    "yaml", "yml", "c", "h", "cc", "cpp", "cxx", "hpp", "hh", "hxx", "cs", "java", "kt", "go",
    "rs", "py", "rb", "pl", "php", "lua", "swift", "m", "js", "mjs", "cjs", "ts", "tsx", "jsx",
    "css", "scss", "sh", "bash", "zsh", "bat", "ps1", "sql", "r", "tex", "diff", "patch", "srt",
    "vtt", "html", "htm", "xhtml", "xml", "svg", "cmake", "mk", "gradle", "properties",
};
// clang-format on

// A type a browser would run or render as a document: never taken from the system's table.
bool IsMarkupType(std::string_view type) {
  for (std::string_view word : {"html", "xml", "svg", "script"}) {
    if (type.find(word) != std::string_view::npos) return true;
  }
  return false;
}

std::string_view FamilyOf(TViewKind kind) {
  switch (kind) {
    case TViewKind::Image:
    case TViewKind::Picture:
      return "image/";
    case TViewKind::Video:
      return "video/";
    case TViewKind::Audio:
      return "audio/";
    case TViewKind::Pdf:
      return "application/pdf";
    case TViewKind::Text:
    case TViewKind::None:
      break;
  }
  return "";
}

std::string ExtensionOf(std::string_view fileName) {
  const size_t slash = fileName.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return "";
  return LowerAscii(std::string(name.substr(dot + 1)));
}

// Lines "type ext1 ext2 ...", "#" starting a comment; a later line wins for an extension.
std::unordered_map<std::string, std::string> ReadRegistrations(const std::string& path) {
  std::unordered_map<std::string, std::string> types;
  if (path.empty()) return types;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    line.resize(std::min(line.size(), line.find('#')));
    std::istringstream fields(line);
    std::string type, extension;
    if (!(fields >> type)) continue;
    while (fields >> extension) types.insert_or_assign(LowerAscii(extension), LowerAscii(type));
  }
  return types;
}

// Bytes of the UTF-8 sequence a lead byte starts; 0 for a byte that cannot lead one.
size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

#ifndef VELMARIND_CONVERTED_EXTENSIONS
#define VELMARIND_CONVERTED_EXTENSIONS ""
#endif
const std::string_view TViewTypes::kConverted = VELMARIND_CONVERTED_EXTENSIONS;

TViewTypes::TViewTypes() : TViewTypes(kSystemMimeTypesFile) {}

TViewTypes::TViewTypes(const std::string& mimeTypesFile, std::string_view converted)
    : system_(ReadRegistrations(mimeTypesFile)), converted_("," + std::string(converted) + ",") {}

TViewType TViewTypes::Lookup(std::string_view fileName) const {
  const std::string extension = ExtensionOf(fileName);
  if (extension.empty()) return {};
  // A picture is never served as it is: its type only says what it was converted from.
  if (converted_.find("," + extension + ",") != std::string::npos) {
    return {TViewKind::Picture, "image/" + extension};
  }
  for (std::string_view text : kTextExtensions) {
    if (extension == text) return {TViewKind::Text, kTextType};
  }
  for (const TBuiltInType& builtIn : kBuiltIn) {
    if (extension != builtIn.Extension) continue;
    const auto registered = system_.find(extension);
    if (registered != system_.end() && registered->second.starts_with(FamilyOf(builtIn.Kind)) &&
        !IsMarkupType(registered->second)) {
      return {builtIn.Kind, registered->second};
    }
    return {builtIn.Kind, std::string(builtIn.Type)};
  }
  return {};
}

const TViewTypes& SystemViewTypes() {
  static const TViewTypes kTypes;
  return kTypes;
}

std::string_view DetectTextCharset(std::string_view sample) {
  size_t i = 0;
  while (i < sample.size()) {
    const auto lead = static_cast<unsigned char>(sample[i]);
    const size_t length = SequenceLength(lead);
    if (length == 0) return "Shift_JIS";
    for (size_t k = 1; k < length; ++k) {
      if (i + k >= sample.size()) return "utf-8";  // cut by the sample's end
      const auto next = static_cast<unsigned char>(sample[i + k]);
      if ((next & 0xC0) != 0x80) return "Shift_JIS";
    }
    i += length;
  }
  return "utf-8";
}

}  // namespace vm
