#include "ui/form_diag1.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/fs_names.h"
#include "ui/handler_guard.h"
#include "ui/qt_text.h"

namespace vm {
namespace {

const int kWidth = 360;
const int kHeight = 200;
const int kNameEditWidth = 125;
const int kPathEditWidth = 280;
const int kPanelHeight = 45;

QString PickWithQtDialog(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
}

void ShowWarningBox(QWidget* parent, const QString& message) {
  QMessageBox::warning(parent, TFormDiag1::tr("選択"), message);
}

// Bytes below 0x20 are never part of a Shift_JIS or UTF-8 character, so a byte test suffices.
bool HasControlCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

bool IsFolder(const std::string& systemPath) {
  struct stat info {};
  return stat(SystemToNative(systemPath).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A folder whose entries cannot be listed or opened shares nothing.
bool IsReadableFolder(const std::string& systemPath) {
  return access(SystemToNative(systemPath).c_str(), R_OK | X_OK) == 0;
}

// "~" and "~/..." as the home folder, as a shell reads them.
QString WithHomeExpanded(const QString& path) {
  if (path == QLatin1String("~")) return QDir::homePath();
  if (path.startsWith(QLatin1String("~/"))) return QDir::homePath() + path.mid(1);
  return path;
}

}  // namespace

QString PickedFolderText(const QString& picked) {
  if (picked.isEmpty() || picked.endsWith(QLatin1Char('/'))) return picked;
  return picked + QLatin1Char('/');
}

TFormDiag1::TFormDiag1(QWidget* parent)
    : QDialog(parent), picker_(PickWithQtDialog), warner_(ShowWarningBox) {
  CreateControls();
  RetranslateUi();
  resize(kWidth, kHeight);
  CenterOnScreen(this);
}

void TFormDiag1::CreateControls() {
  label1_ = new QLabel(this);
  Edit1 = new QLineEdit(this);
  Edit1->setFixedWidth(kNameEditWidth);
  label2_ = new QLabel(this);
  Edit2 = new QLineEdit(this);
  Edit2->setMinimumWidth(kPathEditWidth);
  Button3 = new QPushButton(QStringLiteral("..."), this);
  Button3->setFixedWidth(Button3->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);

  auto* panel1 = new QWidget(this);
  panel1->setFixedHeight(kPanelHeight);
  Button2 = new QPushButton(panel1);
  Button1 = new QPushButton(panel1);
  // Enter anywhere is OK, also while another button has the focus; Escape is the dialog's
  // own Cancel.
  for (QPushButton* button : {Button1, Button2, Button3}) button->setAutoDefault(false);
  Button1->setDefault(true);
  auto* panelLayout = new QHBoxLayout(panel1);
  panelLayout->addWidget(Button2);
  panelLayout->addStretch();
  panelLayout->addWidget(Button1);

  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(Edit2, 1);
  pathRow->addWidget(Button3);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label1_);
  layout->addWidget(Edit1, 0, Qt::AlignLeft);
  layout->addWidget(label2_);
  layout->addLayout(pathRow);
  layout->addStretch();
  layout->addWidget(panel1);

  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Edit1);
  setTabOrder(Edit1, Edit2);
  setTabOrder(Edit2, Button3);

  connect(Button1, &QPushButton::clicked, this,
          [this] { RunHandler(this, [this] { Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  connect(Button3, &QPushButton::clicked, this, &TFormDiag1::Button3Click);
}

void TFormDiag1::RetranslateUi() {
  setWindowTitle(tr("選択"));
  label1_->setText(tr("名前"));
  label2_->setText(tr("パス"));
  Button2->setText(tr("キャンセル"));
  Button1->setText(tr("OK"));
}

void TFormDiag1::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) RetranslateUi();
  QDialog::changeEvent(event);
}

void TFormDiag1::SetFolder(const std::string& name, const std::string& path) {
  nameBytes_ = name;
  pathBytes_ = path;
  shownName_ = SystemToQString(name);
  shownPath_ = SystemToQString(path);
  Edit1->setText(shownName_);
  Edit2->setText(shownPath_);
}

std::string TFormDiag1::FolderName() const {
  const QString name = TrimControls(Edit1->text());
  return name == shownName_ ? nameBytes_ : QStringToSystem(name);
}

std::string TFormDiag1::FolderPath() const {
  const QString path = TrimControls(Edit2->text());
  return path == shownPath_ ? pathBytes_ : QStringToSystem(WithHomeExpanded(path));
}

std::optional<QString> TFormDiag1::FindInputProblem() const {
  const std::string name = FolderName();
  const std::string path = FolderPath();
  const QString shownName = TrimControls(Edit1->text());
  const QString shownPath = TrimControls(Edit2->text());
  if (name.empty()) return tr("名前を入力してください。");
  // ";;" separates the name from the path in the folder list; a line break would split it.
  if (name.find(";;") != std::string::npos) return tr("名前に「;;」は使えません。");
  if (HasControlCharacter(name)) return tr("名前に改行などの制御文字は使えません。");
  if (std::find(takenNames_.begin(), takenNames_.end(), name) != takenNames_.end()) {
    return tr("名前「%1」はほかの共有フォルダが使っています。").arg(shownName);
  }
  if (path.empty()) return tr("パスを入力してください。");
  if (path.find(";;") != std::string::npos) return tr("パスに「;;」は使えません。");
  if (HasControlCharacter(path)) return tr("パスに改行などの制御文字は使えません。");
  if (path.front() != '/') {
    return tr("パス「%1」は「/」から始まるフォルダの場所で入力してください。").arg(shownPath);
  }
  if (!IsFolder(path)) return tr("フォルダ「%1」が見つかりません。").arg(shownPath);
  if (!IsReadableFolder(path)) {
    return tr("フォルダ「%1」を読む権限がありません。読めるフォルダを選んでください。")
        .arg(shownPath);
  }
  return std::nullopt;
}

void TFormDiag1::Button1Click() {
  if (std::optional<QString> problem = FindInputProblem()) {
    warner_(this, *problem);
    return;
  }
  accept();
}

void TFormDiag1::Button3Click() {
  const std::string typed = FolderPath();
  const QString start = !typed.empty() && typed.front() == '/' && IsFolder(typed)
                            ? QString::fromStdString(SystemToNative(typed))
                            : QDir::homePath();
  QString path = PickedFolderText(picker_(this, tr("フォルダを選択してください"), start));
  // Cancelling the picker leaves a typed path alone. A name not typed yet is the folder's.
  if (path.isEmpty()) return;
  Edit2->setText(path);
  if (TrimControls(Edit1->text()).isEmpty()) Edit1->setText(QDir(path).dirName());
}

void TFormDiag1::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Typing starts in the name; the buttons still come first in the tab order.
  Edit1->setFocus(Qt::OtherFocusReason);
}

}  // namespace vm
