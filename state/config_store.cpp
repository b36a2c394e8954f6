#include "state/config_store.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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
  // Everything is read into locals first and swapped in at once, so a connection thread sees
  // either the old settings and list or the new ones.
  TStoredSettings stored = ReadStoredSettings(state.ProgramFolder());
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
  settings.QrSignIn = stored.QrSignIn;
  settings.SignInValidity = stored.SignInValidity;
  settings.BaseURL = MakeBaseURL(state.LocalAddress(), settings.Port);
  const bool autoRun = settings.AutoRun == 1;
  state.Replace(std::move(settings), std::move(stored.SharedFolders));

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
