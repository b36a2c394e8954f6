// Start-up: with a display the desktop program (windows and tray icon), without one the
// headless server that runs until SIGTERM or SIGINT.
#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "http/descriptor_limit.h"
#include "platform/fs_names.h"
#include "server/form_hide_core.h"
#include "state/chosen_port.h"

#ifdef VELMARIND_DESKTOP
#include "desktop/desktop_main.h"
#endif

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

// Messages are system texts (Shift_JIS); the terminal reads UTF-8.
std::string ForTerminal(const std::string& message) {
  return vm::ShiftJisToUtf8Strict(message).value_or(message);
}

int RunHeadless() {
  // Blocked before any thread starts, so every thread inherits the mask and only sigwait below
  // receives the stop signals.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  vm::TFormHideCore core;
  core.EnableAnnouncing();
  try {
    core.FormCreate();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", ForTerminal(e.what()).c_str());
    return EXIT_FAILURE;
  }
  // A folder that cannot be written still serves what it can; the warning goes with it.
  for (const std::string& problem : {core.NotServingReason(), core.FolderProblem()}) {
    if (!problem.empty()) std::fprintf(stderr, "%s\n", ForTerminal(problem).c_str());
  }
  vm::AdoptChosenPort(core.State(), core.Server().BoundPort());
  std::printf("%s\n", core.State().Settings().BaseURL.c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stopSignals, &received);
  core.FormClose();
  return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  // A client that goes away mid-answer must fail only its own write, not end the program.
  std::signal(SIGPIPE, SIG_IGN);
  // Each open connection holds a descriptor; the common soft limit of 1024 would cap them early.
  vm::RaiseDescriptorLimit();
  // The menu entry's "end" action ends a running desktop program; it starts nothing.
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--quit" && !HasDisplay()) return EXIT_SUCCESS;
  }
  if (!HasDisplay()) return RunHeadless();
#ifdef VELMARIND_DESKTOP
  return vm::RunDesktop(argc, argv);
#else
  (void)argc;
  (void)argv;
  return RunHeadless();
#endif
}
