// The desktop start-up: hidden main window, settings window, dialog and tray icon (Qt).
#pragma once

namespace vm {

// Runs the program with its windows and tray icon until the main window closes; returns the
// exit code.
int RunDesktop(int argc, char** argv);

}  // namespace vm
