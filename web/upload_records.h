// What the server keeps of each resumable upload between its requests: one small record per
// upload in the program folder's "uploads/" (never in a share, where a listing could show it),
// named by the browser's random id, which only that browser knows.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vm {

// Partial uploads untouched for this long are removed, with their records: the browser that
// started them has given up, and the space is the user's.
inline constexpr std::chrono::hours kPartialLifetime{24};
// Partial files are named with this prefix and a random token: hidden, and never a name a
// browser's file keeps (those lose their leading dots).
inline constexpr std::string_view kPartialPrefix = ".velmarind-part-";

struct TPartialUpload {
  std::string ShareName;     // system text
  std::string FolderPath;    // system text; "" for the share's own folder
  std::string Name;          // the browser's file name, UTF-8
  int64_t Size = 0;          // announced
  int64_t ModifiedMs = 0;    // the browser's file's modification time, ms since 1970
  std::string PartialName;   // native name of the hidden partial file in the folder
  std::string NativeFolder;  // the folder's native path when the upload began (for the sweep)
  std::string SavedName;     // system text: set once complete, so a lost answer can be repeated

  // The same upload: same folder, name, size and modification time.
  bool SameUpload(const TPartialUpload& other) const;
};

// The records of one program folder (system text, ending in "/").
class TUploadRecords {
 public:
  explicit TUploadRecords(const std::string& programFolder);

  // The record of the id (a validated token), or nothing.
  std::optional<TPartialUpload> Read(const std::string& id) const;
  // Writes the record whole (replacing an older one); false when it cannot be written.
  bool Write(const std::string& id, const TPartialUpload& upload) const;
  void Remove(const std::string& id) const;
  // Removes the records, and the partial files, of uploads untouched for maxAge: by the partial
  // file's time while it is partial, by the record's once complete or when the file is gone.
  void Sweep(std::chrono::seconds maxAge) const;

 private:
  std::string folder_;  // native, ending in "/"
};

}  // namespace vm
