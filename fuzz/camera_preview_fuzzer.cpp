// A camera's RAW file read from arbitrary bytes: the RAW library reads them through the
// descriptor reader here, whatever positions and lengths the file makes it ask for, and what is
// taken for a preview is a JPEG within the file or pixels of the size given, every byte of it
// readable, with an orientation EXIF knows.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "thumbs/camera_preview.h"

using Format = vm::thumbs::TCameraPreview::TFormat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("raw", MFD_CLOEXEC);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  const auto camera = vm::thumbs::ReadCameraPreview(fd);
  close(fd);
  if (camera == nullptr) return 0;
  [[maybe_unused]] static volatile unsigned char touched;  // every byte read, as the decoder will
  for (char c : camera->Bytes) touched = static_cast<unsigned char>(c);
  const bool jpeg = camera->Format == Format::Jpeg && camera->Bytes.size() <= size &&
                    camera->Bytes.starts_with("\xFF\xD8");
  const bool pixels =
      camera->Format == Format::Pixels && (camera->Bands == 1 || camera->Bands == 3) &&
      camera->Bytes.size() == size_t(camera->Width) * camera->Height * camera->Bands;
  const bool none = camera->Format == Format::None && camera->Bytes.empty();
  if ((!jpeg && !pixels && !none) || camera->Orientation < 1 || camera->Orientation > 8) {
    std::abort();
  }
  return 0;
}
