// Thumbnails of shared images: from our cache, else the desktop's, else made by a worker and
// kept.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>

#include "platform/unique_fd.h"
#include "thumbs/thumbnail_cache.h"
#include "thumbs/thumbnail_workers.h"

namespace vm::thumbs {

struct TThumbnailMakerOptions {
  std::string Program;       // the thumbnail program (native path)
  std::string CacheFolder;   // ours ("" keeps nothing)
  std::string SharedFolder;  // the desktop's base folder ("" looks at none)
  TThumbnailLimits Limits;
};

struct TThumbnailResult {
  TMade::TOutcome Outcome = TMade::TOutcome::Placeholder;
  std::string ContentType;
  std::string Bytes;  // a thumbnail just made
  TUniqueFd File;     // or one on disk
};

class TThumbnailMaker {
 public:
  explicit TThumbnailMaker(TThumbnailMakerOptions options);

  // The thumbnail of the image open on fd (described by info; nativePath is its real place,
  // by which the desktop's cache names thumbnails). Waits for a worker only when no cache has
  // it. Thread-safe. kind: TJobKind::VideoThumbnail for a video's frame.
  TThumbnailResult Thumbnail(int fd, const std::string& nativePath, const struct stat& info,
                             const std::function<bool()>& clientGone,
                             TJobKind kind = TJobKind::Thumbnail);

  TThumbnailWorkers& Workers() { return workers_; }

 private:
  const std::string sharedFolder_;
  TThumbnailCache cache_;
  TThumbnailWorkers workers_;
};

// Where the thumbnail program lies: beside the server's executable.
std::string ThumbnailProgramBeside(const std::string& executablePath);

}  // namespace vm::thumbs
