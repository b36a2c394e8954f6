// Chunked iconv: strict and replacing conversions, across the chunk size.
#include "platform/iconv_converter.h"

#include <gtest/gtest.h>

#include <string>

namespace vm {
namespace {

TEST(IconvConverter, StrictFailsAndReplacingGoesOnAtABadByte) {
  IconvConverter toUtf8("UTF-8", "CP932");
  // 表 (95 5C), a byte CP932 does not define (0xA0), then "a"; a lead byte cut off at the end.
  EXPECT_EQ(toUtf8.Convert("\x95\x5c"
                           "a"),
            std::optional<std::string>("表a"));
  EXPECT_EQ(toUtf8.Convert("\x95\x5c\xA0"
                           "a"),
            std::nullopt);
  EXPECT_EQ(toUtf8.ConvertReplacing("\x95\x5c\xA0"
                                    "a",
                                    "?"),
            "表?a");
  EXPECT_EQ(toUtf8.ConvertReplacing("a\x95", "?"), "a?");
  // The descriptor is reset after a failure: the next text converts whole.
  EXPECT_EQ(toUtf8.Convert("\x95\x5c"), std::optional<std::string>("表"));
  EXPECT_EQ(toUtf8.Convert(""), std::optional<std::string>(""));
}

TEST(IconvConverter, OutputLongerThanOneChunkStaysWhole) {
  // Each 表 grows from two bytes to three: 6,000 of them cross the output chunk several times.
  constexpr int kCount = 6000;
  std::string sjis;
  std::string utf8;
  for (int i = 0; i < kCount; ++i) {
    sjis += "\x95\x5c";
    utf8 += "表";
    if (i == kCount / 2) {
      sjis += "\xA0";
      utf8 += "?";
    }
  }
  IconvConverter toUtf8("UTF-8", "CP932");
  EXPECT_EQ(toUtf8.ConvertReplacing(sjis, "?"), utf8);
  EXPECT_THROW(IconvConverter("NO-SUCH-CODE", "CP932"), std::runtime_error);
}

}  // namespace
}  // namespace vm
