// The page script as built: the ASCII form of its UTF-8 source, whatever charset reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "support/page_lines.h"
#include "tools/escape_non_ascii.h"

namespace vm {
namespace {

TEST(PageScript, EscapesEveryNonAsciiCharacter) {
  struct Case {
    const char* label;
    std::string source;
    std::optional<std::string> served;
  };
  const Case cases[] = {
      {"ASCII stays", "var a = 'x\\n';\r\n", "var a = 'x\\n';\r\n"},
      {"BMP character", "'\xE8\xA1\xA8.txt'", "'\\u8868.txt'"},
      {"beyond the BMP as a surrogate pair", "'\xF0\x9F\x98\x80'", "'\\ud83d\\ude00'"},
      {"half-width katakana", "/[\xEF\xBD\xA1-\xEF\xBE\x9F]/", "/[\\uff61-\\uff9f]/"},
      {"escaped backslash before a character", "'\\\\\xE3\x81\x82'", "'\\\\\\u3042'"},
      {"byte-order mark dropped", "\xEF\xBB\xBFx", "x"},
      {"character cut off", "'\xE3\x81'", std::nullopt},
      {"Shift_JIS bytes", "'\x95\x5c'", std::nullopt},
      {"backslash before a character", "'\\\xE3\x81\x82'", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeNonAscii(c.source), c.served) << c.label;
  }
  std::string problem;
  EXPECT_FALSE(EscapeNonAscii("a\nb\n'\x80'", &problem));
  EXPECT_EQ(problem, "line 3: not UTF-8");
}

TEST(PageScript, BuiltFilesAreAsciiAndTheScriptIsItsEscapedSource) {
  const std::string built = VELMARIND_EXE;
  const std::string pages = built.substr(0, built.rfind('/') + 1) + "page/";
  // The parts the build joins, "|" between them.
  std::string source;
  std::string escaped;
  const std::string parts = VELMARIND_PAGE_SCRIPT_PARTS;
  for (size_t start = 0; start <= parts.size();) {
    size_t end = parts.find('|', start);
    if (end == std::string::npos) end = parts.size();
    const std::string part = vmtest::ReadFileBytes(parts.substr(start, end - start));
    source += part;
    escaped += EscapeNonAscii(part).value_or("(not UTF-8)");
    start = end + 1;
  }
  const std::string script = vmtest::ReadFileBytes(pages + "vcom.js");
  const auto ascii = [](const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
  };
  EXPECT_FALSE(ascii(source)) << "the source keeps its Japanese readable";
  EXPECT_TRUE(ascii(script));
  EXPECT_EQ(escaped, script);
  EXPECT_TRUE(ascii(vmtest::ReadFileBytes(pages + "vcom.css")));
}

}  // namespace
}  // namespace vm
