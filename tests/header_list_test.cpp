#include "http/header_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vm {
namespace {

TIdHeaderList ListOf(const std::vector<std::string>& lines) {
  TIdHeaderList list;
  for (const std::string& line : lines) list.Add(line);
  return list;
}

TEST(HeaderList, NamesAreUpperCasedAndFoundIgnoringCase) {
  TIdHeaderList list = ListOf({"content-length:  12 ", "Host: a", "no separator", "\tcontinued"});
  EXPECT_EQ(list.Names(0), "CONTENT-LENGTH");
  EXPECT_EQ(list.Names(2), "");
  EXPECT_EQ(list.Names(3), "");
  EXPECT_EQ(list.IndexOfName("Content-Length"), 0);
  EXPECT_EQ(list.IndexOfName("HOST"), 1);
  EXPECT_EQ(list.IndexOfName("Accept"), -1);
  EXPECT_EQ(list.Values("Content-Length"), "12");
  EXPECT_EQ(list.Values("Accept"), "");
  EXPECT_EQ(list.ValueFromIndex(-1), "");
  EXPECT_EQ(list.ValueFromIndex(99), "");
}

TEST(HeaderList, CaseSensitiveListKeepsNamesAsWritten) {
  TIdHeaderList list = ListOf({"X-Key: v"});
  list.CaseSensitive = true;
  EXPECT_EQ(list.Names(0), "X-Key");
  EXPECT_EQ(list.IndexOfName("x-key"), -1);
  EXPECT_EQ(list.IndexOfName("X-Key"), 0);
}

TEST(HeaderList, ValueUnfoldsContinuationLines) {
  TIdHeaderList list = ListOf({"X-Long: first  ", "\t second ", "  third", "Next: n"});
  EXPECT_EQ(list.Values("X-Long"), "first second third");
  EXPECT_EQ(list.Values("Next"), "n");
  list.UnfoldLines = false;
  EXPECT_EQ(list.Values("X-Long"), "first");
}

TEST(HeaderList, UnfoldingSkipsBlankPiecesAndKeepsEveryLineOfALongRun) {
  // An empty first value and blank continuation lines add no stray spaces.
  EXPECT_EQ(ListOf({"X-Empty:", " a", " ", "\tb", "  "}).Values("X-Empty"), "a b");
  // Unfolding once rebuilt the whole value for every line; a long run must still join exactly.
  constexpr int kLines = 16000;
  std::vector<std::string> lines = {"X-Run: v"};
  std::string expected = "v";
  for (int i = 0; i < kLines; ++i) {
    lines.push_back(" w" + std::to_string(i % 10) + " ");
    expected += " w" + std::to_string(i % 10);
  }
  EXPECT_EQ(ListOf(lines).Values("X-Run"), expected);
}

TEST(HeaderList, SetValueReplacesOnlyTheFirstLineInPlace) {
  TIdHeaderList list = ListOf({"A: 1", "X: old", "B: 2", "x: second"});
  list.SetValue("X", "new");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"A: 1", "X: new", "B: 2", "x: second"}));
  list.SetValue("C", "3");
  EXPECT_EQ(list.Line(4), "C: 3");
}

TEST(HeaderList, SetValueDropsOldContinuationLines) {
  TIdHeaderList list = ListOf({"X: a", " b", "\tc", "Y: y"});
  list.SetValue("X", "short");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"X: short", "Y: y"}));
}

TEST(HeaderList, EmptyValueDeletesTheLineAndItsContinuations) {
  TIdHeaderList list = ListOf({"X: a", " b", "Y: y"});
  list.SetValue("Missing", "");
  EXPECT_EQ(list.Count(), 3);
  list.SetValue("x", "");
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Y: y"}));
}

TEST(HeaderList, FoldedValueReadsBackUnchanged) {
  std::string value;
  for (int i = 0; i < 40; ++i) value += "word" + std::to_string(i) + ", ";
  value += "end";
  TIdHeaderList list;
  list.SetValue("X-Words", value);
  ASSERT_GT(list.Count(), 1);
  for (int i = 0; i < list.Count(); ++i) {
    EXPECT_LE(list.Line(i).size(), 78u) << list.Line(i);
    if (i > 0) {
      EXPECT_EQ(list.Line(i)[0], ' ');
    }
    EXPECT_NE(list.Line(i).back(), ' ');
  }
  EXPECT_EQ(list.Values("X-Words"), value);
}

TEST(HeaderList, FoldingWithoutFoldLinesKeepsOneLine) {
  TIdHeaderList list;
  list.FoldLines = false;
  const std::string value(200, 'a');
  list.SetValue("X", value + " " + value);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Line(0), "X: " + value + " " + value);
}

TEST(FoldLine, BreaksOnlyOutsideQuotesAndDoubleByteCharacters) {
  struct Row {
    const char* label;
    std::string line;
    int width;
    std::vector<std::string> pieces;
  };
  const std::vector<Row> rows = {
      {"fits", "A: b c", 78, {"A: b c"}},
      {"blank break", "A: bbb ccc", 7, {"A: bbb", " ccc"}},
      {"comma break", "A: b,c,d", 6, {"A: b,", " c,d"}},
      {"tab break", "A:\tbbb\tccc", 7, {"A:\tbbb", " ccc"}},
      {"quoted comma kept", "A: \"x, y\" z", 8, {"A:", " \"x, y\"", " z"}},
      {"unbreakable long word", "A: " + std::string(20, 'w'), 10, {"A:", " " + std::string(20, 'w')}},
      // 0x81 0x20 would be a blank if the pair were split; it is one character.
      {"double-byte pair", "A: \x81\x20\x81\x20 b", 5, {"A:", " \x81\x20\x81\x20", " b"}},
      {"trailing blanks dropped", "A: b   ", 78, {"A: b"}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FoldLine(row.line, row.width), row.pieces) << row.label;
  }
}

TEST(HeaderList, ExtractCollectsEveryLineOfTheName) {
  TIdHeaderList list = ListOf({"Cookie: a=1", "Host: h", "cookie: b=2", " c=3"});
  std::vector<std::string> values{"kept"};
  list.Extract("COOKIE", values);
  EXPECT_EQ(values, (std::vector<std::string>{"kept", "a=1", "b=2 c=3"}));
}

TEST(HeaderList, AddStdValuesReplacesOnlyTheFirstEquals) {
  TIdHeaderList list = ListOf({"a: old"});
  list.AddStdValues({"a=b=c", "Content-Disposition=attachment;filename=x.txt", "plain"});
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"a: old", "a: b=c",
                                                    "Content-Disposition: attachment;filename=x.txt", "plain"}));
}

}  // namespace
}  // namespace vm
