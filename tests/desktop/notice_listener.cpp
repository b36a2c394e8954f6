// A notification service for the desktop test: owns org.freedesktop.Notifications on the session
// bus it is started on, and prints one line per notice ("title: text") to standard output.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QTextStream>
#include <QVariantMap>

class TNoticeListener : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public slots:
  uint Notify(const QString&, uint, const QString&, const QString& title, const QString& text,
              const QStringList&, const QVariantMap&, int) {
    QTextStream(stdout) << title << ": " << QString(text).replace('\n', ' ') << Qt::endl;
    return ++count_;
  }
  QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

 private:
  uint count_ = 0;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  TNoticeListener listener;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &listener,
                          QDBusConnection::ExportAllSlots) ||
      !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
    return 1;
  }
  QTextStream(stdout) << "listening" << Qt::endl;
  return app.exec();
}

#include "notice_listener.moc"
