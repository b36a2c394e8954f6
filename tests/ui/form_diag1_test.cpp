// The shared-folder dialog: the picked path's final "/", and how the dialog may be closed.
#include "ui/form_diag1.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "tests/ui/ui_test_folder.h"

using vm::TFormDiag1;

namespace {

// A dialog whose refusals are collected instead of shown.
struct TCheckedDialog {
  TFormDiag1 diag;
  QStringList warnings;
  TCheckedDialog() {
    diag.SetWarner([this](QWidget*, const QString& message) { warnings << message; });
  }
};

}  // namespace

class FormDiag1Test : public QObject {
  Q_OBJECT

 private slots:
  void pickedFolderGetsOneFinalSlash_data() {
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QString>("expected");
    QTest::newRow("cancelled") << "" << "";
    QTest::newRow("folder") << "/home/u/Photos" << "/home/u/Photos/";
    QTest::newRow("already ends in /") << "/home/u/Photos/" << "/home/u/Photos/";
    QTest::newRow("root") << "/" << "/";
    QTest::newRow("ends in a kanji") << QStringLiteral("/srv/表") << QStringLiteral("/srv/表/");
  }
  void pickedFolderGetsOneFinalSlash() {
    QFETCH(QString, picked);
    QFETCH(QString, expected);
    QCOMPARE(vm::PickedFolderText(picked), expected);
  }

  void browseButtonStartsAtTheTypedFolderAndFillsThePathOnlyWhenOneWasPicked() {
    vm::uitest::TTestFolder folder;
    const QString music = folder.FolderText("music");
    TFormDiag1 diag;
    QString answer = "/srv/music";
    QString askedTitle;
    QString start;
    diag.SetFolderPicker([&](QWidget*, const QString& title, const QString& from) {
      askedTitle = title;
      start = from;
      return answer;
    });
    diag.Edit2->setText("typed");
    diag.Button3->click();
    QCOMPARE(askedTitle, QStringLiteral("フォルダを選択してください"));
    QCOMPARE(start, QDir::homePath());
    QCOMPARE(diag.Edit2->text(), QString("/srv/music/"));
    answer.clear();
    diag.Edit2->setText(" " + music + " ");
    diag.Button3Click();
    QCOMPARE(start, music);
    QCOMPARE(diag.Edit2->text(), " " + music + " ");
  }

  void okRefusesUnusableInputAndSaysWhy_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("said");
    // Each of these closed the dialog and added nothing, or was stored as it was.
    QTest::newRow("empty name") << " "
                                << "existing" << QStringLiteral("名前を入力");
    QTest::newRow("empty path") << "A"
                                << "" << QStringLiteral("パスを入力");
    QTest::newRow("path of blanks") << "A"
                                    << "   " << QStringLiteral("パスを入力");
    QTest::newRow(";; in a name") << "A;;B"
                                  << "existing"
                                  << ";;";
    QTest::newRow(";; in a path") << "A"
                                  << "/a;;b/"
                                  << ";;";
    QTest::newRow("line break in a name") << "A\nB"
                                          << "existing" << QStringLiteral("制御文字");
    QTest::newRow("line break in a path") << "A"
                                          << "/a/\n/b" << QStringLiteral("制御文字");
    QTest::newRow("name of another folder") << "Taken"
                                            << "existing"
                                            << "Taken";
    QTest::newRow("relative path") << "A"
                                   << "photos"
                                   << "photos";
    QTest::newRow("missing folder") << "A"
                                    << "/no/such/folder"
                                    << "/no/such/folder";
  }
  void okRefusesUnusableInputAndSaysWhy() {
    QFETCH(QString, name);
    QFETCH(QString, path);
    QFETCH(QString, said);
    vm::uitest::TTestFolder folder;
    TCheckedDialog checked;
    TFormDiag1& diag = checked.diag;
    diag.SetTakenNames({"Taken"});
    diag.Edit1->setText(name);
    diag.Edit2->setText(path == "existing" ? folder.FolderText("existing") : path);
    diag.open();
    diag.Button1->click();
    QVERIFY(diag.isVisible());
    QCOMPARE(checked.warnings.size(), 1);
    QVERIFY2(checked.warnings.first().contains(said), qPrintable(checked.warnings.first()));
    // Made usable, it closes with OK.
    diag.Edit1->setText("Free");
    diag.Edit2->setText(folder.FolderText("existing"));
    diag.Button1->click();
    QVERIFY(!diag.isVisible());
    QCOMPARE(diag.result(), int(QDialog::Accepted));
    QCOMPARE(diag.FolderName(), std::string("Free"));
  }

  // Enter and Escape did nothing; now they are OK and Cancel, as in any dialog.
  void enterIsOkAndEscapeIsCancel() {
    vm::uitest::TTestFolder folder;
    TCheckedDialog checked;
    TFormDiag1& diag = checked.diag;
    QCOMPARE(diag.windowTitle(), QStringLiteral("選択"));
    diag.open();
    QVERIFY(QTest::qWaitForWindowExposed(&diag));
    QTest::keyClick(diag.Edit1, Qt::Key_Escape);
    QVERIFY(!diag.isVisible());
    QCOMPARE(diag.result(), int(QDialog::Rejected));

    diag.open();
    diag.Edit1->setText("Name");
    diag.Edit2->setText(folder.FolderText("f"));
    diag.Button2->setFocus();  // also with the focus on another button
    QTest::keyClick(diag.Button2, Qt::Key_Return);
    QVERIFY(!diag.isVisible());
    QCOMPARE(diag.result(), int(QDialog::Accepted));

    diag.open();
    diag.close();  // the close box
    QCOMPARE(diag.result(), int(QDialog::Rejected));
    QVERIFY(checked.warnings.isEmpty());
  }

  void textsLeftAsShownKeepTheirBytes() {
    TFormDiag1 diag;
    diag.SetFolder("caf\xe9", "/srv/caf\xe9/");
    diag.Edit1->setText(diag.Edit1->text() + "  ");  // trimmed, it is still the shown text
    QCOMPARE(diag.FolderName(), std::string("caf\xe9"));
    QCOMPARE(diag.FolderPath(), std::string("/srv/caf\xe9/"));
    diag.Edit2->setText(QStringLiteral("/srv/表"));
    QCOMPARE(diag.FolderPath(), std::string("/srv/\x95\x5c"));
  }

  void editsKeepTheirTextBetweenShowings() {
    vm::uitest::TTestFolder folder;
    const QString path = folder.FolderText("path") + "/";
    TFormDiag1 diag;
    QTimer::singleShot(0, &diag, [&diag, path] {
      diag.Edit1->setText("Name");
      diag.Edit2->setText(path);
      diag.Button2->click();
    });
    QCOMPARE(diag.exec(), int(QDialog::Rejected));
    QTimer::singleShot(0, &diag, [&diag] { diag.Button1->click(); });
    QCOMPARE(diag.exec(), int(QDialog::Accepted));
    QCOMPARE(diag.Edit1->text(), QString("Name"));
    QCOMPARE(diag.Edit2->text(), path);
  }
};

QTEST_MAIN(FormDiag1Test)
#include "form_diag1_test.moc"
