// The application object: an exception that escapes an event handler is shown in a message box
// instead of ending the program.
#pragma once

#include <QApplication>

namespace vm {

class TVelmarindApplication : public QApplication {
  Q_OBJECT

 public:
  TVelmarindApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// The program's icon, from the resources: the tray icon and every window's icon.
QIcon LoadProgramIcon();

}  // namespace vm
