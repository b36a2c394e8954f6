// The preview a camera stores in its RAW file: a JPEG of (nearly) the full picture, made by the
// camera beside the sensor data, which no decoder here can develop.
//
// Found in files built like TIFF (DNG, CR2, NEF, NRW, ARW, and RW2 with its own signature) by
// walking their directories, and in RAF files at the place their header gives. Every offset,
// length and count is the file's word and is checked against the file before it is believed.
#pragma once

#include <cstdint>
#include <optional>

namespace vm::thumbs {

struct TCameraPreview {
  uint64_t Offset = 0;  // of the JPEG in the file
  uint64_t Length = 0;
  int Orientation = 1;  // how the camera was held (EXIF values 1 to 8), from the RAW's own tag
};

// The largest baseline or progressive JPEG the file open on fd holds, when it holds one with
// more pixels than the image its first directory describes, or when that image is no picture a
// TIFF decoder shows (sensor data, or JPEG of the old kind); nothing for every other file.
std::optional<TCameraPreview> FindCameraPreview(int fd);

}  // namespace vm::thumbs
