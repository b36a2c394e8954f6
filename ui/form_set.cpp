#include "ui/form_set.h"

#include <sys/stat.h>

#include <QBrush>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "platform/exception.h"
#include "platform/fs_names.h"
#include "platform/text_helpers.h"
#include "state/served_urls.h"
#include "ui/clients_tab.h"
#include "ui/form_diag1.h"
#include "ui/form_set_host.h"
#include "ui/handler_guard.h"
#include "ui/qr_code.h"
#include "ui/signin_qr.h"
#include "ui/qt_text.h"

namespace vm {
namespace {

// Wider than the designed 480 pixels: the mode column needs room for its choices.
const int kWidth = 580;
const int kHeight = 360;
const int kNameColumnWidth = 100;
const int kPathColumnWidth = 180;
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
// Small enough to leave the tab room for the URLs, large enough for a phone at arm's length.
const int kQrModulePixels = 3;
const int kStatusMargin = 4;
// Rows the URL list shows without scrolling: two addresses (wired and wireless) and the name.
const int kAddressListRows = 3;
const int kLowestPort = 1;
const int kHighestPort = 65535;
// Longer than a host name may be (253 characters), so a name of that length is refused.
const int kHostNameLength = 253;
const QString kLinkStyle = QStringLiteral("color: blue; text-decoration: underline;");
const QString kNotServingStyle = QStringLiteral("color: #b00000;");

// Column numbers of ListView1 and where each row keeps its system texts: the shown texts are for
// the eye only, so names that do not survive a round trip through the display form stay intact.
const int kNameColumn = 0;
const int kPathColumn = 1;
const int kModeColumn = 2;

// The share modes as the mode column offers them, in this order.
// The captions are source texts of the translations (context TFormSet).
struct TModeChoice {
  TShareMode Mode;
  const char* Caption;
  const char* Hint;
};
const TModeChoice kModeChoices[] = {
    {TShareMode::ViewOnly, QT_TRANSLATE_NOOP("vm::TFormSet", "閲覧のみ"),
     QT_TRANSLATE_NOOP("vm::TFormSet", "一覧の表示とダウンロードだけができます。")},
    {TShareMode::ViewUpload, QT_TRANSLATE_NOOP("vm::TFormSet", "閲覧とアップロード"),
     QT_TRANSLATE_NOOP("vm::TFormSet",
                       "一覧の表示、ダウンロード、アップロード、テキストの作成ができます。")},
    {TShareMode::Full, QT_TRANSLATE_NOOP("vm::TFormSet", "完全"),
     QT_TRANSLATE_NOOP(
         "vm::TFormSet",
         "閲覧とアップロードに加えて、ごみ箱への削除、名前の変更、フォルダの作成ができます。")},
    {TShareMode::UploadOnly, QT_TRANSLATE_NOOP("vm::TFormSet", "アップロードのみ"),
     QT_TRANSLATE_NOOP("vm::TFormSet",
                       "アップロードとテキストの作成だけができます。一覧には何も表示されません。")},
};
const int kSystemTextRole = Qt::UserRole;
// The items of ComboLanguage.
const int kAutoLanguageItem = 0;
const int kJapaneseItem = 1;
const int kEnglishItem = 2;
// Where a row of AddressList keeps its URL (system text).
const int kUrlRole = Qt::UserRole;

int LanguageItem(TLanguageChoice language) {
  switch (language) {
    case TLanguageChoice::Japanese:
      return kJapaneseItem;
    case TLanguageChoice::English:
      return kEnglishItem;
    case TLanguageChoice::Auto:
      break;
  }
  return kAutoLanguageItem;
}

TLanguageChoice LanguageOfItem(int item) {
  if (item == kJapaneseItem) return TLanguageChoice::Japanese;
  if (item == kEnglishItem) return TLanguageChoice::English;
  return TLanguageChoice::Auto;
}

QPushButton* MakeButton(const QString& caption, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setFixedSize(kButtonWidth, kButtonHeight);
  button->setAutoDefault(false);
  return button;
}

void ShowWarningBox(QWidget* parent, const QString& message) {
  QMessageBox::warning(parent, TFormSet::tr("Velmarind 設定"), message);
}

TFormSet::TCloseChoice AskWithBox(QWidget* parent) {
  const TFormSet::TCloseChoice choices[] = {TFormSet::TCloseChoice::Save,
                                            TFormSet::TCloseChoice::Discard,
                                            TFormSet::TCloseChoice::KeepEditing};
  return choices[AskSaveDiscardKeep(parent, TFormSet::tr("Velmarind 設定"),
                                    TFormSet::tr("設定の変更が保存されていません。保存しますか？"),
                                    TFormSet::tr("保存する"), TFormSet::tr("保存しない"),
                                    TFormSet::tr("キャンセル"))];
}

// A name a browser can send in its Host line: letters, digits, "-", "." and "_".
bool IsHostName(const std::string& name) {
  if (name.size() > kHostNameLength) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
  });
}

}  // namespace

