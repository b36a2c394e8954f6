// The shared-folder dialog: the picked path's final "/", and how the dialog may be closed.
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "ui/form_diag1.h"

using vm::TFormDiag1;

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

  void browseButtonFillsThePathOnlyWhenAFolderWasPicked() {
    TFormDiag1 diag;
    QString answer = "/srv/music";
    QString askedTitle;
    diag.SetFolderPicker([&](QWidget*, const QString& title) {
      askedTitle = title;
      return answer;
    });
    diag.Edit2->setText("typed");
    diag.Button3->click();
    QCOMPARE(askedTitle, QStringLiteral("フォルダを選択してください"));
    QCOMPARE(diag.Edit2->text(), QString("/srv/music/"));
    answer.clear();
    diag.Edit2->setText("typed");
    diag.Button3Click();
    QCOMPARE(diag.Edit2->text(), QString("typed"));
  }

  void onlyTheButtonsAndTheCloseBoxEndTheDialog() {
    TFormDiag1 diag;
    QCOMPARE(diag.windowTitle(), QStringLiteral("選択"));
    diag.open();
    QVERIFY(QTest::qWaitForWindowExposed(&diag));
    QTest::keyClick(&diag, Qt::Key_Escape);
    QVERIFY(diag.isVisible());
    QTest::keyClick(diag.Edit1, Qt::Key_Return);
    QVERIFY(diag.isVisible());
    diag.close();  // the close box
    QVERIFY(!diag.isVisible());
    QCOMPARE(diag.result(), int(QDialog::Rejected));

    diag.open();
    diag.Button1->setFocus();
    QTest::keyClick(diag.Button1, Qt::Key_Return);
    QVERIFY(!diag.isVisible());
    QCOMPARE(diag.result(), int(QDialog::Accepted));
  }

  void editsKeepTheirTextBetweenShowings() {
    TFormDiag1 diag;
    QTimer::singleShot(0, &diag, [&diag] {
      diag.Edit1->setText("Name");
      diag.Edit2->setText("/path/");
      diag.Button2->click();
    });
    QCOMPARE(diag.exec(), int(QDialog::Rejected));
    QTimer::singleShot(0, &diag, [&diag] { diag.Button1->click(); });
    QCOMPARE(diag.exec(), int(QDialog::Accepted));
    QCOMPARE(diag.Edit1->text(), QString("Name"));
    QCOMPARE(diag.Edit2->text(), QString("/path/"));
  }
};

QTEST_MAIN(FormDiag1Test)
#include "form_diag1_test.moc"
