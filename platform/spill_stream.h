// A body stream that holds small bodies in memory and large ones in an unlinked temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/stream.h"

namespace vm {

// Bodies up to this size stay in memory: every form post and most uploads fit, and a body
// past it would otherwise cost its whole size in memory per connection.
constexpr int64_t kSpillMemoryLimit = 4 * 1024 * 1024;

// Keeps its bytes in memory up to memoryLimit; beyond that in an anonymous temporary file,
// which has no name so that nothing is left after a crash. The file is made in fileFolder when
// one is given and that folder's file system can make a nameless file there (a file there can
// later be given a name by LinkAs without a copy), otherwise in $TMPDIR (or /tmp).
// View() then maps the file read-only. Throws vm::Exception when the file cannot be made,
// written or mapped (for example a full disk).
class TSpillStream : public TStream {
 public:
  explicit TSpillStream(int64_t memoryLimit = kSpillMemoryLimit, std::string fileFolder = "");
  ~TSpillStream() override;
  TSpillStream(const TSpillStream&) = delete;
  TSpillStream& operator=(const TSpillStream&) = delete;

  int64_t Size() const override { return size_; }
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override { position_ = position; }
  void SetSize(int64_t size) override;
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  std::string_view View() override;
  void ReleaseView(int64_t from, int64_t to) override;
  // Copied by the kernel from the file once spilled.
  bool CopyRangeTo(int fd, int64_t from, int64_t count) override;
  // Works once spilled into a nameless file (fileFolder's file system, or $TMPDIR's when it
  // can make one), and only on that file system. The named file is the stream's own file:
  // later writes to the stream show in it.
  bool LinkAs(const std::string& nativePath, unsigned mode) override;

  // True once the bytes live in the temporary file.
  bool Spilled() const { return fd_ >= 0; }

 private:
  void SpillToFile();
  // Makes the file at least end bytes long, growing it geometrically.
  void GrowFile(int64_t end);
  void Unmap();

  int64_t memoryLimit_;
  std::string fileFolder_;  // where the file is made first; empty: the temporary folder
  std::string memory_;  // the bytes while not spilled
  int fd_ = -1;         // the temporary file once spilled
  int64_t fileSize_ = 0;  // the file's length: size_, or more room for the next writes
  bool linked_ = false;   // the file has a name: it holds exactly the bytes
  int64_t size_ = 0;
  int64_t position_ = 0;
  void* map_ = nullptr;  // read-only mapping made by View(), of mapSize_ bytes
  size_t mapSize_ = 0;
};

}  // namespace vm