std::optional<int> PortFromText(const QString& text) {
  // A Japanese input method gives full-width digits; they are digits all the same.
  QString digits;
  for (QChar c : text.trimmed()) {
    if (c >= QChar(0xFF10) && c <= QChar(0xFF19)) c = QChar('0' + (c.unicode() - 0xFF10));
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    digits += c;
  }
  bool ok = false;
  const int port = digits.toInt(&ok);
  if (!ok || port < kLowestPort || port > kHighestPort) return std::nullopt;
  return port;
}

namespace {}  // namespace

TFormSet::TFormSet(TFormSetHost& host, TFormDiag1& diag, QWidget* parent)
    : QWidget(parent, Qt::Window),
      host_(host),
      diag_(diag),
      warner_(ShowWarningBox),
      closeAsker_(AskWithBox) {
  PageControl1 = new QTabWidget(this);
  PageControl1->addTab(CreateFoldersTab(), QString());
  PageControl1->addTab(CreatePasswordTab(), QString());
  PageControl1->addTab(CreateSystemTab(), QString());
  ClientsTab = new TClientsTab(host_.State());
  PageControl1->addTab(ClientsTab, QString());
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
  Edit1->setEnabled(false);
  ListView1SelectItem();
  RetranslateUi();
  resize(kWidth, kHeight);
  CenterOnScreen(this);
}

void TFormSet::RetranslateUi() {
  setWindowTitle(tr("Velmarind 設定"));
  PageControl1->setTabText(0, tr("共有フォルダ"));
  PageControl1->setTabText(1, tr("パスワード"));
  PageControl1->setTabText(2, tr("システム"));
  PageControl1->setTabText(3, tr("接続"));

  ListView1->setHeaderLabels({tr("名前"), tr("パス"), tr("権限")});
  Button5->setText(tr("追加"));
  Button6->setText(tr("編集"));
  Button7->setText(tr("削除"));
  Button8->setText(tr("上へ"));
  Button9->setText(tr("下へ"));
  CheckBox4->setText(tr("アップロードしたファイルの名前をそのまま使う"));
  CheckBox4->setToolTip(
      tr("オフのときは「__vupd_img_」と日時の名前で保存します。同じ名前のファイルがあるときは"
         "「名前 (2)」のように別の名前にし、上書きはしません。"));
  RetranslateModeChoices();
  CheckBox3->setText(tr("ドットで始まるファイルも公開する"));
  CheckBox3->setToolTip(
      tr("「.」で始まる名前のファイルとフォルダも、一覧に出し、ダウンロードできるようにします。"));

  ShowPasswordNote();
  firstStep_->setText(tr("まず「追加」で、ブラウザに公開するフォルダを選んでください。"));
  folderLine_->setText(
      tr("プログラムフォルダ: %1").arg(SystemToQString(host_.State().ProgramFolder())));
  folderLine_->setToolTip(tr("設定（velmarind.ini, dirlst.ini）はこのフォルダに保存されます。"));
  CheckBox1->setText(tr("パスワード入力を有効"));
  label3_->setText(tr("パスワード："));

  CheckBox2->setText(tr("PC起動時に自動的に実行"));
  label4_->setText(tr("HTTPポート："));
  const QString hint = tr("Port番号の変更は、OKですぐに反映されます。");
  Edit2->setToolTip(hint);
  label4_->setToolTip(hint);
  label6_->setText(tr("このPCの別名（カンマ区切り）:"));
  const QString hostsHint =
      tr("このPCのアドレスとホスト名のほかに、ここに書いた名前（例: "
         "nas.local）でもアクセスを受け付けます。");
  Edit3->setToolTip(hostsHint);
  label6_->setToolTip(hostsHint);
  label7_->setText(tr("このPCのURL:"));
  AddressList->setToolTip(tr("選んだURLがQRコードになります。"));
  label8_->setText(tr("表示言語:"));
  ComboLanguage->setItemText(kAutoLanguageItem, tr("自動"));
  davLabel_->setText(tr("ファイルマネージャー:"));
  DavAddresses->setToolTip(tr("ファイルマネージャーなど WebDAV に対応したアプリで共有フォルダを"
                              "開くアドレスです。"));
  DavCopy->setText(tr("コピー"));

  Button1->setText(tr("OK"));
  Button2->setText(tr("キャンセル"));
  Button4->setText(tr("URLを開く"));
  Button10->setText(tr("閉じる"));
  Button3->setText(tr("終了"));
  SetKeepReachable(keepReachable_);
  if (isVisible()) ShowAddress();
}

