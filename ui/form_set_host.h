// What the settings window needs of the resident main window.
#pragma once

#include <string>
#include <vector>

#include "platform/system_info.h"
#include "state/main_state.h"
#include "state/stored_settings.h"

namespace vm {

class TFormSetHost {
 public:
  virtual ~TFormSetHost() = default;
  // The main window's state: program folder, settings, shared-folder list.
  virtual TMainState& State() = 0;
  // Saves the edited settings and applies them (OK), or does neither and throws: EFCreateError
  // when a file cannot be written, another exception when the settings cannot be applied (a new
  // port that cannot be had). Its message is for the user.
  virtual void StoreSettings(const TStoredSettings& edited) = 0;
  // Why nothing is served, one sentence of system text; empty while serving.
  virtual std::string NotServingReason() const = 0;
  // The main window's URL action (may throw EFCreateError).
  virtual void URLU1Click() = 0;
  // Closes the main window, which ends the program.
  virtual void CloseMainWindow() = 0;
  // This machine's IPv4 addresses now, as the settings window lists their URLs.
  virtual std::vector<std::string> LocalAddresses() const { return FindLocalAddresses(); }
  // Moves the base URL to an address the machine has now (called before the URLs are shown).
  virtual void FollowAddresses() {}
  // The settings in force, which the window shows: the files', or those that could not be saved.
  virtual TStoredSettings SettingsInForce() { return ReadStoredSettings(State().ProgramFolder()); }
};

}  // namespace vm
