// Image jobs of the thumbnail program: thumbnails and converted views through the image library.
#include <glib.h>
#include <unistd.h>
#include <vips/vips.h>

#include "thumbs/thumbnailer_jobs.h"

namespace vm::thumbs {

namespace {

constexpr int kThumbnailQuality = 80;
// A view is looked at full screen: fewer artefacts are worth its few more bytes.
constexpr int kViewQuality = 85;

struct TFit {
  int Size;
  int Quality;
  bool ToSrgb;  // colours of an embedded profile (a phone's wide gamut) turned into sRGB
  TJobKind Kind;
};

// The image open on fd fitted into the square, upright, saved as JPEG (WebP when it has
// transparency); a placeholder when it is no readable image, larger than the pixel cap, damaged,
// or its answer would be too large.
TJobResult Fit(int fd, long long maxPixels, const TFit& fit) {
  vips_error_clear();
  // The descriptor's offset is the server's: read from the start whatever it is.
  lseek(fd, 0, SEEK_SET);
  VipsSource* source = vips_source_new_from_descriptor(fd);
  if (source == nullptr) return {};
  TJobResult result;
  void* bytes = nullptr;
  size_t length = 0;
  bool made = false;
  // The header alone tells the size: an image over the cap is never decoded.
  VipsImage* header =
      vips_image_new_from_source(source, "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
  if (header != nullptr) {
    const long long pixels =
        static_cast<long long>(vips_image_get_width(header)) * vips_image_get_height(header);
    g_object_unref(header);
    VipsImage* fitted = nullptr;
    const int failed =
        pixels <= 0 || pixels > maxPixels
            ? -1
            : fit.ToSrgb ? vips_thumbnail_source(source, &fitted, fit.Size, "height", fit.Size,
                                                 "size", VIPS_SIZE_DOWN, "fail_on",
                                                 VIPS_FAIL_ON_TRUNCATED, "export_profile", "srgb",
                                                 nullptr)
                         : vips_thumbnail_source(source, &fitted, fit.Size, "height", fit.Size,
                                                 "size", VIPS_SIZE_DOWN, "fail_on",
                                                 VIPS_FAIL_ON_TRUNCATED, nullptr);
    if (failed == 0) {
      // Reading a header may record a failed probe (the HEIF reader seeks past the end) and
      // still succeed: only what goes wrong while the pixels are decoded counts.
      vips_error_clear();
      if (vips_image_hasalpha(fitted)) {
        result.Kind = TReplyKind::Webp;
        made = vips_webpsave_buffer(fitted, &bytes, &length, "Q", fit.Quality, "strip", TRUE,
                                    nullptr) == 0;
      } else {
        result.Kind = TReplyKind::Jpeg;
        made = vips_jpegsave_buffer(fitted, &bytes, &length, "Q", fit.Quality, "strip", TRUE,
                                    "optimize_coding", TRUE, nullptr) == 0;
      }
      g_object_unref(fitted);
    }
  }
  g_object_unref(source);
  // Decoding runs while the image is saved; a damaged image (data cut short) may still give a
  // saved picture, grey below the damage, with only the error recorded.
  if (vips_error_buffer()[0] != '\0') made = false;
  vips_error_clear();
  if (made && length <= MaxReplyBytes(fit.Kind)) {
    result.Bytes.assign(static_cast<const char*>(bytes), length);
  } else {
    result = {};
  }
  g_free(bytes);
  return result;
}

}  // namespace

TJobResult MakeImageThumbnail(int fd, const TJobParameters& parameters) {
  return Fit(fd, parameters.MaxPixels,
             {parameters.Size, kThumbnailQuality, false, TJobKind::Thumbnail});
}

TJobResult MakeImageView(int fd, const TJobParameters& parameters) {
  return Fit(fd, parameters.MaxPixels,
             {parameters.ViewSize, kViewQuality, true, TJobKind::View});
}

}  // namespace vm::thumbs
