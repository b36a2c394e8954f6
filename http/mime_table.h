// Content types by file extension, built once when the server is created.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace vm {

class TIdMimeTable {
 public:
  // Builds the table: the built-in list amended from the system's registrations.
  TIdMimeTable();
  // For tests: builds from the built-in list amended by the given mime.types file
  // (an empty path means no system registrations).
  explicit TIdMimeTable(const std::string& mimeTypesFile);

  // Content type of a file name; "application/octet-stream" when the extension is unknown.
  std::string GetFileMIMEType(const std::string& fileName) const;
  // Adds a type; throws on an empty extension or type, or a duplicate extension.
  void AddMimeType(const std::string& extension, const std::string& mimeType);
  // Clears the table and loads it from extension=type lines (first line for an extension wins).
  void LoadFromStrings(const std::vector<std::string>& lines);
  int Count() const { return static_cast<int>(extensions_.size()); }

 private:
  std::vector<std::string> extensions_;
  std::vector<std::string> types_;
  std::unordered_map<std::string, size_t> index_;  // lower-cased extension -> position in both lists
};

// The 136 built-in extension=type lines, in their order.
const std::vector<std::string>& BuiltInMimeLines();

}  // namespace vm
