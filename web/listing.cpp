// The folder listing data: one line, a header then one record per entry.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/fs_names.h"
#include "web/page_file.h"
#include "web/pages.h"
#include "web/share_paths.h"
#include "web/text_helpers.h"

namespace vm {

namespace {

constexpr char kFieldSeparator[] = ";;";
constexpr char kPartSeparator[] = "::";

// The name's bytes when they are valid UTF-8; otherwise each bad byte becomes U+FFFD, so that
// the script can always show something for a name written by another system.
std::string LossyUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t length = c < 0x80           ? 1
                    : (c >> 5) == 0x6  ? 2
                    : (c >> 4) == 0xE  ? 3
                    : (c >> 3) == 0x1E ? 4
                                       : 0;
    bool valid = length > 0 && i + length <= bytes.size();
    for (size_t k = 1; valid && k < length; ++k) {
      valid = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
    }
    if (valid && length > 1) {
      // Reject overlong forms, surrogates and values past U+10FFFF.
      uint32_t cp = c & (0x7F >> length);
      for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (bytes[i + k] & 0x3F);
      const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
      valid = cp >= minimum[length] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (valid) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return out;
}

// A name as the script shows it. Linux names may hold ":" and ";", which would cut the line's
// ";;" and "::" separators in the wrong place (a name "a::b" or "x;" could even fake a record),
// so both are shown as look-alike characters: U+A789 for ":" and U+037E for ";". The hex fields
// keep the real name, so opening and downloading are unaffected.
std::string DisplayName(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    if (c == ':') {
      out += "\xEA\x9E\x89";
    } else if (c == ';') {
      out += "\xCD\xBE";
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatLocalDate(time_t time) {
  std::tm local{};
  localtime_r(&time, &local);
  char text[64];  // room for any int the format can meet
  std::snprintf(text, sizeof text, "%04d/%02d/%02d_%02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

// One record for the entry nativeName of the folder, or "" when it is to be left out.
std::string MakeRecord(const TSharedFolderList& folders, const std::string& path,
                       const std::string& nativeFolder, const std::string& nativeName,
                       unsigned char type) {
  const std::string nativePath = nativeFolder + nativeName;
  struct stat info {};
  if (stat(nativePath.c_str(), &info) != 0 && lstat(nativePath.c_str(), &info) != 0) return "";
  // A link that leads outside every share is left out: opening it would show nothing, and its
  // date and size would tell about a place that is not shared.
  if ((type == DT_LNK || type == DT_UNKNOWN) && !RealPathInsideShares(folders, nativePath)) {
    struct stat linkInfo {};
    if (lstat(nativePath.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) return "";
  }
  const std::string systemName = NativeToSystem(nativeName);
  const bool folder = S_ISDIR(info.st_mode);
  std::string record = kFieldSeparator;
  record += folder ? "D" : "F";
  record += kPartSeparator + DisplayName(LossyUtf8(nativeName)) + kPartSeparator + HexEncode(systemName) +
            kPartSeparator;
  if (folder) {
    record += HexEncode(path + systemName + "/") + kPartSeparator + kPartSeparator;
  } else {
    record += HexEncode(path + systemName) + kPartSeparator + FormatLocalDate(info.st_mtime) +
              kPartSeparator + std::to_string(static_cast<unsigned long long>(info.st_size));
  }
  return record;
}

// The sorted records of the folder; none when it lies outside the shares or cannot be read.
std::vector<std::string> ListFolder(const TSharedFolderList& folders, const std::string& path) {
  std::vector<std::string> records;
  auto resolved = ResolveSharedPath(folders, path);
  if (!resolved) return records;
  std::string nativeFolder = *resolved;
  if (nativeFolder.back() != '/') nativeFolder.push_back('/');
  struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  std::unique_ptr<DIR, DirCloser> dir(opendir(nativeFolder.c_str()));
  if (!dir) return records;
  while (dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string record = MakeRecord(folders, path, nativeFolder, name, entry->d_type);
    if (!record.empty()) records.push_back(std::move(record));
  }
  std::sort(records.begin(), records.end(), [](const std::string& a, const std::string& b) {
    const int order = CompareTextIgnoreCase(a, b);
    return order != 0 ? order < 0 : a < b;  // equal ignoring case: bytes decide, for a stable page
  });
  return records;
}

}  // namespace

void MakeListingPage(const TStateSnapshot& state, const std::string& params,
                     const std::string& pageFile) {
  const std::string pid = GetParam(params, "pid");
  const std::string name = HexDecode(GetParam(params, "name"));
  const std::string path = HexDecode(GetParam(params, "path"));
  // The display name may be one that CP932 cannot hold and so kept as UTF-8 bytes.
  std::string line = pid + kFieldSeparator + DisplayName(SystemToDisplayUtf8(name)) + kFieldSeparator +
                     HexEncode(name) + kFieldSeparator + HexEncode(path);
  for (const std::string& record : ListFolder(*state.SharedFolders, path)) line += record;
  WritePageFile(pageFile, {line});
}

}  // namespace vm
