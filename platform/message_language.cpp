#include "platform/message_language.h"

#include <atomic>

#include "platform/sjis.h"

namespace vm {
namespace {

// Process-wide as a locale is: one word, written on the user-interface thread.
std::atomic<TMessageLanguage> messageLanguage{TMessageLanguage::Japanese};

}  // namespace

void SetMessageLanguage(TMessageLanguage language) {
  messageLanguage.store(language, std::memory_order_relaxed);
}

TMessageLanguage MessageLanguage() { return messageLanguage.load(std::memory_order_relaxed); }

std::string LocalMessage(std::string_view japanese, std::string_view english) {
  if (MessageLanguage() == TMessageLanguage::English) return std::string(english);
  return Sjis(japanese);
}

}  // namespace vm
