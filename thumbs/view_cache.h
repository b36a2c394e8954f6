// Converted views and video facts kept on disk, within a size limit.
//
// One file per state of a shared file: its name is the file's device, inode, size and
// modification time, so a changed file never meets its old view, and one file reached by
// several paths has one. A file that gave nothing is remembered too (an empty entry), so that
// a photo that cannot be decoded is not tried again on every look. The folder is kept within
// its budget: after each store the entries used longest ago go first.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace vm::thumbs {

// What is kept of one file.
enum class TViewEntry { View, Facts };

struct TKeptView {
  bool Failed = false;      // the file gave nothing before
  TUniqueFd File;           // else the entry, positioned at its start
  std::string ContentType;  // of File: image/jpeg or image/webp for a view, text/plain for facts
};

class TViewCache {
 public:
  // folder: native path of the cache folder, made with the first store ("" keeps nothing).
  explicit TViewCache(std::string folder, uint64_t budgetBytes = kDefaultBudget);

  // $XDG_CACHE_HOME/velmarind/views, else ~/.cache/velmarind/views; "" without a home.
  static std::string DefaultFolder();

  // The entry of the file described by info, marked as just used; nothing when none is kept.
  std::optional<TKeptView> Find(const struct stat& info, TViewEntry entry) const;
  // Keeps the entry (empty bytes: the file gave nothing), whole or not at all, then removes the
  // entries used longest ago while the folder exceeds the budget. A failure to write is not an
  // error: nothing is kept.
  void Store(const struct stat& info, TViewEntry entry, const std::string& bytes);

  // About 500 views of 2560 pixels.
  static constexpr uint64_t kDefaultBudget = uint64_t{512} << 20;

 private:
  std::string NameOf(const struct stat& info, TViewEntry entry) const;
  void KeepWithinBudget() const;

  const std::string folder_;  // ends in "/"
  const uint64_t budget_;
};

}  // namespace vm::thumbs
