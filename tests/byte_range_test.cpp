// What one Range value asks of a file: the plan the download answer is built from.
#include "http/byte_range.h"

#include <gtest/gtest.h>

#include <vector>

namespace vm {
namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;
constexpr uint64_t kMaxSize = 0xFFFFFFFFFFFFFFFFull;

struct RangeRow {
  const char* label;
  const char* value;
  uint64_t size;
  TRangeOutcome outcome;
  uint64_t first;   // Partial only
  uint64_t length;  // Partial only
  const char* contentRange;
};

constexpr TRangeOutcome kWhole = TRangeOutcome::Whole;
constexpr TRangeOutcome kPart = TRangeOutcome::Partial;
constexpr TRangeOutcome kNone = TRangeOutcome::Unsatisfiable;

// clang-format off
const std::vector<RangeRow> kRows = {
    // One range, the three forms.
    {"first to last",             "bytes=0-99",        1000, kPart, 0,   100,  "bytes 0-99/1000"},
    {"middle",                    "bytes=100-199",     1000, kPart, 100, 100,  "bytes 100-199/1000"},
    {"single byte",               "bytes=5-5",         1000, kPart, 5,   1,    "bytes 5-5/1000"},
    {"last byte by position",     "bytes=999-999",     1000, kPart, 999, 1,    "bytes 999-999/1000"},
    {"last past the end clamps",  "bytes=900-5000",    1000, kPart, 900, 100,  "bytes 900-999/1000"},
    {"open end",                  "bytes=990-",        1000, kPart, 990, 10,   "bytes 990-999/1000"},
    {"open end from 0",           "bytes=0-",          1000, kPart, 0,   1000, "bytes 0-999/1000"},
    {"suffix",                    "bytes=-10",         1000, kPart, 990, 10,   "bytes 990-999/1000"},
    {"suffix of the whole file",  "bytes=-1000",       1000, kPart, 0,   1000, "bytes 0-999/1000"},
    {"suffix longer than file",   "bytes=-5000",       1000, kPart, 0,   1000, "bytes 0-999/1000"},
    {"unit in capitals, spaces",  " BYTES = 1 - 2 ",   1000, kPart, 1,   2,    "bytes 1-2/1000"},
    // Nothing of the file is met.
    {"first at the size",         "bytes=1000-",       1000, kNone, 0, 0, "bytes */1000"},
    {"first past the size",       "bytes=2000-2100",   1000, kNone, 0, 0, "bytes */1000"},
    {"empty suffix",              "bytes=-0",          1000, kNone, 0, 0, "bytes */1000"},
    {"first after last",          "bytes=10-5",        1000, kNone, 0, 0, "bytes */1000"},
    {"empty file, from 0",        "bytes=0-",          0,    kNone, 0, 0, "bytes */0"},
    {"empty file, 0-0",           "bytes=0-0",         0,    kNone, 0, 0, "bytes */0"},
    {"empty file, suffix",        "bytes=-5",          0,    kNone, 0, 0, "bytes */0"},
    {"first beyond 64 bits",      "bytes=99999999999999999999-", 1000, kNone, 0, 0, "bytes */1000"},
    // Ignored: the whole file, as without Range.
    {"absent",                    "",                  1000, kWhole, 0, 0, ""},
    {"two ranges",                "bytes=0-1,5-6",     1000, kWhole, 0, 0, ""},
    {"two ranges, one bad",       "bytes=0-1,x",       1000, kWhole, 0, 0, ""},
    {"trailing comma",            "bytes=0-1,",        1000, kWhole, 0, 0, ""},
    {"other unit",                "items=0-1",         1000, kWhole, 0, 0, ""},
    {"no unit",                   "0-1",               1000, kWhole, 0, 0, ""},
    {"no dash",                   "bytes=5",           1000, kWhole, 0, 0, ""},
    {"dash alone",                "bytes=-",           1000, kWhole, 0, 0, ""},
    {"nothing after =",           "bytes=",            1000, kWhole, 0, 0, ""},
    {"negative first",            "bytes=--5",         1000, kWhole, 0, 0, ""},
    {"sign",                      "bytes=+1-2",        1000, kWhole, 0, 0, ""},
    {"letters",                   "bytes=a-b",         1000, kWhole, 0, 0, ""},
    {"two dashes",                "bytes=1-2-3",       1000, kWhole, 0, 0, ""},
    {"space inside a number",     "bytes=1 0-20",      1000, kWhole, 0, 0, ""},
    {"hex",                       "bytes=0x10-",       1000, kWhole, 0, 0, ""},
    // Sizes past 32 bits.
    {"past 4 GiB",                "bytes=4294967296-", kFourGiB + 10, kPart, kFourGiB, 10,
                                                       "bytes 4294967296-4294967305/4294967306"},
    {"suffix past 4 GiB",         "bytes=-4294967297", kFourGiB + 10, kPart, 9, kFourGiB + 1,
                                                       "bytes 9-4294967305/4294967306"},
    {"largest size, last byte",   "bytes=-1",          kMaxSize, kPart, kMaxSize - 1, 1,
                                  "bytes 18446744073709551614-18446744073709551614/18446744073709551615"},
    {"largest size, open end",    "bytes=18446744073709551614-", kMaxSize, kPart, kMaxSize - 1, 1,
                                  "bytes 18446744073709551614-18446744073709551614/18446744073709551615"},
    {"last beyond 64 bits",       "bytes=3-99999999999999999999", 1000, kPart, 3, 997, "bytes 3-999/1000"},
};
// clang-format on

TEST(ByteRange, PlansTheAnswerForOneRangeValue) {
  for (const RangeRow& row : kRows) {
    SCOPED_TRACE(row.label);
    const TByteRangePlan plan = PlanByteRange(row.value, row.size);
    EXPECT_EQ(plan.outcome, row.outcome);
    if (row.outcome == kPart) {
      EXPECT_EQ(plan.first, row.first);
      EXPECT_EQ(plan.length, row.length);
      // A partial answer never reaches past the end of the file.
      EXPECT_LE(plan.length, row.size - plan.first);
    }
    EXPECT_EQ(ContentRangeValue(plan, row.size), row.contentRange);
  }
}

}  // namespace
}  // namespace vm
