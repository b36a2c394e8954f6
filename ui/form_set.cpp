#include "ui/form_set.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "platform/fs_names.h"
#include "platform/text_helpers.h"
#include "state/config_store.h"
#include "state/ini_file.h"
#include "ui/form_diag1.h"
#include "ui/form_set_host.h"
#include "ui/handler_guard.h"
#include "ui/qr_code.h"
#include "ui/qt_text.h"

namespace vm {
namespace {

const int kWidth = 480;
const int kHeight = 360;
const int kNameColumnWidth = 100;
const int kPathColumnWidth = 240;
const int kButtonPanelWidth = 100;
const int kButtonWidth = 75;
const int kButtonHeight = 25;
const int kBottomPanelHeight = 70;
const int kPortEditWidth = 81;
const int kLinkHeight = 19;
// The hand cursor shows only this far inside the address label, so that the pointer turns into
// a hand over the text rather than at the label's edge.
const int kLinkMarginX = 3;
const int kLinkMarginY = 5;
const int kQrModulePixels = 4;
const int kStatusMargin = 4;
const int kLowestPort = 1;
const int kHighestPort = 65535;


// Column numbers of ListView1 and where each row keeps its system texts: the shown texts are for
// the eye only, so names that do not survive a round trip through the display form stay intact.
const int kNameColumn = 0;
const int kPathColumn = 1;
const int kSystemTextRole = Qt::UserRole;

QPushButton* MakeButton(const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setFixedSize(kButtonWidth, kButtonHeight);
  button->setAutoDefault(false);
  return button;
}

void ShowWarningBox(QWidget* parent, const QString& message) {
  QMessageBox::warning(parent, QStringLiteral("設定"), message);
}

// Bytes below 0x20 are never part of a Shift_JIS or UTF-8 character, so a byte test suffices.
bool HasControlCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

}  // namespace

TFormSet::TFormSet(TFormSetHost& host, TFormDiag1& diag, QWidget* parent)
    : QWidget(parent, Qt::Window), host_(host), diag_(diag), warner_(ShowWarningBox) {
  setWindowTitle(QStringLiteral("設定"));
  PageControl1 = new QTabWidget(this);
  PageControl1->addTab(CreateFoldersTab(), QStringLiteral("共有フォルダ"));
  PageControl1->addTab(CreatePasswordTab(), QStringLiteral("パスワード"));
  PageControl1->addTab(CreateSystemTab(), QStringLiteral("システム"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(PageControl1, 1);
  layout->addWidget(CreatePanel1());
  StatusLine = new QLabel(this);
  StatusLine->setWordWrap(true);
  StatusLine->setContentsMargins(kStatusMargin, kStatusMargin, kStatusMargin, kStatusMargin);
  StatusLine->hide();
  layout->addWidget(StatusLine);
  ConnectHandlers();
  PageControl1->setCurrentIndex(0);  // FormCreate: the first tab
  ListView1SelectItem();
  resize(kWidth, kHeight);
  CenterOnScreen(this);
}

QWidget* TFormSet::CreateFoldersTab() {
  auto* tab = new QWidget;
  ListView1 = new QTreeWidget(tab);
  ListView1->setHeaderLabels({QStringLiteral("名前"), QStringLiteral("パス")});
  ListView1->setColumnWidth(kNameColumn, kNameColumnWidth);
  ListView1->setColumnWidth(kPathColumn, kPathColumnWidth);
  ListView1->setRootIsDecorated(false);
  ListView1->setItemsExpandable(false);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->setAllColumnsShowFocus(true);

  auto* panel2 = new QWidget(tab);
  panel2->setFixedWidth(kButtonPanelWidth);
  Button5 = MakeButton(QStringLiteral("追加"), panel2);
  Button6 = MakeButton(QStringLiteral("編集"), panel2);
  Button7 = MakeButton(QStringLiteral("削除"), panel2);
  Button8 = MakeButton(QStringLiteral("上へ"), panel2);
  Button9 = MakeButton(QStringLiteral("下へ"), panel2);
  auto* buttons = new QVBoxLayout(panel2);
  buttons->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  buttons->addWidget(Button5);
  buttons->addWidget(Button6);
  buttons->addWidget(Button7);
  buttons->addSpacing(kButtonHeight);
  buttons->addWidget(Button8);
  buttons->addWidget(Button9);
  buttons->addStretch();

  auto* layout = new QHBoxLayout(tab);
  layout->addWidget(ListView1, 1);
  layout->addWidget(panel2);
  return tab;
}

QWidget* TFormSet::CreatePasswordTab() {
  auto* tab = new QWidget;
  auto* label2 = new QLabel(QStringLiteral("URLにアクセスする時にパスワードが必要になります。　"), tab);
  label2->setStyleSheet(QStringLiteral("color: blue;"));
  label2->setWordWrap(true);
  CheckBox1 = new QCheckBox(QStringLiteral("パスワード入力を有効"), tab);
  auto* label3 = new QLabel(QStringLiteral("パスワード："), tab);
  Edit1 = new QLineEdit(tab);
  Edit1->setEchoMode(QLineEdit::Password);
  Edit1->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"
  label3->setBuddy(Edit1);

  auto* row = new QHBoxLayout;
  row->addWidget(label3);
  row->addWidget(Edit1, 1);
  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(label2);
  layout->addWidget(CheckBox1);
  layout->addLayout(row);
  layout->addStretch();
  return tab;
}

QWidget* TFormSet::CreateSystemTab() {
  auto* tab = new QWidget;
  CheckBox2 = new QCheckBox(QStringLiteral("PC起動時に自動的に実行"), tab);
  auto* label4 = new QLabel(QStringLiteral("HTTP Port ：　"), tab);
  Edit2 = new QLineEdit(tab);
  Edit2->setFixedWidth(kPortEditWidth);
  const QString hint = QStringLiteral("Port番号の変更は、ソフトの再起動が必要です。");
  Edit2->setToolTip(hint);
  label4->setToolTip(hint);
  label4->setBuddy(Edit2);

  auto* portRow = new QHBoxLayout;
  portRow->addWidget(label4);
  portRow->addWidget(Edit2);
  portRow->addStretch();
  auto* settings = new QVBoxLayout;
  settings->addWidget(CheckBox2);
  settings->addLayout(portRow);
  settings->addStretch();

  QrCode = new QLabel(tab);
  QrCode->setAlignment(Qt::AlignCenter);
  QrCode->setVisible(QrCodeAvailable());
  auto* qrCaption = new QLabel(QStringLiteral("スマートフォンで読み取るとURLを開けます"), tab);
  qrCaption->setAlignment(Qt::AlignCenter);
  qrCaption->setVisible(QrCodeAvailable());
  auto* qrColumn = new QVBoxLayout;
  qrColumn->addWidget(QrCode, 1);
  qrColumn->addWidget(qrCaption);

  auto* layout = new QHBoxLayout(tab);
  layout->addLayout(settings, 1);
  layout->addLayout(qrColumn);
  return tab;
}

QWidget* TFormSet::CreatePanel1() {
  auto* panel1 = new QWidget(this);
  panel1->setObjectName(QStringLiteral("Panel1"));
  panel1->setFixedHeight(kBottomPanelHeight);
  Label5 = new QLabel(panel1);
  Label5->setFixedHeight(kLinkHeight);
  Label5->setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
  Label5->setMouseTracking(true);
  Label5->installEventFilter(this);

  Button1 = MakeButton(QStringLiteral("OK"), panel1);
  Button2 = MakeButton(QStringLiteral("Cancel"), panel1);
  Button4 = MakeButton(QStringLiteral("URL"), panel1);
  Button10 = MakeButton(QStringLiteral("閉じる"), panel1);
  Button3 = MakeButton(QStringLiteral("終了"), panel1);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {Button1, Button2, Button4, Button10, Button3}) {
    buttons->addWidget(button);
  }
  buttons->addStretch();
  auto* layout = new QVBoxLayout(panel1);
  layout->addWidget(Label5, 0, Qt::AlignLeft);
  layout->addStretch();
  layout->addLayout(buttons);
  return panel1;
}

void TFormSet::ConnectHandlers() {
  // Each button runs its handler under the guard: a failed file write shows its message and the
  // window stays usable. OK's answer is for its callers, not for the button.
  auto guarded = [this](auto handler) {
    return [this, handler] { RunHandler(this, [this, handler] { (this->*handler)(); }); };
  };
  connect(Button1, &QPushButton::clicked, this, guarded(&TFormSet::Button1Click));
  connect(Button2, &QPushButton::clicked, this, guarded(&TFormSet::Button2Click));
  connect(Button3, &QPushButton::clicked, this, guarded(&TFormSet::Button3Click));
  connect(Button4, &QPushButton::clicked, this, guarded(&TFormSet::Button4Click));
  connect(Button5, &QPushButton::clicked, this, guarded(&TFormSet::Button5Click));
  connect(Button6, &QPushButton::clicked, this, guarded(&TFormSet::Button6Click));
  connect(Button7, &QPushButton::clicked, this, guarded(&TFormSet::Button7Click));
  connect(Button8, &QPushButton::clicked, this, guarded(&TFormSet::Button8Click));
  connect(Button9, &QPushButton::clicked, this, guarded(&TFormSet::Button9Click));
  connect(Button10, &QPushButton::clicked, this, guarded(&TFormSet::Button10Click));
  connect(ListView1, &QTreeWidget::itemSelectionChanged, this, &TFormSet::ListView1SelectItem);
  connect(ListView1, &QTreeWidget::itemDoubleClicked, this, guarded(&TFormSet::Button6Click));
}

std::string TFormSet::RowName(const QTreeWidgetItem* row) {
  return row->data(kNameColumn, kSystemTextRole).toByteArray().toStdString();
}

std::string TFormSet::RowPath(const QTreeWidgetItem* row) {
  return row->data(kPathColumn, kSystemTextRole).toByteArray().toStdString();
}

void TFormSet::SetRow(QTreeWidgetItem* row, const std::string& name, const std::string& path) {
  row->setText(kNameColumn, SystemToQString(name));
  row->setText(kPathColumn, SystemToQString(path));
  row->setData(kNameColumn, kSystemTextRole, QByteArray::fromStdString(name));
  row->setData(kPathColumn, kSystemTextRole, QByteArray::fromStdString(path));
}

QTreeWidgetItem* TFormSet::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

void TFormSet::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A restore from the minimised state is no new showing: typed values stay.
  if (!event->spontaneous()) RunHandler(this, [this] { FormShow(); });
}

void TFormSet::FormShow() {
  TMainState& state = host_.State();
  ListView1->clear();
  for (const std::string& entry : *state.SharedFolders()) {
    if (TrimText(entry).empty()) continue;
    SetRow(new QTreeWidgetItem(ListView1), GetField(entry, 0), GetField(entry, 1));
  }
  ListView1SelectItem();

  TIniFile ini(state.ProgramFolder() + kSettingsFile);
  Edit2->setText(QString::number(ini.ReadInteger(kSettingsSection, "HTTP_PORT", kDefaultPort)));
  CheckBox2->setChecked(ini.ReadInteger(kSettingsSection, "AUTO_RUN", 0) == 1);
  CheckBox1->setChecked(ini.ReadInteger(kSettingsSection, "PASS_FLG", 0) == 1);
  Edit1->setText(SystemToQString(HexDecode(ini.ReadString(kSettingsSection, "PASSWORD", ""))));
  ShowBaseURL(state.Settings().BaseURL);
}

void TFormSet::ShowBaseURL(const std::string& baseURL) {
  Label5->setText(SystemToQString(baseURL));
  Label5->adjustSize();
  if (!QrCodeAvailable()) return;
  QImage image = MakeQrImage(QByteArray::fromStdString(baseURL), kQrModulePixels);
  QrCode->setPixmap(QPixmap::fromImage(image));
  QrCode->setToolTip(SystemToQString(baseURL));
}

std::optional<QString> TFormSet::FindInputProblem() const {
  const int port = StrToIntDef(QStringToSystem(Edit2->text()), kDefaultPort);
  if (port < kLowestPort || port > kHighestPort) {
    return QStringLiteral("HTTP Port %1 は使えません。1から65535までの番号を入力してください。")
        .arg(port);
  }
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = ListView1->topLevelItem(i);
    const std::string name = RowName(row);
    const std::string path = RowPath(row);
    if (name.find(";;") != std::string::npos) {
      return QStringLiteral("共有フォルダの名前「%1」に「;;」は使えません。").arg(row->text(kNameColumn));
    }
    if (path.find(";;") != std::string::npos) {
      return QStringLiteral("共有フォルダのパス「%1」に「;;」は使えません。").arg(row->text(kPathColumn));
    }
    // A pasted line break would split the entry into two lines of "dirlst.ini".
    if (HasControlCharacter(name)) {
      return QStringLiteral("共有フォルダの名前「%1」に改行などの制御文字は使えません。")
          .arg(row->text(kNameColumn));
    }
    if (HasControlCharacter(path)) {
      return QStringLiteral("共有フォルダのパス「%1」に改行などの制御文字は使えません。")
          .arg(row->text(kPathColumn));
    }
  }
  return std::nullopt;
}

