// Hex text, parameter text, field lists and the Shift_JIS to UTF-8 converter.
//
// Every function here is a pure function of its arguments and safe to call from several
// threads at once: the only resource, the iconv descriptor, is per thread.
// The Shift_JIS byte classes, trimming and case folding live in platform/sjis.h.
//
// Lengths: HexEncode and HexDecode accept texts of any length. Nothing in the system passes
// texts near the old 1,023-byte / 4,094-character limits, and cutting a longer text short
// would silently turn a name or path into a different one.
#include "platform/text_helpers.h"

#include "platform/iconv_converter.h"

namespace vm {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The text up to its first zero byte: the texts these helpers take are zero-terminated.
std::string_view UpToZero(std::string_view text) {
  const size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

// The value of a hex digit, or -1. Only "0"-"9" and lowercase "a"-"f" are digits.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The UTF-16LE bytes of U+FFFD, which stands for each byte that is not valid Shift_JIS:
// valid Shift_JIS keeps its meaning and nothing after a bad byte is lost.
constexpr std::string_view kReplacementUtf16Le = "\xFD\xFF";

}  // namespace

std::string HexEncode(std::string_view text) {
  text = UpToZero(text);
  std::string hex;
  hex.resize(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    hex[2 * i] = kHexDigits[byte >> 4];
    hex[2 * i + 1] = kHexDigits[byte & 0x0F];
  }
  return hex;
}

std::string PercentEncode(std::string_view bytes, bool (*keep)(unsigned char)) {
  static const char kUpperHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (const unsigned char c : bytes) {
    if (keep(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kUpperHex[c >> 4]);
      out.push_back(kUpperHex[c & 0x0F]);
    }
  }
  return out;
}

// A character that is not one of the sixteen digits counts as 0, and an odd last character
// gives the high nibble of a final byte whose low nibble is 0. The system only produces
// lowercase hex itself, so these rules only have to be predictable, never "right".
std::string HexDecode(std::string_view hex) {
  std::string text;
  text.reserve((hex.size() + 1) / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigitValue(hex[i]);
    const int low = i + 1 < hex.size() ? HexDigitValue(hex[i + 1]) : 0;
    const int byte = (high < 0 ? 0 : high) * 16 + (low < 0 ? 0 : low);
    if (byte == 0) break;  // the pair 00 ends the text
    text.push_back(static_cast<char>(byte));
  }
  return text;
}

// A "%" with fewer than two characters left before the end is kept as it stands, with the
// one character after it: a value such as "100%" survives, and decoding never reads past
// the end of the text.
void PercentDecode(std::string& buffer) {
  const size_t end = UpToZero(buffer).size();
  size_t write = 0;
  for (size_t read = 0; read < end; ++read) {
    const char c = buffer[read];
    if (c == '%' && end - read >= 3) {  // "%" and two more characters
      buffer[write++] = static_cast<char>(HexPairValue(buffer[read + 1], buffer[read + 2]));
      read += 2;
    } else if (c == '+') {
      buffer[write++] = ' ';
    } else {
      buffer[write++] = c;
    }
  }
  buffer.resize(write);
  // A decoded zero byte (%00) ends the text for every later use.
  buffer.resize(UpToZero(buffer).size());
}

std::string PercentDecoded(std::string_view text) {
  std::string buffer(text);
  PercentDecode(buffer);
  return buffer;
}

unsigned char HexPairValue(char first, char second) {
  // Taken as signed bytes, so 0x80-0xFF fall below "A" and take the digit branch.
  auto value = [](char ch) -> int {
    const int c = static_cast<signed char>(ch);
    return c < 'A' ? c - 0x30 : (c & 0xDF) - 0x37;
  };
  return static_cast<unsigned char>((16 * value(first) + value(second)) & 0xFF);
}

std::string GetParam(std::string_view params, std::string_view name) {
  std::string key(name);
  key.push_back('=');
  // Unanchored on purpose: "name" also matches inside "dirname=", as callers expect.
  const size_t at = params.find(key);
  if (at == std::string_view::npos) return {};
  const size_t begin = at + key.size();
  const size_t amp = params.find('&', begin);
  return std::string(params.substr(begin, amp == std::string_view::npos ? amp : amp - begin));
}

std::optional<std::string_view> ParamValue(std::string_view params, std::string_view name) {
  size_t start = 0;
  while (start <= params.size()) {
    size_t end = params.find('&', start);
    if (end == std::string_view::npos) end = params.size();
    const std::string_view item = params.substr(start, end - start);
    if (item.size() > name.size() && item.substr(0, name.size()) == name &&
        item[name.size()] == '=') {
      return item.substr(name.size() + 1);
    }
    start = end + 1;
  }
  return std::nullopt;
}

std::string GetField(std::string_view list, int n) {
  constexpr std::string_view kSeparator = ";;";
  const std::string trimmed = TrimText(list);
  std::string_view rest = trimmed;
  for (int i = 0; i < n; ++i) {
    const size_t sep = rest.find(kSeparator);
    if (sep == std::string_view::npos) return {};
    rest.remove_prefix(sep + kSeparator.size());
  }
  return std::string(rest.substr(0, rest.find(kSeparator)));
}

std::u16string ShiftJisToWide(std::string_view sjis) {
  // One descriptor per thread: connection threads convert at the same time.
  thread_local IconvConverter converter("UTF-16LE", "CP932");
  const std::string bytes = converter.ConvertReplacing(UpToZero(sjis), kReplacementUtf16Le);
  std::u16string wide;
  wide.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return wide;
}

std::string WideToUtf8(std::u16string_view wide) {
  const size_t end = wide.find(u'\0');
  if (end != std::u16string_view::npos) wide = wide.substr(0, end);
  const size_t count = EncodeUtf8Units(nullptr, wide.data(), wide.size(), true);
  std::string utf8(count + 1, '\0');  // room for the terminator the writer adds
  EncodeUtf8Units(utf8.data(), wide.data(), wide.size(), false);
  utf8.resize(count);
  return utf8;
}

size_t EncodeUtf8Units(char* dest, const char16_t* units, size_t count, bool countOnly) {
  const bool write = !countOnly && dest != nullptr;
  size_t n = 0;
  auto put = [&](unsigned value) {
    if (write) dest[n] = static_cast<char>(value);
    ++n;
  };
  for (size_t i = 0; i < count; ++i) {
    const unsigned u = units[i];
    if (u < 0x80) {
      put(u);
    } else if (u < 0x800) {
      put(0xC0 | (u >> 6));
      put(0x80 | (u & 0x3F));
    } else {
      put(0xE0 | (u >> 12));
      put(0x80 | ((u >> 6) & 0x3F));
      put(0x80 | (u & 0x3F));
    }
  }
  if (write) dest[n] = '\0';
  return n;
}

std::string ShiftJisToUtf8(std::string_view sjis) { return WideToUtf8(ShiftJisToWide(sjis)); }

}  // namespace vm
