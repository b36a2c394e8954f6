// The folder listing data: one line, a header then one record per entry.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
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

// True when the entry is a symbolic link; the type from the folder may not tell.
bool IsLink(const std::string& nativePath, unsigned char type) {
  if (type != DT_LNK && type != DT_UNKNOWN) return false;
  struct stat linkInfo {};
  return lstat(nativePath.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode);
}

// One record for the entry nativeName of the folder, or "" when it is to be left out.
std::string MakeRecord(const TShareRoots& roots, const std::string& path,
                       const std::string& nativeFolder, const std::string& nativeName,
                       unsigned char type) {
  const std::string nativePath = nativeFolder + nativeName;
  struct stat info {};
  if (stat(nativePath.c_str(), &info) != 0 && lstat(nativePath.c_str(), &info) != 0) return "";
  // A link that leads outside every share is left out: opening it would show nothing, and its
  // date and size would tell about a place that is not shared.
  if (IsLink(nativePath, type) && !roots.Contain(nativePath)) return "";
  const std::string systemName = NativeToSystem(nativeName);
  const bool folder = S_ISDIR(info.st_mode);
  std::string record = kFieldSeparator;
  record += folder ? "D" : "F";
  record += kPartSeparator + DisplayName(ToValidUtf8(nativeName)) + kPartSeparator +
            HexEncode(systemName) + kPartSeparator;
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
  const TShareRoots roots(folders);
  while (dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string record = MakeRecord(roots, path, nativeFolder, name, entry->d_type);
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
  std::string line = pid + kFieldSeparator + DisplayName(SystemToDisplayUtf8(name)) +
                     kFieldSeparator + HexEncode(name) + kFieldSeparator + HexEncode(path);
  for (const std::string& record : ListFolder(*state.SharedFolders, path)) line += record;
  WritePageFile(pageFile, {line});
}

}  // namespace vm
