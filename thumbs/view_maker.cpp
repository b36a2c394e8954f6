#include "thumbs/view_maker.h"

namespace vm::thumbs {

TViewMaker::TViewMaker(std::string cacheFolder, TThumbnailWorkers& workers, uint64_t budgetBytes)
    : cache_(std::move(cacheFolder), budgetBytes), workers_(workers) {}

TThumbnailResult TViewMaker::Make(int fd, const struct stat& info, TViewEntry entry,
                                  const std::function<bool()>& clientGone) {
  if (std::optional<TKeptView> kept = cache_.Find(info, entry)) {
    if (kept->Failed) return {};
    return {TMade::TOutcome::Image, std::move(kept->ContentType), "", std::move(kept->File)};
  }
  TMade made = workers_.Make(fd, clientGone,
                             entry == TViewEntry::View ? TJobKind::View : TJobKind::VideoFacts);
  // A file that gave nothing is kept as such too; a request that never reached a worker tells
  // nothing of its file.
  if (made.Outcome == TMade::TOutcome::Image || made.Outcome == TMade::TOutcome::Placeholder) {
    cache_.Store(info, entry, made.Bytes);
  }
  return {made.Outcome, std::move(made.ContentType), std::move(made.Bytes), TUniqueFd()};
}

}  // namespace vm::thumbs
