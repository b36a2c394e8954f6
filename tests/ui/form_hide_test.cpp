// The hidden main window: its menu, what the menu and the double click open, and the close.
#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QMenu>
#include <QTreeWidget>
#include <QtTest>
#include <functional>

#include "desktop/form_hide.h"
#include "desktop/ta_tray_icon.h"
#include "state/config_store.h"
#include "tests/ui/fake_tray.h"
#include "tests/ui/ui_test_folder.h"
#include "ui/form_diag1.h"
#include "ui/form_set.h"

namespace {

// The main window on a test folder with its settings loaded, wired to its settings window.
struct TWiredWindows {
  explicit TWiredWindows(const vm::uitest::TTestFolder& folder)
      : form(folder.ProgramFolder(), new vm::uitest::TFakeTray(true)), formSet(form, diag) {
    form.State().SetProgramFolder(folder.ProgramFolder());
    vm::LoadSettings(form.State());
    form.SetSettingsWindow(&formSet);
  }
  vm::TFormHide form;
  vm::TFormDiag1 diag;
  vm::TFormSet formSet;
};

// A close that does not end the event loop fails the test instead of hanging it.
const int kLoopLimitMilliseconds = 5000;

// Runs start from inside the event loop; false when the loop had to be stopped after the limit.
// The limit's timer lives only as long as this call, so it cannot fire into a later test.
bool LoopEndsByItself(QObject* context, const std::function<void()>& start) {
  bool timedOut = false;
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [&timedOut] {
    timedOut = true;
    QCoreApplication::quit();
  });
  QTimer::singleShot(0, context, start);
  limit.start(kLoopLimitMilliseconds);
  QCoreApplication::exec();
  return !timedOut;
}

}  // namespace

class FormHideTest : public QObject {
  Q_OBJECT

 private slots:
  void menuHoldsExitSettingsAndUrlInThatOrder() {
    vm::TFormHide form;
    QStringList captions;
    for (QAction* action : form.PopupMenu1->actions()) captions << action->text();
    QCOMPARE(captions, QStringList({QStringLiteral("終了(&F)"), QStringLiteral("設定(&S)"),
                                    QStringLiteral("URL(&U)")}));
    QCOMPARE(form.TaTrayIcon1->TipHelp(), QString("Velmarind"));
    QVERIFY(!form.isVisible());
  }

  void menuAndDoubleClickOpenTheOneSettingsWindow() {
    vm::uitest::TTestFolder folder;
    folder.Write("dirlst.ini", "A;;/a/\r\n");
    TWiredWindows windows(folder);
    vm::TFormHide& form = windows.form;
    vm::TFormSet& formSet = windows.formSet;

    form.S1->trigger();
    QVERIFY(formSet.isVisible());
    QCOMPARE(formSet.ListView1->topLevelItemCount(), 1);
    formSet.Button10Click();  // 閉じる hides it; the program goes on
    QVERIFY(!formSet.isVisible());
    emit form.TaTrayIcon1->OnDblClick();
    QVERIFY(formSet.isVisible());
  }

  void exitRunsTheCloseHandlerAndEndsTheLoop() {
    vm::uitest::TTestFolder folder;
    folder.Write("page/index_127.0.0.1.html", "x");
    folder.Write("page/vcom.js", "x");
    vm::TFormHide form(folder.ProgramFolder());
    form.State().SetProgramFolder(folder.ProgramFolder());
    form.State().ReplaceSharedFolders({"A;;/a/"});
    QVERIFY(LoopEndsByItself(&form, [&form] { form.Exit1->trigger(); }));
    QVERIFY(!QFile::exists(folder.File("page/index_127.0.0.1.html")));
    QVERIFY(QFile::exists(folder.File("page/vcom.js")));
    QVERIFY(form.State().SharedFolders()->empty());
    QVERIFY(!form.TaTrayIcon1->IsShown());
  }

  void settingsWindowExitStoresThenEndsTheLoop() {
    vm::uitest::TTestFolder folder;
    folder.Write("page/gohome.html", "x");
    TWiredWindows windows(folder);
    vm::TFormHide& form = windows.form;
    vm::TFormSet& formSet = windows.formSet;
    form.S1->trigger();
    formSet.Edit2->setText("8080");
    QVERIFY(LoopEndsByItself(&formSet, [&formSet] { formSet.Button3->click(); }));
    QVERIFY(folder.Read("velmarind.ini").contains("HTTP_PORT=8080"));
    QVERIFY(!QFile::exists(folder.File("page/gohome.html")));
    QVERIFY(!formSet.isVisible());
    QVERIFY(!form.TaTrayIcon1->IsShown());
  }
};

QTEST_MAIN(FormHideTest)
#include "form_hide_test.moc"
