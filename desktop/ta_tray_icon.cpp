#include "desktop/ta_tray_icon.h"

#include <QApplication>
#include <QMenu>

#include "desktop/desktop_notifier.h"
#include "platform/sjis.h"
#include "ui/qt_text.h"

namespace vm {
namespace {
// The tray's tip holds 127 bytes of text.
const size_t kTipBytes = 127;
// How often the icon checks that its tray host is still there; a host that restarts takes
// longer than this to come back, so the icon docks again within a moment of its return.
const int kHostWatchMilliseconds = 1000;
// How long a notification stays, when the desktop leaves that to us.
const int kNoticeMilliseconds = 8000;
}  // namespace

std::string CutTipText(const std::string& tip) {
  if (tip.size() <= kTipBytes) return tip;
  size_t length = kTipBytes;
  // Cutting after a lead byte would leave half a character.
  if (IsSjisTrailByteAt(tip, length)) --length;
  return tip.substr(0, length);
}

TTaTrayIcon::TTaTrayIcon(QObject* owner) : QObject(owner), tray_(QApplication::windowIcon()) {
  SetTipHelp("TipHelp");
  connect(&tray_, &QSystemTrayIcon::activated, this, &TTaTrayIcon::TrayActivated);
  connect(&tray_, &QSystemTrayIcon::messageClicked, this, &TTaTrayIcon::OnNoticeClick);
  notifier_ = new TDesktopNotifier(this);
  connect(notifier_, &TDesktopNotifier::Invoked, this, &TTaTrayIcon::OnNoticeClick);
  hostPresent_ = QSystemTrayIcon::isSystemTrayAvailable();
  if (!tray_.icon().isNull()) tray_.show();
  connect(&hostWatch_, &QTimer::timeout, this, &TTaTrayIcon::WatchTrayHost);
  hostWatch_.start(kHostWatchMilliseconds);
}

TTaTrayIcon::~TTaTrayIcon() { Remove(); }

void TTaTrayIcon::SetTipHelp(const std::string& tip) {
  tray_.setToolTip(SystemToQString(CutTipText(tip)));
}

void TTaTrayIcon::SetIcon(const QIcon& icon) {
  tray_.setIcon(icon);
  if (!removed_ && !icon.isNull()) tray_.show();
}

void TTaTrayIcon::SetRButtonPopupMenu(QMenu* menu) { tray_.setContextMenu(menu); }

void TTaTrayIcon::Remove() {
  removed_ = true;
  hostWatch_.stop();
  tray_.hide();
}

void TTaTrayIcon::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Trigger) emit OnClick();
  if (reason == QSystemTrayIcon::DoubleClick) emit OnDblClick();
}

void TTaTrayIcon::WatchTrayHost() {
  const bool present = QSystemTrayIcon::isSystemTrayAvailable();
  // A host that appeared (again) has no icon of ours yet: dock it anew.
  if (present && !hostPresent_ && !removed_ && !tray_.icon().isNull()) {
    tray_.hide();
    tray_.show();
  }
  if (present != hostPresent_) {
    hostPresent_ = present;
    emit HostPresenceChanged(present);
  }
}

bool TTaTrayIcon::HostPresent() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TTaTrayIcon::ShowNotice(const QString& title, const QString& text, const QString& action) {
  if (removed_) return;
  // The notification service shows notices with or without a tray; the tray's own balloon
  // needs the tray, and has no button: its text says what a click does.
  if (notifier_->Notify(title, text, action)) return;
  if (!HostPresent()) return;
  const QString balloon =
      action.isEmpty() ? text : text + "\n" + tr("（クリック: %1）").arg(action);
  tray_.showMessage(title, balloon, QSystemTrayIcon::Information, kNoticeMilliseconds);
}

}  // namespace vm
