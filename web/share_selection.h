// What the managing documents (archives, trash, rename, new folder) take from a request: a
// folder of a share and entries in it, and how they answer a refusal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "http/response_info.h"

namespace vm {

// A folder and some of its entries, as system texts.
struct TSelection {
  std::string FolderPath;          // "dir": hex of the folder's full path (ending in "/")
  std::vector<std::string> Names;  // "items": hex names joined by "."; empty when not given
  bool NamesUsable = true;         // false when an item is no single entry name
};

// The selection in the decoded parameter text.
TSelection SelectionFromParams(std::string_view params);

// True for the name of one entry: not empty, not "." or "..", no "/" and no zero byte.
bool IsEntryName(std::string_view systemName);

// The native name of the entry systemName in the folder folderPath (both system text): the
// last component of the native form of the whole path, so that names are looked up where
// they are.
std::string NativeEntryName(const std::string& folderPath, const std::string& systemName);

// The last component of a folder path (system text), without its final "/".
std::string FolderBaseName(std::string_view folderPath);

// The name a browser shows for a folder (system text): a share's own folder goes by the
// share's name (the first share of that folder), any other by FolderBaseName.
std::string FolderShownName(const std::vector<std::string>& sharedFolders,
                            std::string_view folderPath);

// Answers a refusal: the status code, the reason as a word in "X-Velmarind-Refused" (for the
// page script) and as the plain-text body.
void AnswerRefusal(TIdHTTPResponseInfo& response, int code, std::string_view word);

}  // namespace vm
