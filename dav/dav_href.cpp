#include "dav/dav_href.h"

namespace vm {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Strict percent-decoding of one segment: every "%" is followed by two hex digits.
std::optional<std::string> DecodeSegment(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t k = 0; k < raw.size(); ++k) {
    if (raw[k] != '%') {
      out += raw[k];
      continue;
    }
    if (k + 2 >= raw.size()) return std::nullopt;
    const int high = HexValue(raw[k + 1]);
    const int low = HexValue(raw[k + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    k += 2;
  }
  return out;
}

bool IsUsableSegment(std::string_view segment) {
  return !segment.empty() && segment != "." && segment != ".." &&
         segment.find('/') == std::string_view::npos &&
         segment.find('\0') == std::string_view::npos;
}

// The path part of a target: an absolute URL loses its scheme and authority (kept in host).
std::optional<std::string_view> PathOfTarget(std::string_view target, std::string* host) {
  if (host) host->clear();
  const size_t scheme = target.find("://");
  if (scheme != std::string_view::npos && target.find('/') > scheme) {
    const size_t authority = scheme + 3;
    const size_t slash = target.find('/', authority);
    std::string_view hostPart = target.substr(authority, slash == std::string_view::npos
                                                             ? std::string_view::npos
                                                             : slash - authority);
    if (const size_t at = hostPart.rfind('@'); at != std::string_view::npos)
      hostPart.remove_prefix(at + 1);
    if (host) *host = std::string(hostPart);
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  if (target.empty() || target.front() != '/') return std::nullopt;
  // A fragment is never part of what a client asks for: a "#" in a target is refused whole
  // rather than cut off (a DELETE of "folder/#x" must not delete the folder).
  return target.substr(0, target.find('?'));
}

}  // namespace

std::string TDavPath::Key() const {
  std::string key;
  for (const std::string& segment : Segments) key += "/" + segment;
  return key.empty() ? "/" : key;
}

TDavPath TDavPath::Parent() const {
  TDavPath parent{Segments, true};
  if (!parent.Segments.empty()) parent.Segments.pop_back();
  return parent;
}

std::optional<TDavPath> ParseDavTarget(std::string_view target, TDavPathFault* fault,
                                       std::string* hostOut) {
  auto fail = [fault](TDavPathFault why) -> std::optional<TDavPath> {
    if (fault) *fault = why;
    return std::nullopt;
  };
  const std::optional<std::string_view> path = PathOfTarget(target, hostOut);
  if (!path) return fail(TDavPathFault::OutsidePrefix);
  if (path->substr(0, kDavPrefix.size()) != kDavPrefix) return fail(TDavPathFault::OutsidePrefix);
  std::string_view rest = path->substr(kDavPrefix.size());
  if (!rest.empty() && rest.front() != '/') return fail(TDavPathFault::OutsidePrefix);
  TDavPath parsed;
  parsed.TrailingSlash = !rest.empty() && rest.back() == '/';
  size_t start = 0;
  while (start < rest.size()) {
    size_t end = rest.find('/', start);
    if (end == std::string_view::npos) end = rest.size();
    const std::string_view raw = rest.substr(start, end - start);
    start = end + 1;
    if (raw.empty()) continue;  // repeated "/"
    if (raw.find('#') != std::string_view::npos) return fail(TDavPathFault::Malformed);
    std::optional<std::string> segment = DecodeSegment(raw);
    if (!segment || !IsUsableSegment(*segment)) return fail(TDavPathFault::Malformed);
    parsed.Segments.push_back(std::move(*segment));
  }
  if (fault) *fault = TDavPathFault::None;
  return parsed;
}

bool IsDavTarget(std::string_view target) {
  TDavPathFault fault = TDavPathFault::None;
  return ParseDavTarget(target, &fault) || fault == TDavPathFault::Malformed;
}

std::string EncodeDavSegment(std::string_view segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(segment.size());
  for (const char c : segment) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                       byte == '_' || byte == '~';
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

std::string DavHref(const TDavPath& path, bool collection) {
  std::string href(kDavPrefix);
  for (const std::string& segment : path.Segments) href += "/" + EncodeDavSegment(segment);
  if (collection || path.IsRoot()) href += "/";
  return href;
}

bool IsSameOrBelow(const TDavPath& inner, const TDavPath& outer) {
  if (inner.Segments.size() < outer.Segments.size()) return false;
  for (size_t k = 0; k < outer.Segments.size(); ++k) {
    if (inner.Segments[k] != outer.Segments[k]) return false;
  }
  return true;
}

TDavPath Rebased(const TDavPath& path, const TDavPath& from, const TDavPath& to) {
  TDavPath moved = to;
  moved.Segments.insert(moved.Segments.end(), path.Segments.begin() + from.Segments.size(),
                        path.Segments.end());
  return moved;
}

}  // namespace vm
