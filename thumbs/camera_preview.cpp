#include "thumbs/camera_preview.h"

#include <libraw/libraw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vm::thumbs {

namespace {

// A preview is a photo of a few megabytes; a claim of more is not one.
constexpr unsigned kMaxPreviewBytes = 64u << 20;
// The library's parsers read a few bytes at a time: one system call brings this many.
constexpr size_t kWindowBytes = 64 * 1024;
// The longest number or word the library reads as text.
constexpr size_t kMaxWordBytes = 32;
// The library's quirks of reading turned into EXIF orientations: bit 0 mirrors the columns, bit 1
// the rows, bit 2 swaps rows and columns first.
constexpr char kExifOfFlip[] = "12435867";

// The file open on a descriptor as the RAW library reads it, with positioned reads through a
// window of the file. A position the library asks for beyond either end is taken as that end.
// Remembers whether a read stopped short of what was asked (the file ends, or it shrank).
class TDescriptorStream final : public LibRaw_abstract_datastream {
 public:
  TDescriptorStream(int fd, int64_t size) : fd_(fd), size_(size), window_(kWindowBytes) {}

  bool ReadShort() const { return short_; }
  void ForgetShortReads() { short_ = false; }

  int valid() override { return 1; }
  int read(void* into, size_t itemBytes, size_t items) override {
    if (itemBytes == 0 || items == 0) return 0;
    const size_t wanted = items > SIZE_MAX / itemBytes ? SIZE_MAX : itemBytes * items;
    const size_t got = Copy(static_cast<char*>(into), wanted);
    if (got < wanted) short_ = true;
    return static_cast<int>(std::min<size_t>(got / itemBytes, INT_MAX));
  }
  int seek(INT64 offset, int whence) override {
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? at_ : size_;
    int64_t to = 0;
    if (__builtin_add_overflow(base, offset, &to)) to = offset < 0 ? 0 : size_;
    at_ = std::clamp<int64_t>(to, 0, size_);
    return 0;
  }
  INT64 tell() override { return at_; }
  INT64 size() override { return size_; }
  int get_char() override {
    unsigned char c = 0;
    return Copy(reinterpret_cast<char*>(&c), 1) == 1 ? c : -1;
  }
  char* gets(char* line, int capacity) override {
    if (capacity < 1) return nullptr;
    int n = 0;
    for (int c; n + 1 < capacity && (c = get_char()) != -1;) {
      line[n++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    line[n] = '\0';
    return n > 0 ? line : nullptr;
  }
  // One number or word, after white space, read by the given conversion.
  int scanf_one(const char* format, void* value) override {
    char word[kMaxWordBytes + 1] = {};
    size_t n = 0;
    int c = get_char();
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r') c = get_char();
    for (; c != -1 && c != ' ' && c != '\t' && c != '\n' && c != '\r' && n < kMaxWordBytes;
         c = get_char()) {
      word[n++] = static_cast<char>(c);
    }
    return n == 0 ? EOF : std::sscanf(word, format, value);
  }
  int eof() override { return at_ >= size_; }
  void* make_jas_stream() override { return nullptr; }

 private:
  // Copies up to n bytes from the position on and moves past them; fewer where the file ends.
  size_t Copy(char* into, size_t n) {
    size_t done = 0;
    while (done < n && at_ < size_) {
      if (at_ >= windowAt_ && at_ - windowAt_ < windowBytes_) {
        const int64_t from = at_ - windowAt_;
        const size_t k = std::min(n - done, static_cast<size_t>(windowBytes_ - from));
        std::memcpy(into + done, window_.data() + from, k);
        done += k;
        at_ += static_cast<int64_t>(k);
        continue;
      }
      const bool direct = n - done >= window_.size();  // a large read skips the window
      const size_t k = direct ? std::min<size_t>(n - done, SSIZE_MAX) : window_.size();
      const ssize_t got = pread(fd_, direct ? into + done : window_.data(), k, at_);
      if (got <= 0) break;
      if (direct) {
        done += static_cast<size_t>(got);
        at_ += got;
      } else {
        windowAt_ = at_;
        windowBytes_ = got;
      }
    }
    return done;
  }

  int fd_;
  int64_t size_;
  int64_t at_ = 0;
  std::vector<char> window_;
  int64_t windowAt_ = 0;  // the file's bytes [windowAt_, windowAt_ + windowBytes_) are held
  int64_t windowBytes_ = 0;
  bool short_ = false;
};

class TFoundPreview final : public TCameraPreview {
 public:
  TFoundPreview(int fd, int64_t size)
      : stream(fd, size),
        raw(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK) {}

  TDescriptorStream stream;
  LibRaw raw;  // reads through stream: declared after it, so destroyed before it
};

}  // namespace

std::unique_ptr<TCameraPreview> ReadCameraPreview(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return nullptr;
  auto found = std::make_unique<TFoundPreview>(fd, info.st_size);
  LibRaw& raw = found->raw;
  if (raw.open_datastream(&found->stream) != LIBRAW_SUCCESS) return nullptr;
  found->Orientation = kExifOfFlip[raw.imgdata.sizes.flip & 7] - '0';
  // A preview that runs past the file's end would be completed with whatever memory held.
  found->stream.ForgetShortReads();
  if (raw.unpack_thumb() != LIBRAW_SUCCESS || found->stream.ReadShort()) return found;
  const libraw_thumbnail_t& thumb = raw.imgdata.thumbnail;
  if (thumb.thumb == nullptr || thumb.tlength < 4 || thumb.tlength > kMaxPreviewBytes) return found;
  const std::string_view bytes(thumb.thumb, thumb.tlength);
  if (thumb.tformat == LIBRAW_THUMBNAIL_JPEG && bytes.starts_with("\xFF\xD8")) {
    found->Format = TCameraPreview::TFormat::Jpeg;
  } else if (thumb.tformat == LIBRAW_THUMBNAIL_BITMAP &&
             (thumb.tcolors == 1 || thumb.tcolors == 3) &&
             thumb.tlength == size_t{thumb.twidth} * thumb.theight * thumb.tcolors) {
    found->Format = TCameraPreview::TFormat::Pixels;
    found->Width = thumb.twidth;
    found->Height = thumb.theight;
    found->Bands = thumb.tcolors;
  } else {
    return found;
  }
  found->Bytes = bytes;
  return found;
}

}  // namespace vm::thumbs