bool TFormSet::Button1Click() {
  if (std::optional<QString> problem = FindInputProblem()) {
    warner_(this, *problem);
    return false;
  }
  TMainState& state = host_.State();
  const std::string folder = state.ProgramFolder();

  TSharedFolderList entries;
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = ListView1->topLevelItem(i);
    entries.push_back(RowName(row) + ";;" + WithFinalSlash(RowPath(row)));
  }
  state.ReplaceSharedFolders(entries);
  WriteSharedFolderFile(folder + kSharedFolderFile, entries);

  const TSettings current = state.Settings();
  const int startFlag = CheckBox2->isChecked() ? 1 : 0;
  const int port = StrToIntDef(QStringToSystem(Edit2->text()), kDefaultPort);
  TIniFile ini(folder + kSettingsFile);
  if (startFlag != current.AutoRun || port != current.Port) {
    ini.WriteString(kSettingsSection, "HTTP_PORT", std::to_string(port));
    ini.WriteString(kSettingsSection, "AUTO_RUN", startFlag == 1 ? "1" : "0");
  }
  if (startFlag != current.AutoRun) {
    state.SetAutoRun(startFlag);
    if (startFlag == 1) {
      WriteAutostartEntry(host_.ExecutablePath());
    } else {
      DeleteAutostartEntry();
    }
  }
  const std::string password = QStringToSystem(Edit1->text());
  if (CheckBox1->isChecked() != current.PassFlag || password != current.Password) {
    ini.WriteString(kSettingsSection, "PASS_FLG", CheckBox1->isChecked() ? "1" : "0");
    ini.WriteString(kSettingsSection, "PASSWORD", HexEncode(password));
  }
  LoadSettings(state);
  Dismiss();
  return true;
}

