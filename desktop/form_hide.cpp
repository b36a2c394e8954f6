#include "desktop/form_hide.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QMenu>

#include "desktop/ta_tray_icon.h"
#include "platform/fs_names.h"
#include "platform/name_marks.h"
#include "platform/system_info.h"
#include "platform/text_helpers.h"
#include "state/served_urls.h"
#include "state/stored_settings.h"
#include "ui/form_qr.h"
#include "ui/form_set.h"
#include "ui/handler_guard.h"
#include "ui/qt_text.h"

namespace vm {
namespace {

// A name (system text) for a notice. Names come from the browser: characters that would break
// the notice into lines or turn its text around are shown escaped, and, as some notification
// services read markup in the text, the characters of markup as their full-width look-alikes.
QString NoticeText(const std::string& systemName) {
  QString name = QString::fromStdString(WithLayoutMarksShown(SystemToDisplayUtf8(systemName)));
  name.replace(QLatin1Char('<'), QChar(0xFF1C));
  name.replace(QLatin1Char('>'), QChar(0xFF1E));
  name.replace(QLatin1Char('&'), QChar(0xFF06));
  return name;
}

// How often a started opener is looked at: soon enough to tell a failure while the user still
// waits for the browser.
const int kOpenerWatchMilliseconds = 250;

TFormHide::TExitChoice AskWithBox(QWidget* parent) {
  const TFormHide::TExitChoice choices[] = {TFormHide::TExitChoice::Save,
                                            TFormHide::TExitChoice::Discard,
                                            TFormHide::TExitChoice::Cancel};
  return choices[AskSaveDiscardKeep(
      parent, QApplication::applicationName(),
      TFormHide::tr("設定の変更が保存されていません。保存してから終了しますか？"),
      TFormHide::tr("保存して終了"), TFormHide::tr("保存せずに終了"), TFormHide::tr("キャンセル"))];
}

}  // namespace

TFormHide::TFormHide(std::string programFolder, TTaTrayIcon* trayIcon)
    : core_(std::move(programFolder)),
      messenger_([](const QString& message) { ShowErrorBox(nullptr, message); }),
      exitAsker_(AskWithBox) {
  setWindowTitle(QApplication::applicationName());
  CreateMenu();
  TaTrayIcon1 = trayIcon ? trayIcon : new TTaTrayIcon(this);
  TaTrayIcon1->SetTipHelp("Velmarind");
  TaTrayIcon1->SetRButtonPopupMenu(PopupMenu1);
  connect(TaTrayIcon1, &TTaTrayIcon::OnDblClick, this, &TFormHide::TaTrayIcon1DblClick);
  connect(TaTrayIcon1, &TTaTrayIcon::OnClick, this, &TFormHide::TaTrayIcon1Click);
  connect(TaTrayIcon1, &TTaTrayIcon::OnNoticeClick, this, &TFormHide::NoticeClicked);
  connect(&openerWatch_, &QTimer::timeout, this, &TFormHide::WatchOpeners);
  connect(TaTrayIcon1, &TTaTrayIcon::HostPresenceChanged, this, [this](bool present) {
    if (formSet_) formSet_->SetKeepReachable(!present);
  });
  // Changes arrive on connection threads; the notice is shown on the user-interface thread.
  // Events still queued when the window goes are dropped with it.
  noticeRelay_ = std::make_shared<TNoticeRelay>();
  noticeRelay_->form = this;
  core_.State().SetShareListener([relay = noticeRelay_](const TShareChange& change) {
    std::lock_guard<std::mutex> lock(relay->lock);
    if (TFormHide* form = relay->form) {
      QMetaObject::invokeMethod(form, [form, change] { form->ShowShareNotice(change); },
                                Qt::QueuedConnection);
    }
  });
  // The address watch reports on its own thread: the tip, the menu and the window follow.
  core_.SetAddressListener([relay = noticeRelay_] {
    std::lock_guard<std::mutex> lock(relay->lock);
    if (TFormHide* form = relay->form) {
      QMetaObject::invokeMethod(
          form, [form] { form->ShowServingState(); }, Qt::QueuedConnection);
    }
  });
  // The announcer reports on its own thread.
  core_.State().SetNetworkNameListener([relay = noticeRelay_](const TNetworkName&) {
    std::lock_guard<std::mutex> lock(relay->lock);
    if (TFormHide* form = relay->form) {
      QMetaObject::invokeMethod(
          form, [form] { form->ShowUrls(); }, Qt::QueuedConnection);
    }
  });
}

void TFormHide::SetSettingsWindow(TFormSet* formSet) {
  formSet_ = formSet;
  if (formSet_) formSet_->SetKeepReachable(!TrayPresent());
}

bool TFormHide::TrayPresent() const { return TaTrayIcon1->HostPresent(); }

void TFormHide::OpenSettingsAtStart(bool asked) {
  if (asked || !TrayPresent()) S1Click();
}

void TFormHide::ShowShareNotice(const TShareChange& change) {
  // Also without a tray: a notification service shows notices all the same.
  if (closed_) return;
  const QString folder = NoticeText(change.FolderName);
  const QString address = QString::fromStdString(change.ClientAddress);
  const QString name = NoticeText(change.FileName);
  QString text;
  switch (change.Kind) {
    case TShareChange::TKind::Upload:
      text = tr("「%1」に %n 個のファイルが届きました（%2 から）", nullptr, change.FileCount)
                 .arg(folder, address);
      break;
    case TShareChange::TKind::NewText:
      text = tr("「%1」にテキストファイル「%2」が作られました（%3 から）")
                 .arg(folder, name, address);
      break;
    case TShareChange::TKind::NewFolder:
      text = tr("「%1」にフォルダ「%2」が作られました（%3 から）")
                 .arg(folder, name, address);
      break;
    case TShareChange::TKind::Trashed:
      text = change.FileCount == 1
                 ? tr("「%1」の「%2」がごみ箱に移されました（%3 から）")
                       .arg(folder, name, address)
                 : tr("「%1」の「%2」ほか %3 個がごみ箱に移されました（%4 から）")
                       .arg(folder, name)
                       .arg(change.FileCount - 1)
                       .arg(address);
      break;
    case TShareChange::TKind::Renamed:
      text = tr("「%1」の「%2」が「%3」に名前を変えられました（%4 から）")
                 .arg(folder, name, NoticeText(change.NewName), address);
      break;
  }
  // The folder as it is now: a later click opens it even if the list changes meanwhile.
  noticeFolder_.clear();
  for (const std::string& entry : *State().SharedFolders()) {
    if (GetField(entry, 0) == change.FolderName) {
      noticeFolder_ = GetField(entry, 1);
      break;
    }
  }
  TaTrayIcon1->ShowNotice(QStringLiteral("Velmarind"), text, tr("フォルダを開く"));
}

void TFormHide::NoticeClicked() {
  if (!noticeFolder_.empty()) Open(noticeFolder_, noticeFolder_);
}

void TFormHide::Open(const std::string& systemPath, const std::string& label) {
  if (!core_.OpenWithDesktop(systemPath, label)) {
    messenger_(tr("「%1」を開くプログラムを起動できません（xdg-open が見つかりません）。")
                   .arg(MessageToQString(label)));
    return;
  }
  openerWatch_.start(kOpenerWatchMilliseconds);
}

void TFormHide::WatchOpeners() {
  const std::vector<std::string> failed = core_.ReapOpeners();
  if (!core_.OpenersRunning()) openerWatch_.stop();
  for (const std::string& label : failed) {
    messenger_(tr("「%1」を開くプログラムを起動できませんでした（xdg-open が失敗しました）。")
                   .arg(MessageToQString(label)));
  }
}

void TFormHide::UpdateTrayTip() {
  const std::string reason = core_.NotServingReason();
  TaTrayIcon1->SetTipHelp(reason.empty() ? "Velmarind\n" + State().Settings().BaseURL
                                         : QStringToSystem(tr("Velmarind: 公開停止中\n")) + reason);
}

void TFormHide::ShowServingState() {
  UpdateTrayTip();
  ShowUrls();
}

void TFormHide::FollowAddresses() {
  if (core_.FollowAddresses()) UpdateTrayTip();
}

namespace {

// The URL a phone scans: that of the first address, as the settings window lists them first;
// empty when nothing is served or the machine has no address a phone can reach.
QByteArray PhoneUrl(TFormHideCore& core, const std::vector<std::string>& addresses) {
  if (!core.NotServingReason().empty()) return {};
  const TServedUrls urls = MakeServedUrls(core.State(), addresses);
  return urls.ByAddress.empty() || addresses.empty()
             ? QByteArray()
             : QByteArray::fromStdString(urls.ByAddress.front());
}

}  // namespace

void TFormHide::QR1Click() {
  if (!formQr_) formQr_ = new TFormQr(State());
  formQr_->ShowUrl(PhoneUrl(core_, LocalAddresses()));
  formQr_->show();
  formQr_->raise();
  formQr_->activateWindow();
}

void TFormHide::ShowUrls() {
  for (QAction* item : UrlItems) {
    PopupMenu1->removeAction(item);
    delete item;
  }
  UrlItems.clear();
  if (closed_) return;
  // The watch may not have looked yet (it is late by a poll where the kernel cannot tell).
  FollowAddresses();
  if (core_.NotServingReason().empty()) {
    const TServedUrls urls = MakeServedUrls(State(), LocalAddresses());
    std::vector<std::string> listed = urls.ByAddress;
    if (!urls.ByName.empty()) listed.push_back(urls.ByName);
    UrlItems << PopupMenu1->insertSeparator(exitSeparator_);
    auto* heading = new QAction(tr("このPCのURL（クリックでコピー）"), PopupMenu1);
    heading->setEnabled(false);
    PopupMenu1->insertAction(exitSeparator_, heading);
    UrlItems << heading;
    for (const std::string& url : listed) {
      const QString text = SystemToQString(url);
      auto* item = new QAction(text, PopupMenu1);
      PopupMenu1->insertAction(exitSeparator_, item);
      connect(item, &QAction::triggered, this,
              [text] { QGuiApplication::clipboard()->setText(text); });
      UrlItems << item;
    }
  }
  if (formSet_ && formSet_->isVisible()) formSet_->ShowAddress();
  if (formQr_ && formQr_->isVisible()) formQr_->ShowUrl(PhoneUrl(core_, LocalAddresses()));
}

TFormHide::~TFormHide() {
  {
    std::lock_guard<std::mutex> lock(noticeRelay_->lock);
    noticeRelay_->form = nullptr;
  }
  // The translation goes while the menu still exists: its removal makes every window
  // retranslate itself. The settings window may be gone already.
  formSet_ = nullptr;
  delete formQr_;
  closed_ = true;
  language_.Apply(TLanguageChoice::Japanese);
  // The menu has no parent widget (a popup of its own); the icon goes before it.
  delete TaTrayIcon1;
  delete PopupMenu1;
}

void TFormHide::CreateMenu() {
  PopupMenu1 = new QMenu;
  S1 = PopupMenu1->addAction(QString());
  URLU1 = PopupMenu1->addAction(QString());
  QR1 = PopupMenu1->addAction(QString());
  exitSeparator_ = PopupMenu1->addSeparator();
  Exit1 = PopupMenu1->addAction(QString());
  RetranslateMenu();
  connect(Exit1, &QAction::triggered, this, &TFormHide::Exit1Click);
  connect(S1, &QAction::triggered, this, &TFormHide::S1Click);
  connect(URLU1, &QAction::triggered, this, [this] { RunHandler(nullptr, [this] { URLU1Click(); }); });
  connect(QR1, &QAction::triggered, this, &TFormHide::QR1Click);
  // Addresses come and go with the networks (Wi-Fi, VPN): read again each time the menu opens.
  connect(PopupMenu1, &QMenu::aboutToShow, this, &TFormHide::ShowUrls);
}

void TFormHide::RetranslateMenu() {
  Exit1->setText(tr("終了(&F)"));
  S1->setText(tr("設定(&S)"));
  URLU1->setText(tr("URL(&U)"));
  QR1->setText(tr("QRコード(&Q)"));
}

void TFormHide::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) {
    RetranslateMenu();
    if (!closed_) ShowServingState();
  }
  QWidget::changeEvent(event);
}

