// The search for a camera's preview on arbitrary files: whatever it finds lies within the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "thumbs/camera_preview.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("raw", MFD_CLOEXEC);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  const auto preview = vm::thumbs::FindCameraPreview(fd);
  close(fd);
  if (preview && (preview->Offset > size || preview->Length > size - preview->Offset ||
                  preview->Orientation < 1 || preview->Orientation > 8)) {
    std::abort();
  }
  return 0;
}
