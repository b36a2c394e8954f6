// Image jobs of the thumbnail program: thumbnails and converted views through the image library,
// of a camera's RAW file from the preview it holds.
#include <glib.h>
#include <unistd.h>
#include <vips/vips.h>

#include <optional>
#include <string>

#include "thumbs/camera_preview.h"
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

// Saves the fitted image as JPEG (WebP when it has transparency); a placeholder when an error is
// recorded while its pixels are decoded, or when the answer would be too large.
TJobResult Save(VipsImage* fitted, const TFit& fit) {
  // Reading a header may record a failed probe (the HEIF reader seeks past the end) and still
  // succeed: only what goes wrong while the pixels are decoded counts.
  vips_error_clear();
  TJobResult result;
  void* bytes = nullptr;
  size_t length = 0;
  bool made = false;
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

// Takes the header (read only to tell the size): true when the image has pixels within the
// cap. An image over the cap is never decoded.
bool WithinCap(VipsImage* header, long long maxPixels) {
  if (header == nullptr) return false;
  const long long pixels =
      static_cast<long long>(vips_image_get_width(header)) * vips_image_get_height(header);
  g_object_unref(header);
  return pixels > 0 && pixels <= maxPixels;
}

// The image open on fd fitted into the square, upright.
TJobResult FitFile(int fd, long long maxPixels, const TFit& fit) {
  // The descriptor's offset is the server's: read from the start whatever it is.
  lseek(fd, 0, SEEK_SET);
  VipsSource* source = vips_source_new_from_descriptor(fd);
  if (source == nullptr) return {};
  VipsImage* fitted = nullptr;
  TJobResult result;
  // Colours are turned into sRGB only when asked: the option's name ends the list otherwise.
  if (WithinCap(vips_image_new_from_source(source, "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr),
                maxPixels) &&
      vips_thumbnail_source(source, &fitted, fit.Size, "height", fit.Size, "size", VIPS_SIZE_DOWN,
                            "fail_on", VIPS_FAIL_ON_TRUNCATED,
                            fit.ToSrgb ? "export_profile" : nullptr, "srgb", nullptr) == 0) {
    result = Save(fitted, fit);
  }
  g_object_unref(source);
  return result;
}

// A camera's preview fitted into the square, turned as the camera was held unless the preview
// says so itself.
TJobResult FitPreview(int fd, const TCameraPreview& preview, long long maxPixels, const TFit& fit) {
  std::string jpeg(preview.Length, '\0');
  if (pread(fd, jpeg.data(), jpeg.size(), static_cast<off_t>(preview.Offset)) !=
      static_cast<ssize_t>(jpeg.size())) {
    return {};
  }
  VipsImage* header = vips_image_new_from_buffer(jpeg.data(), jpeg.size(), "", "access",
                                                 VIPS_ACCESS_SEQUENTIAL, nullptr);
  const bool turnsItself =
      header != nullptr && vips_image_get_typeof(header, VIPS_META_ORIENTATION) != 0;
  VipsImage* fitted = nullptr;
  if (!WithinCap(header, maxPixels) ||
      vips_thumbnail_buffer(jpeg.data(), jpeg.size(), &fitted, fit.Size, "height", fit.Size, "size",
                            VIPS_SIZE_DOWN, "fail_on", VIPS_FAIL_ON_TRUNCATED,
                            fit.ToSrgb ? "export_profile" : nullptr, "srgb", nullptr) != 0) {
    return {};
  }
  if (!turnsItself && preview.Orientation != 1) {
    VipsImage* marked = nullptr;
    VipsImage* upright = nullptr;
    if (vips_copy(fitted, &marked, nullptr) == 0) {
      vips_image_set_int(marked, VIPS_META_ORIENTATION, preview.Orientation);
      vips_autorot(marked, &upright, nullptr);
      g_object_unref(marked);
    }
    g_object_unref(fitted);
    if (upright == nullptr) return {};
    fitted = upright;
  }
  return Save(fitted, fit);
}

// The image open on fd fitted into the square, upright, saved; of a camera's RAW file, its
// preview. A placeholder when it is no readable image, larger than the pixel cap, damaged, or
// its answer would be too large.
TJobResult Fit(int fd, long long maxPixels, const TFit& fit) {
  vips_error_clear();
  if (const std::optional<TCameraPreview> preview = FindCameraPreview(fd)) {
    return FitPreview(fd, *preview, maxPixels, fit);
  }
  return FitFile(fd, maxPixels, fit);
}

}  // namespace

TJobResult MakeImageThumbnail(int fd, const TJobParameters& parameters) {
  return Fit(fd, parameters.MaxPixels,
             {parameters.Size, kThumbnailQuality, false, TJobKind::Thumbnail});
}

TJobResult MakeImageView(int fd, const TJobParameters& parameters) {
  return Fit(fd, parameters.MaxPixels, {parameters.ViewSize, kViewQuality, true, TJobKind::View});
}

}  // namespace vm::thumbs