void TFormSet::Button2Click() { Dismiss(); }

void TFormSet::SetKeepReachable(bool keep) {
  keepReachable_ = keep;
  StatusLine->setText(keep ? QStringLiteral("通知領域（トレイ）が見つからないため、この画面を閉じると"
                                            "最小化します。Velmarind はこの画面から操作できます。")
                           : QString());
  StatusLine->setVisible(keep);
}

void TFormSet::Dismiss() {
  if (!keepReachable_) {
    hide();
    return;
  }
  // A later restore is no new showing: what it shows must already be the stored values.
  RunHandler(this, [this] { FormShow(); });
  showMinimized();
}

void TFormSet::closeEvent(QCloseEvent* event) {
  if (!keepReachable_) {
    QWidget::closeEvent(event);
    return;
  }
  event->ignore();
  Dismiss();
}

void TFormSet::Button3Click() {
  if (Button1Click()) host_.CloseMainWindow();
}

void TFormSet::Button4Click() { host_.URLU1Click(); }

void TFormSet::Button5Click() {
  if (diag_.exec() != QDialog::Accepted) return;
  const QString name = TrimControls(diag_.Edit1->text());
  const QString path = TrimControls(diag_.Edit2->text());
  if (name.isEmpty() || path.isEmpty()) return;
  SetRow(new QTreeWidgetItem(ListView1), QStringToSystem(name),
         WithFinalSlash(QStringToSystem(path)));
}

