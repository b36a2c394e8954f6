// Thumbnails kept on disk: our own cache, and the desktop's shared one.
//
// Ours: one file per image state in the user's cache folder, named by a digest of the image's
// device, inode, size and modification time, so a changed file never meets its old thumbnail,
// and one file reached by several paths (another spelling, a link, a second mount) has one. An
// image that gave none is remembered too, so it is not tried on every scroll.
//
// The desktop's (the freedesktop thumbnail scheme, ~/.cache/thumbnails): a file manager may have
// made the thumbnail already; it is used when it records the image's own modification time.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace vm::thumbs {

struct TCached {
  bool Failed = false;      // the image gave no thumbnail before
  TUniqueFd File;           // else the thumbnail, positioned at its start
  std::string ContentType;  // of File
};

class TThumbnailCache {
 public:
  // folder: native path of the cache folder, made when the first thumbnail is stored.
  explicit TThumbnailCache(std::string folder, uint64_t budgetBytes = kDefaultBudget);

  // $XDG_CACHE_HOME/velmarind/thumbnails, else ~/.cache/velmarind/thumbnails; "" without a home.
  static std::string DefaultFolder();

  // The name of an image's state (hex digest), from the opened image's own description.
  static std::string KeyOf(const struct stat& info);

  std::optional<TCached> Find(const std::string& key) const;
  // Keeps a thumbnail (contentType image/jpeg or image/webp), or the failure when bytes is
  // empty. Written whole or not at all; a failure to write is not an error (nothing is kept).
  void Store(const std::string& key, const std::string& contentType, const std::string& bytes);

  // Files beyond the budget are removed, oldest first, down to three quarters of it.
  static constexpr uint64_t kDefaultBudget = uint64_t{256} << 20;

 private:
  void PruneWhenDue();

  const std::string folder_;  // ends in "/"
  const uint64_t budget_;
  std::atomic<uint64_t> stores_{0};
};

// The desktop's base folder of shared thumbnails: $XDG_CACHE_HOME/thumbnails, else
// ~/.cache/thumbnails; "" without a home.
std::string SharedThumbnailFolder();

// The desktop's 256-pixel thumbnail of the file at nativePath, when one is there and records the
// file's modification time (and path); an invalid descriptor otherwise.
TUniqueFd FindSharedThumbnail(const std::string& sharedFolder, const std::string& nativePath,
                              const struct stat& info);

}  // namespace vm::thumbs
