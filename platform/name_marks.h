// Characters that change how the text around them reads while showing nothing themselves: the
// line and paragraph separators, and the marks and controls of bidirectional text. In a name
// they break a notice into lines of the name's own making (a forged "from 192.168.0.1"), or turn
// "gpj.exe" into what reads as "exe.jpg".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vm {

// The length in bytes of the character that the UTF-8 text starts with when it is one of those
// below; 0 otherwise.
size_t LayoutMarkAt(std::string_view utf8);

// True when the UTF-8 text holds U+2028, U+2029, U+200E, U+200F, U+061C, U+202A-U+202E or
// U+2066-U+2069: a name typed with one is refused.
bool HasLayoutMarks(std::string_view utf8);

// The UTF-8 text with each such character, and each control character, shown as "\uXXXX": the
// name reads on one line and in its own order. Other bytes, invalid ones too, stay as they are.
std::string WithLayoutMarksShown(std::string_view utf8);

}  // namespace vm
