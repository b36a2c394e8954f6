#include "platform/name_marks.h"

#include <cstdint>
#include <cstdio>

namespace vm {

namespace {

struct TCodePoint {
  uint32_t value;  // meaningless when length is 1 and the byte is not ASCII
  size_t length;   // bytes it takes; 1 for a byte that starts no valid sequence
};

// The character at the start of text (not empty), decoded; an invalid sequence counts as one byte.
TCodePoint DecodeAt(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length <= 1 || length > text.size()) return {lead, 1};
  uint32_t value = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[k]);
    if ((next & 0xC0) != 0x80) return {lead, 1};
    value = (value << 6) | (next & 0x3F);
  }
  return {value, length};
}

bool IsLayoutMark(uint32_t c) {
  return c == 0x2028 || c == 0x2029 || c == 0x200E || c == 0x200F || c == 0x061C ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool IsControl(uint32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

size_t LayoutMarkAt(std::string_view utf8) {
  if (utf8.empty()) return 0;
  const TCodePoint c = DecodeAt(utf8);
  return c.length > 1 && IsLayoutMark(c.value) ? c.length : 0;
}

bool HasLayoutMarks(std::string_view utf8) {
  for (size_t at = 0; at < utf8.size(); ++at) {
    if (LayoutMarkAt(utf8.substr(at)) != 0) return true;
  }
  return false;
}

std::string WithLayoutMarksShown(std::string_view utf8) {
  std::string shown;
  shown.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    const TCodePoint c = DecodeAt(utf8.substr(at));
    const bool valid = c.length > 1 || c.value < 0x80;
    if (valid && (IsLayoutMark(c.value) || IsControl(c.value))) {
      char escaped[8];  // "\uXXXX"
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c.value));
      shown += escaped;
    } else {
      shown.append(utf8.substr(at, c.length));
    }
    at += c.length;
  }
  return shown;
}

}  // namespace vm
