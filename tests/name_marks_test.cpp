// Characters that turn a name's text around or break it into lines: found, and shown escaped.
#include "platform/name_marks.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace vm {
namespace {

TEST(NameMarks, FoundAndShownEscaped) {
  const std::tuple<std::string, bool, std::string> rows[] = {
      {"写真 (2).jpg", false, "写真 (2).jpg"},
      {"a\u2028from 1.2.3.4", true, "a\\u2028from 1.2.3.4"},
      {"x\u202Egpj.exe", true, "x\\u202Egpj.exe"},
      {"\u2029\u2066\u2069\u200E\u200F\u061C", true, "\\u2029\\u2066\\u2069\\u200E\\u200F\\u061C"},
      {"a\nb\u0085", false, "a\\u000Ab\\u0085"},  // controls are shown too
      {"\u2027\u202F\u2065\u206A\u200D", false, "\u2027\u202F\u2065\u206A\u200D"},  // neighbours
      {"a\xE2\x80", false, "a\xE2\x80"},  // invalid bytes stay
  };
  for (const auto& [name, marked, shown] : rows) {
    EXPECT_EQ(HasLayoutMarks(name), marked) << name;
    EXPECT_EQ(WithLayoutMarksShown(name), shown) << name;
  }
}

}  // namespace
}  // namespace vm
