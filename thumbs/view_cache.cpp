#include "thumbs/view_cache.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/atomic_file.h"
#include "thumbs/cache_folder.h"

namespace vm::thumbs {

namespace {

constexpr char kCacheSubfolder[] = "velmarind/views/";
constexpr char kTemporarySuffix[] = ".XXXXXX";
constexpr unsigned char kRiff[] = {'R', 'I', 'F', 'F'};  // how a WebP file begins

const char* ExtensionOf(TViewEntry entry) { return entry == TViewEntry::View ? ".view" : ".facts"; }

}  // namespace

TViewCache::TViewCache(std::string folder, uint64_t budgetBytes)
    : folder_(folder.empty() || folder.back() == '/' ? folder : folder + "/"),
      budget_(budgetBytes) {}

std::string TViewCache::DefaultFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/" + kCacheSubfolder;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/" + kCacheSubfolder;
  return "";
}

std::string TViewCache::NameOf(const struct stat& info, TViewEntry entry) const {
  std::string name = folder_;
  for (const uint64_t value : {uint64_t(info.st_dev), uint64_t(info.st_ino), uint64_t(info.st_size),
                               uint64_t(info.st_mtim.tv_sec)}) {
    name += std::to_string(value) + "-";
  }
  return name + std::to_string(info.st_mtim.tv_nsec) + ExtensionOf(entry);
}

std::optional<TKeptView> TViewCache::Find(const struct stat& info, TViewEntry entry) const {
  if (folder_.empty()) return std::nullopt;
  TUniqueFd fd(open(NameOf(info, entry).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
  struct stat kept {};
  if (!fd || fstat(fd.Get(), &kept) != 0 || !S_ISREG(kept.st_mode)) return std::nullopt;
  // Its time says when it was last used: the budget removes the entries used longest ago.
  futimens(fd.Get(), nullptr);
  if (kept.st_size == 0) return TKeptView{true, {}, ""};
  TKeptView found{false, std::move(fd), "text/plain"};
  if (entry == TViewEntry::View) {
    unsigned char head[sizeof(kRiff)] = {};
    const bool webp = pread(found.File.Get(), head, sizeof(head), 0) == sizeof(head) &&
                      std::memcmp(head, kRiff, sizeof(kRiff)) == 0;
    found.ContentType = webp ? "image/webp" : "image/jpeg";
  }
  return found;
}

void TViewCache::Store(const struct stat& info, TViewEntry entry, const std::string& bytes) {
  if (folder_.empty() || g_mkdir_with_parents(folder_.c_str(), 0700) != 0) return;
  const std::string name = NameOf(info, entry);
  if (ReplaceFileAtomically(name + kTemporarySuffix, name, bytes, kPrivateFileMode)) {
    KeepWithinBudget();
  }
}

void TViewCache::KeepWithinBudget() const { TrimFolder(folder_, budget_, budget_); }

}  // namespace vm::thumbs
