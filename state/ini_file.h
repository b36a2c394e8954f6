// A small INI file reader and writer with the semantics of the profile-string functions:
// section and key names ignore case, a written value replaces the line in place, every other
// line is kept, a missing file reads as empty.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/atomic_file.h"

namespace vm {

// A text read as a whole number, fallback when it is not one.
int StrToIntDef(const std::string& text, int fallback);

// One value to write: the key and its new text.
struct TIniValue {
  std::string Key;
  std::string Value;
};

class TIniFile {
 public:
  // mode: the permissions a written file gets (a file holding a secret is the owner's alone).
  explicit TIniFile(std::string path, mode_t mode = kPublicFileMode);
  const std::string& FileName() const { return path_; }
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  // Updates the file at once; throws EFCreateError when it cannot be written.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  // The file's text after writing the values in order, as that many WriteString calls would leave
  // it; the file itself is not touched.
  std::string TextWith(const std::string& section, const std::vector<TIniValue>& values) const;
  mode_t Mode() const { return mode_; }

 private:
  std::string path_;
  mode_t mode_;
};

}  // namespace vm
