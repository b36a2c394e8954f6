// The preview a camera stores in its RAW file: a JPEG of (nearly) the full picture, made by the
// camera beside the sensor data, which no decoder here develops.
//
// The RAW library (libraw) tells the file's format and finds the preview, in every format it reads
// (DNG, CR2, CR3, NEF, ARW, ORF, PEF, RW2, RAF and more); it reads the file through positioned
// reads, leaving the descriptor's offset alone.
#pragma once

#include <memory>
#include <string_view>

namespace vm::thumbs {

// A camera's RAW file as the RAW library read it: its preview, when it holds one this program
// shows. The bytes are the library's and live as long as the object.
class TCameraPreview {
 public:
  enum class TFormat {
    None,    // no preview, or one of a kind not shown here
    Jpeg,    // a baseline or progressive JPEG, as the camera stored it
    Pixels,  // Height rows of Width pixels of Bands bytes (1: grey, 3: RGB), top row first
  };

  virtual ~TCameraPreview() = default;

  TFormat Format = TFormat::None;
  std::string_view Bytes;
  int Width = 0, Height = 0, Bands = 0;  // of Pixels
  int Orientation = 1;  // how the camera was held (EXIF values 1 to 8), as the RAW file says
};

// The camera's RAW file open on fd (a regular file) as the RAW library reads it; nothing for a
// file it does not read as a camera's.
std::unique_ptr<TCameraPreview> ReadCameraPreview(int fd);

}  // namespace vm::thumbs
