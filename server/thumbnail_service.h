// The thumbnail and view makers as the web layer's thumbnail source.
#pragma once

#include <memory>
#include <string>

#include "thumbs/thumbnail_maker.h"
#include "thumbs/view_maker.h"
#include "web/thumbnail_source.h"

namespace vm {

class TThumbnailService : public TThumbnailSource {
 public:
  // viewCacheFolder: where converted views and video facts are kept ("" keeps none).
  TThumbnailService(thumbs::TThumbnailMakerOptions options, std::string viewCacheFolder);

  // The makers of the running program: the thumbnail program beside executablePath, the user's
  // cache folders.
  static std::shared_ptr<TThumbnailService> ForProgram(const std::string& executablePath);

  TThumbnail Thumbnail(const TThumbnailRequest& request) override;

  thumbs::TThumbnailMaker& Maker() { return maker_; }

 private:
  thumbs::TThumbnailMaker maker_;
  thumbs::TViewMaker views_;  // works with maker_'s workers
};

}  // namespace vm
