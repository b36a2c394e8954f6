#include "desktop/velmarind_application.h"

#include <QIcon>

#include "ui/handler_guard.h"

// Resources compiled into a static library are registered by hand.
static void InitDesktopResources() { Q_INIT_RESOURCE(desktop); }

namespace vm {

TVelmarindApplication::TVelmarindApplication(int& argc, char** argv) : QApplication(argc, argv) {
  InitDesktopResources();
}

bool TVelmarindApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowErrorBox(nullptr, CurrentExceptionMessage());
    return false;
  }
}

QIcon LoadProgramIcon() {
  QIcon icon;
  // The drawing is kept as SVG; the PNG renderings serve where Qt has no SVG support installed.
  for (int size : {16, 22, 24, 32, 48, 64, 128}) {
    icon.addFile(QStringLiteral(":/velmarind/velmarind-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace vm
