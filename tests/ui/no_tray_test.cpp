// Desktops without a tray: the settings window stays the way into the program. And the notices
// that tell the person at the desktop what browsers changed in the shares.
#include <QLabel>
#include <QLineEdit>
#include <QtTest>
#include <thread>

#include "tests/ui/ui_windows.h"
#include "web/sjis_texts.h"

namespace {

using vm::uitest::TWindows;

vm::TShareChange Upload(int count) {
  vm::TShareChange change;
  change.Kind = vm::TShareChange::TKind::Upload;
  change.FolderName = vm::Sjis("写真");
  change.FileCount = count;
  change.ClientAddress = "192.168.0.30";
  return change;
}

}  // namespace

class NoTrayTest : public QObject {
  Q_OBJECT

 private slots:
  // The windows' captions under "自動" must not depend on the locale of whoever runs the test.
  void initTestCase() { QLocale::setDefault(QLocale::c()); }

  void withoutTrayTheWindowOpensEvenWhenNotAsked() {
    vm::uitest::TTestFolder folder;
    TWindows windows(folder, false);
    windows.form.OpenSettingsAtStart(false);  // started with "-j"
    QVERIFY(windows.formSet.isVisible());
    QVERIFY(windows.formSet.KeepsReachable());
    QVERIFY(!windows.formSet.StatusLine->isHidden());
    QVERIFY(windows.formSet.StatusLine->text().contains(QStringLiteral("最小化")));
  }

  void withTrayTheWindowOpensOnlyWhenAsked() {
    vm::uitest::TTestFolder folder;
    TWindows windows(folder, true);
    windows.form.OpenSettingsAtStart(false);
    QVERIFY(!windows.formSet.isVisible());
    QVERIFY(windows.formSet.StatusLine->isHidden());
    windows.form.OpenSettingsAtStart(true);
    QVERIFY(windows.formSet.isVisible());
  }

  void withoutTrayClosingMinimisesAndForgetsUnsavedInput() {
    vm::uitest::TTestFolder folder;
    folder.Write("velmarind.ini", "[COMMON]\r\nHTTP_PORT=8080\r\n");
    TWindows windows(folder, false);
    vm::TFormSet& formSet = windows.formSet;
    windows.form.OpenSettingsAtStart(false);

    formSet.Edit2->setText("9999");
    formSet.Button2Click();  // Cancel
    QVERIFY(formSet.isVisible());
    QVERIFY(formSet.isMinimized());
    QCOMPARE(formSet.Edit2->text(), QString("8080"));  // a restore shows the stored values

    formSet.showNormal();
    QVERIFY(!formSet.close());  // the window's own close box
    QVERIFY(formSet.isVisible());
    QVERIFY(formSet.isMinimized());
    formSet.showNormal();
    formSet.Button10Click();  // 閉じる
    QVERIFY(formSet.isVisible());
    QVERIFY(formSet.isMinimized());
  }

  void trayAppearingLaterRestoresHiding() {
    vm::uitest::TTestFolder folder;
    TWindows windows(folder, false);
    windows.form.OpenSettingsAtStart(false);
    windows.tray->SetPresent(true);
    QVERIFY(!windows.formSet.KeepsReachable());
    QVERIFY(windows.formSet.StatusLine->isHidden());
    windows.formSet.Button10Click();
    QVERIFY(!windows.formSet.isVisible());

    windows.tray->SetPresent(false);  // and gone again
    windows.form.S1->trigger();
    windows.formSet.Button10Click();
    QVERIFY(windows.formSet.isVisible());
  }

  void uploadsAndNewTextsAreNoticed() {
    vm::uitest::TTestFolder folder;
    TWindows windows(folder, true);
    windows.form.ShowShareNotice(Upload(3));
    vm::TShareChange text;
    text.Kind = vm::TShareChange::TKind::NewText;
    text.FolderName = "Docs";
    text.FileName = vm::Sjis("メモ.txt");
    text.FileCount = 1;
    text.ClientAddress = "127.0.0.2";
    windows.form.ShowShareNotice(text);
    QCOMPARE(windows.tray->Notices,
             QStringList({QStringLiteral("Velmarind: 「写真」に 3 個のファイルが届きました"
                                         "（192.168.0.30 から）"),
                          QStringLiteral("Velmarind: 「Docs」にテキストファイル「メモ.txt」が"
                                         "作られました（127.0.0.2 から）")}));
  }

  void namesCannotBringMarkupIntoANotice() {
    vm::uitest::TTestFolder folder;
    TWindows windows(folder, true);
    vm::TShareChange text;
    text.Kind = vm::TShareChange::TKind::NewText;
    text.FolderName = "A&B";
    text.FileName = "<a href=x>y</a>.txt";
    text.ClientAddress = "127.0.0.2";
    windows.form.ShowShareNotice(text);
    QCOMPARE(windows.tray->Notices,
             QStringList({QStringLiteral("Velmarind: 「A＆B」にテキストファイル「＜a href=x＞y＜/a＞"
                                         ".txt」が作られました（127.0.0.2 から）")}));
  }

  void changesFromConnectionThreadsReachTheTray() {
    vm::uitest::TTestFolder folder;
    TWindows windows(folder, true);
    std::thread connection([&] { windows.form.State().NotifyShareChange(Upload(1)); });
    connection.join();
    QTRY_COMPARE(windows.tray->Notices.size(), 1);
    QVERIFY(windows.tray->Notices[0].contains(QStringLiteral("1 個のファイル")));
  }

  // Without a tray a running notification service got no notices: the icon decides whether
  // a service or its balloon shows one, so every notice goes to it.
  void withoutTrayNoticesStillGoToTheIcon() {
    vm::uitest::TTestFolder folder;
    TWindows windows(folder, false);
    windows.form.ShowShareNotice(Upload(2));
    QCOMPARE(windows.tray->Notices.size(), 1);
  }
};

QTEST_MAIN(NoTrayTest)
#include "no_tray_test.moc"
