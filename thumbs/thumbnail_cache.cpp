#include "thumbs/thumbnail_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "thumbs/cache_folder.h"

namespace vm::thumbs {

namespace {

constexpr char kCacheSubfolder[] = "velmarind/thumbnails/";
constexpr char kSharedSubfolder[] = "thumbnails/";
// The shared cache's folder of thumbnails that fit in 256 pixels.
constexpr char kSharedLarge[] = "large/";
constexpr char kFailedExtension[] = ".none";
struct TStoredType {
  const char* Extension;
  const char* ContentType;
};
constexpr TStoredType kStoredTypes[] = {{".jpg", "image/jpeg"}, {".webp", "image/webp"}};
// Folder checks for the budget come every so many stores.
constexpr uint64_t kPruneEvery = 128;
// A shared thumbnail is small; anything larger is not one.
constexpr off_t kMaxSharedBytes = off_t{4} << 20;
constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::string CacheHome() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/";
  return "";
}

std::string Md5Hex(std::string_view bytes) {
  std::unique_ptr<gchar, decltype(&g_free)> digest(
      g_compute_checksum_for_data(G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(bytes.data()),
                                  bytes.size()),
      &g_free);
  return digest ? std::string(digest.get()) : std::string();
}

TUniqueFd OpenPlainFile(const std::string& path) {
  TUniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
  struct stat info {};
  if (!fd || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return fd;
}

uint32_t BigEndian32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// The tEXt entries of a PNG before its image data: key -> value. Empty for anything not a PNG.
std::vector<std::pair<std::string, std::string>> PngTexts(std::string_view png) {
  std::vector<std::pair<std::string, std::string>> texts;
  if (png.size() < sizeof(kPngSignature) ||
      std::memcmp(png.data(), kPngSignature, sizeof(kPngSignature)) != 0) {
    return texts;
  }
  size_t at = sizeof(kPngSignature);
  while (at + 8 <= png.size()) {
    const auto* p = reinterpret_cast<const unsigned char*>(png.data() + at);
    const uint32_t length = BigEndian32(p);
    const std::string_view type = png.substr(at + 4, 4);
    if (length > png.size() - at - 8) break;
    if (type == "IDAT" || type == "IEND") break;
    if (type == "tEXt") {
      const std::string_view data = png.substr(at + 8, length);
      const size_t zero = data.find('\0');
      if (zero != std::string_view::npos) {
        texts.emplace_back(std::string(data.substr(0, zero)), std::string(data.substr(zero + 1)));
      }
    }
    at += size_t{length} + 12;  // length, type, data, CRC
  }
  return texts;
}

std::string ReadUpTo(int fd, off_t limit) {
  std::string bytes(static_cast<size_t>(limit), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

}  // namespace

TThumbnailCache::TThumbnailCache(std::string folder, uint64_t budgetBytes)
    : folder_(folder.empty() || folder.back() == '/' ? folder : folder + "/"),
      budget_(budgetBytes) {}

std::string TThumbnailCache::DefaultFolder() {
  const std::string home = CacheHome();
  return home.empty() ? "" : home + kCacheSubfolder;
}

std::string TThumbnailCache::KeyOf(const struct stat& info) {
  std::string identity;
  for (const uint64_t value : {uint64_t(info.st_dev), uint64_t(info.st_ino), uint64_t(info.st_size),
                               uint64_t(info.st_mtim.tv_sec), uint64_t(info.st_mtim.tv_nsec)}) {
    identity += std::to_string(value);
    identity.push_back('\0');
  }
  return Md5Hex(identity);
}

std::optional<TCached> TThumbnailCache::Find(const std::string& key) const {
  if (folder_.empty() || key.empty()) return std::nullopt;
  for (const TStoredType& stored : kStoredTypes) {
    TUniqueFd fd = OpenPlainFile(folder_ + key + stored.Extension);
    if (fd) return TCached{false, std::move(fd), stored.ContentType};
  }
  if (access((folder_ + key + kFailedExtension).c_str(), F_OK) == 0) return TCached{true, {}, ""};
  return std::nullopt;
}

void TThumbnailCache::Store(const std::string& key, const std::string& contentType,
                            const std::string& bytes) {
  if (folder_.empty() || key.empty()) return;
  const char* extension = kFailedExtension;
  for (const TStoredType& stored : kStoredTypes) {
    if (!bytes.empty() && contentType == stored.ContentType) extension = stored.Extension;
  }
  if (g_mkdir_with_parents(folder_.c_str(), 0700) != 0) return;
  std::string temporary = folder_ + key + ".XXXXXX";
  TUniqueFd fd(mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd) return;
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(fd.Get(), bytes.data() + written, bytes.size() - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  fd.Reset();
  // Renamed only when whole: a reader finds the complete thumbnail or none.
  if (written != bytes.size() ||
      rename(temporary.c_str(), (folder_ + key + extension).c_str()) != 0) {
    unlink(temporary.c_str());
    return;
  }
  PruneWhenDue();
}

void TThumbnailCache::PruneWhenDue() {
  if (++stores_ % kPruneEvery != 0) return;
  TrimFolder(folder_, budget_, budget_ / 4 * 3);
}

std::string SharedThumbnailFolder() {
  const std::string home = CacheHome();
  return home.empty() ? "" : home + kSharedSubfolder;
}

TUniqueFd FindSharedThumbnail(const std::string& sharedFolder, const std::string& nativePath,
                              const struct stat& info) {
  if (sharedFolder.empty()) return {};
  std::unique_ptr<gchar, decltype(&g_free)> uri(
      g_filename_to_uri(nativePath.c_str(), nullptr, nullptr), &g_free);
  if (!uri) return {};
  const std::string folder = sharedFolder.back() == '/' ? sharedFolder : sharedFolder + "/";
  TUniqueFd fd = OpenPlainFile(folder + kSharedLarge + Md5Hex(uri.get()) + ".png");
  struct stat thumb {};
  if (!fd || fstat(fd.Get(), &thumb) != 0 || thumb.st_size > kMaxSharedBytes) return {};
  bool sameUri = false;
  bool sameTime = false;
  for (const auto& [key, value] : PngTexts(ReadUpTo(fd.Get(), thumb.st_size))) {
    if (key == "Thumb::URI") sameUri = value == uri.get();
    if (key == "Thumb::MTime") sameTime = value == std::to_string(info.st_mtim.tv_sec);
  }
  if (!sameUri || !sameTime) return {};
  return fd;
}

}  // namespace vm::thumbs
