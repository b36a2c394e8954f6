// The configuration store: "velmarind.ini", "dirlst.ini", the autostart file and LoadSettings.
#pragma once

#include <string>
#include <vector>

#include "state/ini_file.h"
#include "state/main_state.h"

namespace vm {

// The configuration files in the program folder, and the section of the settings file.
inline constexpr char kSettingsFile[] = "velmarind.ini";
inline constexpr char kSharedFolderFile[] = "dirlst.ini";
inline constexpr char kSettingsSection[] = "COMMON";
// Keys of the settings file beyond the four of the design: host names the server also answers
// under (comma-separated), and whether names starting with "." are published ("1").
inline constexpr char kExtraHostsKey[] = "HOSTS";
inline constexpr char kPublishDotFilesKey[] = "PUBLISH_DOT_FILES";
// The port when none is configured, or the configured text is not a whole number.
inline constexpr int kDefaultPort = 80;

// Reads "dirlst.ini": one entry per line (CR LF, lone CR or LF end a line; a zero byte ends
// the text). A missing file gives an empty list.
std::vector<std::string> ReadSharedFolderFile(const std::string& path);
// Rewrites "dirlst.ini" whole: each entry followed by CR LF.
void WriteSharedFolderFile(const std::string& path, const std::vector<std::string>& entries);

// Base URL from the local address and the port.
std::string MakeBaseURL(const std::string& localAddress, int port);

// The autostart file: $XDG_CONFIG_HOME/autostart/velmarind.desktop (default ~/.config).
std::string AutostartFilePath();
// Creates it with Exec = executable + " -j"; throws on failure.
void WriteAutostartEntry(const std::string& executablePath);
// Deletes it; its absence is not an error.
void DeleteAutostartEntry();

// LoadSettings in its nine steps, on the state's program folder.
bool LoadSettings(TMainState& state);

}  // namespace vm
