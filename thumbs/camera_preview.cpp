#include "thumbs/camera_preview.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace vm::thumbs {

namespace {

// A preview is a photo of a few megabytes; a claim of more is not one.
constexpr uint64_t kMaxPreviewBytes = uint64_t{64} << 20;
// Directories walked at most, and entries of one: a file that claims more is not a camera's.
constexpr size_t kMaxDirectories = 32;
constexpr uint32_t kMaxEntries = 1024;
constexpr uint32_t kMaxSubDirectories = 8;
// The frame header of a preview lies within its first segments (after its EXIF block).
constexpr size_t kJpegHeadBytes = 128 * 1024;
constexpr char kRafSignature[] = "FUJIFILMCCD-RAW ";
constexpr uint64_t kRafPreviewPlace = 84;  // offset and length of its JPEG, big-endian

// TIFF tags and values read here.
enum : uint16_t {
  kSubfileType = 0xFE,
  kWidth = 0x100,
  kHeight = 0x101,
  kCompression = 0x103,
  kPhotometric = 0x106,
  kStripOffsets = 0x111,
  kOrientation = 0x112,
  kStripBytes = 0x117,
  kSubDirectories = 0x14A,
  kJpegOffset = 0x201,
  kJpegLength = 0x202,
  kRw2Jpeg = 0x2E,  // the whole preview as one value, in RW2 files
};
enum : uint16_t { kShort = 3, kLong = 4, kDirectory = 13 };
constexpr uint32_t kOldJpeg = 6, kJpeg = 7;
// Compressions and colour models of pictures a TIFF decoder shows (not sensor data).
constexpr uint32_t kShownCompressions[] = {1, 5, 7, 8, 32773, 32946};
constexpr uint32_t kShownPhotometrics[] = {0, 1, 2, 6};

class TFileBytes {
 public:
  explicit TFileBytes(int fd) : fd_(fd) {
    struct stat info {};
    size_ = fstat(fd, &info) == 0 && info.st_size > 0 ? uint64_t(info.st_size) : 0;
  }
  uint64_t Size() const { return size_; }
  bool Read(uint64_t at, void* into, size_t n) const {
    return at <= size_ && n <= size_ - at &&
           pread(fd_, into, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

uint32_t BigEndian(const unsigned char* p, int bytes) {
  uint32_t value = 0;
  for (int k = 0; k < bytes; ++k) value = (value << 8) | p[k];
  return value;
}

// Pixels of the baseline or progressive JPEG at [offset, offset + length); 0 for anything else
// (lossless JPEG is how sensor data is stored, and no browser's decoder reads it).
uint64_t JpegPixels(const TFileBytes& file, uint64_t offset, uint64_t length) {
  if (length < 4 || length > kMaxPreviewBytes || offset > file.Size() ||
      length > file.Size() - offset) {
    return 0;
  }
  std::vector<unsigned char> head(std::min<uint64_t>(length, kJpegHeadBytes));
  if (!file.Read(offset, head.data(), head.size()) || head[0] != 0xFF || head[1] != 0xD8) return 0;
  size_t at = 2;
  while (at + 9 < head.size() && head[at] == 0xFF) {
    const unsigned marker = head[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker >= 0xC0 && marker <= 0xC2) {
      return uint64_t{BigEndian(&head[at + 5], 2)} * BigEndian(&head[at + 7], 2);
    }
    if ((marker >= 0xC3 && marker <= 0xCF) || marker == 0xD9 || marker == 0xDA) return 0;
    at += 2 + BigEndian(&head[at + 2], 2);
  }
  return 0;
}

// Directories of a file built like TIFF, in the byte order its header names.
class TTiffReader {
 public:
  TTiffReader(const TFileBytes& file, bool little) : file_(file), little_(little) {}

  uint32_t Get(uint64_t at, int bytes) const {
    unsigned char raw[4] = {};
    if (!file_.Read(at, raw, size_t(bytes))) return 0;
    if (little_) std::reverse(raw, raw + bytes);
    return BigEndian(raw, bytes);
  }
  // The k-th value of the entry at entry (a SHORT or a LONG), wherever it is kept.
  uint32_t Value(uint64_t entry, uint32_t k = 0) const {
    const uint16_t type = uint16_t(Get(entry + 2, 2));
    const int size = type == kShort ? 2 : type == kLong || type == kDirectory ? 4 : 0;
    const uint64_t count = Get(entry + 4, 4);
    if (size == 0 || k >= count) return 0;
    const uint64_t base = count * size <= 4 ? entry + 8 : Get(entry + 8, 4);
    return Get(base + uint64_t{k} * size, size);
  }

 private:
  const TFileBytes& file_;
  bool little_;
};

struct TBest {
  uint64_t Offset = 0, Length = 0, Pixels = 0;
  void Consider(const TFileBytes& file, uint64_t offset, uint64_t length) {
    const uint64_t pixels = JpegPixels(file, offset, length);
    if (pixels > Pixels) *this = {offset, length, pixels};
  }
};

std::optional<TCameraPreview> FromTiff(const TFileBytes& file, bool little) {
  const TTiffReader tiff(file, little);
  std::vector<uint64_t> pending = {tiff.Get(4, 4)};
  std::set<uint64_t> seen;
  TBest best;
  uint64_t firstPixels = 0;
  bool firstShown = false;
  int orientation = 1;
  while (!pending.empty() && seen.size() < kMaxDirectories) {
    const uint64_t directory = pending.back();
    pending.pop_back();
    if (directory == 0 || !seen.insert(directory).second) continue;
    const uint32_t entries = tiff.Get(directory, 2);
    if (entries == 0 || entries > kMaxEntries) continue;
    uint32_t values[0x300] = {};  // the first value of each tag read here, by tag
    for (uint32_t k = 0; k < entries; ++k) {
      const uint64_t entry = directory + 2 + uint64_t{k} * 12;
      const uint16_t tag = uint16_t(tiff.Get(entry, 2));
      if (tag == kSubDirectories) {
        const uint32_t count = std::min(tiff.Get(entry + 4, 4), kMaxSubDirectories);
        for (uint32_t s = 0; s < count; ++s) pending.push_back(tiff.Value(entry, s));
      } else if (tag == kRw2Jpeg) {
        best.Consider(file, tiff.Get(entry + 8, 4), tiff.Get(entry + 4, 4));
      } else if (tag < std::size(values)) {
        values[tag] = tiff.Value(entry);
      }
    }
    if (values[kJpegOffset] != 0) best.Consider(file, values[kJpegOffset], values[kJpegLength]);
    if (values[kCompression] == kOldJpeg || values[kCompression] == kJpeg) {
      best.Consider(file, values[kStripOffsets], values[kStripBytes]);
    }
    if (seen.size() == 1) {
      firstPixels = uint64_t{values[kWidth]} * values[kHeight];
      firstShown = std::find(std::begin(kShownCompressions), std::end(kShownCompressions),
                             values[kCompression]) != std::end(kShownCompressions) &&
                   std::find(std::begin(kShownPhotometrics), std::end(kShownPhotometrics),
                             values[kPhotometric]) != std::end(kShownPhotometrics);
      if (values[kOrientation] >= 1 && values[kOrientation] <= 8)
        orientation = values[kOrientation];
    }
    pending.push_back(tiff.Get(directory + 2 + uint64_t{entries} * 12, 4));  // the next one
  }
  if (best.Pixels == 0 || (firstShown && best.Pixels <= firstPixels)) return std::nullopt;
  return TCameraPreview{best.Offset, best.Length, orientation};
}

}  // namespace

std::optional<TCameraPreview> FindCameraPreview(int fd) {
  const TFileBytes file(fd);
  unsigned char head[kRafPreviewPlace + 8] = {};
  if (!file.Read(0, head, 8)) return std::nullopt;
  // "II*\0", "MM\0*", and RW2's "IIU\0".
  if (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "IIU\0", 4) == 0) {
    return FromTiff(file, true);
  }
  if (std::memcmp(head, "MM\0*", 4) == 0) return FromTiff(file, false);
  if (file.Read(0, head, sizeof(head)) &&
      std::memcmp(head, kRafSignature, sizeof(kRafSignature) - 1) == 0) {
    const uint64_t offset = BigEndian(head + kRafPreviewPlace, 4);
    const uint64_t length = BigEndian(head + kRafPreviewPlace + 4, 4);
    if (JpegPixels(file, offset, length) > 0) return TCameraPreview{offset, length, 1};
  }
  return std::nullopt;
}

}  // namespace vm::thumbs
