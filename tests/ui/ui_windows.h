// The hidden main window on a test folder, with a stand-in tray and its settings window.
#pragma once

#include <QStringList>

#include "desktop/form_hide.h"
#include "state/config_store.h"
#include "state/ini_file.h"
#include "tests/ui/fake_tray.h"
#include "tests/ui/ui_test_folder.h"
#include "ui/form_diag1.h"
#include "ui/form_set.h"

namespace vm::uitest {

// The windows with their settings loaded, wired together; messages and warnings are collected
// instead of shown.
struct TWindows {
  explicit TWindows(const TTestFolder& folder, bool trayPresent = true)
      : tray(new TFakeTray(trayPresent)), form(folder.ProgramFolder(), tray), formSet(form, diag) {
    form.State().SetProgramFolder(folder.ProgramFolder());
    vm::LoadSettings(form.State());
    form.SetSettingsWindow(&formSet);
    form.SetMessenger([this](const QString& message) { messages << message; });
    formSet.SetWarner([this](QWidget*, const QString& message) { messages << message; });
    formSet.SetCloseAsker([this](QWidget*) {
      ++closeAsks;
      return closeChoice;
    });
  }
  // Starts serving on loopback, on the port of velmarind.ini.
  void Create(int port) {
    vm::TIniFile(form.State().ProgramFolder() + "velmarind.ini")
        .WriteString("COMMON", "HTTP_PORT", std::to_string(port));
    form.Core().Server().BindAddress = "127.0.0.1";
    form.FormCreate();
  }

  TFakeTray* tray;  // owned by form
  vm::TFormHide form;
  vm::TFormDiag1 diag;
  vm::TFormSet formSet;
  QStringList messages;
  // How the settings window's question about unsaved edits is answered, and how often it came.
  vm::TFormSet::TCloseChoice closeChoice = vm::TFormSet::TCloseChoice::Discard;
  int closeAsks = 0;
};

}  // namespace vm::uitest
