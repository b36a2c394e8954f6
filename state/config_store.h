// The configuration store: "velmarind.ini", "dirlst.ini", the autostart file and LoadSettings.
#pragma once

#include <string>
#include <vector>

#include "state/main_state.h"
#include "state/stored_settings.h"

namespace vm {

// Base URL from the local address and the port.
std::string MakeBaseURL(const std::string& localAddress, int port);

// The autostart file: $XDG_CONFIG_HOME/autostart/velmarind.desktop (default ~/.config).
std::string AutostartFilePath();
// Creates it with Exec = executable + " -j"; throws on failure.
void WriteAutostartEntry(const std::string& executablePath);
// Deletes it; its absence is not an error.
void DeleteAutostartEntry();

// LoadSettings in its nine steps, on the state's program folder: the stored settings become the
// state's, and the autostart file follows AUTO_RUN.
bool LoadSettings(TMainState& state);

}  // namespace vm
