// The configuration store: "velmarind.ini", "dirlst.ini", the autostart file and LoadSettings.
#pragma once

#include <string>
#include <vector>

#include "state/main_state.h"
#include "state/stored_settings.h"

namespace vm {

// The autostart file: $XDG_CONFIG_HOME/autostart/velmarind.desktop (default ~/.config).
std::string AutostartFilePath();
// Creates it with Exec = executable + " -j"; throws on failure.
void WriteAutostartEntry(const std::string& executablePath);
// Deletes it; its absence is not an error.
void DeleteAutostartEntry();
// True when the autostart file exists and starts executablePath.
bool AutostartEntryStarts(const std::string& executablePath);
// The log-in start after AUTO_RUN went from before to now: written (for this program) when it
// was turned on, deleted when it was turned off and the entry starts this program; untouched
// when AUTO_RUN stayed, so that two copies of the program do not undo each other's choice.
// Throws EFCreateError when the entry cannot be written.
void FollowAutoRun(int before, int now, const std::string& executablePath);

// At start: with AUTO_RUN on and no log-in entry at all, one for this program (a setting written
// by hand, or a run that could not write the entry). An entry that is there, this program's or
// another copy's, stays as it is. Throws EFCreateError when it cannot be written.
void EnsureAutostartEntry(int autoRun, const std::string& executablePath);

// Steps 1 to 8 of LoadSettings on settings already read: they become the state's, with the base
// URL for the state's local address.
void ApplySettings(TMainState& state, TStoredSettings stored);
// LoadSettings: the stored settings of the state's program folder become the state's. The
// log-in start is left alone (FollowAutoRun).
bool LoadSettings(TMainState& state);

}  // namespace vm
