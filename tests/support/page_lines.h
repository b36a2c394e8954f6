// Helpers for tests of files and generated pages: temporary folders, file bytes and modes, CR LF
// lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vmtest {

// A fresh folder under /tmp (path ends in "/"), removed with everything in it at destruction.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::string& Path() const { return path_; }
  // Creates a sub-folder (e.g. "page") and returns its path ending in "/".
  std::string MakeSubfolder(const std::string& name) const;
  // Names of the entries of a sub-folder ("" = the folder itself), sorted.
  std::vector<std::string> List(const std::string& sub = "") const;

 private:
  std::string path_;
};

// A fresh folder on another file system than /tmp (a memory one under /dev/shm), removed with
// everything in it at destruction; Path() is empty when this machine has no such file system.
class TOtherDiskFolder {
 public:
  TOtherDiskFolder();
  ~TOtherDiskFolder();
  TOtherDiskFolder(const TOtherDiskFolder&) = delete;
  TOtherDiskFolder& operator=(const TOtherDiskFolder&) = delete;
  const std::string& Path() const { return path_; }  // ends in "/"

 private:
  std::string path_;
};

// The whole content of a file; "" when it cannot be read.
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
// The permission bits (07777) of a file; 0 when there is none.
unsigned PermissionsOf(const std::string& path);
void WriteFileBytes(const std::string& path, std::string_view bytes);

// The page bytes for lines: each followed by CR LF.
std::string JoinCrLf(const std::vector<std::string>& lines);
// Lines of a CR LF text; a final CR LF ends the last line (no empty line after it).
std::vector<std::string> SplitCrLf(std::string_view bytes);

// True for fifteen decimal digits.
bool IsStamp(std::string_view text);
// The fifteen characters after the first occurrence of marker in text ("" when absent).
std::string StampAfter(std::string_view text, std::string_view marker);

}  // namespace vmtest
