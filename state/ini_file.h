// A small INI file reader and writer with the semantics of the profile-string functions:
// section and key names ignore case, a written value replaces the line in place, every other
// line is kept, a missing file reads as empty.
#pragma once

#include <string>
#include <vector>

namespace vm {

// A text read as a whole number, fallback when it is not one.
int StrToIntDef(const std::string& text, int fallback);

class TIniFile {
 public:
  explicit TIniFile(std::string path);
  const std::string& FileName() const { return path_; }
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  // Updates the file at once; throws EFCreateError when it cannot be written.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);

 private:
  std::string path_;
};

}  // namespace vm
