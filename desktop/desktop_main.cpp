#include "desktop/desktop_main.h"

#include <QIcon>
#include <exception>

#include "desktop/form_hide.h"
#include "desktop/single_instance.h"
#include "desktop/stop_signals.h"
#include "desktop/velmarind_application.h"
#include "ui/form_diag1.h"
#include "ui/form_set.h"
#include "ui/handler_guard.h"

namespace vm {

int RunDesktop(int argc, char** argv) {
  // Read before Qt takes its own options out of the list: any argument at all, such as the
  // "-j" of the autostart entry, starts the program with its icon only.
  const TStartCommand command = StartCommandOf(argc, argv);
  TVelmarindApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("Velmarind"));
  // A second start hands its command to the running program instead of failing on the port;
  // the log-in start has nothing to add.
  TInstanceChannel channel;
  if (!channel.Claim()) {
    if (command == TStartCommand::IconOnly) return 0;
    return channel.Forward(command) ? 0 : 1;
  }
  if (command == TStartCommand::Quit) return 0;  // nothing runs that could be ended
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
    QObject::connect(&channel, &TInstanceChannel::CommandReceived, &formHide,
                     &TFormHide::RunStartCommand);
    formHide.OpenSettingsAtStart(command == TStartCommand::ShowSettings ||
                                 command == TStartCommand::Settings);
    if (command == TStartCommand::OpenUrl) formHide.RunStartCommand(command);
    return app.exec();
  } catch (...) {
    ShowErrorBox(nullptr, CurrentExceptionMessage());
    return 1;
  }
}

}  // namespace vm