void TFormSet::Button6Click() {
  QTreeWidgetItem* row = SelectedRow();
  if (!row) return;
  const QString shownName = row->text(kNameColumn);
  const QString shownPath = row->text(kPathColumn);
  diag_.Edit1->setText(shownName);
  diag_.Edit2->setText(shownPath);
  if (diag_.exec() != QDialog::Accepted) return;
  const QString name = TrimControls(diag_.Edit1->text());
  // The path is tested untrimmed: a path of spaces passes and is stored empty.
  if (name.isEmpty() || diag_.Edit2->text().isEmpty()) return;
  const QString path = TrimControls(diag_.Edit2->text());
  // A text left as shown keeps its system bytes: bytes that are neither Shift_JIS nor UTF-8 show
  // as replacement characters and would not survive the way back.
  SetRow(row, name == shownName ? RowName(row) : QStringToSystem(name),
         WithFinalSlash(path == shownPath ? RowPath(row) : QStringToSystem(path)));
}

void TFormSet::Button7Click() {
  QTreeWidgetItem* row = SelectedRow();
  if (!row) return;
  delete row;
  // Nothing is selected after a deletion, whatever row the view makes current.
  ListView1->clearSelection();
  ListView1SelectItem();
}

void TFormSet::SwapRows(int upper) {
  QTreeWidgetItem* top = ListView1->topLevelItem(upper);
  QTreeWidgetItem* bottom = ListView1->topLevelItem(upper + 1);
  const std::string topName = RowName(top);
  const std::string topPath = RowPath(top);
  SetRow(top, RowName(bottom), RowPath(bottom));
  SetRow(bottom, topName, topPath);
}

