#include "http/http_date.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "support/scoped_env.h"

namespace vm {
namespace {

constexpr double kHalfSecond = 0.5 / 86400.0;

// Runs a test in a given time zone and restores the previous one afterwards.
class ZoneTest : public ::testing::Test {
 protected:
  void UseZone(const char* zone) { zone_.emplace(zone); }

 private:
  std::optional<vmtest::TScopedZone> zone_;
};

// Nine hours ahead of UTC, no daylight time.
constexpr const char* kJapan = "JST-9";
// One hour ahead in winter, two in summer (last Sundays of March and October).
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

TEST(HttpDate, EncodesDaysSince1899) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0, 0), 2.0);
  EXPECT_EQ(EncodeDateTime(2013, 3, 5, 12, 0, 0, 0), 41338.5);
  EXPECT_EQ(EncodeDateTime(2000, 2, 29, 0, 0, 0, 0), 36585.0);
  EXPECT_THROW(EncodeDateTime(1900, 2, 29, 0, 0, 0, 0), Exception);
  EXPECT_THROW(EncodeDateTime(2013, 13, 1, 0, 0, 0, 0), Exception);
  EXPECT_THROW(EncodeDateTime(2013, 1, 1, 24, 0, 0, 0), Exception);
}

TEST_F(ZoneTest, WritesGmtAndOffsetForms) {
  UseZone(kJapan);
  const TDateTime value = EncodeDateTime(2013, 3, 5, 10, 20, 30, 0);
  EXPECT_EQ(DateTimeGMTToHttpStr(value), "Tue, 05 Mar 2013 10:20:30 GMT");
  EXPECT_EQ(DateTimeToInternetStr(value), "Tue, 5 Mar 2013 10:20:30 +0900");
  EXPECT_EQ(DateTimeGMTToHttpStr(EncodeDateTime(2024, 12, 31, 23, 59, 59, 999)), "Tue, 31 Dec 2024 23:59:59 GMT");
  EXPECT_EQ(LocalOffsetMinutes(value), 540);
}

TEST_F(ZoneTest, OffsetFormFollowsTheZoneInForce) {
  UseZone("EST5");
  EXPECT_EQ(DateTimeToInternetStr(EncodeDateTime(2001, 1, 2, 3, 4, 5, 0)), "Tue, 2 Jan 2001 03:04:05 -0500");
  UseZone("IST-5:30");
  EXPECT_EQ(DateTimeToInternetStr(EncodeDateTime(2001, 1, 2, 3, 4, 5, 0)), "Tue, 2 Jan 2001 03:04:05 +0530");
  UseZone(kCentralEurope);
  EXPECT_EQ(DateTimeToInternetStr(EncodeDateTime(2024, 1, 15, 12, 0, 0, 0)), "Mon, 15 Jan 2024 12:00:00 +0100");
  EXPECT_EQ(DateTimeToInternetStr(EncodeDateTime(2024, 7, 15, 12, 0, 0, 0)), "Mon, 15 Jul 2024 12:00:00 +0200");
}

TEST_F(ZoneTest, ParsesTheThreeFormsToLocalTime) {
  UseZone(kJapan);
  struct Row {
    const char* label;
    std::string text;
    TDateTime local;  // 0 = unreadable
  };
  const TDateTime sunday = EncodeDateTime(1994, 11, 6, 17, 49, 37, 0);
  const std::vector<Row> rows = {
      {"RFC 1123", "Sun, 06 Nov 1994 08:49:37 GMT", sunday},
      {"RFC 850", "Sunday, 06-Nov-94 08:49:37 GMT", sunday},
      {"asctime", "Sun Nov  6 08:49:37 1994", sunday},
      {"asctime with zone", "Sun Nov  6 08:49:37 1994 GMT", sunday},
      {"no space after comma", "Sun,06 Nov 1994 08:49:37 GMT", sunday},
      {"any case", "sUN, 06 nov 1994 08:49:37 gmt", sunday},
      {"surrounding blanks", "  Sun, 06 Nov 1994 08:49:37 GMT \r", sunday},
      {"without weekday", "06 Nov 1994 08:49:37 GMT", sunday},
      {"positive offset", "Sun, 06 Nov 1994 09:49:37 +0100", sunday},
      {"negative offset", "Sun, 06 Nov 1994 07:19:37 -0130", sunday},
      {"short zone counts as zero", "Sun, 06 Nov 1994 08:49:37 +01", sunday},
      {"date only", "06 Nov 1994", EncodeDateTime(1994, 11, 6, 9, 0, 0, 0)},
      {"missing seconds", "Sun, 06 Nov 1994 08:49 GMT", EncodeDateTime(1994, 11, 6, 17, 49, 0, 0)},
      {"two-digit year below 80", "Thu, 01 Jan 70 00:00:00 GMT", EncodeDateTime(2070, 1, 1, 9, 0, 0, 0)},
      {"empty", "", 0},
      {"blank", "   ", 0},
      {"garbage", "garbage", 0},
      {"impossible day", "Sun, 31 Feb 1994 08:49:37 GMT", 0},
      {"impossible hour", "Sun, 06 Nov 1994 25:49:37 GMT", 0},
      {"unknown month", "Sun, 06 Foo 1994 08:49:37 GMT", 0},
      {"weekday only", "Sun", 0},
  };
  for (const Row& row : rows) {
    EXPECT_NEAR(GMTToLocalDateTime(row.text), row.local, kHalfSecond) << row.label;
  }
}

TEST_F(ZoneTest, ParsedDateUsesTheOffsetInForceAtThatTime) {
  UseZone(kCentralEurope);
  EXPECT_NEAR(GMTToLocalDateTime("Mon, 15 Jan 2024 12:00:00 GMT"), EncodeDateTime(2024, 1, 15, 13, 0, 0, 0),
              kHalfSecond);
  EXPECT_NEAR(GMTToLocalDateTime("Mon, 15 Jul 2024 12:00:00 GMT"), EncodeDateTime(2024, 7, 15, 14, 0, 0, 0),
              kHalfSecond);
}

TEST_F(ZoneTest, WrittenGmtFormParsesBack) {
  UseZone("UTC0");
  for (const TDateTime value : {EncodeDateTime(1999, 12, 31, 23, 59, 59, 0), EncodeDateTime(2038, 1, 19, 3, 14, 8, 0),
                                EncodeDateTime(2024, 2, 29, 0, 0, 1, 0)}) {
    EXPECT_NEAR(GMTToLocalDateTime(DateTimeGMTToHttpStr(value)), value, kHalfSecond) << DateTimeGMTToHttpStr(value);
  }
}

TEST(HttpDate, NowIsCloseToTheSystemClock) {
  const TDateTime now = NowLocal();
  EXPECT_GT(now, EncodeDateTime(2020, 1, 1, 0, 0, 0, 0));
  EXPECT_LT(now, EncodeDateTime(2200, 1, 1, 0, 0, 0, 0));
}

}  // namespace
}  // namespace vm
