// The tray icon's tip and the QR code of the base URL.
#include <QtTest>

#include "desktop/ta_tray_icon.h"
#include "ui/qr_code.h"

class TrayIconTest : public QObject {
  Q_OBJECT

 private slots:
  void tipIsCutTo127BytesWithoutSplittingACharacter() {
    QCOMPARE(vm::CutTipText("Velmarind"), std::string("Velmarind"));
    QCOMPARE(vm::CutTipText(std::string(200, 'a')), std::string(127, 'a'));
    // 100 kanji are 200 bytes: 63 whole ones fit, half of the 64th does not.
    std::string kanji;
    for (int i = 0; i < 100; ++i) kanji += "\x95\x5c";
    QCOMPARE(vm::CutTipText(kanji).size(), size_t(126));
    // One ASCII byte first: 63 kanji end exactly at 127 bytes.
    QCOMPARE(vm::CutTipText("a" + kanji).size(), size_t(127));
  }

  void tipShowsAsText() {
    vm::TTaTrayIcon icon;
    icon.SetTipHelp("Velmarind \x95\x5c");
    QCOMPARE(icon.TipHelp(), QStringLiteral("Velmarind 表"));
  }

  void qrCodeHasItsFinderPatternsAndQuietZone() {
    if (!vm::QrCodeAvailable()) QSKIP("built without libqrencode");
    const int module = 3;
    QImage image = vm::MakeQrImage("http://192.168.0.12:8080/velmarind/", module);
    QVERIFY(!image.isNull());
    QCOMPARE(image.width(), image.height());
    const int modules = image.width() / module;
    QVERIFY(modules >= 21 + 8);
    auto dark = [&](int x, int y) {
      return qGray(image.pixel(x * module + module / 2, y * module + module / 2)) < 128;
    };
    // Quiet zone light all around; a finder pattern (dark ring, light ring, dark core) in three
    // corners; the fourth corner has none.
    for (int i = 0; i < modules; ++i) {
      QVERIFY(!dark(i, 0) && !dark(0, i) && !dark(i, modules - 1) && !dark(modules - 1, i));
    }
    const int last = modules - 4 - 7;  // first module of a finder at the far edge
    for (auto [fx, fy] : {std::pair{4, 4}, std::pair{last, 4}, std::pair{4, last}}) {
      QVERIFY(dark(fx, fy) && dark(fx + 6, fy + 6));
      QVERIFY(!dark(fx + 1, fy + 1) && !dark(fx + 5, fy + 5));
      QVERIFY(dark(fx + 3, fy + 3));
    }
    QVERIFY(!(dark(last, last) && dark(last + 6, last + 6) && !dark(last + 1, last + 1) &&
              dark(last + 3, last + 3) && !dark(last + 5, last + 5)));
    QVERIFY(vm::MakeQrImage("", module).isNull());
  }
};

QTEST_MAIN(TrayIconTest)
#include "tray_icon_test.moc"
