#include "desktop/desktop_notifier.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace vm {
namespace {

const char kService[] = "org.freedesktop.Notifications";
const char kPath[] = "/org/freedesktop/Notifications";
const char kInterface[] = "org.freedesktop.Notifications";
// The key of a click on the notice itself, and of our one action.
const char kDefaultKey[] = "default";
const char kOpenKey[] = "open-folder";
// How long a notice stays, when the desktop leaves that to us.
const int kNoticeMilliseconds = 8000;

}  // namespace

TDesktopNotifier::TDesktopNotifier(QObject* parent) : QObject(parent) {}

bool TDesktopNotifier::Notify(const QString& title, const QString& text,
                              const QString& actionLabel) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface() ||
      !bus.interface()->isServiceRegistered(QString::fromLatin1(kService))) {
    return false;
  }
  if (!listening_) {
    listening_ = bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                             SLOT(ActionInvoked(uint, QString)));
  }
  QStringList actions;
  if (!actionLabel.isEmpty()) {
    actions << kDefaultKey << actionLabel << kOpenKey << actionLabel;
  }
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  call << QApplication::applicationName() << uint(0) << QStringLiteral("velmarind") << title << text
       << actions << QVariantMap() << kNoticeMilliseconds;
  // Not waited for: a slow service must not hold the user-interface thread.
  lastId_ = 0;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    QDBusPendingReply<uint> reply = *w;
    if (reply.isValid()) lastId_ = reply.value();
    w->deleteLater();
  });
  return true;
}

void TDesktopNotifier::ActionInvoked(uint id, const QString& key) {
  // The service tells every client of every action: only ours of the last notice count.
  if (id == 0 || id != lastId_) return;
  if (key == QLatin1String(kDefaultKey) || key == QLatin1String(kOpenKey)) emit Invoked();
}

}  // namespace vm
