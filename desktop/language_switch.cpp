#include "desktop/language_switch.h"

#include <QCoreApplication>
#include <QLibraryInfo>

#include "platform/message_language.h"

#ifdef VELMARIND_HAVE_TRANSLATIONS
// Resources compiled into a static library are registered by hand.
static void InitTranslationResources() { Q_INIT_RESOURCE(velmarind_translations); }
#endif

namespace vm {
namespace {

const char kEnglishTranslation[] = ":/velmarind/i18n/velmarind_en.qm";

}  // namespace

bool ChoosesEnglish(TLanguageChoice choice, const QLocale& locale) {
  switch (choice) {
    case TLanguageChoice::Japanese:
      return false;
    case TLanguageChoice::English:
      return true;
    case TLanguageChoice::Auto:
      break;
  }
  return locale.language() != QLocale::Japanese && locale.language() != QLocale::C;
}

bool EnglishAvailable() {
#ifdef VELMARIND_HAVE_TRANSLATIONS
  return true;
#else
  return false;
#endif
}

TLanguageSwitch::TLanguageSwitch() {
#ifdef VELMARIND_HAVE_TRANSLATIONS
  InitTranslationResources();
  loaded_ = translator_.load(QString::fromLatin1(kEnglishTranslation));
#endif
  // Missing where the distribution's Qt translations are not installed: Qt's dialogs stay English.
  if (qtJapanese_.load(QStringLiteral("qtbase_ja"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(&qtJapanese_);
    qtJapaneseInstalled_ = true;
  }
}

TLanguageSwitch::~TLanguageSwitch() {
  if (installed_) QCoreApplication::removeTranslator(&translator_);
  if (qtJapaneseInstalled_) QCoreApplication::removeTranslator(&qtJapanese_);
}

bool TLanguageSwitch::Apply(TLanguageChoice choice, const QLocale& locale) {
  const bool english = loaded_ && ChoosesEnglish(choice, locale);
  if (english != installed_) {
    // Either call sends every widget a LanguageChange event.
    if (english) {
      QCoreApplication::installTranslator(&translator_);
      if (qtJapaneseInstalled_) QCoreApplication::removeTranslator(&qtJapanese_);
    } else {
      QCoreApplication::removeTranslator(&translator_);
      if (!qtJapanese_.isEmpty()) QCoreApplication::installTranslator(&qtJapanese_);
    }
    installed_ = english;
    qtJapaneseInstalled_ = !english && !qtJapanese_.isEmpty();
  }
  SetMessageLanguage(english ? TMessageLanguage::English : TMessageLanguage::Japanese);
  return english;
}

}  // namespace vm
