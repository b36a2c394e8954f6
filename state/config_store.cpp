#include "state/config_store.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/atomic_file.h"
#include "platform/exception.h"
#include "platform/fs_names.h"
#include "platform/system_info.h"
#include "platform/text_helpers.h"
#include "state/ini_file.h"

namespace vm {
namespace {


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

// "a.example, b.lan,," -> {"a.example", "b.lan"}: each name trimmed, empty ones dropped.
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

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

// "mkdir -p" for a native path.
bool MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string part = folder.substr(0, slash);
    if (!part.empty() && mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// A desktop-entry Exec argument: quoted only when it holds a reserved character. Inside the
// quotes '"', '`', '$' and the backslash take a backslash; then the whole value gets the escapes
// of a string value (a backslash doubled), and "%" is doubled because Exec gives it a meaning.
std::string ExecArgument(const std::string& path) {
  const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string argument;
  if (path.find_first_of(reserved) == std::string::npos) {
    argument = path;
  } else {
    argument = "\"";
    for (char c : path) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
      argument += c;
    }
    argument += '"';
  }
  std::string value;
  for (char c : argument) {
    if (c == '\\') {
      value += "\\\\";
    } else if (c == '\n') {
      value += "\\n";
    } else if (c == '%') {
      value += "%%";
    } else {
      value += c;
    }
  }
  return value;
}

}  // namespace

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

std::string MakeBaseURL(const std::string& localAddress, int port) {
  if (port == kDefaultPort) return "http://" + localAddress + "/velmarind/";
  return "http://" + localAddress + ":" + std::to_string(port) + "/velmarind/";
}

std::string AutostartFilePath() {
  // A relative XDG_CONFIG_HOME is invalid by the base-directory rules and is ignored.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string folder = (config && config[0] == '/') ? config : HomeFolder() + "/.config";
  return folder + "/autostart/velmarind.desktop";
}

void WriteAutostartEntry(const std::string& executablePath) {
  std::string path = AutostartFilePath();
  std::string content =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Velmarind\n"
      "Exec=" + ExecArgument(executablePath) + " -j\n"
      "X-GNOME-Autostart-enabled=true\n";
  std::string folder = path.substr(0, path.rfind('/'));
  if (!MakeFolders(folder) || !ReplaceFileAtomically(path + ".XXXXXX", path, content)) {
    throw EFCreateError(NativeToSystem(path));
  }
}

void DeleteAutostartEntry() { unlink(AutostartFilePath().c_str()); }

bool LoadSettings(TMainState& state) {
  const std::string folder = state.ProgramFolder();

  // Everything is read into locals first and swapped in at once, so a connection thread sees
  // either the old settings and list or the new ones.
  TSharedFolderList folders = ReadSharedFolderFile(folder + kSharedFolderFile);
  for (std::string& entry : folders) entry = WithFolderSeparator(entry);

  TIniFile ini(folder + kSettingsFile);
  TSettings settings;
  settings.Port = StrToIntDef(ini.ReadString(kSettingsSection, "HTTP_PORT", "80"), kDefaultPort);
  settings.AutoRun = StrToIntDef(ini.ReadString(kSettingsSection, "AUTO_RUN", "0"), 0);
  settings.PassFlag = StrToIntDef(ini.ReadString(kSettingsSection, "PASS_FLG", "0"), 0) == 1;
  settings.Password = HexDecode(ini.ReadString(kSettingsSection, "PASSWORD", ""));
  settings.ExtraHosts = SplitHostList(ini.ReadString(kSettingsSection, kExtraHostsKey, ""));
  settings.PublishDotFiles =
      StrToIntDef(ini.ReadString(kSettingsSection, kPublishDotFilesKey, "0"), 0) == 1;
  settings.BaseURL = MakeBaseURL(state.LocalAddress(), settings.Port);
  const bool autoRun = settings.AutoRun == 1;
  state.Replace(std::move(settings), std::move(folders));

  // The autostart file follows AUTO_RUN at every load; failing to write it is reported after
  // the settings have taken effect.
  if (autoRun) {
    WriteAutostartEntry(ExecutablePath());
  } else {
    DeleteAutostartEntry();
  }
  return true;
}

}  // namespace vm
