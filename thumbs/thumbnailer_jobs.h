// The jobs of the thumbnail program, each on one file open on a descriptor it only reads.
//
// Images go through the image library (its loaders limited to the formats the server shows),
// videos through the container and codec libraries (limited to the containers of cameras,
// phones and downloads). Nothing here writes a file or opens one by name.
#pragma once

#include <string>

#include "thumbs/thumbnail_protocol.h"

namespace vm::thumbs {

struct TJobParameters {
  int Size = 0;             // thumbnails fit in this square
  int ViewSize = 0;         // converted views fit in this square
  long long MaxPixels = 0;  // larger images or frames are never decoded
};

// What a job gives back: the reply's kind and its bytes (none for a placeholder).
struct TJobResult {
  TReplyKind Kind = TReplyKind::Placeholder;
  std::string Bytes;
};

// The image's thumbnail, upright (EXIF orientation applied).
TJobResult MakeImageThumbnail(int fd, const TJobParameters& parameters);
// The image fitted to the view size, upright, in sRGB, as a JPEG (a WebP with transparency).
TJobResult MakeImageView(int fd, const TJobParameters& parameters);
// A frame about a tenth of the way into the video, upright, as a thumbnail.
TJobResult MakeVideoThumbnail(int fd, const TJobParameters& parameters);
// The video's facts as lines "type=", "codecs=", "duration=" (seconds), "width=", "height="
// (as shown, turned as the video says), for a browser to tell whether it can play it.
TJobResult ReadVideoFacts(int fd, const TJobParameters& parameters);

}  // namespace vm::thumbs
