// Hex text, parameter text, field lists and the Shift_JIS to UTF-8 converter.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// IsSjisLeadByte, TrimText, CompareTextIgnoreCase and the other text primitives.
#include "platform/sjis.h"

namespace vm {

// Two lowercase hex digits per byte, up to the first zero byte.
std::string HexEncode(std::string_view text);
// Reads hex text back; the result ends at the first zero byte.
std::string HexDecode(std::string_view hex);
// Decodes "+" and "%xx" in place; the text ends at the first decoded zero byte.
void PercentDecode(std::string& buffer);
std::string PercentDecoded(std::string_view text);
// "%XX" (upper-case hex) for every byte that keep does not let through as it is.
std::string PercentEncode(std::string_view bytes, bool (*keep)(unsigned char));
// One byte from two characters, by the loose formula (both cases of A-F work).
unsigned char HexPairValue(char first, char second);
// Value after the first "name=" anywhere in params, up to the next "&"; "" when absent.
std::string GetParam(std::string_view params, std::string_view name);
// The value of the first parameter of exactly that name ("dirname" is not "name"), or nothing.
std::optional<std::string_view> ParamValue(std::string_view params, std::string_view name);
// Field n of a ";;" list, after trimming bytes 0x00-0x20 from both ends of the whole text.
std::string GetField(std::string_view list, int n);

// Shift_JIS (code page 932) to UTF-8, through UTF-16 units.
std::u16string ShiftJisToWide(std::string_view sjis);
std::string WideToUtf8(std::u16string_view wide);
// Encodes each unit on its own; counts only when dest is null. Returns the byte count.
size_t EncodeUtf8Units(char* dest, const char16_t* units, size_t count, bool countOnly);
std::string ShiftJisToUtf8(std::string_view sjis);

}  // namespace vm
