// The served form of the page script: its UTF-8 source with every character outside ASCII written
// as a \u escape (a surrogate pair beyond the BMP). The pages are Shift_JIS and a browser may read
// the script in that or any other charset; an ASCII file means the same in all of them. Escapes
// stand for their character in string, template and regular-expression literals and read as
// plain text in comments, which is where the script's source writes its Japanese.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/iconv_converter.h"

namespace vm {

// The source with each non-ASCII character as \uXXXX (lowercase hex); a leading byte-order mark
// is dropped. nullopt, with *problem naming the line, when the source is not UTF-8 or when a
// backslash stands right before a non-ASCII character ("\" + "\u..." would be read as "\\u...").
inline std::optional<std::string> EscapeNonAscii(std::string_view source,
                                                 std::string* problem = nullptr) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  IconvConverter toUtf16("UTF-16BE", "UTF-8");
  size_t at = source.substr(0, kByteOrderMark.size()) == kByteOrderMark ? kByteOrderMark.size() : 0;
  std::string out;
  out.reserve(source.size() * 2);
  int line = 1;
  auto fail = [&](const char* what) -> std::optional<std::string> {
    if (problem) *problem = "line " + std::to_string(line) + ": " + what;
    return std::nullopt;
  };
  while (at < source.size()) {
    const unsigned char byte = static_cast<unsigned char>(source[at]);
    if (byte < 0x80) {
      if (byte == '\n') ++line;
      out += source[at++];
      continue;
    }
    // A run of non-ASCII bytes holds whole UTF-8 characters, ASCII never being part of one.
    size_t end = at;
    while (end < source.size() && static_cast<unsigned char>(source[end]) >= 0x80) ++end;
    size_t backslashes = 0;
    while (backslashes < out.size() && out[out.size() - 1 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2 == 1) return fail("a backslash before a non-ASCII character");
    const std::optional<std::string> units = toUtf16.Convert(source.substr(at, end - at));
    if (!units) return fail("not UTF-8");
    for (size_t i = 0; i + 1 < units->size(); i += 2) {
      char escape[7];
      std::snprintf(escape, sizeof escape, "\\u%02x%02x", static_cast<unsigned char>((*units)[i]),
                    static_cast<unsigned char>((*units)[i + 1]));
      out += escape;
    }
    at = end;
  }
  return out;
}

}  // namespace vm
