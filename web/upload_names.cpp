#include "web/upload_names.h"

#include <random>

#include "platform/fs_names.h"
#include "platform/name_marks.h"
#include "web/page_file.h"

namespace vm {

namespace {

// An extension longer than this is no extension: a long name is cut as a whole.
constexpr size_t kMaxKeptExtension = 32;
// The letters of an unguessable mark: about 52 bits, never guessed by a client's tries.
constexpr size_t kMarkLetters = 10;

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The first bytes of text, at most limit of them, ending on a character boundary.
std::string_view CutUtf8(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && IsUtf8Continuation(text[end])) --end;
  return text.substr(0, end);
}

// stem + middle + extension, the stem cut so that the whole fits kMaxNameBytes.
std::string Fitted(std::string_view stem, std::string_view middle, std::string_view extension) {
  if (extension.size() > kMaxKeptExtension) {
    std::string whole = std::string(stem) + std::string(extension);
    return std::string(CutUtf8(whole, kMaxNameBytes - middle.size())) + std::string(middle);
  }
  const size_t room = kMaxNameBytes - middle.size() - extension.size();
  return std::string(CutUtf8(stem, room)) + std::string(middle) + std::string(extension);
}

// The name split before its last ".": stem and extension (dot included; "" when none).
std::pair<std::string_view, std::string_view> StemAndExtension(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {name, ""};
  return {name.substr(0, dot), name.substr(dot)};
}

std::string RandomMark() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::string mark = " (";
  for (size_t k = 0; k < kMarkLetters; ++k) mark += kLetters[random() % (sizeof kLetters - 1)];
  return mark + ")";
}

}  // namespace

std::string WithUnguessableMark(std::string_view nativeName) {
  const auto [stem, extension] = StemAndExtension(nativeName);
  return Fitted(stem, RandomMark(), extension);
}

std::string WithCopyNumber(const std::string& name, int n) {
  if (n <= 1) return name;
  const std::string number = " (" + std::to_string(n) + ")";
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return name + number;
  return name.substr(0, dot) + number + name.substr(dot);
}

std::string SafeUploadName(std::string_view utf8Name) {
  const size_t slash = utf8Name.rfind('/');
  if (slash != std::string_view::npos) utf8Name.remove_prefix(slash + 1);
  const std::string valid = ToValidUtf8(utf8Name);
  std::string safe;
  safe.reserve(valid.size());
  for (size_t k = 0; k < valid.size(); ++k) {
    const auto byte = static_cast<unsigned char>(valid[k]);
    // C0 controls and DEL, and the C1 controls U+0080 to U+009F (C2 80 to C2 9F).
    if (byte < 0x20 || byte == 0x7F) {
      safe += '_';
    } else if (byte == 0xC2 && k + 1 < valid.size() &&
               static_cast<unsigned char>(valid[k + 1]) < 0xA0) {
      safe += '_';
      ++k;
    } else if (const size_t mark = LayoutMarkAt(std::string_view(valid).substr(k))) {
      safe += '_';
      k += mark - 1;
    } else {
      safe += valid[k];
    }
  }
  const size_t first = safe.find_first_not_of('.');
  return first == std::string::npos ? std::string() : safe.substr(first);
}

TUploadNamer::TUploadNamer(bool keepName, std::string_view utf8Name,
                           std::string_view nativeExtension,
                           std::chrono::system_clock::time_point moment, bool hideTaken)
    : safeName_(keepName ? SafeUploadName(utf8Name) : std::string()),
      hideTaken_(hideTaken),
      extension_(nativeExtension),
      moment_(moment) {}

int TUploadNamer::MaxAttempts() const {
  if (safeName_.empty()) return kMaxStampTries;
  return hideTaken_ ? 1 + kMaxMarkTries : kMaxCopyNumber;
}

std::string TUploadNamer::AnsweredName(int attempt) const {
  return NativeName(safeName_.empty() || !hideTaken_ ? attempt : 1);
}

std::string TUploadNamer::NativeName(int attempt) const {
  if (safeName_.empty()) {
    const std::string stem = std::string(kUploadPrefix) +
                             RequestStampAt(moment_ + std::chrono::milliseconds(attempt - 1));
    return Fitted(stem, "", extension_);
  }
  const auto [stem, extension] = StemAndExtension(safeName_);
  if (attempt > 1 && hideTaken_) return Fitted(stem, RandomMark(), extension);
  const std::string number = attempt <= 1 ? "" : " (" + std::to_string(attempt) + ")";
  return Fitted(stem, number, extension);
}

}  // namespace vm