void TFormSet::ShowPasswordNote() {
  label2_->setText(CheckBox1->isChecked()
                       ? tr("URLにアクセスする時にパスワードが必要になります。　")
                       : tr("オンにすると、URLにアクセスする時にパスワードが必要になります。"));
}

void TFormSet::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) RetranslateUi();
  QWidget::changeEvent(event);
}

QWidget* TFormSet::CreateFoldersTab() {
  auto* tab = new QWidget;
  ListView1 = new QTreeWidget(tab);
  ListView1->setColumnCount(3);  // name, path, permission; captions in RetranslateUi
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
  Button5 = MakeButton(QString(), panel2);
  Button6 = MakeButton(QString(), panel2);
  Button7 = MakeButton(QString(), panel2);
  Button8 = MakeButton(QString(), panel2);
  Button9 = MakeButton(QString(), panel2);
  auto* buttons = new QVBoxLayout(panel2);
  buttons->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  buttons->addWidget(Button5);
  buttons->addWidget(Button6);
  buttons->addWidget(Button7);
  buttons->addSpacing(kButtonHeight);
  buttons->addWidget(Button8);
  buttons->addWidget(Button9);
  buttons->addStretch();

  CheckBox3 = new QCheckBox(tab);

  CheckBox4 = new QCheckBox(tab);
  firstStep_ = new QLabel(tab);
  firstStep_->setWordWrap(true);
  firstStep_->setStyleSheet(QStringLiteral("color: blue;"));
  firstStep_->hide();

  auto* row = new QHBoxLayout;
  row->addWidget(ListView1, 1);
  row->addWidget(panel2);
  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(firstStep_);
  layout->addLayout(row, 1);
  layout->addWidget(CheckBox3);
  layout->addWidget(CheckBox4);
  return tab;
}

QWidget* TFormSet::CreatePasswordTab() {
  auto* tab = new QWidget;
  label2_ = new QLabel(tab);
  label2_->setStyleSheet(QStringLiteral("color: blue;"));
  label2_->setWordWrap(true);
  CheckBox1 = new QCheckBox(tab);
  label3_ = new QLabel(tab);
  Edit1 = new QLineEdit(tab);
  Edit1->setEchoMode(QLineEdit::Password);
  Edit1->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"
  label3_->setBuddy(Edit1);

  auto* row = new QHBoxLayout;
  row->addWidget(label3_);
  row->addWidget(Edit1, 1);
  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(label2_);
  layout->addWidget(CheckBox1);
  layout->addLayout(row);
  layout->addStretch();
  return tab;
}

namespace {

// Where a file manager of each kind finds the shares, for the host and port of a page URL
// ("http://192.168.0.12:8080/velmarind/").
std::vector<std::pair<QString, std::string>> DavUrls(const std::string& pageUrl) {
  const size_t start = pageUrl.find("://");
  if (start == std::string::npos) return {};
  const size_t end = pageUrl.find('/', start + 3);
  const std::string authority = pageUrl.substr(start + 3, end - start - 3);
  const std::string path = authority + "/velmarind-dav/";
  return {{QStringLiteral("GNOME"), "dav://" + path},
          {QStringLiteral("KDE"), "webdav://" + path},
          {QStringLiteral("macOS Finder, rclone, Android"), "http://" + path}};
}

}  // namespace

