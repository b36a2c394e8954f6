// Percent decoding, parameter lists, the target splitter, Basic credentials and cookies.
#include "http/url_decode.h"

#include <array>

#include "platform/exception.h"
#include "platform/sjis.h"

namespace vm {
namespace {

// A "%" escape reads at most this many hex digits.
constexpr size_t kMaxEscapeDigits = 2;

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "\" becomes "/", except where it is the second byte of a Shift_JIS character
// (many of them end in 0x5C, which must stay part of the character).
std::string SlashesForward(std::string_view target) {
  std::string result(target);
  for (size_t i = 0; i < result.size(); ++i) {
    if (IsSjisLeadByte(static_cast<unsigned char>(result[i])) && i + 1 < result.size()) {
      ++i;
    } else if (result[i] == '\\') {
      result[i] = '/';
    }
  }
  return result;
}

// Splits a path (origin form) into directory, file name and parameter part.
TTargetParts SplitPath(std::string_view target) {
  const std::string path = SlashesForward(target);
  const size_t equals = path.find('=');
  const size_t searchEnd = equals == std::string::npos ? path.size() : equals;
  const size_t slash = searchEnd == 0 ? std::string::npos : path.rfind('/', searchEnd - 1);
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;

  TTargetParts parts;
  parts.Directory = path.substr(0, nameStart);
  parts.FileName = path.substr(nameStart, searchEnd - nameStart);
  if (equals != std::string::npos) {
    const size_t hash = path.find('#', equals);
    parts.Params = path.substr(equals, hash == std::string::npos ? std::string::npos : hash - equals);
  }
  return parts;
}

// Host of an authority "[user-info@]host[:port]".
std::string HostOfAuthority(std::string_view authority) {
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  return std::string(authority.substr(0, authority.find(':')));
}

// Standard Base64 alphabet value of c; characters outside it count as zero bits.
unsigned Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}

std::string Base64Decode(std::string_view text) {
  // Base64 comes in groups of four characters, padded with "=".
  constexpr size_t kGroup = 4;
  if (text.size() % kGroup != 0) throw Exception("Uneven size in DecodeToStream.");
  std::string result;
  result.reserve(text.size() / kGroup * 3);
  for (size_t i = 0; i < text.size(); i += kGroup) {
    unsigned bits = 0;
    size_t padding = 0;
    for (size_t k = 0; k < kGroup; ++k) {
      const char c = text[i + k];
      if (c == '=') ++padding;
      bits = (bits << 6) | (c == '=' ? 0 : Base64Value(c));
    }
    const std::array<char, 3> bytes = {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8),
                                       static_cast<char>(bits)};
    result.append(bytes.data(), padding >= 3 ? 0 : 3 - padding);
  }
  return result;
}

}  // namespace

std::string URLDecode(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      result.push_back(text[i]);
      continue;
    }
    const std::string_view digits = text.substr(i + 1, kMaxEscapeDigits);
    int value = digits.empty() ? -1 : 0;
    for (char digit : digits) {
      const int d = HexDigitValue(digit);
      if (d < 0) {
        value = -1;
        break;
      }
      value = value * 16 + d;
    }
    if (value >= 1 && value <= 255) result.push_back(static_cast<char>(value));
    i += digits.size();  // the escape is consumed even when it gave nothing
  }
  return result;
}

std::vector<std::string> DecodeParams(std::string_view text) {
  std::vector<std::string> params;
  if (text.empty()) return params;
  size_t start = 0;
  while (true) {
    const size_t amp = text.find('&', start);
    std::string piece(text.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start));
    for (char& c : piece) {
      if (c == '+') c = ' ';
    }
    params.push_back(URLDecode(piece));
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
  return params;
}

TTargetParts SplitTarget(std::string_view target) {
  static constexpr std::string_view kSchemeEnd = "://";
  const size_t schemeEnd = target.find(kSchemeEnd);
  if (schemeEnd == std::string_view::npos) return SplitPath(target);

  std::string_view rest = target.substr(schemeEnd + kSchemeEnd.size());
  const size_t slash = rest.find('/');
  const std::string_view authority = rest.substr(0, slash);
  rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);

  TTargetParts parts = SplitPath(rest);
  parts.Directory.insert(0, "/");
  const size_t hash = parts.FileName.find('#');
  if (hash != std::string::npos) parts.FileName.resize(hash);
  parts.Host = HostOfAuthority(authority);
  return parts;
}

std::string DocumentFromTarget(std::string_view target, std::string* hostOut) {
  if (hostOut != nullptr) hostOut->clear();
  if (target == "*") return "*";
  const TTargetParts parts = SplitTarget(target);
  if (hostOut != nullptr) *hostOut = parts.Host;
  return URLDecode(parts.Directory) + URLDecode(parts.FileName) + parts.Params;
}

void ParseBasicAuthorization(const std::string& value, std::string& user, std::string& password) {
  const size_t space = value.find(' ');
  const std::string_view scheme = std::string_view(value).substr(0, space);
  std::string_view credentials =
      space == std::string::npos ? std::string_view() : std::string_view(value).substr(space + 1);
  if (!EqualTextIgnoreCase(scheme, "Basic")) throw Exception("Unsupported authorization scheme.");
  // Several blanks between the scheme and the credentials are allowed.
  while (!credentials.empty() && credentials.front() == ' ') credentials.remove_prefix(1);
  const std::string decoded = Base64Decode(credentials);
  const size_t colon = decoded.find(':');
  user = decoded.substr(0, colon);
  password = colon == std::string::npos ? std::string() : decoded.substr(colon + 1);
}

void ParseCookieValue(const std::string& value, std::vector<std::string>& cookies) {
  std::string_view rest = value;
  for (size_t semicolon = rest.find(';'); semicolon != std::string_view::npos; semicolon = rest.find(';')) {
    cookies.emplace_back(rest.substr(0, semicolon));
    rest = TrimView(rest.substr(semicolon + 1));
  }
  if (!rest.empty()) cookies.emplace_back(rest);
}

}  // namespace vm
