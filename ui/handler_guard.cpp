#include "ui/handler_guard.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

#include "ui/qt_text.h"

namespace vm {

void ShowErrorBox(QWidget* parent, const QString& message) {
  QMessageBox::critical(parent, QApplication::applicationName(), message);
}

QString CurrentExceptionMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return MessageToQString(e.what());
  } catch (...) {
    return QCoreApplication::translate("vm::RunHandler", "不明なエラーが発生しました。");
  }
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
