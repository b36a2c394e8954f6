// Addresses of the file-manager door: the path prefix, request targets and "Destination" values
// turned into decoded segments, and segments back into hrefs.
//
// A segment is a name as it stands on disk (bytes, UTF-8 as a rule), percent-encoded in hrefs.
// The first segment names a share by its display name (UTF-8); the rest name entries below it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

// Everything under this path is the file-manager door; it holds no designed document name.
inline constexpr std::string_view kDavPrefix = "/velmarind-dav";

// A decoded address below the prefix.
struct TDavPath {
  std::vector<std::string> Segments;  // empty: the root that lists the shares
  bool TrailingSlash = false;

  bool IsRoot() const { return Segments.empty(); }
  // "/share/a/b": the key that locks and properties are kept under.
  std::string Key() const;
  // The same path one segment shorter (the root stays the root).
  TDavPath Parent() const;
  const std::string& Leaf() const { return Segments.back(); }
};

// Why an address was not taken.
enum class TDavPathFault {
  None,
  OutsidePrefix,  // not under kDavPrefix
  Malformed,      // a bad escape, a ".", ".." or "/"-holding segment, a zero byte, a "#"
};

// The path of a request target or of a "Destination" value: an absolute path, or an absolute
// URL whose host goes to hostOut (empty for a path). The query is ignored.
std::optional<TDavPath> ParseDavTarget(std::string_view target, TDavPathFault* fault = nullptr,
                                       std::string* hostOut = nullptr);

// True when the raw request target lies under kDavPrefix (decides the routing).
bool IsDavTarget(std::string_view target);

// The href of a path: the prefix and each segment percent-encoded (only unreserved characters
// stay as they are), with a final "/" for a collection.
std::string DavHref(const TDavPath& path, bool collection);
// Percent-encodes one segment.
std::string EncodeDavSegment(std::string_view segment);

// True when inner is outer or lies below it, by segments.
bool IsSameOrBelow(const TDavPath& inner, const TDavPath& outer);
// path with its leading segments from replaced by those of to (path lies at or below from).
TDavPath Rebased(const TDavPath& path, const TDavPath& from, const TDavPath& to);

}  // namespace vm
