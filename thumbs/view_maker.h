// Converted views of images browsers cannot show, and the facts of videos: from the view cache,
// else made by a thumbnail worker and kept.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>

#include "thumbs/thumbnail_maker.h"
#include "thumbs/thumbnail_workers.h"
#include "thumbs/view_cache.h"

namespace vm::thumbs {

class TViewMaker {
 public:
  // workers: the thumbnail maker's, which must outlive this maker.
  TViewMaker(std::string cacheFolder, TThumbnailWorkers& workers,
             uint64_t budgetBytes = TViewCache::kDefaultBudget);

  // The entry of the file open on fd (described by info): the view of an image, or the facts
  // of a video. Waits for a worker only when the cache has none. Thread-safe.
  TThumbnailResult Make(int fd, const struct stat& info, TViewEntry entry,
                        const std::function<bool()>& clientGone);

 private:
  TViewCache cache_;
  TThumbnailWorkers& workers_;
};

}  // namespace vm::thumbs
