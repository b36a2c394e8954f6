// The language of the windows, the tray menu and the notices: English through Qt's translator
// (the Japanese texts are the sources, so our own Japanese needs none), Qt's own dialogs (the
// folder picker) through Qt's Japanese translation where it is installed, and the same language
// for the messages the core composes for the desktop.
#pragma once

#include <QLocale>
#include <QTranslator>

#include "state/main_state.h"

namespace vm {

// True when choice means English under locale (by default the process's, which is the user's
// unless set otherwise). Auto means English under a locale that names a language other than
// Japanese; a session without one (the "C" locale) keeps Japanese.
bool ChoosesEnglish(TLanguageChoice choice, const QLocale& locale = QLocale());

// Whether this build carries the English translation (lrelease was there to compile it).
bool EnglishAvailable();

class TLanguageSwitch {
 public:
  TLanguageSwitch();
  ~TLanguageSwitch();  // takes its translation out again

  // Installs or removes the English translation as choice asks: every window retranslates
  // itself on the change. Returns whether English is shown now.
  bool Apply(TLanguageChoice choice, const QLocale& locale = QLocale());

 private:
  QTranslator translator_;
  QTranslator qtJapanese_;  // Qt's own texts; English is their source language
  bool loaded_ = false;
  bool installed_ = false;
  bool qtJapaneseInstalled_ = false;
};

}  // namespace vm
