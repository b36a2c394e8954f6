// The folder listing data: one line, a header then one record per entry.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/fs_names.h"
#include "platform/text_helpers.h"
#include "web/page_file.h"
#include "web/pages.h"
#include "web/share_paths.h"

namespace vm {

namespace {

constexpr char kFieldSeparator[] = ";;";
constexpr char kPartSeparator[] = "::";
constexpr char kHexOfSlash[] = "2f";  // a folder's full path ends in "/"

// A name as the script shows it. Linux names may hold ":" and ";", which would cut the line's
// ";;" and "::" separators in the wrong place (a name "a::b" or "x;" could even fake a record),
// so both are shown as look-alike characters: U+A789 for ":" and U+037E for ";". The hex fields
// keep the real name, so opening and downloading are unaffected.
void AppendDisplayName(std::string& out, std::string_view utf8) {
  constexpr std::string_view kSeparators = ":;";
  size_t start = 0;
  for (size_t i = utf8.find_first_of(kSeparators); i != std::string_view::npos;
       i = utf8.find_first_of(kSeparators, start)) {
    out.append(utf8.substr(start, i - start));
    out += utf8[i] == ':' ? "\xEA\x9E\x89" : "\xCD\xBE";
    start = i + 1;
  }
  out.append(utf8.substr(start));
}

std::string DisplayName(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  AppendDisplayName(out, utf8);
  return out;
}

char* PutTwoDigits(char* out, int value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
  return out + 2;
}

// Appends the local time as "%04d/%02d/%02d_%02d:%02d:%02d" would show it. By hand for years
// 0-9999, the date fields being two digits at most: a formatted print costs more than all the
// rest of a record, and a folder may hold many thousand entries. Other years take the print.
void AppendLocalDate(std::string& out, time_t time) {
  std::tm local{};
  localtime_r(&time, &local);
  const int year = local.tm_year + 1900;
  if (year < 0 || year > 9999) {
    char text[64];  // room for any int the format can meet
    std::snprintf(text, sizeof text, "%04d/%02d/%02d_%02d:%02d:%02d", year, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    out += text;
    return;
  }
  char text[19];  // "YYYY/MM/DD_hh:mm:ss"
  char* p = PutTwoDigits(text, year / 100);
  p = PutTwoDigits(p, year % 100);
  *p++ = '/';
  p = PutTwoDigits(p, local.tm_mon + 1);
  *p++ = '/';
  p = PutTwoDigits(p, local.tm_mday);
  *p++ = '_';
  p = PutTwoDigits(p, local.tm_hour);
  *p++ = ':';
  p = PutTwoDigits(p, local.tm_min);
  *p++ = ':';
  p = PutTwoDigits(p, local.tm_sec);
  out.append(text, static_cast<size_t>(p - text));
}

// One record for the entry nativeName of the folder, or "" when it is to be left out.
// pathHex is HexEncode(path): a record's full-path field is it followed by the hex of the name
// (neither holds a NUL byte, so the two hex texts simply join).
// Entries are looked up relative to the open folder (folderFd): no path walk per entry.
// Appends the record to out; false (and nothing appended) when the entry is to be left out.
bool AppendRecord(std::string& out, const TShareAccess& access, const std::string& pathHex,
                  int folderFd, const std::string& nativeName) {
  // A link is shown as what it leads to, and only when that lies inside the shares where
  // listing is allowed (not inside a drop box): opening it would show nothing, and its date and
  // size would tell about a place that is not shared.
  struct stat info {};
  if (!access.StatEntry(folderFd, nativeName, TShareOperation::List, info)) return false;
  const std::string systemName = NativeToSystem(nativeName);
  const bool folder = S_ISDIR(info.st_mode);
  // Appended in place: the records of a large folder are the bulk of the page.
  std::string& record = out;
  const std::string nameHex = HexEncode(systemName);
  record += kFieldSeparator;
  record += folder ? 'D' : 'F';
  record += kPartSeparator;
  if (IsAscii(nativeName)) {
    AppendDisplayName(record, nativeName);
  } else {
    AppendDisplayName(record, ToValidUtf8(nativeName));
  }
  record += kPartSeparator;
  record += nameHex;
  record += kPartSeparator;
  record += pathHex;
  record += nameHex;
  if (folder) {
    record += kHexOfSlash;
    record += kPartSeparator;
    record += kPartSeparator;
  } else {
    record += kPartSeparator;
    AppendLocalDate(record, info.st_mtime);
    record += kPartSeparator;
    record += std::to_string(static_cast<unsigned long long>(info.st_size));
  }
  return true;
}

// Where one record stands in the buffer that holds them all.
struct TRecordSpan {
  size_t offset;
  size_t length;
};

// The records of a folder, kept end to end in one buffer (a large folder holds many thousand):
// far fewer allocations, and the page is built from it with one copy.
struct TRecords {
  std::string bytes;
  std::vector<TRecordSpan> spans;
  std::string_view At(const TRecordSpan& span) const {
    return std::string_view(bytes).substr(span.offset, span.length);
  }
};

// Record order: ignoring the case of ASCII letters, then by bytes where that ties, for a
// stable page.
bool RecordBefore(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t k = 0; k < common; ++k) {
    const char x = AsciiLower(a[k]);
    const char y = AsciiLower(b[k]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

// The sorted records of the folder; none when it lies outside the shares or cannot be read,
// which found then tells, and none where its share does not allow listing. Entries with a
// leading "." are left out unless dot files are published. mode gets the mode there.
TRecords ListFolder(const TShareAccess& access, const std::string& path, bool& found,
                    TShareMode& mode) {
  TRecords records;
  found = false;
  TSharedEntry folder = access.Open(path, TEntryKind::Folder);
  if (!folder.Fd) return records;
  mode = access.ModeAt(folder.Fd.Get()).value_or(kDefaultShareMode);
  if (!ModeAllows(mode, TShareOperation::List)) {
    found = true;
    return records;
  }
  struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  // The folder is read through the descriptor that was checked.
  std::unique_ptr<DIR, DirCloser> dir(fdopendir(folder.Fd.Get()));
  if (!dir) return records;
  folder.Fd.Release();  // closed with the folder's stream
  found = true;
  const std::string pathHex = HexEncode(path);
  while (dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (access.HidesName(name)) continue;
    const size_t start = records.bytes.size();
    if (AppendRecord(records.bytes, access, pathHex, dirfd(dir.get()), name)) {
      records.spans.push_back({start, records.bytes.size() - start});
    }
  }
  std::sort(records.spans.begin(), records.spans.end(),
            [&records](const TRecordSpan& a, const TRecordSpan& b) {
              return RecordBefore(records.At(a), records.At(b));
            });
  return records;
}

}  // namespace

std::string MakeListingPage(const TStateSnapshot& state, const std::string& params,
                            const std::string& pageFile, bool* found, TShareMode* mode) {
  const std::string pid = GetParam(params, "pid");
  const std::string name = HexDecode(GetParam(params, "name"));
  const std::string path = HexDecode(GetParam(params, "path"));
  // The display name may be one that CP932 cannot hold and so kept as UTF-8 bytes.
  std::string line = pid + kFieldSeparator + DisplayName(SystemToDisplayUtf8(name)) +
                     kFieldSeparator + HexEncode(name) + kFieldSeparator + HexEncode(path);
  bool listed = false;
  TShareMode modeThere = kDefaultShareMode;
  const TShareAccess access(state);
  const TRecords records = ListFolder(access, path, listed, modeThere);
  line.reserve(line.size() + records.bytes.size() + 2);
  for (const TRecordSpan& span : records.spans) line += records.At(span);
  line += "\r\n";
  if (found != nullptr) *found = listed;
  if (mode != nullptr && listed) *mode = modeThere;
  return WritePageText(pageFile, std::move(line));
}

}  // namespace vm
