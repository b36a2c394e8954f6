#include "thumbs/thumbnail_maker.h"

namespace vm::thumbs {

namespace {

constexpr char kProgramName[] = "velmarind-thumbnailer";
constexpr char kSharedType[] = "image/png";

}  // namespace

TThumbnailMaker::TThumbnailMaker(TThumbnailMakerOptions options)
    : sharedFolder_(std::move(options.SharedFolder)),
      cache_(std::move(options.CacheFolder)),
      workers_(std::move(options.Program), options.Limits) {}

TThumbnailResult TThumbnailMaker::Thumbnail(int fd, const std::string& nativePath,
                                            const struct stat& info,
                                            const std::function<bool()>& clientGone,
                                            TJobKind kind) {
  const std::string key = TThumbnailCache::KeyOf(info);
  if (std::optional<TCached> cached = cache_.Find(key)) {
    if (cached->Failed) return {};
    return {TMade::TOutcome::Image, cached->ContentType, "", std::move(cached->File)};
  }
  if (TUniqueFd shared = FindSharedThumbnail(sharedFolder_, nativePath, info)) {
    return {TMade::TOutcome::Image, kSharedType, "", std::move(shared)};
  }
  TMade made = workers_.Make(fd, clientGone, kind);
  // An image that gave nothing is kept as such too; a request that never reached a worker
  // tells nothing of its image.
  if (made.Outcome == TMade::TOutcome::Image || made.Outcome == TMade::TOutcome::Placeholder) {
    cache_.Store(key, made.ContentType, made.Bytes);
  }
  return {made.Outcome, std::move(made.ContentType), std::move(made.Bytes), TUniqueFd()};
}

std::string ThumbnailProgramBeside(const std::string& executablePath) {
  const size_t slash = executablePath.rfind('/');
  return (slash == std::string::npos ? std::string() : executablePath.substr(0, slash + 1)) +
         kProgramName;
}

}  // namespace vm::thumbs
