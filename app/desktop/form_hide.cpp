#include "app/desktop/form_hide.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>

#include "app/desktop/ta_tray_icon.h"
#include "ui/form_set.h"
#include "ui/handler_guard.h"

namespace vm {

TFormHide::TFormHide(std::string programFolder) : core_(std::move(programFolder)) {
  setWindowTitle(QApplication::applicationName());
  CreateMenu();
  TaTrayIcon1 = new TTaTrayIcon(this);
  TaTrayIcon1->SetTipHelp("Velmarind");
  TaTrayIcon1->SetRButtonPopupMenu(PopupMenu1);
  connect(TaTrayIcon1, &TTaTrayIcon::OnDblClick, this, &TFormHide::TaTrayIcon1DblClick);
}

TFormHide::~TFormHide() {
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
