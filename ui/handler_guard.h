// What every window shares: an exception that leaves a user-interface handler is shown to the
// user in a message box (the program goes on), and windows open in the middle of the screen.
#pragma once

#include <QString>
#include <exception>
#include <functional>

class QWidget;

namespace vm {

// Shows "message" in a modal error box titled with the application's name.
void ShowErrorBox(QWidget* parent, const QString& message);
// The message of the exception being handled (call inside a catch block).
QString CurrentExceptionMessage();
// Places a top-level window in the middle of its screen.
void CenterOnScreen(QWidget* window);
// Runs handler; an exception it throws is shown with ShowErrorBox and goes no further.
void RunHandler(QWidget* parent, const std::function<void()>& handler);

}  // namespace vm
