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

TThumbnailService::TThumbnailService(thumbs::TThumbnailMakerOptions options)
    : maker_(std::move(options)) {}

std::shared_ptr<TThumbnailService> TThumbnailService::ForProgram(
    const std::string& executablePath) {
  return std::make_shared<TThumbnailService>(thumbs::TThumbnailMakerOptions{
      thumbs::ThumbnailProgramBeside(executablePath), thumbs::TThumbnailCache::DefaultFolder(),
      thumbs::SharedThumbnailFolder(), thumbs::TThumbnailLimits()});
}

TThumbnail TThumbnailService::Thumbnail(const TThumbnailRequest& request) {
  thumbs::TThumbnailResult result =
      maker_.Thumbnail(request.Fd, request.NativePath, request.Info, request.ClientGone);
  TThumbnail thumbnail;
  thumbnail.Outcome = OutcomeOf(result.Outcome);
  thumbnail.ContentType = std::move(result.ContentType);
  thumbnail.Bytes = std::move(result.Bytes);
  thumbnail.File = std::move(result.File);
  return thumbnail;
}

}  // namespace vm
