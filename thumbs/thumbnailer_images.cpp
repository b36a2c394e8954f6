// Image jobs of the thumbnail program: thumbnails and converted views through the image library,
// of a camera's RAW file from the preview it holds (found by the RAW library).
#include <glib.h>
#include <unistd.h>
#include <vips/vips.h>

#include <memory>

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
  bool ToSrgb;  // colours of their own (see THeader) turned into sRGB
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

// What a header (read only to tell size and colours) says of its image.
struct THeader {
  bool WithinCap = false;  // pixels within the cap: an image over it is never decoded
  // Colours that are not plain sRGB: an embedded profile (a phone's wide gamut) or CMYK. Pixels
  // without a profile are taken as sRGB as they are, as browsers take them; converting them
  // would only cost time (a seventh of a 12-megapixel photo's view) and shift their values.
  bool OwnColours = false;
};

// Reads the header and releases it.
THeader ReadHeader(VipsImage* header, long long maxPixels) {
  if (header == nullptr) return {};
  const long long pixels =
      static_cast<long long>(vips_image_get_width(header)) * vips_image_get_height(header);
  const THeader read{pixels > 0 && pixels <= maxPixels,
                     vips_image_get_typeof(header, VIPS_META_ICC_NAME) != 0 ||
                         vips_image_get_interpretation(header) == VIPS_INTERPRETATION_CMYK};
  g_object_unref(header);
  return read;
}

// The option that turns the image's colours into sRGB when the fit asks for it and they need it;
// nullptr ends the option list.
const char* ExportOption(const TFit& fit, const THeader& header) {
  return fit.ToSrgb && header.OwnColours ? "export_profile" : nullptr;
}

// The image open on fd fitted into the square, upright.
TJobResult FitFile(int fd, long long maxPixels, const TFit& fit) {
  // The descriptor's offset is the server's: read from the start whatever it is.
  lseek(fd, 0, SEEK_SET);
  VipsSource* source = vips_source_new_from_descriptor(fd);
  if (source == nullptr) return {};
  VipsImage* fitted = nullptr;
  TJobResult result;
  const THeader header = ReadHeader(
      vips_image_new_from_source(source, "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr), maxPixels);
  if (header.WithinCap &&
      vips_thumbnail_source(source, &fitted, fit.Size, "height", fit.Size, "size", VIPS_SIZE_DOWN,
                            "fail_on", VIPS_FAIL_ON_TRUNCATED, ExportOption(fit, header), "srgb",
                            nullptr) == 0) {
    result = Save(fitted, fit);
  }
  g_object_unref(source);
  return result;
}

// The fitted image turned as orientation (an EXIF value) says, saved.
TJobResult SaveUpright(VipsImage* fitted, int orientation, const TFit& fit) {
  if (orientation != 1) {
    VipsImage* marked = nullptr;
    VipsImage* upright = nullptr;
    if (vips_copy(fitted, &marked, nullptr) == 0) {
      vips_image_set_int(marked, VIPS_META_ORIENTATION, orientation);
      vips_autorot(marked, &upright, nullptr);
      g_object_unref(marked);
    }
    g_object_unref(fitted);
    if (upright == nullptr) return {};
    fitted = upright;
  }
  return Save(fitted, fit);
}

// A camera's JPEG preview fitted into the square, turned as the camera was held unless the
// preview says so itself.
TJobResult FitJpegPreview(const TCameraPreview& preview, long long maxPixels, const TFit& fit) {
  // The image library only reads the buffer it is given.
  void* jpeg = const_cast<char*>(preview.Bytes.data());
  const size_t length = preview.Bytes.size();
  VipsImage* opened =
      vips_image_new_from_buffer(jpeg, length, "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
  const bool turnsItself =
      opened != nullptr && vips_image_get_typeof(opened, VIPS_META_ORIENTATION) != 0;
  const THeader header = ReadHeader(opened, maxPixels);
  VipsImage* fitted = nullptr;
  if (!header.WithinCap ||
      vips_thumbnail_buffer(jpeg, length, &fitted, fit.Size, "height", fit.Size, "size",
                            VIPS_SIZE_DOWN, "fail_on", VIPS_FAIL_ON_TRUNCATED,
                            ExportOption(fit, header), "srgb", nullptr) != 0) {
    return {};
  }
  return SaveUpright(fitted, turnsItself ? 1 : preview.Orientation, fit);
}

// A camera's preview of plain pixels fitted into the square, turned as the camera was held.
TJobResult FitPixelPreview(const TCameraPreview& preview, long long maxPixels, const TFit& fit) {
  if (static_cast<long long>(preview.Width) * preview.Height > maxPixels) return {};
  VipsImage* pixels =
      vips_image_new_from_memory(preview.Bytes.data(), preview.Bytes.size(), preview.Width,
                                 preview.Height, preview.Bands, VIPS_FORMAT_UCHAR);
  if (pixels == nullptr) return {};
  VipsImage* fitted = nullptr;
  const int failed = vips_thumbnail_image(pixels, &fitted, fit.Size, "height", fit.Size, "size",
                                          VIPS_SIZE_DOWN, nullptr);
  g_object_unref(pixels);
  return failed != 0 ? TJobResult() : SaveUpright(fitted, preview.Orientation, fit);
}

// The image open on fd fitted into the square, upright, saved; of a camera's RAW file, its
// preview. A placeholder when it is no readable image, a camera's file without a preview shown
// here, larger than the pixel cap, damaged, or its answer would be too large.
TJobResult Fit(int fd, long long maxPixels, const TFit& fit) {
  vips_error_clear();
  const std::unique_ptr<TCameraPreview> camera = ReadCameraPreview(fd);
  if (camera == nullptr) return FitFile(fd, maxPixels, fit);
  switch (camera->Format) {
    case TCameraPreview::TFormat::Jpeg:
      return FitJpegPreview(*camera, maxPixels, fit);
    case TCameraPreview::TFormat::Pixels:
      return FitPixelPreview(*camera, maxPixels, fit);
    case TCameraPreview::TFormat::None:
      break;  // never its sensor's data, which the image library would take for a grey picture
  }
  return {};
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
