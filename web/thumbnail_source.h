// What the thumbnail document asks of whoever makes thumbnails. The maker lives outside the web
// layer (it needs no pages); the composition attaches one to a server.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>

#include "http/http_server.h"
#include "platform/unique_fd.h"

namespace vm {

// What is asked of a file: a thumbnail (of an image, or of a video's frame), an image
// converted to be looked at, or a video's facts ("name=value" lines of type, codecs, duration,
// width and height).
enum class TMediaWork { Thumbnail, VideoThumbnail, View, VideoFacts };

struct TThumbnailRequest {
  int Fd = -1;             // the image, opened and checked; read, never taken over
  std::string NativePath;  // its real place (the desktop's cache names thumbnails by it)
  struct stat Info {};     // of Fd: a changed file gets a new thumbnail
  // True once the browser has gone (the thumbnail scrolled out of view): a job not yet begun
  // is then dropped. Called from the waiting thread only.
  std::function<bool()> ClientGone;
  TMediaWork Work = TMediaWork::Thumbnail;
};

struct TThumbnail {
  enum class TOutcome {
    Image,        // Bytes or File holds it (the image, or the facts), of ContentType
    Placeholder,  // not a file that can be shown so (broken, too large, slow, unknown)
    Busy,         // too many waiting: ask again later
    Dropped,      // the browser went away before it was made
  };
  TOutcome Outcome = TOutcome::Placeholder;
  std::string ContentType;
  std::string Bytes;  // a thumbnail just made
  TUniqueFd File;     // or one already on disk
};

class TThumbnailSource {
 public:
  virtual ~TThumbnailSource() = default;
  // Finds or makes what the request asks of one file; may wait for a worker. Thread-safe.
  virtual TThumbnail Thumbnail(const TThumbnailRequest& request) = 0;
};

// Makes source answer the thumbnail requests that reach server (null: none does). The source
// must stay until it is detached, and is detached only once no request runs any more.
void AttachThumbnailSource(const TIdCustomHTTPServer& server,
                           std::shared_ptr<TThumbnailSource> source);
// The source attached to server, or null.
std::shared_ptr<TThumbnailSource> ThumbnailSourceOf(const TIdCustomHTTPServer& server);

}  // namespace vm