void TFormSet::Button8Click() {
  QTreeWidgetItem* row = SelectedRow();
  if (!row) return;
  const int index = ListView1->indexOfTopLevelItem(row);
  if (index < 1) return;
  SwapRows(index - 1);
  ListView1->setCurrentItem(ListView1->topLevelItem(index - 1));
}

void TFormSet::Button9Click() {
  QTreeWidgetItem* row = SelectedRow();
  if (!row) return;
  const int index = ListView1->indexOfTopLevelItem(row);
  if (index >= ListView1->topLevelItemCount() - 1) return;
  SwapRows(index);
  ListView1->setCurrentItem(ListView1->topLevelItem(index + 1));
}

void TFormSet::Button10Click() { close(); }

void TFormSet::ListView1SelectItem() {
  QTreeWidgetItem* row = SelectedRow();
  Button6->setEnabled(row != nullptr);
  Button7->setEnabled(row != nullptr);
  const int index = row ? ListView1->indexOfTopLevelItem(row) : -1;
  Button8->setEnabled(row && index >= 1);
  Button9->setEnabled(row && index < ListView1->topLevelItemCount() - 1);
}

bool TFormSet::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label5) {
    if (event->type() == QEvent::MouseMove) {
      const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
      Label5MouseMove(at.x(), at.y());
    } else if (event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
               Label5->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
      RunHandler(this, [this] { Button4Click(); });
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TFormSet::Label5MouseMove(int x, int y) {
  const bool inside = x > kLinkMarginX && x < Label5->width() - kLinkMarginX &&
                      y > kLinkMarginY && y < Label5->height() - kLinkMarginY;
  Label5->setCursor(inside ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

}  // namespace vm
