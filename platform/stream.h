// Byte streams: the request body stream and in-memory buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vm {

class TStream {
 public:
  virtual ~TStream() = default;
  virtual int64_t Size() const = 0;
  virtual int64_t Position() const = 0;
  virtual void SetPosition(int64_t position) = 0;
  // Grows (zero-filled) or cuts the stream; the position is not moved.
  virtual void SetSize(int64_t size) = 0;
  // Reads up to count bytes at the position; returns the number read.
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes count bytes at the position, growing the stream as needed.
  virtual void Write(const void* buffer, size_t count) = 0;
  // All bytes of the stream as one contiguous view, valid until the next change.
  virtual std::string_view View() = 0;

  // Hints that the view's bytes in [from, to) will not be looked at again soon: a view backed
  // by a file gives their pages back (a later look reads them again). Never changes a byte.
  virtual void ReleaseView(int64_t from, int64_t to);
  // Writes count bytes from position from to the file descriptor fd at its offset (the
  // stream's position is not used or moved). False on a write error, with errno set.
  virtual bool CopyRangeTo(int fd, int64_t from, int64_t count);
  // Gives the stream's bytes a name in the file system without copying them, when they live
  // in a file that can be linked: nativePath must not exist, and the file gets the mode.
  // False otherwise, with errno set (the caller then copies).
  virtual bool LinkAs(const std::string& nativePath, unsigned mode);
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : data_(std::move(data)) {}
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  int64_t Position() const override { return position_; }
  void SetPosition(int64_t position) override { position_ = position; }
  void SetSize(int64_t size) override { data_.resize(static_cast<size_t>(size)); }
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  std::string_view View() override { return data_; }
  const std::string& Data() const { return data_; }

 private:
  std::string data_;
  int64_t position_ = 0;
};

}  // namespace vm
