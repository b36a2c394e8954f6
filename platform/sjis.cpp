// Shift_JIS byte classes, trimming, ASCII case folding and literal conversion.
#include "platform/sjis.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "platform/fs_names.h"

namespace vm {

namespace {

// Spaces and control characters (bytes 0x00-0x20) count as trimmable.
bool IsTrimmable(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

bool IsSjisLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsSjisTrailByteAt(std::string_view text, size_t i) {
  // Only a walk from the start tells a trail byte from a lead or single byte.
  size_t pos = 0;
  while (pos < i && pos < text.size()) {
    if (IsSjisLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size()) {
      if (pos + 1 == i) return true;
      pos += 2;
    } else {
      ++pos;
    }
  }
  return false;
}

std::string_view TrimStartView(std::string_view text) {
  while (!text.empty() && IsTrimmable(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimEndView(std::string_view text) {
  while (!text.empty() && IsTrimmable(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view TrimView(std::string_view text) { return TrimEndView(TrimStartView(text)); }

std::string TrimText(std::string_view text) { return std::string(TrimView(text)); }

std::string LowerAscii(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}

std::string UpperAscii(std::string text) {
  for (char& c : text) c = AsciiUpper(c);
  return text;
}

int CompareTextIgnoreCase(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const int diff =
        static_cast<unsigned char>(AsciiLower(a[i])) - static_cast<unsigned char>(AsciiLower(b[i]));
    if (diff != 0) return diff < 0 ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualTextIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareTextIgnoreCase(a, b) == 0;
}

std::string Sjis(std::string_view utf8) {
  std::optional<std::string> sjis = Utf8ToShiftJis(utf8);
  // Only our own literals come here, so a text CP932 cannot hold is a programming error.
  if (!sjis) throw std::logic_error("text has no Shift_JIS form: " + std::string(utf8));
  return *sjis;
}

}  // namespace vm
