#include "server/thumbnail_service.h"

namespace vm {

namespace {

TThumbnail::TOutcome OutcomeOf(thumbs::TMade::TOutcome outcome) {
  switch (outcome) {
    case thumbs::TMade::TOutcome::Image:
      return TThumbnail::TOutcome::Image;
    case thumbs::TMade::TOutcome::Busy:
      return TThumbnail::TOutcome::Busy;
    case thumbs::TMade::TOutcome::Dropped:
      return TThumbnail::TOutcome::Dropped;
    case thumbs::TMade::TOutcome::Placeholder:
    case thumbs::TMade::TOutcome::Unavailable:
      break;
  }
  return TThumbnail::TOutcome::Placeholder;
}

}  // namespace

TThumbnailService::TThumbnailService(thumbs::TThumbnailMakerOptions options,
                                     std::string viewCacheFolder)
    : maker_(std::move(options)), views_(std::move(viewCacheFolder), maker_.Workers()) {}

std::shared_ptr<TThumbnailService> TThumbnailService::ForProgram(
    const std::string& executablePath) {
  return std::make_shared<TThumbnailService>(
      thumbs::TThumbnailMakerOptions{thumbs::ThumbnailProgramBeside(executablePath),
                                     thumbs::TThumbnailCache::DefaultFolder(),
                                     thumbs::SharedThumbnailFolder(), thumbs::TThumbnailLimits()},
      thumbs::TViewCache::DefaultFolder());
}

TThumbnail TThumbnailService::Thumbnail(const TThumbnailRequest& request) {
  thumbs::TThumbnailResult result;
  switch (request.Work) {
    case TMediaWork::Thumbnail:
    case TMediaWork::VideoThumbnail:
      result = maker_.Thumbnail(request.Fd, request.NativePath, request.Info, request.ClientGone,
                                request.Work == TMediaWork::Thumbnail
                                    ? thumbs::TJobKind::Thumbnail
                                    : thumbs::TJobKind::VideoThumbnail);
      break;
    case TMediaWork::View:
    case TMediaWork::VideoFacts:
      result = views_.Make(
          request.Fd, request.Info,
          request.Work == TMediaWork::View ? thumbs::TViewEntry::View : thumbs::TViewEntry::Facts,
          request.ClientGone);
      break;
  }
  TThumbnail thumbnail;
  thumbnail.Outcome = OutcomeOf(result.Outcome);
  thumbnail.ContentType = std::move(result.ContentType);
  thumbnail.Bytes = std::move(result.Bytes);
  thumbnail.File = std::move(result.File);
  return thumbnail;
}

}  // namespace vm
