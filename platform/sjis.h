// Text primitives every layer shares: Shift_JIS byte classes, trimming, ASCII case folding,
// and the conversion of our own UTF-8 literals to Shift_JIS.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vm {

// True for a byte that starts a Shift_JIS double-byte character.
bool IsSjisLeadByte(unsigned char byte);
// True when byte index i of text is the second byte of a double-byte character.
bool IsSjisTrailByteAt(std::string_view text, size_t i);

// The text without its leading bytes 0x00-0x20.
std::string_view TrimStartView(std::string_view text);
// The text without its trailing bytes 0x00-0x20.
std::string_view TrimEndView(std::string_view text);
// The text without its leading and trailing bytes 0x00-0x20.
std::string_view TrimView(std::string_view text);
// TrimView as an owned text.
std::string TrimText(std::string_view text);

// ASCII case folding: only A-Z and a-z change, so Shift_JIS bytes (lead and trail bytes
// alike) are never touched, whatever the process locale says.
constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}
constexpr char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}
// The text with AsciiLower / AsciiUpper applied to every byte.
std::string LowerAscii(std::string text);
std::string UpperAscii(std::string text);
// ASCII-only case-insensitive comparison (<0, 0, >0); other bytes compare unsigned.
int CompareTextIgnoreCase(std::string_view a, std::string_view b);
// True when the texts are equal ignoring ASCII case.
bool EqualTextIgnoreCase(std::string_view a, std::string_view b);

// The Shift_JIS bytes of a UTF-8 literal; the literal must be representable in CP932
// (std::logic_error otherwise: only the system's own texts come here).
std::string Sjis(std::string_view utf8);

}  // namespace vm
