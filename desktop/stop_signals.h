// SIGTERM and SIGINT (a log-out, a kill) close the main window on the user-interface thread, so
// that the close handling runs as it does for the menu's "終了".
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace vm {

class TStopSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; onStop runs in the event loop after a signal arrived.
  explicit TStopSignals(std::function<void()> onStop, QObject* parent = nullptr);
  ~TStopSignals() override;  // restores the default handlers

 private:
  std::function<void()> onStop_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace vm