QWidget* TFormSet::CreateSystemTab() {
  auto* tab = new QWidget;
  CheckBox2 = new QCheckBox(tab);
  label4_ = new QLabel(tab);
  Edit2 = new QLineEdit(tab);
  Edit2->setFixedWidth(kPortEditWidth);
  label4_->setBuddy(Edit2);

  auto* portRow = new QHBoxLayout;
  portRow->addWidget(label4_);
  portRow->addWidget(Edit2);
  portRow->addStretch();
  label6_ = new QLabel(tab);
  Edit3 = new QLineEdit(tab);
  label6_->setBuddy(Edit3);

  label7_ = new QLabel(tab);
  AddressList = new QListWidget(tab);
  AddressList->setFixedHeight(AddressList->fontMetrics().height() * kAddressListRows +
                              2 * AddressList->frameWidth() + kAddressListRows * 2);
  label7_->setBuddy(AddressList);
  connect(AddressList, &QListWidget::currentRowChanged, this, &TFormSet::ShowQrCode);
  connect(AddressList, &QListWidget::currentRowChanged, this, &TFormSet::ShowDavAddresses);
  NameLine = new QLabel(tab);
  NameLine->setWordWrap(true);
  NameLine->hide();
  davLabel_ = new QLabel(tab);
  DavAddresses = new QComboBox(tab);
  davLabel_->setBuddy(DavAddresses);
  DavCopy = new QPushButton(tab);
  connect(DavCopy, &QPushButton::clicked, this, [this] {
    QGuiApplication::clipboard()->setText(DavAddresses->currentData().toString());
  });
  auto* davRow = new QHBoxLayout;
  davRow->addWidget(davLabel_);
  davRow->addWidget(DavAddresses, 1);
  davRow->addWidget(DavCopy);

  // Language names are given in their own language, so that either can be found.
  label8_ = new QLabel(tab);
  ComboLanguage = new QComboBox(tab);
  ComboLanguage->insertItem(kAutoLanguageItem, QString());
  ComboLanguage->insertItem(kJapaneseItem, QStringLiteral("日本語"));
  ComboLanguage->insertItem(kEnglishItem, QStringLiteral("English"));
  label8_->setBuddy(ComboLanguage);
  auto* languageRow = new QHBoxLayout;
  languageRow->addWidget(label8_);
  languageRow->addWidget(ComboLanguage);
  languageRow->addStretch();

  folderLine_ = new QLabel(tab);
  folderLine_->setWordWrap(true);
  folderLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* settings = new QVBoxLayout;
  settings->addWidget(folderLine_);
  settings->addWidget(CheckBox2);
  settings->addLayout(portRow);
  settings->addLayout(languageRow);
  settings->addWidget(label6_);
  settings->addWidget(Edit3);
  settings->addStretch();

  SignInQr = new TSignInQr(host_.State(), kQrModulePixels, tab);
  QrCode = SignInQr->Code;
  QrCode->setVisible(QrCodeAvailable());
  qrCaption_ = new QLabel(tab);
  qrCaption_->setAlignment(Qt::AlignCenter);
  qrCaption_->setWordWrap(true);
  qrCaption_->setVisible(QrCodeAvailable());
  auto* qrColumn = new QVBoxLayout;
  qrColumn->addWidget(SignInQr, 1);
  qrColumn->addWidget(qrCaption_);

  // The settings beside the code, the URLs below both: a URL is read best on one line.
  auto* top = new QHBoxLayout;
  top->addLayout(settings, 1);
  top->addLayout(qrColumn);
  auto* layout = new QVBoxLayout(tab);
  layout->addLayout(top);
  layout->addWidget(label7_);
  layout->addWidget(AddressList);
  layout->addWidget(NameLine);
  layout->addLayout(davRow);
  layout->addStretch();
  return tab;
}

QWidget* TFormSet::CreatePanel1() {
  auto* panel1 = new QWidget(this);
  panel1->setObjectName(QStringLiteral("Panel1"));
  panel1->setFixedHeight(kBottomPanelHeight);
  Label5 = new QLabel(panel1);
  Label5->setFixedHeight(kLinkHeight);
  Label5->setStyleSheet(kLinkStyle);
  Label5->setMouseTracking(true);
  Label5->installEventFilter(this);

  Button1 = MakeButton(QString(), panel1);
  Button2 = MakeButton(QString(), panel1);
  Button4 = MakeButton(QString(), panel1);
  Button10 = MakeButton(QString(), panel1);
  Button3 = MakeButton(QString(), panel1);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {Button1, Button2, Button4, Button10, Button3}) {
    buttons->addWidget(button);
  }
  Button1->setDefault(true);  // drawn as the default; Enter is handled by keyPressEvent
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
  connect(CheckBox1, &QCheckBox::toggled, Edit1, &QLineEdit::setEnabled);
  connect(CheckBox1, &QCheckBox::toggled, this, &TFormSet::ShowPasswordNote);
  // Delete and Enter act on the list's selected row.
  ListView1->installEventFilter(this);
}

