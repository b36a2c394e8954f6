#include "web/share_selection.h"

#include "platform/fs_names.h"
#include "platform/text_helpers.h"
#include "web/share_paths.h"

namespace vm {

namespace {

constexpr char kItemSeparator = '.';
constexpr char kRefusedHeader[] = "X-Velmarind-Refused: ";
constexpr char kRefusalType[] = "text/plain; charset=UTF-8";

}  // namespace

TSelection SelectionFromParams(std::string_view params) {
  TSelection selection;
  selection.FolderPath = WithFinalSlash(HexDecode(GetParam(params, "dir")));
  const std::string items = GetParam(params, "items");
  size_t start = 0;
  while (!items.empty() && start <= items.size()) {
    size_t end = items.find(kItemSeparator, start);
    if (end == std::string::npos) end = items.size();
    const std::string_view hex = std::string_view(items).substr(start, end - start);
    std::string name = HexDecode(hex);
    // HexDecode ends at a zero byte: a name that had one is not the name that was sent.
    if (!IsEntryName(name) || name.size() * 2 != hex.size()) selection.NamesUsable = false;
    selection.Names.push_back(std::move(name));
    start = end + 1;
  }
  return selection;
}

bool IsEntryName(std::string_view systemName) {
  return !systemName.empty() && systemName != "." && systemName != ".." &&
         systemName.find('/') == std::string_view::npos &&
         systemName.find('\0') == std::string_view::npos;
}

std::string NativeEntryName(const std::string& folderPath, const std::string& systemName) {
  const std::string native = SystemToNative(WithFinalSlash(folderPath) + systemName);
  return native.substr(native.rfind('/') + 1);
}

std::string FolderBaseName(std::string_view folderPath) {
  while (!folderPath.empty() && folderPath.back() == '/') folderPath.remove_suffix(1);
  return std::string(folderPath.substr(folderPath.rfind('/') + 1));
}

std::string FolderShownName(const std::vector<std::string>& sharedFolders,
                            std::string_view folderPath) {
  const auto folder = NormalisedSegments(folderPath);
  for (const std::string& entry : sharedFolders) {
    if (folder && NormalisedSegments(SharedFolderPath(entry)) == folder) return GetField(entry, 0);
  }
  return FolderBaseName(folderPath);
}

void AnswerRefusal(TIdHTTPResponseInfo& response, int code, std::string_view word) {
  response.SetResponseCode(code);
  response.ContentType = kRefusalType;
  response.CustomHeaders.Add(kRefusedHeader + std::string(word));
  response.ContentText = std::string(word) + "\r\n";
}

}  // namespace vm
