// The hidden main window: its menu, what the menu and the double click open, and the close.
#include "desktop/form_hide.h"

#include <sys/stat.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>

#include "desktop/language_switch.h"
#include "desktop/ta_tray_icon.h"
#include "state/config_store.h"
#include "state/ini_file.h"
#include "support/ports.h"
#include "support/scoped_env.h"
#include "tests/ui/fake_tray.h"
#include "tests/ui/ui_test_folder.h"
#include "tests/ui/ui_windows.h"
#include "ui/clients_tab.h"
#include "ui/form_diag1.h"
#include "ui/form_set.h"
#include "ui/qr_code.h"

Q_DECLARE_METATYPE(vm::TLanguageChoice)

namespace {

using vm::uitest::TWindows;

// The Japanese texts (kana, kanji, full-width forms) a person can read on any widget now:
// captions, titles, tips, items, menu entries; the language's own name "日本語" aside.
QStringList JapaneseTexts() {
  QStringList found;
  for (QWidget* widget : QApplication::allWidgets()) {
    QStringList texts = {widget->windowTitle(), widget->toolTip()};
    if (auto* label = qobject_cast<QLabel*>(widget)) texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts << button->text();
    if (auto* box = qobject_cast<QComboBox*>(widget)) {
      for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i) << box->itemData(i, Qt::ToolTipRole).toString();
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
      for (int i = 0; i < tabs->count(); ++i) texts << tabs->tabText(i);
    }
    if (auto* tree = qobject_cast<QTreeWidget*>(widget)) {
      for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        for (int c = 0; c < tree->columnCount(); ++c) texts << (*it)->text(c) << (*it)->toolTip(c);
      }
      for (int c = 0; c < tree->columnCount(); ++c) texts << tree->headerItem()->text(c);
    }
    if (auto* list = qobject_cast<QListWidget*>(widget)) {
      for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text() << list->item(i)->toolTip();
    }
    for (QAction* action : widget->actions()) texts << action->text();
    for (const QString& text : texts) {
      const bool japanese = std::any_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QChar(0x3000) && c <= QChar(0x30FF)) ||
               (c >= QChar(0x4E00) && c <= QChar(0x9FFF)) ||
               (c >= QChar(0xFF00) && c <= QChar(0xFFEF));
      });
      if (japanese && text != QStringLiteral("日本語")) found << text;
    }
  }
  return found;
}