void TFormSet::keyPressEvent(QKeyEvent* event) {
  // Escape is "閉じる", from whichever control does not use the key itself.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    RunHandler(this, [this] { Button10Click(); });
    return;
  }
  // Enter is OK, from whichever control does not use the key itself (a line edit does not).
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      event->modifiers() == Qt::NoModifier) {
    RunHandler(this, [this] { Button1Click(); });
    return;
  }
  QWidget::keyPressEvent(event);
}

std::string TFormSet::RowName(const QTreeWidgetItem* row) {
  return row->data(kNameColumn, kSystemTextRole).toByteArray().toStdString();
}

std::string TFormSet::RowPath(const QTreeWidgetItem* row) {
  return row->data(kPathColumn, kSystemTextRole).toByteArray().toStdString();
}

QComboBox* TFormSet::ModeChoice(const QTreeWidgetItem* row) const {
  return qobject_cast<QComboBox*>(
      ListView1->itemWidget(const_cast<QTreeWidgetItem*>(row), kModeColumn));
}

TShareMode TFormSet::RowMode(const QTreeWidgetItem* row) const {
  const QComboBox* choice = ModeChoice(row);
  if (choice == nullptr || choice->currentIndex() < 0) return kDefaultShareMode;
  return kModeChoices[choice->currentIndex()].Mode;
}

void TFormSet::SetRowMode(QTreeWidgetItem* row, TShareMode mode) {
  QComboBox* choice = ModeChoice(row);
  if (choice == nullptr) {
    choice = new QComboBox;
    for (const TModeChoice& entry : kModeChoices) {
      choice->addItem(tr(entry.Caption));
      choice->setItemData(choice->count() - 1, tr(entry.Hint), Qt::ToolTipRole);
    }
    ListView1->setItemWidget(row, kModeColumn, choice);
    // Choosing a row's mode selects the row, as a click on its other columns does.
    connect(choice, &QComboBox::activated, this, [this, choice] {
      for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        if (ModeChoice(ListView1->topLevelItem(i)) == choice) {
          ListView1->setCurrentItem(ListView1->topLevelItem(i));
        }
      }
    });
  }
  for (size_t i = 0; i < std::size(kModeChoices); ++i) {
    if (kModeChoices[i].Mode == mode) choice->setCurrentIndex(static_cast<int>(i));
  }
  choice->setToolTip(choice->itemData(choice->currentIndex(), Qt::ToolTipRole).toString());
}

void TFormSet::RetranslateModeChoices() {
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
    QComboBox* choice = ModeChoice(ListView1->topLevelItem(i));
    if (choice == nullptr) continue;
    for (int k = 0; k < choice->count(); ++k) {
      choice->setItemText(k, tr(kModeChoices[k].Caption));
      choice->setItemData(k, tr(kModeChoices[k].Hint), Qt::ToolTipRole);
    }
    choice->setToolTip(choice->itemData(choice->currentIndex(), Qt::ToolTipRole).toString());
  }
}

void TFormSet::SetRow(QTreeWidgetItem* row, const std::string& name, const std::string& path) {
  row->setText(kNameColumn, SystemToQString(name));
  row->setText(kPathColumn, SystemToQString(path));
  row->setData(kNameColumn, kSystemTextRole, QByteArray::fromStdString(name));
  row->setData(kPathColumn, kSystemTextRole, QByteArray::fromStdString(path));
  // Long names and paths are cut by their column; the full text shows on hover. A folder that
  // is not there (any more) shows in red, and the hover says so.
  struct stat info {};
  const bool missing = stat(SystemToNative(path).c_str(), &info) != 0 || !S_ISDIR(info.st_mode);
  const QString note =
      missing ? tr("フォルダ「%1」が見つかりません。").arg(row->text(kPathColumn)) : QString();
  for (int column : {kNameColumn, kPathColumn}) {
    row->setForeground(column, missing ? QBrush(Qt::red) : QBrush());
    row->setToolTip(column, missing ? note : row->text(column));
  }
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
  const TStoredSettings stored = host_.SettingsInForce();
  ListView1->clear();
  for (const std::string& entry : stored.SharedFolders) {
    if (TrimText(entry).empty()) continue;
    auto* row = new QTreeWidgetItem(ListView1);
    SetRow(row, GetField(entry, 0), GetField(entry, 1));
    SetRowMode(row, ShareModeOf(stored.ShareModes, GetField(entry, 0)));
  }
  ListView1SelectItem();
  CheckBox3->setChecked(stored.PublishDotFiles);
  CheckBox4->setChecked(stored.KeepUploadNames);
  Edit2->setText(QString::number(stored.Port));
  CheckBox2->setChecked(stored.AutoRun == 1);
  CheckBox1->setChecked(stored.PassFlag);
  Edit1->setEnabled(stored.PassFlag);
  Edit1->setText(SystemToQString(stored.Password));
  Edit3->setText(SystemToQString(JoinHostList(stored.ExtraHosts, ", ")));
  ComboLanguage->setCurrentIndex(LanguageItem(stored.Language));
  ShowAddress();
  shownSnapshot_ = ControlSnapshot();
}

