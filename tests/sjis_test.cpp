// Shift_JIS byte classes, trimming, ASCII case folding, literal conversion and file errors.
#include "platform/sjis.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/exception.h"

namespace vm {
namespace {

// Shift_JIS bytes used below: 表 is 95 5C (its trail byte is "\"), ｱ is the single byte B1.
const std::string kHyo = "\x95\x5c";

TEST(Sjis, BytePositions) {
  EXPECT_TRUE(IsSjisLeadByte(0x81));
  EXPECT_TRUE(IsSjisLeadByte(0x9F));
  EXPECT_TRUE(IsSjisLeadByte(0xE0));
  EXPECT_TRUE(IsSjisLeadByte(0xFC));
  EXPECT_FALSE(IsSjisLeadByte(0x80));
  EXPECT_FALSE(IsSjisLeadByte(0xA0));
  EXPECT_FALSE(IsSjisLeadByte(0xB1));  // half-width katakana stands alone
  EXPECT_FALSE(IsSjisLeadByte(0xFD));

  // "a表\表": the first backslash is a trail byte, the second a real backslash.
  const std::string text = "a" + kHyo + "\\" + kHyo;
  EXPECT_FALSE(IsSjisTrailByteAt(text, 1));
  EXPECT_TRUE(IsSjisTrailByteAt(text, 2));
  EXPECT_FALSE(IsSjisTrailByteAt(text, 3));
  EXPECT_TRUE(IsSjisTrailByteAt(text, 5));
  // A byte that looks like a lead but follows one is a trail: 95 95 5C.
  EXPECT_TRUE(IsSjisTrailByteAt("\x95\x95\x5c", 1));
  EXPECT_FALSE(IsSjisTrailByteAt("\x95\x95\x5c", 2));
  EXPECT_FALSE(IsSjisTrailByteAt("\x95", 1));  // past the end
}

TEST(Sjis, Trimming) {
  const std::string text(" \t\0a b\r\n", 8);
  EXPECT_EQ(TrimText(text), "a b");
  EXPECT_EQ(TrimView(text), "a b");
  EXPECT_EQ(TrimStartView(text), "a b\r\n");
  EXPECT_EQ(TrimEndView(text), std::string(" \t\0a b", 6));
  EXPECT_EQ(TrimText("   "), "");
  EXPECT_EQ(TrimEndView("   "), "");
  // 0x81 0x40 (the full-width space) is a character, not a blank.
  EXPECT_EQ(TrimText("\x81\x40 x \x81\x40"), "\x81\x40 x \x81\x40");
}

TEST(Sjis, CaseFoldingTouchesOnlyAsciiLetters) {
  EXPECT_EQ(CompareTextIgnoreCase("Index.HTML", "index.html"), 0);
  EXPECT_LT(CompareTextIgnoreCase("abc", "ABD"), 0);
  EXPECT_GT(CompareTextIgnoreCase("abcd", "ABC"), 0);
  EXPECT_GT(CompareTextIgnoreCase("\x95\x5c", "a"), 0);  // bytes compare unsigned
  // Only ASCII letters fold: full-width Ａ (82 60) and ａ (82 81) stay different.
  EXPECT_NE(CompareTextIgnoreCase("\x82\x60", "\x82\x81"), 0);
  EXPECT_TRUE(EqualTextIgnoreCase("Keep-Alive", "keep-alive"));
  EXPECT_FALSE(EqualTextIgnoreCase("keep-alive", "keep-aliv"));
  EXPECT_FALSE(EqualTextIgnoreCase("[", "{"));  // "[" is not an upper-case "{"
  // Lead and trail bytes keep their values: ﾃ (C3) and the trail byte 0x41 ("A") of 83 41.
  EXPECT_EQ(LowerAscii("A\xC3\x83\x41Z"), "a\xC3\x83\x61z");
  EXPECT_EQ(UpperAscii("get \xC4\xE4"), "GET \xC4\xE4");
}

TEST(Sjis, LiteralsAndFileErrors) {
  EXPECT_EQ(Sjis("表ｱ"), kHyo + "\xb1");
  EXPECT_THROW(Sjis("Vidéos"), std::logic_error);

  const std::string path = "/srv/" + kHyo + ".txt";
  EXPECT_EQ(EFCreateError(path).Message(), Sjis("ファイル ") + path + Sjis(" を作成できません"));
  EXPECT_EQ(std::string(EFOpenError(path).what()),
            Sjis("ファイル ") + path + Sjis(" は開けません"));
}

}  // namespace
}  // namespace vm
