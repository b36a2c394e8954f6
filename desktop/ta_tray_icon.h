// The notification-area icon: tip, popup menu on a right click, double-click event, and the icon
// docked again when the tray host comes back after a restart.
#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <string>

class QMenu;

namespace vm {

class TDesktopNotifier;

class TTaTrayIcon : public QObject {
  Q_OBJECT

 public:
  // Shows the icon at once (the application's icon) when a tray host is there.
  explicit TTaTrayIcon(QObject* owner = nullptr);
  ~TTaTrayIcon() override;  // removes the icon

  // The tip, a system text cut to the tray's 127 bytes without splitting a character.
  void SetTipHelp(const std::string& tip);
  QString TipHelp() const { return tray_.toolTip(); }
  void SetIcon(const QIcon& icon);
  // The menu that a right click opens at the pointer.
  void SetRButtonPopupMenu(QMenu* menu);
  // Removes the icon for good (program end).
  void Remove();
  bool IsShown() const { return tray_.isVisible(); }
  // True while a tray host is there to hold the icon (asked now: the watch that reports
  // changes looks only once a second).
  virtual bool HostPresent() const;
  // Shows a notice through the desktop's notification service, with an action button labelled
  // action (choosing it counts as a click on the notice), with or without a tray; without such
  // a service, as the tray's balloon (which says what a click does), nothing without a tray.
  virtual void ShowNotice(const QString& title, const QString& text,
                          const QString& action = QString());

 signals:
  // A left click on the icon (also the first click of a double click).
  void OnClick();
  // A left double click on the icon.
  void OnDblClick();
  // A click on the notice last shown.
  void OnNoticeClick();
  // The tray host came or went.
  void HostPresenceChanged(bool present);

 private:
  void TrayActivated(QSystemTrayIcon::ActivationReason reason);
  void WatchTrayHost();

  QSystemTrayIcon tray_;
  TDesktopNotifier* notifier_ = nullptr;  // a child
  QTimer hostWatch_;
  bool hostPresent_ = false;
  bool removed_ = false;
};

// The tip as the tray holds it: at most 127 bytes of system text, cut before a character that
// would not fit whole.
std::string CutTipText(const std::string& tip);

}  // namespace vm