void TFormSet::ShowAddress() {
  host_.FollowAddresses();
  const std::string reason = host_.NotServingReason();
  serving_ = reason.empty();
  const std::vector<std::string> addresses = host_.LocalAddresses();
  networked_ = !addresses.empty();
  const QByteArray chosen = AddressList->currentItem()
                                ? AddressList->currentItem()->data(kUrlRole).toByteArray()
                                : QByteArray();
  AddressList->clear();
  NameLine->hide();
  if (serving_) {
    const std::string baseURL = host_.State().Settings().BaseURL;
    Label5->setStyleSheet(kLinkStyle);
    Label5->setText(SystemToQString(baseURL));
    Label5->setToolTip(QString());
    const TServedUrls urls = MakeServedUrls(host_.State(), addresses);
    for (const std::string& url : urls.ByAddress) {
      auto* row = new QListWidgetItem(SystemToQString(url), AddressList);
      row->setData(kUrlRole, QByteArray::fromStdString(url));
    }
    if (!urls.ByName.empty()) {
      // Android browsers often cannot look up ".local" names: the QR code keeps to addresses.
      auto* row = new QListWidgetItem(SystemToQString(urls.ByName), AddressList);
      row->setFlags(Qt::ItemIsEnabled);
      row->setToolTip(
          tr("ネットワーク上の名前で開くURLです。Android では開けないことがあるため、"
             "QRコードにはIPアドレスのURLを使います。"));
    }
    const TNetworkName name = host_.State().NetworkName();
    QString problem;
    if (name.Status == TNetworkName::TStatus::NoDaemon) {
      problem = tr("avahi-daemon が動いていないため、このPCを名前（.local）では見つけられません。");
    } else if (name.Status == TNetworkName::TStatus::Failed) {
      problem =
          tr("このPCを名前（.local）で公開できません: %1").arg(QString::fromStdString(name.Reason));
    }
    NameLine->setText(problem);
    NameLine->setVisible(!problem.isEmpty());
    int row = 0;
    for (int i = 0; i < AddressList->count(); ++i) {
      if (!chosen.isEmpty() && AddressList->item(i)->data(kUrlRole).toByteArray() == chosen)
        row = i;
    }
    AddressList->setCurrentRow(row);
  } else {
    Label5->setStyleSheet(kNotServingStyle);
    Label5->setText(tr("公開停止中: ") + MessageToQString(reason));
    Label5->setToolTip(Label5->text());
    Label5->setCursor(Qt::ArrowCursor);
  }
  ShowDavAddresses();
  ShowQrCode();
  // The caption speaks of a code that is only there while something is served; without a
  // network it says why there is none (a code of this machine's own loopback is no use to a
  // phone).
  qrCaption_->setText(networked_ ? tr("スマートフォンで読み取るとURLを開けます")
                                 : tr("ネットワークにつながっていません。このPCのブラウザでだけ"
                                      "開けます。"));
  qrCaption_->setVisible(serving_ && (QrCodeAvailable() || !networked_));
  Label5->adjustSize();
}

void TFormSet::ShowDavAddresses() {
  DavAddresses->clear();
  const QListWidgetItem* row = AddressList->currentItem();
  const bool shown = serving_ && host_.State().Settings().WebDav && row != nullptr;
  if (shown) {
    for (const auto& [kind, url] : DavUrls(row->data(kUrlRole).toByteArray().toStdString())) {
      DavAddresses->addItem(kind + QStringLiteral(": ") + QString::fromStdString(url),
                            QString::fromStdString(url));
    }
  }
  davLabel_->setVisible(shown);
  DavAddresses->setVisible(shown);
  DavCopy->setVisible(shown);
}

