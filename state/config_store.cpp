#include "state/config_store.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/atomic_file.h"
#include "platform/exception.h"
#include "platform/fs_names.h"
#include "platform/system_info.h"

namespace vm {
namespace {

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

bool AutostartEntryStarts(const std::string& executablePath) {
  std::ifstream in(AutostartFilePath());
  const std::string wanted = "Exec=" + ExecArgument(executablePath) + " -j";
  for (std::string line; std::getline(in, line);) {
    if (line == wanted) return true;
  }
  return false;
}

void FollowAutoRun(int before, int now, const std::string& executablePath) {
  if ((before == 1) == (now == 1)) return;
  if (now == 1) {
    WriteAutostartEntry(executablePath);
  } else if (AutostartEntryStarts(executablePath)) {
    DeleteAutostartEntry();
  }
}

void EnsureAutostartEntry(int autoRun, const std::string& executablePath) {
  struct stat info {};
  if (autoRun == 1 && lstat(AutostartFilePath().c_str(), &info) != 0) {
    WriteAutostartEntry(executablePath);
  }
}

void ApplySettings(TMainState& state, TStoredSettings stored) {
  // Everything is put together first and swapped in at once, so a connection thread sees
  // either the old settings and list or the new ones.
  TSettings settings;
  settings.Port = stored.Port;
  settings.AutoRun = stored.AutoRun;
  settings.PassFlag = stored.PassFlag;
  settings.Password = std::move(stored.Password);
  settings.ExtraHosts = std::move(stored.ExtraHosts);
  settings.PublishDotFiles = stored.PublishDotFiles;
  settings.ShareModes = std::move(stored.ShareModes);
  settings.KeepUploadNames = stored.KeepUploadNames;
  settings.Language = stored.Language;
  settings.WebDav = stored.WebDav;
  settings.QrSignIn = stored.QrSignIn;
  settings.SignInValidity = stored.SignInValidity;
  settings.BaseURL = MakeBaseURL(state.LocalAddress(), settings.Port);
  state.Replace(std::move(settings), std::move(stored.SharedFolders));
}

bool LoadSettings(TMainState& state) {
  ApplySettings(state, ReadStoredSettings(state.ProgramFolder()));
  return true;
}

}  // namespace vm
