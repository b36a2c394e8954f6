#include "desktop/stop_signals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace vm {
namespace {

// A signal handler may only write to a descriptor: the byte wakes the event loop, which does the
// real work. One process has one set of handlers, so the pair is process-wide.
int stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] ssize_t written = write(stopPipe[1], &byte, 1);
  errno = saved;
}

void SetHandler(int signalNumber, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signalNumber, &action, nullptr);
}

}  // namespace

TStopSignals::TStopSignals(std::function<void()> onStop, QObject* parent)
    : QObject(parent), onStop_(std::move(onStop)) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stopPipe) != 0) return;
  notifier_ = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char byte;
    [[maybe_unused]] ssize_t got = read(stopPipe[0], &byte, 1);
    if (onStop_) onStop_();
  });
  SetHandler(SIGTERM, OnStopSignal);
  SetHandler(SIGINT, OnStopSignal);
}

TStopSignals::~TStopSignals() {
  SetHandler(SIGTERM, SIG_DFL);
  SetHandler(SIGINT, SIG_DFL);
  delete notifier_;
  for (int& fd : stopPipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

}  // namespace vm