void TFormSet::ShowQrCode() {
  const QListWidgetItem* row = AddressList->currentItem();
  const QByteArray url = row ? row->data(kUrlRole).toByteArray() : QByteArray();
  const bool shown = serving_ && networked_ && !url.isEmpty() && QrCodeAvailable();
  SignInQr->SetUrl(shown ? url : QByteArray());
  // The address itself, also while the code carries a sign-in code.
  QrCode->setToolTip(shown ? SystemToQString(url.toStdString()) : QString());
}

QStringList TFormSet::ControlSnapshot() const {
  QStringList values;
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = ListView1->topLevelItem(i);
    values << QString::fromLatin1(QByteArray::fromStdString(RowName(row)).toHex())
           << QString::fromLatin1(QByteArray::fromStdString(RowPath(row)).toHex())
           << QString::fromLatin1(ShareModeWord(RowMode(row)));
  }
  values << Edit1->text() << Edit2->text() << Edit3->text()
         << QString::number(ComboLanguage->currentIndex());
  for (const QCheckBox* box : {CheckBox1, CheckBox2, CheckBox3, CheckBox4}) {
    values << (box->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
  }
  return values;
}

bool TFormSet::HasUnsavedEdits() const {
  return isVisible() && ControlSnapshot() != shownSnapshot_;
}

std::optional<QString> TFormSet::FindInputProblem() const {
  if (!PortFromText(Edit2->text())) {
    return tr("HTTP Port「%1」は使えません。%2から%3までの番号を入力してください。")
        .arg(Edit2->text())
        .arg(kLowestPort)
        .arg(kHighestPort);
  }
  if (CheckBox1->isChecked() && Edit1->text().isEmpty()) {
    return tr("パスワード入力を有効にするときは、パスワードを入力してください。");
  }
  for (const std::string& host : SplitHostList(QStringToSystem(Edit3->text()))) {
    if (!IsHostName(host)) {
      return tr("このPCの別名「%1」は使えません。英数字と「-」「.」「_」で書いた名前を"
                "カンマで区切って入力してください。")
          .arg(SystemToQString(host));
    }
  }
  return std::nullopt;
}

TStoredSettings TFormSet::EditedSettings() const {
  TStoredSettings edited;
  edited.Port = PortFromText(Edit2->text()).value_or(kDefaultPort);
  edited.AutoRun = CheckBox2->isChecked() ? 1 : 0;
  edited.PassFlag = CheckBox1->isChecked();
  edited.Password = QStringToSystem(Edit1->text());
  edited.ExtraHosts = SplitHostList(QStringToSystem(Edit3->text()));
  edited.PublishDotFiles = CheckBox3->isChecked();
  edited.KeepUploadNames = CheckBox4->isChecked();
  edited.Language = LanguageOfItem(ComboLanguage->currentIndex());
  // Not edited here: kept as the settings file has it.
  edited.WebDav = host_.State().Settings().WebDav;
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = ListView1->topLevelItem(i);
    edited.SharedFolders.push_back(RowName(row) + ";;" + WithFinalSlash(RowPath(row)));
    edited.ShareModes.emplace(RowName(row), RowMode(row));
  }
  return edited;
}

TFormSet::TStoreOutcome TFormSet::StoreEdits() {
  if (std::optional<QString> problem = FindInputProblem()) {
    warner_(this, *problem);
    return TStoreOutcome::Refused;
  }
  try {
    host_.StoreSettings(EditedSettings());
  } catch (const ESettingsNotSaved& e) {
    // In force all the same; told once, not at every OK of the run.
    const QString told = tr("設定はこの実行中だけ有効です。ファイル %1 を作成できないため、"
                            "終了すると失われます。Velmarind をインストールするか、自分の"
                            "フォルダにコピーしてから起動してください。")
                             .arg(MessageToQString(e.Path()));
    if (told != toldNotSaved_) warner_(this, told);
    toldNotSaved_ = told;
    return TStoreOutcome::NotSaved;
  } catch (const EFCreateError& e) {
    warner_(this, tr("ファイル %1 を作成できません").arg(MessageToQString(e.Path())));
    return TStoreOutcome::NotSaved;
  } catch (const std::exception& e) {
    warner_(this, MessageToQString(e.what()));
    return TStoreOutcome::Refused;
  }
  if (const std::string reason = host_.NotServingReason(); !reason.empty()) {
    warner_(this, tr("設定を保存しましたが、公開していません。\n") + MessageToQString(reason));
  }
  return TStoreOutcome::Stored;
}

