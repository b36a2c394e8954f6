// Notices through the desktop's notification service (org.freedesktop.Notifications on the
// session bus), with an action button; where the session has no such service, nothing is sent
// and the caller falls back to the tray's own balloon.
#pragma once

#include <QObject>
#include <QString>

namespace vm {

class TDesktopNotifier : public QObject {
  Q_OBJECT

 public:
  explicit TDesktopNotifier(QObject* parent = nullptr);

  // Sends a notice with one action labelled actionLabel (none when empty); false when the
  // session has no notification service.
  bool Notify(const QString& title, const QString& text, const QString& actionLabel);

 signals:
  // The action of the last notice was chosen, or the notice itself was clicked.
  void Invoked();

 private slots:
  void ActionInvoked(uint id, const QString& key);

 private:
  uint lastId_ = 0;  // the service's number of the last notice sent; 0 before the answer
  bool listening_ = false;
};

}  // namespace vm
