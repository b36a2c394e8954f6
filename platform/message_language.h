// The language of the messages the core composes for the person at the desktop (why nothing is
// served, a folder that cannot be written). Answers to browsers never use it: their texts are
// the designed Japanese ones.
#pragma once

#include <string>
#include <string_view>

namespace vm {

enum class TMessageLanguage { Japanese, English };

// Set by the desktop from the user's choice; Japanese until then (the headless program). Any
// thread may read it.
void SetMessageLanguage(TMessageLanguage language);
TMessageLanguage MessageLanguage();

// The message in the language set, as system text: japanese (UTF-8) converted, or english
// (ASCII, the same bytes in Shift_JIS).
std::string LocalMessage(std::string_view japanese, std::string_view english);

}  // namespace vm
