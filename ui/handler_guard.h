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
// Asks question with the three buttons: save, discard and keep (the default is save, Escape and
// the close box are keep). 0, 1 or 2 for the one chosen.
int AskSaveDiscardKeep(QWidget* parent, const QString& title, const QString& question,
                       const QString& save, const QString& discard, const QString& keep);
// Runs handler; an exception it throws is shown with ShowErrorBox and goes no further.
void RunHandler(QWidget* parent, const std::function<void()>& handler);

}  // namespace vm
