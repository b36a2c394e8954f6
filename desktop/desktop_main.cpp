#include "desktop/desktop_main.h"

#include <QIcon>
#include <exception>

#include "desktop/form_hide.h"
#include "desktop/stop_signals.h"
#include "desktop/velmarind_application.h"
#include "ui/form_diag1.h"
#include "ui/form_set.h"
#include "ui/handler_guard.h"

namespace vm {

int RunDesktop(int argc, char** argv) {
  // Counted before Qt takes its own options out of the list: any argument at all, such as the
  // "-j" of the autostart entry, starts the program with its icon only.
  const bool showSettings = argc <= 1;
  TVelmarindApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("Velmarind"));
  // The program lives in the tray: hiding or closing the settings window does not end it.
  app.setQuitOnLastWindowClosed(false);
  app.setWindowIcon(LoadProgramIcon());
  try {
    TFormHide formHide;
    formHide.Core().EnableAnnouncing();
    formHide.FormCreate();
    TFormDiag1 formDiag1;
    TFormSet formSet(formHide, formDiag1);
    formHide.SetSettingsWindow(&formSet);
    TStopSignals stopSignals([&formHide] { formHide.close(); });
    formHide.OpenSettingsAtStart(showSettings);
    return app.exec();
  } catch (...) {
    ShowErrorBox(nullptr, CurrentExceptionMessage());
    return 1;
  }
}

}  // namespace vm
