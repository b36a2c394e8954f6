#include "web/upload_records.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/fs_names.h"
#include "platform/text_helpers.h"
#include "platform/unique_fd.h"

namespace vm {

namespace {

constexpr char kRecordFolder[] = "uploads/";
// The records name folders and files the user uploads to: the owner's alone.
constexpr mode_t kRecordFolderMode = 0700;
// A record is a few hundred bytes; anything far larger is not ours.
constexpr std::streamsize kMaxRecordBytes = 64 * 1024;

std::string Field(const std::string& text, std::string_view key) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=')
      return std::string(line.substr(key.size() + 1));
    start = end + 1;
  }
  return "";
}

int64_t Number(const std::string& text) {
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9' || value > (INT64_MAX - 9) / 10) return -1;
    value = value * 10 + (c - '0');
  }
  return text.empty() ? -1 : value;
}

bool OlderThan(const struct stat& info, std::chrono::seconds maxAge) {
  return std::time(nullptr) - info.st_mtime > maxAge.count();
}

}  // namespace

bool TPartialUpload::RenewedBy(int64_t held) const {
  return held - GrownHeld >= std::min(kRenewingGrowth, Size - GrownHeld);
}

bool TPartialUpload::SameUpload(const TPartialUpload& other) const {
  return ShareName == other.ShareName && FolderPath == other.FolderPath && Name == other.Name &&
         Size == other.Size && ModifiedMs == other.ModifiedMs;
}

TUploadRecords::TUploadRecords(const std::string& programFolder)
    : folder_(SystemToNative(programFolder) + kRecordFolder) {}

std::optional<TPartialUpload> TUploadRecords::Read(const std::string& id) const {
  std::ifstream in(folder_ + id, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxRecordBytes, '\0');
  in.read(text.data(), kMaxRecordBytes);
  text.resize(static_cast<size_t>(in.gcount()));
  TPartialUpload upload;
  upload.ShareName = HexDecode(Field(text, "share"));
  upload.FolderPath = HexDecode(Field(text, "folder"));
  upload.Name = HexDecode(Field(text, "name"));
  upload.Size = Number(Field(text, "size"));
  upload.ModifiedMs = Number(Field(text, "mtime"));
  upload.PartialName = Field(text, "partial");
  upload.NativeFolder = HexDecode(Field(text, "place"));
  upload.SavedName = HexDecode(Field(text, "saved"));
  upload.Client = Field(text, "client");
  upload.GrownAt = std::max<int64_t>(Number(Field(text, "grown")), 0);
  upload.GrownHeld = std::max<int64_t>(Number(Field(text, "grownheld")), 0);
  const bool partialNamed =
      upload.PartialName.size() > kPartialPrefix.size() &&
      upload.PartialName.compare(0, kPartialPrefix.size(), kPartialPrefix) == 0 &&
      upload.PartialName.find('/') == std::string::npos;
  if (upload.ShareName.empty() || upload.Size < 0 || upload.ModifiedMs < 0 || !partialNamed)
    return std::nullopt;
  return upload;
}

bool TUploadRecords::Write(const std::string& id, const TPartialUpload& upload) const {
  if (mkdir(folder_.c_str(), kRecordFolderMode) != 0 && errno != EEXIST) return false;
  const std::string text =
      "share=" + HexEncode(upload.ShareName) + "\n" + "folder=" + HexEncode(upload.FolderPath) +
      "\n" + "name=" + HexEncode(upload.Name) + "\n" + "size=" + std::to_string(upload.Size) +
      "\n" + "mtime=" + std::to_string(upload.ModifiedMs) + "\n" + "partial=" + upload.PartialName +
      "\n" + "place=" + HexEncode(upload.NativeFolder) + "\n" +
      "saved=" + HexEncode(upload.SavedName) + "\n" + "client=" + upload.Client + "\n" +
      "grown=" + std::to_string(upload.GrownAt) + "\n" +
      "grownheld=" + std::to_string(upload.GrownHeld) + "\n";
  return ReplaceFileAtomically(folder_ + id + ".XXXXXX", folder_ + id, text, kPrivateFileMode);
}

void TUploadRecords::Remove(const std::string& id) const { unlink((folder_ + id).c_str()); }

std::vector<std::string> TUploadRecords::Ids() const {
  std::vector<std::string> ids;
  if (DIR* dir = opendir(folder_.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      // Records only: not "." and "..", nor the temporaries of a write ("id.XXXXXX").
      if (name.find('.') == std::string::npos) ids.push_back(name);
    }
    closedir(dir);
  }
  return ids;
}

TUploadRecords::TUnfinished TUploadRecords::CountUnfinished(const std::string& client) const {
  TUnfinished count;
  for (const std::string& id : Ids()) {
    const std::optional<TPartialUpload> upload = Read(id);
    if (!upload || !upload->SavedName.empty()) continue;
    ++count.All;
    if (upload->Client == client) ++count.OfClient;
  }
  return count;
}

void TUploadRecords::Sweep(std::chrono::seconds maxAge) const {
  const int64_t now = std::time(nullptr);
  for (const std::string& id : Ids()) {
    struct stat record {};
    if (stat((folder_ + id).c_str(), &record) != 0) continue;
    const std::optional<TPartialUpload> upload = Read(id);
    if (!upload) {
      if (OlderThan(record, maxAge)) Remove(id);
      continue;
    }
    TUniqueFd folder(open(upload->NativeFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat partial {};
    const bool present =
        folder && upload->SavedName.empty() &&
        fstatat(folder.Get(), upload->PartialName.c_str(), &partial, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(partial.st_mode);
    if (present) {
      // Its age counts from its last growth: a request that added next to nothing, or only
      // touched the file, does not make it young again.
      const int64_t grown = upload->GrownAt > 0 ? upload->GrownAt : partial.st_mtime;
      if (now - grown <= maxAge.count()) continue;
      unlinkat(folder.Get(), upload->PartialName.c_str(), 0);
    } else if (!OlderThan(record, maxAge)) {
      continue;
    }
    Remove(id);
  }
}

}  // namespace vm