bool TFormSet::Button1Click() {
  // Settings that could not be saved are in force all the same: the window is done.
  if (StoreEdits() == TStoreOutcome::Refused) return false;
  Dismiss();
  return true;
}

void TFormSet::Button2Click() { Dismiss(); }

void TFormSet::SetKeepReachable(bool keep) {
  keepReachable_ = keep;
  StatusLine->setText(keep ? tr("通知領域（トレイ）が見つからないため、この画面を閉じると"
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

bool TFormSet::MayCloseWithEdits() {
  if (!HasUnsavedEdits()) return true;
  switch (closeAsker_(this)) {
    case TCloseChoice::KeepEditing:
      return false;
    case TCloseChoice::Save:
      // Refused input keeps the window open, with the reason told.
      return StoreEdits() != TStoreOutcome::Refused;
    case TCloseChoice::Discard:
      break;
  }
  return true;
}

void TFormSet::closeEvent(QCloseEvent* event) {
  if (!MayCloseWithEdits()) {
    event->ignore();
    return;
  }
  if (!keepReachable_) {
    QWidget::closeEvent(event);
    return;
  }
  event->ignore();
  Dismiss();
}

void TFormSet::Button3Click() {
  // Nothing changed, nothing to save. With files that cannot be written nothing could ever be
  // saved: the program still ends.
  if (HasUnsavedEdits() && StoreEdits() == TStoreOutcome::Refused) return;
  Dismiss();
  host_.CloseMainWindow();
}

void TFormSet::Button4Click() { host_.URLU1Click(); }

std::vector<std::string> TFormSet::NamesExcept(const QTreeWidgetItem* row) const {
  std::vector<std::string> names;
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
    if (ListView1->topLevelItem(i) != row) names.push_back(RowName(ListView1->topLevelItem(i)));
  }
  return names;
}

void TFormSet::Button5Click() {
  // A new folder starts from empty fields, not from what the dialog last held.
  diag_.SetFolder("", "");
  diag_.SetTakenNames(NamesExcept(nullptr));
  if (diag_.exec() != QDialog::Accepted) return;
  auto* row = new QTreeWidgetItem(ListView1);
  SetRow(row, diag_.FolderName(), WithFinalSlash(diag_.FolderPath()));
  SetRowMode(row, kDefaultShareMode);
  ListView1SelectItem();
}

void TFormSet::Button6Click() {
  QTreeWidgetItem* row = SelectedRow();
  if (!row) return;
  diag_.SetFolder(RowName(row), RowPath(row));
  diag_.SetTakenNames(NamesExcept(row));
  if (diag_.exec() != QDialog::Accepted) return;
  SetRow(row, diag_.FolderName(), WithFinalSlash(diag_.FolderPath()));
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
  const TShareMode topMode = RowMode(top);
  SetRow(top, RowName(bottom), RowPath(bottom));
  SetRowMode(top, RowMode(bottom));
  SetRow(bottom, topName, topPath);
  SetRowMode(bottom, topMode);
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
  firstStep_->setVisible(ListView1->topLevelItemCount() == 0);
  QTreeWidgetItem* row = SelectedRow();
  Button6->setEnabled(row != nullptr);
  Button7->setEnabled(row != nullptr);
  const int index = row ? ListView1->indexOfTopLevelItem(row) : -1;
  Button8->setEnabled(row && index >= 1);
  Button9->setEnabled(row && index < ListView1->topLevelItemCount() - 1);
}

bool TFormSet::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  // A wrapped line (the status line without a tray) needs more height at this width than the
  // layout's minimum counts: the window grows to what its width needs, so that the system tab's
  // QR code, its time and its button are not drawn over each other.
  if (event->type() == QEvent::LayoutRequest && layout() && layout()->hasHeightForWidth()) {
    const int needed = layout()->totalHeightForWidth(width());
    if (needed > height()) resize(width(), needed);
  }
  return handled;
}

bool TFormSet::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView1 && event->type() == QEvent::KeyPress) {
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Delete:
        RunHandler(this, [this] { Button7Click(); });
        return true;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        RunHandler(this, [this] { Button6Click(); });
        return true;
      default:
        break;
    }
  }
  if (watched == Label5 && serving_) {
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
