// Notices through the desktop's notification service: sent with the action "open the folder",
// and the action (or a click) of our last notice reported, on a session bus of the test's own.
#include "desktop/desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include "desktop/ta_tray_icon.h"

namespace {

// Stands in for the desktop's notification service: records each notice, numbers it.
class TFakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  QStringList Actions;
  int Calls = 0;

 public slots:
  uint Notify(const QString&, uint, const QString&, const QString&, const QString&,
              const QStringList& actions, const QVariantMap&, int) {
    Actions = actions;
    return ++Calls + 100;
  }

 signals:
  void ActionInvoked(uint id, const QString& key);
};

}  // namespace

class DesktopNotifierTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // A bus of our own; the session bus is looked up on first use, which comes after this.
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) QSKIP("no dbus-daemon");
    bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    QVERIFY(bus_.waitForReadyRead(5000));
    address_ = bus_.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_);
  }
  void cleanupTestCase() {
    if (bus_.state() == QProcess::NotRunning) return;
    bus_.terminate();
    bus_.waitForFinished(5000);
  }

  void sendsTheActionAndReportsOnlyItsOwnNotice() {
    vm::TDesktopNotifier notifier;
    // No service on the bus yet: the caller falls back to the tray's balloon.
    QVERIFY(!notifier.Notify("Velmarind", "text", "Open folder"));

    QDBusConnection service = QDBusConnection::connectToBus(QString(address_), "service");
    TFakeNotifications fake;
    QVERIFY(service.registerObject(
        "/org/freedesktop/Notifications", &fake,
        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    QVERIFY(service.registerService("org.freedesktop.Notifications"));
    QSignalSpy invoked(&notifier, &vm::TDesktopNotifier::Invoked);
    QVERIFY(notifier.Notify("Velmarind", "text", "Open folder"));
    QTRY_COMPARE(fake.Calls, 1);
    QCOMPARE(fake.Actions, QStringList({"default", "Open folder", "open-folder", "Open folder"}));
    // The notice's number comes back through the event loop: the action counts once it has.
    QTRY_VERIFY([&] {
      emit fake.ActionInvoked(101, "open-folder");
      return invoked.count() > 0;
    }());
    QTest::qWait(300);  // the signals still on their way arrive
    const int counted = invoked.count();
    emit fake.ActionInvoked(999, "open-folder");  // another program's notice
    emit fake.ActionInvoked(101, "close");        // a key of no action of ours
    emit fake.ActionInvoked(101, "default");      // a click on the notice itself
    QTRY_COMPARE(invoked.count(), counted + 1);
    QTest::qWait(100);
    QCOMPARE(invoked.count(), counted + 1);
    // Without a tray (the offscreen platform has none) the icon's notices went nowhere.
    vm::TTaTrayIcon icon;
    QVERIFY(!icon.HostPresent());
    icon.ShowNotice("Velmarind", "no tray", "Open folder");
    QTRY_COMPARE(fake.Calls, 2);
    QDBusConnection::disconnectFromBus("service");
  }

 private:
  QProcess bus_;
  QByteArray address_;
};

QTEST_MAIN(DesktopNotifierTest)
#include "desktop_notifier_test.moc"
