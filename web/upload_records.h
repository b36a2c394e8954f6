// What the server keeps of each resumable upload between its requests: one small record per
// upload in the program folder's "uploads/" (never in a share, where a listing could show it),
// named by the browser's random id, which only that browser knows.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

// Partial uploads that have not grown for this long are removed, with their records: the
// browser that started them has given up, and the space is the user's.
inline constexpr std::chrono::hours kPartialLifetime{24};
// Growth by at least this much (or by what is left of the file) starts a partial upload's
// lifetime anew: a piece of the page script (8 MiB) does, a byte now and then does not, so
// that nobody keeps a partial upload for ever by sending next to nothing.
inline constexpr int64_t kRenewingGrowth = int64_t{1} << 20;
// Partial files are named with this prefix and a random token: hidden, and never a name a
// browser's file keeps (those lose their leading dots). Both names are of the program's own
// working files, which no share ever shows (kProgramWorkPrefix).
inline constexpr std::string_view kPartialPrefix = ".velmarind-part-";
// The folder at the top of a share where partial files wait until they are whole: wherever the
// folder they go to is moved meanwhile, the sweep finds them there.
inline constexpr std::string_view kPartialsFolder = ".velmarind-partials";

struct TPartialUpload {
  std::string ShareName;     // system text
  std::string FolderPath;    // system text; "" for the share's own folder
  std::string Name;          // the browser's file name, UTF-8
  int64_t Size = 0;          // announced
  int64_t ModifiedMs = 0;    // the browser's file's modification time, ms since 1970
  std::string PartialName;   // native name of the hidden partial file
  std::string NativeFolder;  // native path of the folder that holds the partial file
  std::string SavedName;     // system text: set once complete, so a lost answer can be repeated
  std::string Client;        // the address of the client that began it
  int64_t GrownAt = 0;       // when it last grew by kRenewingGrowth, s since 1970; 0: unknown
  int64_t GrownHeld = 0;     // the bytes held then

  // True when holding held bytes is growth enough since GrownHeld to start the lifetime anew.
  bool RenewedBy(int64_t held) const;

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
  // The partial uploads (not yet complete) of the client, and of all clients.
  struct TUnfinished {
    int OfClient = 0;
    int All = 0;
  };
  TUnfinished CountUnfinished(const std::string& client) const;
  // Removes the records, and the partial files, of uploads that have not grown for maxAge (by
  // the partial file's time for a record that does not say), and those of complete uploads
  // and of gone partial files whose record is older than maxAge.
  void Sweep(std::chrono::seconds maxAge) const;

 private:
  // The ids of the records (not the temporaries of a write).
  std::vector<std::string> Ids() const;

  std::string folder_;  // native, ending in "/"
};

}  // namespace vm
