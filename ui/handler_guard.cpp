#include "ui/handler_guard.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include "platform/exception.h"
#include "ui/qt_text.h"

namespace vm {

void ShowErrorBox(QWidget* parent, const QString& message) {
  QMessageBox::critical(parent, QApplication::applicationName(), message);
}

QString CurrentExceptionMessage() {
  try {
    throw;
  } catch (const EFCreateError& e) {
    // The engine's message is Japanese (it is also a browser's answer); the window's follows
    // the window's language.
    return QCoreApplication::translate("vm::RunHandler", "ファイル %1 を作成できません")
        .arg(MessageToQString(e.Path()));
  } catch (const std::exception& e) {
    return MessageToQString(e.what());
  } catch (...) {
    return QCoreApplication::translate("vm::RunHandler", "不明なエラーが発生しました。");
  }
}

int AskSaveDiscardKeep(QWidget* parent, const QString& title, const QString& question,
                       const QString& save, const QString& discard, const QString& keep) {
  QMessageBox box(QMessageBox::Question, title, question, QMessageBox::NoButton, parent);
  QPushButton* saveButton = box.addButton(save, QMessageBox::AcceptRole);
  QPushButton* discardButton = box.addButton(discard, QMessageBox::DestructiveRole);
  QPushButton* keepButton = box.addButton(keep, QMessageBox::RejectRole);
  box.setDefaultButton(saveButton);
  box.setEscapeButton(keepButton);
  box.exec();
  if (box.clickedButton() == saveButton) return 0;
  return box.clickedButton() == discardButton ? 1 : 2;
}

void CenterOnScreen(QWidget* window) {
  const QScreen* screen = window->screen();
  if (!screen) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

void RunHandler(QWidget* parent, const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    ShowErrorBox(parent, CurrentExceptionMessage());
  }
}

}  // namespace vm
