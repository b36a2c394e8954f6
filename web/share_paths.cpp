#include "web/share_paths.h"

#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/fs_names.h"
#include "platform/text_helpers.h"

namespace vm {

namespace {

constexpr char kSeparator = '/';

// realpath of a native path, or nullopt when it does not resolve (missing, loop, no access).
std::optional<std::string> RealPath(const std::string& nativePath) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(nativePath.c_str(), nullptr),
                                                       &std::free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

bool SegmentsStartWith(const std::vector<std::string>& path,
                       const std::vector<std::string>& folder) {
  if (folder.size() > path.size()) return false;
  for (size_t k = 0; k < folder.size(); ++k) {
    if (path[k] != folder[k]) return false;
  }
  return true;
}

// The paths (field 1) of the shared folders, as listed; entries without a path are left out.
std::vector<std::string> SharePaths(const TSharedFolderList& folders) {
  std::vector<std::string> paths;
  for (const std::string& entry : folders) {
    std::string path = GetField(entry, 1);
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

}  // namespace

std::optional<std::vector<std::string>> NormalisedSegments(std::string_view path) {
  if (path.empty() || path.front() != kSeparator) return std::nullopt;
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(kSeparator, start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.emplace_back(segment);
    }
    start = end + 1;
  }
  return segments;
}

bool IsInsideFolder(std::string_view path, std::string_view folder) {
  auto pathSegments = NormalisedSegments(path);
  auto folderSegments = NormalisedSegments(folder);
  if (!pathSegments || !folderSegments) return false;
  return SegmentsStartWith(*pathSegments, *folderSegments);
}

std::string SharedFolderPath(std::string_view entry) {
  // Without the final separator, a new file would land beside the folder instead of inside it.
  return WithFinalSlash(GetField(entry, 1));
}

std::string SharedFolderPathByName(const TSharedFolderList& folders, std::string_view name) {
  for (const std::string& entry : folders) {
    if (GetField(entry, 0) == name) return SharedFolderPath(entry);
  }
  return "";
}

TShareRoots::TShareRoots(const TSharedFolderList& folders) {
  for (const std::string& share : SharePaths(folders)) {
    auto shareReal = RealPath(SystemToNative(share));
    if (!shareReal) continue;
    if (auto segments = NormalisedSegments(*shareReal)) roots_.push_back(std::move(*segments));
  }
}

bool TShareRoots::Contain(const std::string& nativePath) const {
  auto real = RealPath(nativePath);
  if (!real) return false;
  auto realSegments = NormalisedSegments(*real);
  if (!realSegments) return false;
  for (const std::vector<std::string>& root : roots_) {
    if (SegmentsStartWith(*realSegments, root)) return true;
  }
  return false;
}

bool RealPathInsideShares(const TSharedFolderList& folders, const std::string& nativePath) {
  return TShareRoots(folders).Contain(nativePath);
}

std::optional<std::string> ResolveSharedPath(const TSharedFolderList& folders,
                                             std::string_view systemPath) {
  bool inside = false;
  for (const std::string& share : SharePaths(folders)) {
    if (IsInsideFolder(systemPath, share)) {
      inside = true;
      break;
    }
  }
  if (!inside) return std::nullopt;
  std::string native = SystemToNative(systemPath);
  auto real = RealPath(native);
  if (!real || !RealPathInsideShares(folders, *real)) return std::nullopt;
  return real;
}

}  // namespace vm
