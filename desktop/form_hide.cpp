#include "desktop/form_hide.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>

#include "desktop/ta_tray_icon.h"
#include "ui/form_set.h"
#include "ui/handler_guard.h"
#include "ui/qt_text.h"

namespace vm {
namespace {

// Names come from the browser, and some notification services read markup in the text: the
// characters of markup are shown as their full-width look-alikes.
QString NoticeText(QString name) {
  name.replace(QLatin1Char('<'), QChar(0xFF1C));
  name.replace(QLatin1Char('>'), QChar(0xFF1E));
  name.replace(QLatin1Char('&'), QChar(0xFF06));
  return name;
}

}  // namespace

TFormHide::TFormHide(std::string programFolder, TTaTrayIcon* trayIcon)
    : core_(std::move(programFolder)) {
  setWindowTitle(QApplication::applicationName());
  CreateMenu();
  TaTrayIcon1 = trayIcon ? trayIcon : new TTaTrayIcon(this);
  TaTrayIcon1->SetTipHelp("Velmarind");
  TaTrayIcon1->SetRButtonPopupMenu(PopupMenu1);
  connect(TaTrayIcon1, &TTaTrayIcon::OnDblClick, this, &TFormHide::TaTrayIcon1DblClick);
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
  if (closed_ || !TrayPresent()) return;
  const QString folder = NoticeText(SystemToQString(change.FolderName));
  const QString address = QString::fromStdString(change.ClientAddress);
  const QString text =
      change.Kind == TShareChange::TKind::Upload
          ? QStringLiteral("「%1」に %2 個のファイルが届きました（%3 から）")
                .arg(folder)
                .arg(change.FileCount)
                .arg(address)
          : QStringLiteral("「%1」にテキストファイル「%2」が作られました（%3 から）")
                .arg(folder, NoticeText(SystemToQString(change.FileName)), address);
  TaTrayIcon1->ShowNotice(QStringLiteral("Velmarind"), text);
}

TFormHide::~TFormHide() {
  {
    std::lock_guard<std::mutex> lock(noticeRelay_->lock);
    noticeRelay_->form = nullptr;
  }
  // The menu has no parent widget (a popup of its own); the icon goes before it.
  delete TaTrayIcon1;
  delete PopupMenu1;
}

void TFormHide::CreateMenu() {
  PopupMenu1 = new QMenu;
  Exit1 = PopupMenu1->addAction(QStringLiteral("終了(&F)"));
  S1 = PopupMenu1->addAction(QStringLiteral("設定(&S)"));
  URLU1 = PopupMenu1->addAction(QStringLiteral("URL(&U)"));
  connect(Exit1, &QAction::triggered, this, &TFormHide::Exit1Click);
  connect(S1, &QAction::triggered, this, &TFormHide::S1Click);
  connect(URLU1, &QAction::triggered, this, [this] { RunHandler(nullptr, [this] { URLU1Click(); }); });
}

void TFormHide::FormCreate() { RunHandler(nullptr, [this] { core_.FormCreate(); }); }

std::string TFormHide::ExecutablePath() const {
  return core_.ExecutablePath();
}

void TFormHide::URLU1Click() { core_.URLU1Click(); }

void TFormHide::Exit1Click() { close(); }

void TFormHide::S1Click() {
  if (!formSet_) return;
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
