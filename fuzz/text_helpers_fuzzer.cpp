// The text helpers of the web application and the engine's decoders on arbitrary texts:
// hex text, percent decoding, parameter and field look-up, the Shift_JIS to UTF-8 converter,
// URL and parameter decoding, Basic credentials and cookies.
//
// Besides the sanitizers' findings, the input fails when a helper breaks one of the promises
// the rest of the system relies on (round trips, lengths, the zero-byte rule).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/url_decode.h"
#include "platform/exception.h"
#include "platform/text_helpers.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
  }
}

std::string UpToZero(const std::string& text) { return text.substr(0, text.find('\0')); }

void HexText(const std::string& text) {
  const std::string plain = UpToZero(text);
  const std::string hex = vm::HexEncode(text);
  Check(hex.size() == 2 * plain.size(), "HexEncode doubles the length");
  Check(hex.find_first_not_of("0123456789abcdef") == std::string::npos, "HexEncode digits");
  Check(vm::HexDecode(hex) == plain, "HexDecode(HexEncode(x)) == x");
  const std::string decoded = vm::HexDecode(text);  // arbitrary text as hex
  Check(decoded.size() <= (text.size() + 1) / 2, "HexDecode length");
  Check(decoded.find('\0') == std::string::npos, "HexDecode ends at a zero byte");
}

void Percent(const std::string& text) {
  std::string buffer = text;
  vm::PercentDecode(buffer);
  Check(buffer.size() <= UpToZero(text).size(), "PercentDecode never grows");
  Check(buffer.find('\0') == std::string::npos, "PercentDecode ends at a zero byte");
  Check(vm::PercentDecoded(text) == buffer, "PercentDecoded matches PercentDecode");
  if (text.size() >= 2) vm::HexPairValue(text[0], text[1]);
}

void Lookups(const std::string& text, const std::string& name, int field) {
  const std::string value = vm::GetParam(text, name);
  Check(value.find('&') == std::string::npos, "GetParam stops at &");
  Check(value.size() <= text.size(), "GetParam length");
  const std::string got = vm::GetField(text, field);
  Check(got.find(";;") == std::string::npos, "GetField holds no separator");
  Check(got.size() <= text.size(), "GetField length");
}

void Conversion(const std::string& text) {
  const std::string utf8 = vm::ShiftJisToUtf8(text);
  const std::u16string wide = vm::ShiftJisToWide(text);
  Check(utf8.size() == vm::EncodeUtf8Units(nullptr, wide.data(), wide.size(), true),
        "UTF-8 count matches");
  // Plain ASCII up to the first zero byte comes through unchanged.
  const std::string plain = UpToZero(text);
  bool ascii = true;
  for (char c : plain) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) Check(utf8 == plain, "ASCII unchanged");
}

void EngineDecoders(const std::string& text) {
  const std::string url = vm::URLDecode(text);
  Check(url.size() <= text.size(), "URLDecode never grows");
  const std::vector<std::string> params = vm::DecodeParams(text);
  if (text.empty()) {
    Check(params.empty(), "no parameters from an empty text");
  } else {
    size_t pieces = 1;
    for (char c : text) pieces += c == '&';
    Check(params.size() == pieces, "one parameter per piece");
  }
  std::string user, password;
  try {
    vm::ParseBasicAuthorization(text, user, password);
  } catch (const vm::Exception&) {
    // "Unsupported authorization scheme." or "Uneven size in DecodeToStream."
  }
  std::vector<std::string> cookies;
  vm::ParseCookieValue(text, cookies);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const int field = provider.ConsumeIntegralInRange<int>(0, 8);
  const std::string name = provider.ConsumeRandomLengthString(16);
  const std::string text = provider.ConsumeRemainingBytesAsString();

  HexText(text);
  Percent(text);
  Lookups(text, name, field);
  Conversion(text);
  EngineDecoders(text);
  return 0;
}
