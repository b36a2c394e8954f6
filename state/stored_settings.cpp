#include "state/stored_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/exception.h"
#include "platform/fs_names.h"
#include "platform/text_helpers.h"
#include "state/ini_file.h"

namespace vm {

// A file written beside its target under a temporary name, renamed over the target by Commit.
class TSettingsWrite::TStagedFile {
 public:
  TStagedFile(const std::string& systemPath, std::string_view content, mode_t mode)
      : systemPath_(systemPath), target_(SystemToNative(systemPath)) {
    std::string temporary = target_ + std::string(kAtomicTemporarySuffix);
    // Close-on-exec: a program started meanwhile (the browser opener) inherits nothing.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) throw EFCreateError(systemPath_);
    bool ok = WriteAllBytes(fd, content);
    ok = ::fchmod(fd, mode) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
      ::unlink(temporary.c_str());
      throw EFCreateError(systemPath_);
    }
    temporary_ = std::move(temporary);
  }
  TStagedFile(TStagedFile&& other) noexcept
      : systemPath_(std::move(other.systemPath_)),
        target_(std::move(other.target_)),
        temporary_(std::exchange(other.temporary_, std::string())) {}
  TStagedFile& operator=(TStagedFile&&) = delete;
  ~TStagedFile() {
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
  }

  void Commit() {
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) throw EFCreateError(systemPath_);
    temporary_.clear();
  }

 private:
  std::string systemPath_;
  std::string target_;
  std::string temporary_;  // empty once committed or moved from
};

namespace {

// The flags are written "1" or "0"; reading takes only 1 as on.
const char* FlagText(bool on) { return on ? "1" : "0"; }
bool ReadFlag(const TIniFile& ini, const char* key) {
  return StrToIntDef(ini.ReadString(kSettingsSection, key, "0"), 0) == 1;
}

const char* LanguageText(TLanguageChoice language) {
  switch (language) {
    case TLanguageChoice::Japanese:
      return "ja";
    case TLanguageChoice::English:
      return "en";
    case TLanguageChoice::Auto:
      break;
  }
  return "auto";
}

TLanguageChoice LanguageOf(const std::string& text) {
  if (text == "ja") return TLanguageChoice::Japanese;
  if (text == "en") return TLanguageChoice::English;
  return TLanguageChoice::Auto;
}

// Shared-folder paths are used with a file name put directly after them, so a path typed
// without its final "/" would glue the folder and the name together. Field 1 of an entry gets
// the "/" it lacks; everything else of the line stays as it was.
std::string WithFolderSeparator(const std::string& entry) {
  std::string trimmed = TrimText(entry);
  size_t nameEnd = trimmed.find(";;");
  if (nameEnd == std::string::npos) return entry;
  size_t pathBegin = nameEnd + 2;
  size_t pathEnd = trimmed.find(";;", pathBegin);
  if (pathEnd == std::string::npos) pathEnd = trimmed.size();
  if (pathEnd == pathBegin || trimmed[pathEnd - 1] == '/') return entry;
  size_t offset = entry.find(trimmed);  // where the trimmed text starts inside the entry
  std::string result = entry;
  result.insert(offset + pathEnd, "/");
  return result;
}

// The keys of "velmarind.ini" whose values differ between stored and edited, in the order the
// settings window has always written them. Keys the window does not edit (kQrSignInKey,
// kSignInSecondsKey) are never among them, so its OK leaves them as they were written.
std::vector<TIniValue> ChangedValues(const TStoredSettings& stored, const TStoredSettings& edited) {
  std::vector<TIniValue> values;
  if (edited.Port != stored.Port || edited.AutoRun != stored.AutoRun) {
    values.push_back({kPortKey, std::to_string(edited.Port)});
    values.push_back({kAutoRunKey, FlagText(edited.AutoRun == 1)});
  }
  if (edited.PassFlag != stored.PassFlag || edited.Password != stored.Password) {
    values.push_back({kPassFlagKey, FlagText(edited.PassFlag)});
    values.push_back({kPasswordKey, HexEncode(edited.Password)});
  }
  if (edited.ExtraHosts != stored.ExtraHosts) {
    values.push_back({kExtraHostsKey, JoinHostList(edited.ExtraHosts, ",")});
  }
  if (edited.PublishDotFiles != stored.PublishDotFiles) {
    values.push_back({kPublishDotFilesKey, FlagText(edited.PublishDotFiles)});
  }
  const std::string modes = JoinShareModes(edited.ShareModes, edited.SharedFolders);
  if (modes != JoinShareModes(stored.ShareModes, stored.SharedFolders)) {
    values.push_back({kShareModesKey, modes});
  }
  if (edited.KeepUploadNames != stored.KeepUploadNames) {
    values.push_back({kKeepUploadNamesKey, FlagText(edited.KeepUploadNames)});
  }
  if (edited.WebDav != stored.WebDav) {
    values.push_back({kWebDavKey, FlagText(edited.WebDav)});
  }
  if (edited.Language != stored.Language) {
    values.push_back({kLanguageKey, LanguageText(edited.Language)});
  }
  return values;
}

// The settings file holds the password: it is the owner's alone.
TIniFile SettingsIni(const std::string& programFolder) {
  return TIniFile(programFolder + kSettingsFile, kPrivateFileMode);
}

}  // namespace

