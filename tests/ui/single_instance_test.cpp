// One desktop instance per user: what a start asks for, the claim on the instance (a socket a
// crashed run left does not block it), and a later start's command arriving.
#include "desktop/single_instance.h"

#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <thread>

using vm::TInstanceChannel;
using vm::TStartCommand;

Q_DECLARE_METATYPE(vm::TStartCommand)

class SingleInstanceTest : public QObject {
  Q_OBJECT

 private slots:
  void commandFollowsTheArguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<TStartCommand>("command");
    QTest::newRow("none: the settings window") << QStringList() << TStartCommand::ShowSettings;
    QTest::newRow("the log-in start") << QStringList{"-j"} << TStartCommand::IconOnly;
    QTest::newRow("any other argument") << QStringList{"x"} << TStartCommand::IconOnly;
    QTest::newRow("settings action") << QStringList{"--settings"} << TStartCommand::Settings;
    QTest::newRow("open-url action") << QStringList{"--open-url"} << TStartCommand::OpenUrl;
    QTest::newRow("quit action, after another")
        << QStringList{"-j", "--quit"} << TStartCommand::Quit;
  }
  void commandFollowsTheArguments() {
    QFETCH(QStringList, arguments);
    QFETCH(TStartCommand, command);
    std::vector<QByteArray> bytes{"velmarind"};
    for (const QString& argument : arguments) bytes.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& b : bytes) argv.push_back(b.data());
    QCOMPARE(vm::StartCommandOf(static_cast<int>(argv.size()), argv.data()), command);
  }

  // A run killed without its clean-up left its socket file behind.
  void aLeftSocketDoesNotBlockTheClaimWhichIsRefusedWhileHeld() {
    QTemporaryDir folder;
    QFile left(folder.path() + "/velmarind.socket");
    QVERIFY(left.open(QIODevice::WriteOnly));
    left.close();
    TInstanceChannel first(folder.path());
    QVERIFY(first.Claim());
    QLocalSocket probe;
    probe.connectToServer(folder.path() + "/velmarind.socket");
    QVERIFY(probe.waitForConnected(1000));
    TInstanceChannel second(folder.path());
    QVERIFY(!second.Claim());
  }

  void aLaterStartsCommandArrivesAndIsAcknowledged() {
    QTemporaryDir folder;
    TInstanceChannel instance(folder.path());
    QVERIFY(instance.Claim());
    QSignalSpy received(&instance, &TInstanceChannel::CommandReceived);
    std::atomic<bool> done = false;
    bool forwarded = false;
    // The later start blocks on its socket; the instance answers from this thread's event loop.
    std::thread later([&] {
      TInstanceChannel channel(folder.path());
      forwarded = channel.Forward(TStartCommand::OpenUrl);
      done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    later.join();
    QVERIFY(forwarded);
    QCOMPARE(received.count(), 1);
    QCOMPARE(received[0][0].value<TStartCommand>(), TStartCommand::OpenUrl);
  }
};

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