void TFormHide::FormCreate() {
  // The language first, so that a failure to start is told in it.
  try {
    language_.Apply(ReadStoredSettings(State().ProgramFolder()).Language);
  } catch (const std::exception&) {
  }
  QStringList problems;
  try {
    core_.FormCreate();
    if (const std::string reason = core_.NotServingReason(); !reason.empty()) {
      problems << MessageToQString(reason);
    }
  } catch (...) {
    problems << CurrentExceptionMessage();
  }
  language_.Apply(State().Settings().Language);
  if (const std::string folder = core_.FolderProblem(); !folder.empty()) {
    problems << MessageToQString(folder);
  }
  ShowServingState();
  if (!problems.isEmpty()) messenger_(problems.join(QStringLiteral("\n\n")));
}

void TFormHide::StoreSettings(const TStoredSettings& edited) {
  try {
    core_.StoreSettings(edited);
  } catch (...) {
    // Also settings that could not be saved may have taken effect.
    language_.Apply(State().Settings().Language);
    ShowServingState();
    throw;
  }
  language_.Apply(State().Settings().Language);
  ShowServingState();
}

void TFormHide::URLU1Click() {
  const std::string page = core_.WriteGoHomePage();
  Open(page, State().Settings().BaseURL);
}

void TFormHide::Exit1Click() {
  if (formSet_ && formSet_->HasUnsavedEdits()) {
    switch (exitAsker_(formSet_)) {
      case TExitChoice::Cancel:
        return;
      case TExitChoice::Save:
        // As the window's own "終了": stores, then ends; refused input keeps the program.
        RunHandler(formSet_, [this] { formSet_->Button3Click(); });
        return;
      case TExitChoice::Discard:
        break;
    }
  }
  close();
}

void TFormHide::RunStartCommand(TStartCommand command) {
  switch (command) {
    case TStartCommand::ShowSettings:
    case TStartCommand::Settings:
      S1Click();
      break;
    case TStartCommand::OpenUrl:
      RunHandler(nullptr, [this] { URLU1Click(); });
      break;
    case TStartCommand::Quit:
      Exit1Click();
      break;
    case TStartCommand::IconOnly:
      break;
  }
}

void TFormHide::S1Click() {
  if (!formSet_) return;
  // A minimised window is visible already: showing it again would leave it minimised.
  formSet_->setWindowState(formSet_->windowState() & ~Qt::WindowMinimized);
  formSet_->show();
  formSet_->raise();
  formSet_->activateWindow();
}

void TFormHide::closeEvent(QCloseEvent* event) {
  event->accept();
  if (closed_) return;
  closed_ = true;
  if (formSet_) formSet_->hide();
  TaTrayIcon1->Remove();
  RunHandler(nullptr, [this] { core_.FormClose(); });
  QApplication::quit();
}

}  // namespace vm