TStoredSettings ReadStoredSettings(const std::string& programFolder) {
  TStoredSettings stored;
  stored.SharedFolders = ReadSharedFolderFile(programFolder + kSharedFolderFile);
  for (std::string& entry : stored.SharedFolders) entry = WithFolderSeparator(entry);

  const TIniFile ini = SettingsIni(programFolder);
  stored.Port = StrToIntDef(ini.ReadString(kSettingsSection, kPortKey, "80"), kDefaultPort);
  stored.AutoRun = StrToIntDef(ini.ReadString(kSettingsSection, kAutoRunKey, "0"), 0);
  stored.PassFlag = ReadFlag(ini, kPassFlagKey);
  stored.Password = HexDecode(ini.ReadString(kSettingsSection, kPasswordKey, ""));
  stored.ExtraHosts = SplitHostList(ini.ReadString(kSettingsSection, kExtraHostsKey, ""));
  stored.PublishDotFiles = ReadFlag(ini, kPublishDotFilesKey);
  stored.ShareModes = SplitShareModes(ini.ReadString(kSettingsSection, kShareModesKey, ""));
  stored.KeepUploadNames = ReadFlag(ini, kKeepUploadNamesKey);
  stored.WebDav = StrToIntDef(ini.ReadString(kSettingsSection, kWebDavKey, "1"), 1) != 0;
  stored.Language = LanguageOf(TrimText(ini.ReadString(kSettingsSection, kLanguageKey, "")));
  stored.QrSignIn = TrimText(ini.ReadString(kSettingsSection, kQrSignInKey, "1")) != "0";
  // Longer than the default is not offered: a code on a screen is seen by whoever passes.
  const int seconds = StrToIntDef(ini.ReadString(kSettingsSection, kSignInSecondsKey, ""), 0);
  if (seconds > 0 && std::chrono::seconds(seconds) < stored.SignInValidity) {
    stored.SignInValidity = std::chrono::seconds(seconds);
  }
  return stored;
}

TSettingsWrite::TSettingsWrite(const std::string& programFolder, const TStoredSettings& edited) {
  // Compared with the files as they are now, so that "nothing changed" writes no key.
  const std::vector<TIniValue> values = ChangedValues(ReadStoredSettings(programFolder), edited);
  if (!values.empty()) {
    const TIniFile ini = SettingsIni(programFolder);
    staged_.emplace_back(ini.FileName(), ini.TextWith(kSettingsSection, values), ini.Mode());
  }
  staged_.emplace_back(programFolder + kSharedFolderFile, JoinCrLfLines(edited.SharedFolders),
                       kPublicFileMode);
}

TSettingsWrite::~TSettingsWrite() = default;

