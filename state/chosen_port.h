// A port left to the system: with HTTP_PORT=0 the listener binds whatever port is free, and the
// program names that one from then on. Whoever starts it so (a test, a script) reads the port
// from the address it prints, and there is no port to choose beforehand that another program
// could take meanwhile.
#pragma once

#include "state/main_state.h"

namespace vm {

// When the settings name port 0 and the listener got boundPort, the state's port and base URL
// become that port (the pages show it); the settings file keeps 0. Otherwise nothing changes.
void AdoptChosenPort(TMainState& state, int boundPort);

}  // namespace vm
