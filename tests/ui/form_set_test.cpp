// The settings window driven through its handlers, on a program folder under /tmp.
#include "ui/form_set.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <functional>
#include <memory>

#include "platform/exception.h"
#include "platform/sjis.h"
#include "state/config_store.h"
#include "state/ini_file.h"
#include "tests/ui/ui_test_folder.h"
#include "ui/clients_tab.h"
#include "ui/form_diag1.h"
#include "ui/form_set_host.h"
#include "ui/signin_qr.h"
#include "ui/qr_code.h"

using vm::TFormDiag1;
using vm::TFormSet;

namespace {

// Stores as the program does, without a listener; a failure can be set up.
class TFakeHost : public vm::TFormSetHost {
 public:
  enum class TFailure { None, Files, Port };
  vm::TMainState state;
  int urlClicks = 0;
  int closes = 0;
  TFailure failure = TFailure::None;
  std::string notServing;
  vm::TMainState& State() override { return state; }
  void StoreSettings(const vm::TStoredSettings& edited) override {
    if (failure == TFailure::Files) throw vm::EFCreateError("/app/dirlst.ini");
    if (failure == TFailure::Port) throw vm::Exception("port taken");
    const int before = state.Settings().AutoRun;
    vm::WriteStoredSettings(state.ProgramFolder(), edited);
    vm::LoadSettings(state);
    vm::FollowAutoRun(before, edited.AutoRun, vm::ExecutablePath());
  }
  std::string NotServingReason() const override { return notServing; }
  void URLU1Click() override { ++urlClicks; }
  void CloseMainWindow() override { ++closes; }
  std::vector<std::string> LocalAddresses() const override { return addresses; }
  std::vector<std::string> addresses = {"192.168.0.12", "10.8.0.2"};
};

// What the dialog held when it came up, and how the test answers it.
struct TDialogAnswer {
  QString shownName;
  QString shownPath;
};

// Answers the dialog's next modal showing: notes the edits, types name and path, presses OK
// (accept) or Cancel.
std::shared_ptr<TDialogAnswer> AnswerDialog(TFormDiag1& diag, const QString& name,
                                            const QString& path, bool accept = true) {
  auto answer = std::make_shared<TDialogAnswer>();
  QTimer::singleShot(0, &diag, [&diag, answer, name, path, accept] {
    answer->shownName = diag.Edit1->text();
    answer->shownPath = diag.Edit2->text();
    diag.Edit1->setText(name);
    diag.Edit2->setText(path);
    (accept ? diag.Button1 : diag.Button2)->click();
  });
  return answer;
}

QStringList Rows(const QTreeWidget* list) {
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    rows << list->topLevelItem(i)->text(0) + "|" + list->topLevelItem(i)->text(1);
  }
  return rows;
}

}  // namespace

class FormSetTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<vm::uitest::TTestFolder> folder_;
  std::unique_ptr<TFakeHost> host_;
  std::unique_ptr<TFormDiag1> diag_;
  std::unique_ptr<TFormSet> form_;
  QStringList warnings_;
  TFormSet::TCloseChoice closeChoice_ = TFormSet::TCloseChoice::Discard;
  int closeAsks_ = 0;

  // Starts the program state from the files as they are, then shows the window.
  void Start() {
    host_->state.SetProgramFolder(folder_->ProgramFolder());
    host_->state.SetLocalAddress("192.168.0.12");
    vm::LoadSettings(host_->state);
    form_ = std::make_unique<TFormSet>(*host_, *diag_);
    form_->SetWarner([this](QWidget*, const QString& message) { warnings_ << message; });
    form_->SetCloseAsker([this](QWidget*) {
      ++closeAsks_;
      return closeChoice_;
    });
    form_->show();
  }
  void Select(int row) { form_->ListView1->setCurrentItem(form_->ListView1->topLevelItem(row)); }
  bool Enabled(QPushButton* b) const { return b->isEnabled(); }

 private slots:
  void init() {
    folder_ = std::make_unique<vm::uitest::TTestFolder>();
    host_ = std::make_unique<TFakeHost>();
    diag_ = std::make_unique<TFormDiag1>();
    warnings_.clear();
    closeChoice_ = TFormSet::TCloseChoice::Discard;
    closeAsks_ = 0;
  }
  void cleanup() {
    form_.reset();
    diag_.reset();
    host_.reset();
    folder_.reset();
  }

  void showingFillsTheControlsFromTheFiles() {
    folder_->Write("dirlst.ini", "Photos;;/srv/photos/\r\n\r\n\x8e\xca\x90\x5e;;/srv/\x95\x5c/\r\n");
    folder_->Write("velmarind.ini",
                   "[COMMON]\r\nHTTP_PORT=8080\r\nAUTO_RUN=1\r\nPASS_FLG=1\r\nPASSWORD=616263\r\n"
                   "HOSTS=nas.local,box.lan\r\nPUBLISH_DOT_FILES=1\r\n");
    Start();
    // The empty line is no row; the Shift_JIS name and path show as their characters.
    QCOMPARE(Rows(form_->ListView1),
             QStringList({"Photos|/srv/photos/", QStringLiteral("写真|/srv/表/")}));
    QCOMPARE(form_->Edit2->text(), QString("8080"));
    QVERIFY(form_->CheckBox2->isChecked());
    QVERIFY(form_->CheckBox1->isChecked());
    QCOMPARE(form_->Edit1->text(), QString("abc"));
    QVERIFY(form_->Edit1->isEnabled());
    QCOMPARE(form_->Edit3->text(), QString("nas.local, box.lan"));
    QVERIFY(form_->CheckBox3->isChecked());
    QCOMPARE(form_->Edit1->echoMode(), QLineEdit::Password);
    // The password showed as the style's dots instead of one "*" per character.
    QCOMPARE(form_->Edit1->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr,
                                              form_->Edit1),
             int('*'));
    QCOMPARE(form_->Label5->text(), QString("http://192.168.0.12:8080/velmarind/"));
    QCOMPARE(form_->windowTitle(), QStringLiteral("Velmarind 設定"));
    QCOMPARE(form_->PageControl1->count(), 4);
    QCOMPARE(form_->PageControl1->tabText(3), QStringLiteral("接続"));
  }

  void listButtonsFollowTheSelection() {
    folder_->Write("dirlst.ini", "A;;/a/\r\nB;;/b/\r\nC;;/c/\r\n");
    Start();
    QVERIFY(Enabled(form_->Button5));
    QVERIFY(!Enabled(form_->Button6) && !Enabled(form_->Button7));
    QVERIFY(!Enabled(form_->Button8) && !Enabled(form_->Button9));

    Select(0);
    QVERIFY(Enabled(form_->Button6) && Enabled(form_->Button7));
    QVERIFY(!Enabled(form_->Button8) && Enabled(form_->Button9));
    Select(1);
    QVERIFY(Enabled(form_->Button8) && Enabled(form_->Button9));
    Select(2);
    QVERIFY(Enabled(form_->Button8) && !Enabled(form_->Button9));

    form_->Button7Click();  // deleting leaves nothing selected
    QCOMPARE(Rows(form_->ListView1), QStringList({"A|/a/", "B|/b/"}));
    QVERIFY(!Enabled(form_->Button6) && !Enabled(form_->Button7));
    QVERIFY(!Enabled(form_->Button8) && !Enabled(form_->Button9));
  }

  void upAndDownMoveTheRowAndItsSelection() {
    folder_->Write("dirlst.ini", "A;;/a/\r\nB;;/b/\r\nC;;/c/\r\n");
    Start();
    Select(0);
    form_->Button9Click();
    QCOMPARE(Rows(form_->ListView1), QStringList({"B|/b/", "A|/a/", "C|/c/"}));
    form_->Button9Click();
    QCOMPARE(Rows(form_->ListView1), QStringList({"B|/b/", "C|/c/", "A|/a/"}));
    form_->Button9Click();  // already last: nothing moves
    QCOMPARE(Rows(form_->ListView1), QStringList({"B|/b/", "C|/c/", "A|/a/"}));
    QVERIFY(!Enabled(form_->Button9));
    form_->Button8Click();
    form_->Button8Click();
    QCOMPARE(Rows(form_->ListView1), QStringList({"A|/a/", "B|/b/", "C|/c/"}));
    QCOMPARE(form_->ListView1->indexOfTopLevelItem(form_->ListView1->selectedItems().value(0)), 0);
    QVERIFY(!Enabled(form_->Button8));
  }

  void modeColumnIsStoredByNameAndMovesWithItsRow() {
    folder_->Write("dirlst.ini", "A;;/a/\r\nB;;/b/\r\n");
    folder_->Write("velmarind.ini", "[COMMON]\r\nSHARE_MODES=42:full,7a:view\r\n");
    Start();
    auto modeOf = [this](int row) { return form_->RowMode(form_->ListView1->topLevelItem(row)); };
    QCOMPARE(modeOf(0), vm::TShareMode::ViewUpload);  // A has none stored: the default
    QCOMPARE(modeOf(1), vm::TShareMode::Full);
    Select(1);
    form_->Button8Click();
    QCOMPARE(modeOf(0), vm::TShareMode::Full);
    QVERIFY(form_->HasUnsavedEdits());
    form_->ModeChoice(form_->ListView1->topLevelItem(1))->setCurrentIndex(3);  // アップロードのみ
    QVERIFY(form_->Button1Click());
    // Only modes other than the default are kept, of listed shares only ("z" is gone).
    QCOMPARE(host_->state.Settings().ShareModes,
             (vm::TShareModes{{"A", vm::TShareMode::UploadOnly}, {"B", vm::TShareMode::Full}}));
    QVERIFY(folder_->Read("velmarind.ini").contains("SHARE_MODES=42:full,41:dropbox"));
  }

  void addTakesTrimmedFoldersAndOpensTheDialogEmpty() {
    Start();
    const QString docs = folder_->FolderText("docs");
    auto first = AnswerDialog(*diag_, "  Docs ", " " + docs + " ");
    form_->Button5Click();
    QCOMPARE(first->shownName, QString());
    QCOMPARE(Rows(form_->ListView1), QStringList({"Docs|" + docs + "/"}));

    // The next showing starts empty again (it showed the last values, even after Cancel);
    // Cancel adds nothing.
    auto second = AnswerDialog(*diag_, "Cancelled", docs, false);
    form_->Button5Click();
    QCOMPARE(second->shownName, QString());
    QCOMPARE(second->shownPath, QString());
    QCOMPARE(form_->ListView1->topLevelItemCount(), 1);

    const QString photos = folder_->FolderText("photos");
    AnswerDialog(*diag_, QStringLiteral("写真"), photos + "/");
    form_->Button5Click();
    QVERIFY(form_->Button1Click());
    QCOMPARE(folder_->Read("dirlst.ini"),
             "Docs;;" + docs.toUtf8() + "/\r\n\x8e\xca\x90\x5e;;" + photos.toUtf8() + "/\r\n");

    // A name and a path that CP932 cannot hold keep their UTF-8 bytes, and show as typed again.
    form_->show();
    const QString videos = folder_->FolderText("vid\xc3\xa9os");
    AnswerDialog(*diag_, QStringLiteral("Vidéos"), videos);
    form_->Button5Click();
    QVERIFY(form_->Button1Click());
    QCOMPARE(folder_->Read("dirlst.ini").split('\n').value(2),
             "Vid\xc3\xa9os;;" + videos.toUtf8() + "/\r");
    form_->show();
    QCOMPARE(Rows(form_->ListView1).value(2), QStringLiteral("Vidéos|") + videos + "/");
  }

  void editKeepsTheBytesOfTextsLeftAsShown() {
    // Editing only a folder's name rewrote its path from the shown text, so bytes that are
    // neither Shift_JIS nor UTF-8 (a Latin-1 folder name) became replacement characters.
    const std::string latin1 = folder_->Folder("caf\xe9");
    folder_->Write("dirlst.ini", QByteArray::fromStdString("Old;;" + latin1 + "/\r\n"));
    Start();
    Select(0);
    QString shownPath;
    QTimer::singleShot(0, diag_.get(), [this, &shownPath] {
      shownPath = diag_->Edit2->text();
      diag_->Edit1->setText("New");
      diag_->Button1->click();
    });
    form_->Button6Click();
    QVERIFY(shownPath.contains(QChar(0xFFFD)));
    QVERIFY(form_->Button1Click());
    QCOMPARE(folder_->Read("dirlst.ini"), QByteArray::fromStdString("New;;" + latin1 + "/\r\n"));
  }

  void editReplacesTheSelectedRow() {
    const QString bee = folder_->FolderText("bee");
    folder_->Write("dirlst.ini", "A;;/a/\r\nB;;/b/\r\n");
    Start();
    Select(1);
    auto shown = AnswerDialog(*diag_, " Bee ", bee);
    form_->Button6Click();
    QCOMPARE(shown->shownName, QString("B"));
    QCOMPARE(shown->shownPath, QString("/b/"));
    QCOMPARE(Rows(form_->ListView1), QStringList({"A|/a/", "Bee|" + bee + "/"}));

    // Adding after an edit starts empty.
    auto add = AnswerDialog(*diag_, "", "", false);
    form_->Button5Click();
    QCOMPARE(add->shownName, QString());
    QCOMPARE(add->shownPath, QString());

    // The row's own name is no duplicate; another row's is.
    Select(0);
    QStringList warnings;
    diag_->SetWarner([&warnings](QWidget*, const QString& message) { warnings << message; });
    QTimer::singleShot(0, diag_.get(), [this] {
      diag_->Edit1->setText("Bee");
      diag_->Button1->click();  // refused: the dialog stays
      diag_->Button2->click();
    });
    form_->Button6Click();
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().contains("Bee"), qPrintable(warnings.first()));
    QCOMPARE(Rows(form_->ListView1), QStringList({"A|/a/", "Bee|" + bee + "/"}));
  }

  void okWithoutChangesRewritesOnlyTheFolderFile() {
    // Lone LF line ends and a port that is no number: a rewrite of either file would show.
    folder_->Write("dirlst.ini", "A;;/a/\nB;;/b/\n");
    const QByteArray settings = "[common]\nhttp_port=abc\nPASSWORD=\n";
    folder_->Write("velmarind.ini", settings);
    Start();
    QVERIFY(form_->Button1Click());
    QCOMPARE(folder_->Read("dirlst.ini"), QByteArray("A;;/a/\r\nB;;/b/\r\n"));
    QCOMPARE(folder_->Read("velmarind.ini"), settings);
    QVERIFY(!form_->isVisible());
    QVERIFY(!QFile::exists(folder_->AutostartFile()));
  }

  void portTextTakesFullWidthDigits_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("port");
    QTest::newRow("ASCII") << "8081" << 8081;
    QTest::newRow("full-width, as an input method gives them")
        << QStringLiteral("８０８１") << 8081;
    QTest::newRow("mixed, blanks around") << QStringLiteral(" 80８2　") << 8082;
    QTest::newRow("80 has no port in the address") << "80" << 80;
  }
  void portTextTakesFullWidthDigits() {
    QFETCH(QString, typed);
    QFETCH(int, port);
    folder_->Write("velmarind.ini", "[COMMON]\r\nHTTP_PORT=8080\r\n");
    Start();
    form_->Edit2->setText(typed);
    QVERIFY(form_->Button1Click());
    vm::TIniFile ini(folder_->ProgramFolder() + "velmarind.ini");
    QCOMPARE(ini.ReadString("COMMON", "HTTP_PORT", ""), std::to_string(port));
    QCOMPARE(ini.ReadString("COMMON", "AUTO_RUN", ""), std::string("0"));
    QCOMPARE(host_->state.Settings().Port, port);
    QCOMPARE(host_->state.Settings().BaseURL,
             "http://192.168.0.12" + (port == 80 ? std::string() : ":" + std::to_string(port)) +
                 "/velmarind/");
  }

  void hostsAndDotFilesAreStored() {
    Start();
    QVERIFY(!form_->CheckBox3->isChecked());
    QVERIFY(!form_->CheckBox4->isChecked());
    form_->Edit3->setText(" nas.local ,box.lan,, ");
    form_->CheckBox3->setChecked(true);
    form_->CheckBox4->setChecked(true);
    QVERIFY(form_->Button1Click());
    vm::TIniFile ini(folder_->ProgramFolder() + "velmarind.ini");
    QCOMPARE(ini.ReadString("COMMON", "HOSTS", ""), std::string("nas.local,box.lan"));
    QCOMPARE(ini.ReadString("COMMON", "PUBLISH_DOT_FILES", ""), std::string("1"));
    QCOMPARE(ini.ReadString("COMMON", "HTTP_PORT", "none"), std::string("none"));
    QCOMPARE(ini.ReadString("COMMON", "UPLOAD_KEEP_NAMES", ""), std::string("1"));
    QVERIFY(host_->state.Settings().PublishDotFiles);
    QVERIFY(host_->state.Settings().KeepUploadNames);
    form_->show();
    QVERIFY(form_->CheckBox4->isChecked());
    QCOMPARE(form_->Edit3->text(), QString("nas.local, box.lan"));
  }

  void passwordIsStoredAsHex() {
    Start();
    form_->CheckBox1->setChecked(true);
    form_->Edit1->setText(QStringLiteral("pass表"));
    QVERIFY(form_->Button1Click());
    vm::TIniFile ini(folder_->ProgramFolder() + "velmarind.ini");
    QCOMPARE(ini.ReadString("COMMON", "PASS_FLG", ""), std::string("1"));
    QCOMPARE(ini.ReadString("COMMON", "PASSWORD", ""), std::string("70617373955c"));
    QVERIFY(host_->state.Settings().PassFlag);
    QCOMPARE(host_->state.Settings().Password, std::string("pass\x95\x5c"));
    // Only the password keys were written: the port and the start flag did not change.
    QCOMPARE(ini.ReadString("COMMON", "HTTP_PORT", "none"), std::string("none"));

    form_->show();
    QCOMPARE(form_->Edit1->text(), QStringLiteral("pass表"));
    QVERIFY(form_->Edit1->isEnabled());
    form_->CheckBox1->setChecked(false);
    QVERIFY(!form_->Edit1->isEnabled());
    form_->Edit1->clear();
    QVERIFY(form_->Button1Click());
    QCOMPARE(ini.ReadString("COMMON", "PASS_FLG", ""), std::string("0"));
    QCOMPARE(ini.ReadString("COMMON", "PASSWORD", "none"), std::string(""));
  }

  void autostartFileFollowsTheCheckBox() {
    Start();
    form_->CheckBox2->setChecked(true);
    QVERIFY(form_->Button1Click());
    QVERIFY(QFile::exists(folder_->AutostartFile()));
    QFile entry(folder_->AutostartFile());
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(entry.readAll().contains("Exec=" + QCoreApplication::applicationFilePath().toUtf8() + " -j\n"));
    QCOMPARE(host_->state.Settings().AutoRun, 1);

    form_->show();
    QVERIFY(form_->CheckBox2->isChecked());
    form_->CheckBox2->setChecked(false);
    QVERIFY(form_->Button1Click());
    QVERIFY(!QFile::exists(folder_->AutostartFile()));
    vm::TIniFile ini(folder_->ProgramFolder() + "velmarind.ini");
    QCOMPARE(ini.ReadString("COMMON", "AUTO_RUN", ""), std::string("0"));
  }

  void cancelLosesEdits() {
    folder_->Write("dirlst.ini", "A;;/a/\r\nB;;/b/\r\n");
    Start();
    Select(0);
    form_->Button7Click();
    form_->Edit2->setText("9999");
    form_->Button2Click();
    QVERIFY(!form_->isVisible());
    form_->show();
    QCOMPARE(Rows(form_->ListView1), QStringList({"A|/a/", "B|/b/"}));
    QCOMPARE(form_->Edit2->text(), QString("80"));
    QCOMPARE(folder_->Read("dirlst.ini"), QByteArray("A;;/a/\r\nB;;/b/\r\n"));
  }

  void okRefusesUnusableInputAndWritesNothing_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("passFlag");
    QTest::addColumn<QString>("hosts");
    QTest::addColumn<QString>("named");
    QTest::newRow("port 0") << "0" << false << ""
                            << "0";
    QTest::newRow("port 65536") << "65536" << false << ""
                                << "65536";
    QTest::newRow("negative port") << "-80" << false << ""
                                   << "-80";
    // Texts that are no number were stored as port 80.
    QTest::newRow("port abc") << "abc" << false << ""
                              << "abc";
    QTest::newRow("no port") << "" << false << ""
                             << "HTTP Port";
    QTest::newRow("port with a sign") << "+80" << false << ""
                                      << "+80";
    // A password switched on while empty let everyone in with an empty password.
    QTest::newRow("password on, none typed") << "80" << true << "" << QStringLiteral("パスワード");
    QTest::newRow("host with a blank") << "80" << false << "ok.lan, my pc"
                                       << "my pc";
    QTest::newRow("host with a port") << "80" << false << "nas:8080"
                                      << "nas:8080";
    QTest::newRow("host not ASCII")
        << "80" << false << QStringLiteral("ホスト") << QStringLiteral("ホスト");
  }
  void okRefusesUnusableInputAndWritesNothing() {
    QFETCH(QString, port);
    QFETCH(bool, passFlag);
    QFETCH(QString, hosts);
    QFETCH(QString, named);
    folder_->Write("dirlst.ini", "Old;;/old/\n");
    Start();
    form_->ListView1->clear();
    form_->Edit2->setText(port);
    form_->CheckBox1->setChecked(passFlag);
    form_->Edit3->setText(hosts);
    form_->CheckBox2->setChecked(true);
    QVERIFY(!form_->Button1Click());
    QCOMPARE(warnings_.size(), 1);
    QVERIFY2(warnings_.first().contains(named), qPrintable(warnings_.first()));
    QVERIFY(form_->isVisible());
    QCOMPARE(folder_->Read("dirlst.ini"), QByteArray("Old;;/old/\n"));
    QVERIFY(!QFile::exists(folder_->File("velmarind.ini")));
    QVERIFY(!QFile::exists(folder_->AutostartFile()));
    // "終了" refused the same way keeps the program running.
    form_->Button3Click();
    QCOMPARE(host_->closes, 0);
  }

  void failuresToStoreAreToldAndOnlyFilesThatCannotBeWrittenEndTheProgram() {
    Start();
    form_->Edit2->setText("8081");
    host_->failure = TFakeHost::TFailure::Port;
    QVERIFY(!form_->Button1Click());
    form_->Button3Click();
    QCOMPARE(host_->closes, 0);
    QVERIFY(form_->isVisible());
    // Settings that cannot be saved still apply for the run: the window is done with them.
    host_->failure = TFakeHost::TFailure::Files;
    QVERIFY(form_->Button1Click());
    QVERIFY(!form_->isVisible());
    form_->show();
    form_->Edit2->setText("8082");
    form_->Button3Click();  // nothing could ever be saved: the program still ends
    QCOMPARE(host_->closes, 1);
    QCOMPARE(warnings_.size(), 4);
    QCOMPARE(warnings_[0], QString("port taken"));
    QVERIFY2(warnings_[2].contains("/app/dirlst.ini"), qPrintable(warnings_[2]));
  }

  void unsavedEditsAreKnown() {
    folder_->Write("dirlst.ini", "A;;/a/\r\n");
    Start();
    QVERIFY(!form_->HasUnsavedEdits());
    form_->Edit3->setText("x.lan");
    QVERIFY(form_->HasUnsavedEdits());
    form_->Edit3->clear();
    QVERIFY(!form_->HasUnsavedEdits());
    Select(0);
    form_->Button7Click();
    QVERIFY(form_->HasUnsavedEdits());
    QVERIFY(form_->Button1Click());
    QVERIFY(!form_->HasUnsavedEdits());
  }

  // Escape, the close box or 閉じる threw deleted rows away without a word; Enter did nothing.
  void closingWithUnsavedEditsAsksFirstAndEnterSaves() {
    using TChoice = TFormSet::TCloseChoice;
    const std::function<void(TFormSet&)> closers[] = {
        [](TFormSet& f) { QTest::keyClick(f.Edit2, Qt::Key_Escape); },
        [](TFormSet& f) { f.close(); },
        [](TFormSet& f) { f.Button10->click(); },
    };
    for (TChoice choice : {TChoice::KeepEditing, TChoice::Discard, TChoice::Save}) {
      for (const auto& closeWindow : closers) {
        folder_->Write("dirlst.ini", "A;;/a/\r\n");
        if (!form_) Start();
        closeChoice_ = choice;
        form_->hide();
        form_->show();
        const int asked = closeAsks_;
        closeWindow(*form_);  // nothing changed: no question
        form_->show();
        Select(0);
        form_->Button7Click();
        closeWindow(*form_);
        QCOMPARE(closeAsks_, asked + 1);
        QCOMPARE(form_->isVisible(), choice == TChoice::KeepEditing);
        QCOMPARE(folder_->Read("dirlst.ini").isEmpty(), choice == TChoice::Save);
      }
    }
    form_->hide();
    form_->show();
    Select(0);
    form_->Button7Click();
    QTest::keyClick(form_->Edit3, Qt::Key_Return);
    QVERIFY(!form_->isVisible());
    QVERIFY(folder_->Read("dirlst.ini").isEmpty());
  }

  void listKeysAndEscape() {
    const QString c = folder_->FolderText("c");
    folder_->Write("dirlst.ini", "A;;/a/\r\nB;;/b/\r\n");
    Start();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    Select(0);
    form_->ListView1->setFocus();
    QTest::keyClick(form_->ListView1, Qt::Key_Delete);
    QCOMPARE(Rows(form_->ListView1), QStringList({"B|/b/"}));
    Select(0);
    auto shown = AnswerDialog(*diag_, "C", c);
    QTest::keyClick(form_->ListView1, Qt::Key_Return);
    QCOMPARE(shown->shownName, QString("B"));
    QCOMPARE(Rows(form_->ListView1), QStringList({"C|" + c + "/"}));
    // The full text shows on hover, for names and paths cut by their column.
    QCOMPARE(form_->ListView1->topLevelItem(0)->toolTip(1), c + "/");
    for (QWidget* focus :
         {static_cast<QWidget*>(form_->ListView1), static_cast<QWidget*>(form_->Edit2)}) {
      form_->show();
      QTest::keyClick(focus, Qt::Key_Escape);
      QVERIFY(!form_->isVisible());
    }
  }

  void exitStoresThenClosesTheMainWindow() {
    Start();
    form_->Edit2->setText("8080");
    form_->Button3Click();
    QCOMPARE(host_->closes, 1);
    vm::TIniFile ini(folder_->ProgramFolder() + "velmarind.ini");
    QCOMPARE(ini.ReadString("COMMON", "HTTP_PORT", ""), std::string("8080"));
  }

  void addressLabelIsALink() {
    Start();
    QLabel* label = form_->Label5;
    QTest::mouseMove(label, QPoint(label->width() / 2, label->height() / 2));
    QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseMove(label, QPoint(1, label->height() / 2));
    QCOMPARE(label->cursor().shape(), Qt::ArrowCursor);
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(label->width() / 2, label->height() / 2));
    form_->Button4->click();
    QCOMPARE(host_->urlClicks, 2);
  }

  void addressLineSaysWhenNothingIsServed() {
    host_->notServing = vm::Sjis("ポート 80 は他のプログラムが使っています。");
    Start();
    QLabel* label = form_->Label5;
    QCOMPARE(label->text(),
             QStringLiteral("公開停止中: ポート 80 は他のプログラムが使っています。"));
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(label->width() / 2, label->height() / 2));
    QCOMPARE(host_->urlClicks, 0);  // no link to an address that does not answer
    // OK that leaves nothing served stores, and says so.
    form_->Edit2->setText("8081");
    QVERIFY(form_->Button1Click());
    QCOMPARE(warnings_.size(), 1);
    QVERIFY2(warnings_.first().contains(QStringLiteral("公開していません")),
             qPrintable(warnings_.first()));
  }

  void urlListHoldsEveryAddressAndTheNameAndTheQrCodeFollowsTheChoice() {
    folder_->Write("velmarind.ini", "[COMMON]\r\nHTTP_PORT=8080\r\n");
    Start();
    auto urls = [this] {
      QStringList texts;
      for (int i = 0; i < form_->AddressList->count(); ++i)
        texts << form_->AddressList->item(i)->text();
      return texts;
    };
    QCOMPARE(urls(), QStringList({"http://192.168.0.12:8080/velmarind/",
                                  "http://10.8.0.2:8080/velmarind/"}));
    QVERIFY(form_->NameLine->isHidden());

    form_->AddressList->setCurrentRow(1);
    host_->state.SetNetworkName({vm::TNetworkName::TStatus::Announced, "pc.local", ""});
    form_->ShowAddress();
    QCOMPARE(urls().size(), 3);
    QCOMPARE(urls()[2], QString("http://pc.local:8080/velmarind/"));
    // The name is listed but not chosen for the QR code, which keeps the address chosen.
    QVERIFY(!(form_->AddressList->item(2)->flags() & Qt::ItemIsSelectable));
    QCOMPARE(form_->AddressList->currentRow(), 1);
    if (vm::QrCodeAvailable()) {
      QCOMPARE(form_->QrCode->toolTip(), QString("http://10.8.0.2:8080/velmarind/"));
    }

    host_->state.SetNetworkName({vm::TNetworkName::TStatus::NoDaemon, "", ""});
    form_->ShowAddress();
    QCOMPARE(urls().size(), 2);
    QVERIFY(!form_->NameLine->isHidden());
    QVERIFY(form_->NameLine->text().contains("avahi-daemon"));
  }

  void qrCodeCarriesAOneTimeSignInCodeWhileAPasswordIsRequired() {
    const QByteArray ini = "[COMMON]\r\nHTTP_PORT=8080\r\nPASS_FLG=1\r\nPASSWORD=616263\r\n";
    folder_->Write("velmarind.ini", ini);
    Start();
    form_->PageControl1->setCurrentIndex(2);  // a code is made only where it can be seen
    vm::TSignInQr* qr = form_->SignInQr;
    const QByteArray address = "http://192.168.0.12:8080/velmarind/";
    const QByteArray prefix = address + "vm-signin?t=";
    const auto code = [&](const QByteArray& url) { return url.mid(prefix.size()).toStdString(); };
    const QByteArray first = qr->Shown();
    QVERIFY2(first.startsWith(prefix), first.constData());
    QVERIFY(qr->TimeLeft->isVisible() && qr->NewCode->isVisible());
    // Used by a phone: the next look shows another code; so does the button, voiding the last.
    QVERIFY(host_->state.SignInTokens().Redeem(code(first)));
    qr->Refresh();
    const QByteArray second = qr->Shown();
    QVERIFY(second.startsWith(prefix) && second != first);
    qr->NewCode->click();
    QVERIFY(qr->Shown() != second);
    QVERIFY(!host_->state.SignInTokens().Redeem(code(second)));
    // Without a password, or with sign-in by code off, the code is the address.
    for (const QByteArray& settings : {QByteArray("[COMMON]\r\nHTTP_PORT=8080\r\n"),
                                       ini + "QR_SIGNIN=0\r\n"}) {
      folder_->Write("velmarind.ini", settings);
      vm::LoadSettings(host_->state);
      qr->Refresh();
      QCOMPARE(qr->Shown(), address);
      QVERIFY(!qr->NewCode->isVisible());
    }
  }

  void connectionsTabShowsClientsAndTheirTransfersAndRevokesEveryLogin() {
    folder_->Write("velmarind.ini", "[COMMON]\r\nPASS_FLG=1\r\nPASSWORD=616263\r\n");
    Start();
    vm::TMainState& state = host_->state;
    state.Clients().NoteRequest("10.0.0.9", "GET /velmarind/vm-signin");
    state.Admit("10.0.0.9", vm::TAdmission::Scan);
    state.Clients().NoteRequest("10.0.0.7", "GET /velmarind/download.html (a.jpg)");
    auto download =
        state.Clients().BeginTransfer("10.0.0.7", vm::TTransferKind::Download, "a.jpg", 4 << 20);
    download->Add(1 << 20);
    state.Clients().NoteRequest("10.0.0.8", "GET /velmarind/");
    state.Admit("10.0.0.7");
    vm::TClientsTab* tab = form_->ClientsTab;
    tab->Refresh();
    QTreeWidget* list = tab->ClientList;
    QCOMPARE(list->topLevelItemCount(), 3);
    QCOMPARE(list->topLevelItem(2)->text(3), QStringLiteral("済み（QRコード）"));
    QTreeWidgetItem* admitted = list->topLevelItem(1);
    QCOMPARE(admitted->text(0), QString("10.0.0.7"));
    QCOMPARE(admitted->text(2), QString("GET /velmarind/download.html (a.jpg)"));
    QCOMPARE(admitted->text(3), QStringLiteral("済み"));
    QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("未"));
    QCOMPARE(admitted->childCount(), 1);
    QCOMPARE(admitted->child(0)->text(0), QStringLiteral("ダウンロード"));
    QVERIFY2(admitted->child(0)->text(2).contains("a.jpg") &&
                 admitted->child(0)->text(2).contains("(25%)"),
             qPrintable(admitted->child(0)->text(2)));

    QVERIFY(tab->RevokeButton->isEnabled());
    tab->RevokeButton->click();
    QVERIFY(state.AdmittedClients().empty());
    QCOMPARE(list->topLevelItem(1)->text(3), QStringLiteral("未"));
    QCOMPARE(list->topLevelItem(2)->text(3), QStringLiteral("未"));
    QVERIFY(!tab->RevokeButton->isEnabled());
    download.reset();
    tab->Refresh();
    QCOMPARE(list->topLevelItem(1)->childCount(), 0);
  }
};

QTEST_MAIN(FormSetTest)
#include "form_set_test.moc"
