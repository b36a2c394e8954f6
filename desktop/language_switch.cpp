#include "desktop/language_switch.h"

#include <QCoreApplication>

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
}

TLanguageSwitch::~TLanguageSwitch() {
  if (installed_) QCoreApplication::removeTranslator(&translator_);
}

bool TLanguageSwitch::Apply(TLanguageChoice choice, const QLocale& locale) {
  const bool english = loaded_ && ChoosesEnglish(choice, locale);
  if (english != installed_) {
    // Either call sends every widget a LanguageChange event.
    if (english) {
      QCoreApplication::installTranslator(&translator_);
    } else {
      QCoreApplication::removeTranslator(&translator_);
    }
    installed_ = english;
  }
  SetMessageLanguage(english ? TMessageLanguage::English : TMessageLanguage::Japanese);
  return english;
}

}  // namespace vm
