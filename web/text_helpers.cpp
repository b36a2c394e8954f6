// Hex text, parameter text, field lists and the Shift_JIS to UTF-8 converter.
//
// Every function here is a pure function of its arguments and safe to call from several
// threads at once: the only resource, the iconv descriptor, is per thread.
//
// Lengths: HexEncode and HexDecode accept texts of any length. Nothing in the system passes
// texts near the old 1,023-byte / 4,094-character limits, and cutting a longer text short
// would silently turn a name or path into a different one.
#include "web/text_helpers.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <stdexcept>

namespace vm {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char16_t kReplacementChar = 0xFFFD;
constexpr size_t kConvertChunk = 4096;  // bytes of UTF-16 produced per iconv() round

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

// One CP932 -> UTF-16LE descriptor per thread, opened on first use and reset before each use.
class SjisToUtf16Converter {
 public:
  SjisToUtf16Converter() : cd_(iconv_open("UTF-16LE", "CP932")) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error("iconv cannot convert CP932 to UTF-16LE");
    }
  }
  ~SjisToUtf16Converter() { iconv_close(cd_); }
  SjisToUtf16Converter(const SjisToUtf16Converter&) = delete;
  SjisToUtf16Converter& operator=(const SjisToUtf16Converter&) = delete;

  // Converts the whole input; a byte that is not valid Shift_JIS becomes U+FFFD, so valid
  // Shift_JIS keeps its meaning and nothing after a bad byte is lost.
  std::u16string Convert(std::string_view sjis) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::u16string out;
    out.reserve(sjis.size());
    char* in = const_cast<char*>(sjis.data());
    size_t inLeft = sjis.size();
    char chunk[kConvertChunk];
    while (inLeft > 0) {
      char* dst = chunk;
      size_t dstLeft = sizeof chunk;
      const size_t rc = iconv(cd_, &in, &inLeft, &dst, &dstLeft);
      AppendUnits(out, chunk, dst - chunk);
      if (rc != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) continue;
      // EILSEQ: an invalid byte; EINVAL: a lead byte cut off by the end of the text.
      out.push_back(kReplacementChar);
      ++in;
      --inLeft;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  static void AppendUnits(std::u16string& out, const char* bytes, size_t count) {
    for (size_t i = 0; i + 1 < count; i += 2) {
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
  }

  iconv_t cd_;
};

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
  thread_local SjisToUtf16Converter converter;
  return converter.Convert(UpToZero(sjis));
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

std::string TrimText(std::string_view text) {
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

int CompareTextIgnoreCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) -> int {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
  };
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const int diff = lower(a[i]) - lower(b[i]);
    if (diff != 0) return diff < 0 ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace vm