void TSettingsWrite::Commit() {
  // Both files were written in this folder already, so what could fail has failed: a rename
  // within one folder does not run out of space or permission.
  for (TStagedFile& file : staged_) file.Commit();
  staged_.clear();
}

void WriteStoredSettings(const std::string& programFolder, const TStoredSettings& edited) {
  TSettingsWrite write(programFolder, edited);
  write.Commit();
}

bool WriteFirstStartSettings(const std::string& programFolder) {
  const TIniFile ini = SettingsIni(programFolder);
  struct stat info {};
  if (::lstat(SystemToNative(ini.FileName()).c_str(), &info) == 0) return false;
  const std::string text =
      ini.TextWith(kSettingsSection, {{kPortKey, std::to_string(kFirstStartPort)},
                                      {kAutoRunKey, FlagText(false)},
                                      {kPassFlagKey, FlagText(false)},
                                      {kPasswordKey, ""}});
  WriteFileAtomically(ini.FileName(), text, ini.Mode());
  return true;
}

std::vector<std::string> ReadSharedFolderFile(const std::string& path) {
  std::string native = SystemToNative(path);
  std::vector<std::string> entries;
  struct stat info {};
  if (stat(native.c_str(), &info) != 0) return entries;
  std::ifstream in(native, std::ios::binary);
  if (!in) throw EFOpenError(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (size_t zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      entries.push_back(text.substr(start));
      break;
    }
    entries.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return entries;
}

void WriteSharedFolderFile(const std::string& path, const std::vector<std::string>& entries) {
  WriteFileAtomically(path, JoinCrLfLines(entries));
}

namespace {

struct TModeWord {
  TShareMode Mode;
  const char* Word;
};
constexpr TModeWord kModeWords[] = {
    {TShareMode::ViewOnly, "view"},
    {TShareMode::ViewUpload, "upload"},
    {TShareMode::Full, "full"},
    {TShareMode::UploadOnly, "dropbox"},
};

}  // namespace

const char* ShareModeWord(TShareMode mode) {
  for (const TModeWord& entry : kModeWords) {
    if (entry.Mode == mode) return entry.Word;
  }
  return ShareModeWord(kDefaultShareMode);
}

std::optional<TShareMode> ShareModeFromWord(std::string_view word) {
  for (const TModeWord& entry : kModeWords) {
    if (EqualTextIgnoreCase(word, entry.Word)) return entry.Mode;
  }
  return std::nullopt;
}

std::string JoinShareModes(const TShareModes& modes, const TSharedFolderList& folders) {
  // In list order, each name once: the same settings always give the same text.
  std::vector<std::string> items;
  for (const std::string& entry : folders) {
    const std::string name = GetField(entry, 0);
    const TShareMode mode = ShareModeOf(modes, name);
    const std::string item = HexEncode(name) + ":" + ShareModeWord(mode);
    if (mode == kDefaultShareMode || std::find(items.begin(), items.end(), item) != items.end()) {
      continue;
    }
    items.push_back(item);
  }
  return JoinHostList(items, ",");
}

TShareModes SplitShareModes(const std::string& text) {
  TShareModes modes;
  for (const std::string& item : SplitHostList(text)) {
    const size_t colon = item.find(':');
    if (colon == std::string::npos) continue;
    const std::optional<TShareMode> mode = ShareModeFromWord(TrimText(item.substr(colon + 1)));
    if (mode) modes.emplace(HexDecode(TrimText(item.substr(0, colon))), *mode);
  }
  return modes;
}

std::vector<std::string> SplitHostList(const std::string& text) {
  std::vector<std::string> hosts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    std::string host = TrimText(text.substr(start, end - start));
    if (!host.empty()) hosts.push_back(std::move(host));
    start = end + 1;
  }
  return hosts;
}

std::string JoinHostList(const std::vector<std::string>& hosts, const std::string& separator) {
  std::string text;
  for (const std::string& host : hosts) {
    if (!text.empty()) text += separator;
    text += host;
  }
  return text;
}

}  // namespace vm
