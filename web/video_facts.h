// A video's facts as the page reads them: the thumbnail program's "name=value" lines turned into
// a JSON object {"type", "codecs", "duration", "width", "height"}. The lines come from a program
// that parsed a stranger's file: every value is checked against what it may be, and a line
// that is not is left out, so nothing the file holds reaches the page but plain tokens and
// numbers.
#pragma once

#include <string>
#include <string_view>

namespace vm {

std::string VideoFactsJson(std::string_view lines);

}  // namespace vm
