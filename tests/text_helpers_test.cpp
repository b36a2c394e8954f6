// Hex text, parameter text, field lists, the Shift_JIS converter and the page texts.
#include "platform/text_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "web/sjis_texts.h"

namespace vm {
namespace {

// Shift_JIS bytes used below: 表 is 95 5C (its trail byte is "\"), ｱ is the single byte B1.
const std::string kHyo = "\x95\x5c";

struct Row {
  const char* label;
  std::string input;
  std::string expected;
};

TEST(TextHelpers, HexEncode) {
  const std::vector<Row> rows = {
      {"empty", "", ""},
      {"ascii", "abc", "616263"},
      {"kanji with backslash trail byte", kHyo, "955c"},
      {"small bytes get a leading zero", std::string("\x01\x0f\x10\xff"), "010f10ff"},
      {"ends at the first zero byte", std::string("ab\0cd", 5), "6162"},
  };
  for (const Row& row : rows) EXPECT_EQ(HexEncode(row.input), row.expected) << row.label;
}

TEST(TextHelpers, HexDecode) {
  const std::vector<Row> rows = {
      {"empty", "", ""},
      {"kanji", "955c", kHyo},
      {"pair 00 ends the text", "616200", "ab"},
      {"pair 00 in the middle", "61006200", "a"},
      {"digits", "4142", "AB"},
      {"capital letters are not digits (4A is not 0x4A)", "4A", "\x40"},
      {"capital pair decodes to zero and ends the text", "61AA62", "a"},
      {"non-digit counts as 0", "6z62", "\x60\x62"},
      {"odd length: last character is the high nibble", "616", "a\x60"},
      {"odd length giving zero ends the text", "610", "a"},
      {"all bytes round trip", HexEncode("\x01\x7f\x80\xfe\xff"), "\x01\x7f\x80\xfe\xff"},
  };
  for (const Row& row : rows) EXPECT_EQ(HexDecode(row.input), row.expected) << row.label;
}

TEST(TextHelpers, HexRoundTripBeyondOldBufferLimit) {
  // The old fixed buffers held 1,023 input bytes; longer texts must come back whole.
  std::string text;
  for (int i = 0; i < 5000; ++i) text.push_back(static_cast<char>(1 + i % 255));
  EXPECT_EQ(HexEncode(text).size(), 10000u);
  EXPECT_EQ(HexDecode(HexEncode(text)), text);
}

TEST(TextHelpers, PercentDecode) {
  const std::vector<Row> rows = {
      {"plus, upper and lower hex", "a+b%41%2f", "a bA/"},
      {"upper-case slash", "%2F", "/"},
      {"utf-8 bytes pass as bytes", "%E3%81%82", "\xe3\x81\x82"},
      {"%00 ends the text", "%00xyz", ""},
      {"%00 after text", "ab%00cd", "ab"},
      {"raw zero byte ends the input", std::string("a%41\0%42", 8), "aA"},
      {"trailing % is kept", "100%", "100%"},
      {"% with one character is kept", "x%4", "x%4"},
      {"lone %", "%", "%"},
      {"%% then two characters", "%%41", "T1"},  // '%' counts -11, '4' 4: (16*-11+4) mod 256
      {"non-hex goes through the formula", "%zz", "S"},  // z counts 35: 595 mod 256
      {"high bytes count as below A", "%\x95\x5c", "u"},  // 0x95 counts -155, "\\" 37
      {"shift_jis bytes are copied", kHyo + "+", kHyo + " "},
      {"empty", "", ""},
  };
  for (const Row& row : rows) {
    std::string buffer = row.input;
    PercentDecode(buffer);
    EXPECT_EQ(buffer, row.expected) << row.label;
    EXPECT_EQ(PercentDecoded(row.input), row.expected) << row.label;
  }
}

TEST(TextHelpers, HexPairValue) {
  EXPECT_EQ(HexPairValue('4', '1'), 0x41);
  EXPECT_EQ(HexPairValue('f', 'F'), 0xFF);
  EXPECT_EQ(HexPairValue('0', '0'), 0x00);
  EXPECT_EQ(HexPairValue('G', '0'), 0x00);  // G counts 16: 256 mod 256
}

TEST(TextHelpers, GetParam) {
  struct ParamRow {
    const char* label;
    const char* params;
    const char* name;
    const char* expected;
  };
  const std::vector<ParamRow> rows = {
      {"middle", "pid=m1&name=6162&path=633a5c", "name", "6162"},
      {"first", "pid=m1&name=6162&path=633a5c", "pid", "m1"},
      {"last runs to the end", "pid=m1&name=6162&path=633a5c", "path", "633a5c"},
      {"absent", "pid=m1&name=6162&path=633a5c", "file", ""},
      {"unanchored: matches inside dirname", "dirname=78&name=79", "name", "78"},
      {"match inside an earlier value", "a=xname=1&name=2", "name", "1"},
      {"empty value", "pw=&x=1", "pw", ""},
      {"case-sensitive", "Name=1", "name", ""},
      {"name without = is not a match", "name&name=5", "name", "5"},
      {"value keeps plus and percent", "q=a+b%41", "q", "a+b%41"},
      {"empty text", "", "pw", ""},
  };
  for (const ParamRow& row : rows) {
    EXPECT_EQ(GetParam(row.params, row.name), row.expected) << row.label;
  }
}

TEST(TextHelpers, GetField) {
  struct FieldRow {
    const char* label;
    std::string list;
    int n;
    std::string expected;
  };
  const std::string photos = "  Photos;;C:\\Photos\\  ";
  const std::vector<FieldRow> rows = {
      {"field 0 trimmed", photos, 0, "Photos"},
      {"field 1 trimmed", photos, 1, "C:\\Photos\\"},
      {"field 2 of two", photos, 2, ""},
      {"field 5 of two", photos, 5, ""},
      {"empty middle field", "a;;;;b", 1, ""},
      {"field after empty one", "a;;;;b", 2, "b"},
      {"inner spaces stay", "a ;; b", 1, " b"},
      {"control bytes trimmed", std::string("\t\r\n\0x;;y\r\n", 10), 1, "y"},
      {"no separator: whole text", "abc", 0, "abc"},
      {"single ; is not a separator", "a;b;;c", 1, "c"},
      {"kanji name", kHyo + ";;/srv/x/", 0, kHyo},
      {"empty text", "", 0, ""},
  };
  for (const FieldRow& row : rows) EXPECT_EQ(GetField(row.list, row.n), row.expected) << row.label;
}

TEST(TextHelpers, ShiftJisToUtf8) {
  const std::vector<Row> rows = {
      {"empty", "", ""},
      {"ascii", "abc", "abc"},
      {"kanji", kHyo, "\xe8\xa1\xa8"},
      {"half-width katakana", "\xb1", "\xef\xbd\xb1"},
      {"hiragana a", "\x82\xa0", "\xe3\x81\x82"},
      {"ends at zero byte", std::string("a\0b", 3), "a"},
      {"invalid byte becomes U+FFFD, the rest survives", "a\x80z", "a\xef\xbf\xbdz"},
      {"cut-off lead byte", "a\x81", "a\xef\xbf\xbd"},
  };
  for (const Row& row : rows) EXPECT_EQ(ShiftJisToUtf8(row.input), row.expected) << row.label;
}

TEST(TextHelpers, EncodeUtf8UnitsCountsAndWrites) {
  // One unit of each width, plus a lone surrogate, which is encoded as is.
  const std::u16string units = {u'a', 0x00E9, 0x8868, 0xD83D};
  const size_t count = EncodeUtf8Units(nullptr, units.data(), units.size(), true);
  ASSERT_EQ(count, 1u + 2u + 3u + 3u);
  std::string out(count + 1, 'X');
  EXPECT_EQ(EncodeUtf8Units(out.data(), units.data(), units.size(), false), count);
  EXPECT_EQ(out, std::string("a\xc3\xa9\xe8\xa1\xa8\xed\xa0\xbd\0", 10));
  EXPECT_EQ(WideToUtf8(std::u16string(u"x\0y", 3)), "x");
}

TEST(TextHelpers, ShiftJisToUtf8OnManyThreads) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 500;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < kRounds; ++i) {
        if (ShiftJisToUtf8(kHyo + "\xb1") != "\xe8\xa1\xa8\xef\xbd\xb1") ++failures[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

TEST(TextHelpers, SjisTexts) {
  EXPECT_EQ(texts::LoginDone(), "\x83\x8d\x83\x4f\x83\x43\x83\x93\x8a\xae\x97\xb9");
  EXPECT_EQ(&texts::Save(), &texts::Save());  // converted once
}

}  // namespace
}  // namespace vm
