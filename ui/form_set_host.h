// What the settings window needs of the resident main window.
#pragma once

#include <string>

#include "state/main_state.h"

namespace vm {

class TFormSetHost {
 public:
  virtual ~TFormSetHost() = default;
  // The main window's state: program folder, settings, shared-folder list.
  virtual TMainState& State() = 0;
  // Full path of the executable, for the autostart entry.
  virtual std::string ExecutablePath() const = 0;
  // The main window's URL action (may throw EFCreateError).
  virtual void URLU1Click() = 0;
  // Closes the main window, which ends the program.
  virtual void CloseMainWindow() = 0;
};

}  // namespace vm
