// The boundary between system texts and widget texts.
#include <QtTest>

#include "platform/exception.h"
#include "platform/fs_names.h"
#include "ui/qt_text.h"

class QtTextTest : public QObject {
  Q_OBJECT

 private slots:
  void systemTextsRoundTripThroughWidgets_data() {
    QTest::addColumn<QByteArray>("system");
    QTest::addColumn<QString>("shown");
    QTest::newRow("ASCII") << QByteArray("/srv/photos/") << QString("/srv/photos/");
    QTest::newRow("Shift_JIS kanji") << QByteArray("/srv/\x95\x5c/\x8e\xca\x90\x5e")
                                     << QStringLiteral("/srv/表/写真");
    QTest::newRow("kept as UTF-8") << QByteArray("Vid\xc3\xa9os") << QStringLiteral("Vidéos");
  }
  void systemTextsRoundTripThroughWidgets() {
    QFETCH(QByteArray, system);
    QFETCH(QString, shown);
    QCOMPARE(vm::SystemToQString(system.toStdString()), shown);
    QCOMPARE(QByteArray::fromStdString(vm::QStringToSystem(shown)), system);
  }

  void messageShowsAQuotedPathKeptAsUtf8() {
    // A program folder whose name CP932 cannot hold showed as half-width katakana in the
    // message box: the whole message was decoded as Shift_JIS.
    const std::string page = "/tmp/jos\xc3\xa9/page/gohome.html";
    QCOMPARE(vm::MessageToQString(vm::EFCreateError(page).Message()),
             QStringLiteral("ファイル /tmp/josé/page/gohome.html を作成できません"));
    QCOMPARE(vm::MessageToQString(vm::EFCreateError("/tmp/\x95\x5c/x.html").Message()),
             QStringLiteral("ファイル /tmp/表/x.html を作成できません"));
  }

  void trimmingKeepsAFullWidthSpace() {
    QCOMPARE(vm::TrimControls(QStringLiteral("\t A\u3000 \r\n")), QStringLiteral("A\u3000"));
    QCOMPARE(vm::WithFinalSlash(""), std::string(""));
    QCOMPARE(vm::WithFinalSlash("/a"), std::string("/a/"));
  }
};

QTEST_MAIN(QtTextTest)
#include "qt_text_test.moc"
