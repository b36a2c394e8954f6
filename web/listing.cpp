// The folder listing data: one line, a header then one record per entry.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

#include "platform/fs_names.h"
#include "platform/spill_sorter.h"
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

// The sort record of the entry nativeName of the folder: its record without the full-path
// field, ";;K::name::nameHex::" and for a file "date::size" (see WriteRecord).
// Entries are looked up relative to the open folder (folderFd): no path walk per entry.
// Appends the record to out; false (and nothing appended) when the entry is to be left out.
bool AppendSortRecord(std::string& out, const TShareAccess& access, int folderFd,
                      const std::string& nativeName) {
  // A link is shown as what it leads to, and only when that lies inside the shares where
  // listing is allowed (not inside a drop box): opening it would show nothing, and its date and
  // size would tell about a place that is not shared.
  struct stat info {};
  if (!access.StatEntry(folderFd, nativeName, TShareOperation::List, info)) return false;
  const bool folder = S_ISDIR(info.st_mode);
  out += kFieldSeparator;
  out += folder ? 'D' : 'F';
  out += kPartSeparator;
  if (IsAscii(nativeName)) {
    AppendDisplayName(out, nativeName);
  } else {
    AppendDisplayName(out, ToValidUtf8(nativeName));
  }
  out += kPartSeparator;
  out += HexEncode(NativeToSystem(nativeName));
  out += kPartSeparator;
  if (!folder) {
    AppendLocalDate(out, info.st_mtime);
    out += kPartSeparator;
    out += std::to_string(static_cast<unsigned long long>(info.st_size));
  }
  return true;
}

// Record order: ignoring the case of ASCII letters, then by bytes where that ties, for a
// stable page. Sort records of two entries differ before either one's name field ends (the
// shown name holds no ":", the hex names differ), so they sort as the whole records would.
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

// Writes the record of a sort record: the full-path field, pathHex and the hex name (and the
// hex of "/" for a folder), goes after the hex name.
void WriteRecord(TPageFileWriter& page, std::string_view sorted, std::string_view pathHex) {
  const size_t nameEnd = sorted.find(kPartSeparator, 5);  // after ";;K::"
  const size_t hexEnd = sorted.find(kPartSeparator, nameEnd + 2);
  const std::string_view nameHex = sorted.substr(nameEnd + 2, hexEnd - nameEnd - 2);
  page.Append(sorted.substr(0, hexEnd + 2));
  page.Append(pathHex);
  page.Append(nameHex);
  if (sorted[2] == 'D') {
    page.Append(kHexOfSlash);
    page.Append(kPartSeparator);
    page.Append(kPartSeparator);
  } else {
    page.Append(kPartSeparator);
    page.Append(sorted.substr(hexEnd + 2));
  }
}

// Sorts the entries of the folder into records; none when it lies outside the shares or
// cannot be read, which found then tells, and none where its share does not allow listing.
// Entries with a leading "." are left out unless dot files are published. mode gets the mode
// there.
void ListFolder(const TShareAccess& access, const std::string& path, TSpillSorter& records,
                bool& found, TShareMode& mode) {
  found = false;
  TSharedEntry folder = access.Open(path, TEntryKind::Folder);
  if (!folder.Fd) return;
  mode = access.ModeAt(folder.Fd.Get()).value_or(kDefaultShareMode);
  if (!ModeAllows(mode, TShareOperation::List)) {
    found = true;
    return;
  }
  struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  // The folder is read through the descriptor that was checked.
  std::unique_ptr<DIR, DirCloser> dir(fdopendir(folder.Fd.Get()));
  if (!dir) return;
  folder.Fd.Release();  // closed with the folder's stream
  found = true;
  std::string record;
  while (dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (access.HidesName(name)) continue;
    record.clear();
    if (AppendSortRecord(record, access, dirfd(dir.get()), name)) records.Add(record);
  }
}

}  // namespace

TUniqueFd MakeListingPage(const TStateSnapshot& state, const std::string& params,
                          const std::string& pageFile, bool* found, TShareMode* mode) {
  const std::string pid = GetParam(params, "pid");
  const std::string name = HexDecode(GetParam(params, "name"));
  const std::string path = HexDecode(GetParam(params, "path"));
  bool listed = false;
  TShareMode modeThere = kDefaultShareMode;
  const TShareAccess access(state);
  // The records are written as they come out of the sort: a folder of many thousand entries
  // under a long path makes a page of hundreds of MB, which is never held.
  TSpillSorter records(RecordBefore);
  ListFolder(access, path, records, listed, modeThere);
  TPageFileWriter page(pageFile);
  const std::string pathHex = HexEncode(path);
  // The display name may be one that CP932 cannot hold and so kept as UTF-8 bytes.
  page.Append(pid + kFieldSeparator + DisplayName(SystemToDisplayUtf8(name)) + kFieldSeparator +
              HexEncode(name) + kFieldSeparator + pathHex);
  for (std::string_view record; records.Next(record);) WriteRecord(page, record, pathHex);
  page.Append("\r\n");
  if (found != nullptr) *found = listed;
  if (mode != nullptr && listed) *mode = modeThere;
  return page.Commit();
}

}  // namespace vm