using vmtest::FreePort;
using vmtest::TPortHolder;

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
  // The windows' captions under "自動" must not depend on the locale of whoever runs the test.
  void initTestCase() { QLocale::setDefault(QLocale::c()); }

  // 終了 was the first item, right under the pointer: it is the last, after a separator.
  void menuHoldsSettingsUrlAndLastExit() {
    vm::TFormHide form;
    QStringList captions;
    for (QAction* action : form.PopupMenu1->actions()) captions << action->text();
    QCOMPARE(captions, QStringList({QStringLiteral("設定(&S)"), QStringLiteral("URL(&U)"),
                                    QStringLiteral("QRコード(&Q)"), QString(),
                                    QStringLiteral("終了(&F)")}));
    QCOMPARE(form.TaTrayIcon1->TipHelp(), QString("Velmarind"));
    QVERIFY(!form.isVisible());
  }

  void menuAndDoubleClickOpenTheOneSettingsWindow() {
    vm::uitest::TTestFolder folder;
    folder.Write("dirlst.ini", "A;;/a/\r\n");
    TWindows windows(folder);
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

  void menuListsTheUrlsAndAClickCopiesOne() {
    vm::uitest::TTestFolder folder;
    TWindows windows(folder);
    windows.Create(FreePort());
    vm::TFormHide& form = windows.form;
    QCOMPARE(form.PopupMenu1->actions().mid(0, 2), QList<QAction*>({form.S1, form.URLU1}));
    QCOMPARE(form.PopupMenu1->actions().last(), form.Exit1);
    // A separator and a heading, then the base URL first.
    QVERIFY(form.UrlItems.size() >= 3);
    QAction* first = form.UrlItems[2];
    const QString base = QString::fromStdString(form.State().Settings().BaseURL);
    QCOMPARE(first->text(), base);
    first->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), base);
    // While nothing is served there is nothing to copy.
    form.Core().Server().SetActive(false);
    form.ShowUrls();
    QVERIFY(form.UrlItems.isEmpty());
  }

  void singleClickAndLaterStartsOpenTheSettingsOrEndTheProgram() {
    vm::uitest::TTestFolder folder;
    TWindows windows(folder);
    emit windows.tray->OnClick();
    QVERIFY(windows.formSet.isVisible());
    windows.formSet.Button10Click();
    windows.form.RunStartCommand(vm::TStartCommand::Settings);
    QVERIFY(windows.formSet.isVisible());
    windows.formSet.Button10Click();
    windows.form.RunStartCommand(vm::TStartCommand::IconOnly);
    QVERIFY(!windows.formSet.isVisible());
    QVERIFY(LoopEndsByItself(&windows.form,
                             [&] { windows.form.RunStartCommand(vm::TStartCommand::Quit); }));
  }

  void languageFollowsTheChoiceAndTheLocale_data() {
    QTest::addColumn<vm::TLanguageChoice>("choice");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("english");
    using vm::TLanguageChoice;
    QTest::newRow("auto, English locale") << TLanguageChoice::Auto << "en_US" << true;
    QTest::newRow("auto, German locale") << TLanguageChoice::Auto << "de_DE" << true;
    QTest::newRow("auto, Japanese locale") << TLanguageChoice::Auto << "ja_JP" << false;
    QTest::newRow("auto, no locale (C)") << TLanguageChoice::Auto << "C" << false;
    QTest::newRow("Japanese under English") << TLanguageChoice::Japanese << "en_US" << false;
    QTest::newRow("English under Japanese") << TLanguageChoice::English << "ja_JP" << true;
  }
  void languageFollowsTheChoiceAndTheLocale() {
    QFETCH(vm::TLanguageChoice, choice);
    QFETCH(QString, locale);
    QFETCH(bool, english);
    QCOMPARE(vm::ChoosesEnglish(choice, QLocale(locale)), english);
  }

  // The designed Japanese captions come back exactly after a switch to English and back.
  void windowsMenuNoticesAndMessagesSwitchLanguageOnOk() {
    if (!vm::EnglishAvailable()) QSKIP("built without lrelease: Japanese only");
    vm::uitest::TTestFolder folder;
    folder.Write("velmarind.ini", "[COMMON]\r\nLANGUAGE=en\r\n");
    TWindows windows(folder);
    TPortHolder taken;
    windows.Create(taken.Port());
    vm::TFormHide& form = windows.form;
    vm::TFormSet& formSet = windows.formSet;
    // Told in English from the start: the core's message too.
    QCOMPARE(windows.messages.size(), 1);
    QVERIFY2(windows.messages[0].contains(QString("Port %1 is in use").arg(taken.Port())),
             qPrintable(windows.messages[0]));
    // Windows retranslate themselves from the event loop.
    QTRY_COMPARE(form.Exit1->text(), QString("&Quit"));
    QVERIFY(windows.tray->TipHelp().startsWith("Velmarind: not sharing\nPort "));
    form.S1->trigger();
    QCOMPARE(formSet.windowTitle(), QString("Velmarind Settings"));
    QCOMPARE(formSet.PageControl1->tabText(3), QString("Connections"));
    QCOMPARE(formSet.ClientsTab->RevokeButton->text(), QString("Revoke all logins"));
    QVERIFY(formSet.Label5->text().startsWith("Not sharing: Port "));
    vm::TShareChange change;
    change.FolderName = "Share";
    change.FileCount = 2;
    change.ClientAddress = "10.0.0.7";
    form.ShowShareNotice(change);
    QCOMPARE(windows.tray->Notices.last(),
             QString("Velmarind: 2 files arrived in \"Share\" (from 10.0.0.7)"));
    QCOMPARE(windows.tray->Actions.last(), QString("Open folder"));

    formSet.ComboLanguage->setCurrentIndex(1);  // 日本語
    formSet.Edit2->setText(QString::number(FreePort()));
    QVERIFY(formSet.Button1Click());
    QTRY_COMPARE(form.Exit1->text(), QStringLiteral("終了(&F)"));
    QCOMPARE(form.S1->text(), QStringLiteral("設定(&S)"));
    QCOMPARE(formSet.windowTitle(), QStringLiteral("Velmarind 設定"));
    QCOMPARE(formSet.Button10->text(), QStringLiteral("閉じる"));
    QCOMPARE(windows.diag.windowTitle(), QStringLiteral("選択"));
    QVERIFY(folder.Read("velmarind.ini").contains("LANGUAGE=ja"));
  }

  // In English each share's permission choices stayed Japanese (translated under another
  // context than the one they were marked with).
  void everyTextOfEveryWindowIsEnglish() {
    if (!vm::EnglishAvailable()) QSKIP("built without lrelease: Japanese only");
    vm::uitest::TTestFolder folder;
    folder.Write("velmarind.ini", "[COMMON]\r\nLANGUAGE=en\r\nPASS_FLG=1\r\nPASSWORD=61\r\n");
    folder.Write("dirlst.ini", "Share;;" + QByteArray::fromStdString(folder.Folder("share")) +
                                   "/\r\nGone;;/nonexistent/gone/\r\n");
    TWindows windows(folder);
    windows.Create(FreePort());
    QTRY_COMPARE(windows.form.Exit1->text(), QString("&Quit"));
    auto transfer = windows.form.State().Clients().BeginTransfer(
        "10.0.0.7", vm::TTransferKind::Download, "a.bin", 100);
    windows.form.S1->trigger();
    windows.formSet.ClientsTab->Refresh();
    windows.diag.show();
    emit windows.form.PopupMenu1->aboutToShow();
    QStringList found = JapaneseTexts();
    // The question before edits are lost, as the window asks it by itself.
    vm::TFormSet own(windows.form, windows.diag);
    own.show();
    own.Edit3->setText("edited.lan");
    QTimer::singleShot(0, [&found] {
      found << JapaneseTexts();
      if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    own.close();
    QVERIFY2(found.isEmpty(), qPrintable(found.join("\n")));
  }

  // A laptop that started before its network named 127.0.0.1 in the link, the tip, the QR code
  // and gohome.html for good, and kept a vanished address first.
  void addressesFollowTheNetwork() {
    const struct {
      std::vector<std::string> addresses;
      const char* named;
    } rows[] = {
        {{}, "127.0.0.1"},  // no network yet
        {{"10.0.0.5"}, "10.0.0.5"},
        {{"10.0.0.6", "10.0.0.5"}, "10.0.0.5"},  // the address given out stays while it lasts
        {{"10.0.0.6"}, "10.0.0.6"},
    };
    std::atomic<size_t> row{0};  // the address watch reads on its own thread
    vm::uitest::TTestFolder folder;
    TWindows windows(folder);
    windows.form.Core().SetAddressSource([&] { return rows[row].addresses; });
    const int port = FreePort();
    windows.Create(port);
    windows.form.S1->trigger();
    for (; row < std::size(rows); ++row) {
      emit windows.form.PopupMenu1->aboutToShow();  // opening the menu looks again
      const QString url = QString("http://%1:%2/velmarind/").arg(rows[row].named).arg(port);
      QCOMPARE(windows.tray->TipHelp(), "Velmarind\n" + url);
      QCOMPARE(windows.formSet.Label5->text(), url);
      QCOMPARE(windows.form.UrlItems.at(2)->text(), url);
      QFile page(QString::fromStdString(windows.form.Core().WriteGoHomePage()));
      QVERIFY(page.open(QIODevice::ReadOnly) && page.readAll().contains(url.toUtf8()));
      // No code of this machine's own loopback for a phone: the window says why instead.
      const bool none = rows[row].addresses.empty();
      QCOMPARE(windows.formSet.QrCode->pixmap().isNull(), none || !vm::QrCodeAvailable());
      const QList<QLabel*> labels = windows.formSet.findChildren<QLabel*>();
      QCOMPARE(std::any_of(labels.begin(), labels.end(),
                           [](QLabel* label) {
                             return !label->isHidden() &&
                                    label->text().contains(QStringLiteral("ネットワークに"));
                           }),
               none);
    }
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
    TWindows windows(folder);
    windows.Create(FreePort());
    vm::TFormHide& form = windows.form;
    vm::TFormSet& formSet = windows.formSet;
    form.S1->trigger();
    const int port = FreePort();
    formSet.Edit2->setText(QString::number(port));
    QVERIFY(LoopEndsByItself(&formSet, [&formSet] { formSet.Button3->click(); }));
    QVERIFY(folder.Read("velmarind.ini").contains("HTTP_PORT=" + QByteArray::number(port)));
    QVERIFY(!QFile::exists(folder.File("page/gohome.html")));
    QVERIFY(!formSet.isVisible());
    QVERIFY(!form.TaTrayIcon1->IsShown());
  }

  // A first start with its port taken showed an address as if it served; a port change then
  // only took effect at the next start.
  void startFailureIsToldAndAPortChangeServesAtOnce() {
    vm::uitest::TTestFolder folder;
    TWindows windows(folder);
    TPortHolder taken;
    windows.Create(taken.Port());
    QCOMPARE(windows.messages.size(), 1);
    QVERIFY2(windows.messages[0].contains(
                 QStringLiteral("ポート %1 は他のプログラム").arg(taken.Port())),
             qPrintable(windows.messages[0]));
    QVERIFY(windows.messages[0].contains(QStringLiteral("「システム」タブ")));
    QVERIFY(windows.tray->TipHelp().startsWith(QStringLiteral("Velmarind: 公開停止中\nポート")));
    windows.form.S1->trigger();
    QVERIFY(windows.formSet.Label5->text().startsWith(QStringLiteral("公開停止中")));

    const int port = FreePort();
    windows.formSet.Edit2->setText(QString::number(port));
    QVERIFY(windows.formSet.Button1Click());
    QCOMPARE(windows.messages.size(), 1);
    QVERIFY(windows.form.Core().Server().Active());
    const QString url = QString::fromStdString(windows.form.State().Settings().BaseURL);
    QVERIFY(url.endsWith(QStringLiteral(":%1/velmarind/").arg(port)));
    QCOMPARE(windows.tray->TipHelp(), "Velmarind\n" + url);
    windows.form.S1->trigger();
    QCOMPARE(windows.formSet.Label5->text(), url);
  }

  // A minimised settings window stayed minimised when the tray asked for it.
  void minimisedSettingsWindowIsRestoredWithItsEdits() {
    vm::uitest::TTestFolder folder;
    TWindows windows(folder);
    windows.form.S1->trigger();
    windows.formSet.Edit3->setText("typed.lan");
    windows.formSet.showMinimized();
    QVERIFY(windows.formSet.isMinimized());
    windows.form.S1->trigger();
    QVERIFY(windows.formSet.isVisible());
    QVERIFY(!windows.formSet.isMinimized());
    QCOMPARE(windows.formSet.Edit3->text(), QString("typed.lan"));
  }

  // The tray's "終了" dropped the open window's edits without a word.
  void trayExitAsksAboutUnsavedEdits() {
    using TChoice = vm::TFormHide::TExitChoice;
    struct Row {
      const char* label;
      TChoice choice;
      bool ends;
      bool saved;
    } rows[] = {
        {"cancel", TChoice::Cancel, false, false},
        {"discard", TChoice::Discard, true, false},
        {"save", TChoice::Save, true, true},
    };
    for (const Row& row : rows) {
      vm::uitest::TTestFolder folder;
      TWindows windows(folder);
      windows.Create(FreePort());
      int asked = 0;
      windows.form.SetExitAsker([&](QWidget*) {
        ++asked;
        return row.choice;
      });
      windows.form.S1->trigger();
      windows.formSet.Edit3->setText("edited.lan");
      const bool ended = LoopEndsByItself(&windows.form, [&] {
        windows.form.Exit1->trigger();
        // Once what the exit set going has run, a cancelled exit leaves the loop to the test.
        if (!row.ends) QTimer::singleShot(0, [] { QCoreApplication::quit(); });
      });
      QVERIFY2(ended, row.label);
      QCOMPARE(asked, 1);
      QCOMPARE(windows.form.Core().Server().Active(), !row.ends);
      QCOMPARE(folder.Read("velmarind.ini").contains("HOSTS=edited.lan"), row.saved);
    }
  }

  void openersThatFailAreToldAndANoticeClickOpensItsFolder() {
    vm::uitest::TTestFolder folder;
    const QString bin = folder.FolderText("bin");
    const QString record = bin + "/opened.txt";
    folder.Write("../bin/xdg-open",
                 "#!/bin/sh\ncase \"$1\" in *.html) exit 3;; esac\nprintf '%s' \"$1\" > " +
                     record.toUtf8() + "\n");
    chmod((bin + "/xdg-open").toUtf8().constData(), 0755);
    std::optional<vmtest::TScopedEnv> path(std::in_place, "PATH",
                                           bin.toStdString() + ":/usr/bin:/bin");
    TWindows windows(folder);
    windows.Create(FreePort());
    const QString url = QString::fromStdString(windows.form.State().Settings().BaseURL);
    windows.form.URLU1->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(windows.messages.size(), 1, 5000);
    QVERIFY2(windows.messages[0].contains(url) && windows.messages[0].contains("xdg-open"),
             qPrintable(windows.messages[0]));

    const QString share = folder.FolderText("share") + "/";
    windows.form.State().ReplaceSharedFolders({"Share;;" + share.toStdString()});
    vm::TShareChange change;
    change.FolderName = "Share";
    change.FileCount = 1;
    windows.form.ShowShareNotice(change);
    QCOMPARE(windows.tray->Actions.last(), QStringLiteral("フォルダを開く"));
    emit windows.tray->OnNoticeClick();
    QTRY_COMPARE_WITH_TIMEOUT(folder.Read("../bin/opened.txt"), share.toUtf8(), 5000);

    path.emplace("PATH", folder.Folder("empty"));
    windows.form.URLU1->trigger();
    QCOMPARE(windows.messages.size(), 2);
    QVERIFY(windows.messages[1].contains(QStringLiteral("見つかりません")));
  }
};

QTEST_MAIN(FormHideTest)
#include "form_hide_test.moc"
