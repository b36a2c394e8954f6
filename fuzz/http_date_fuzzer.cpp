// The HTTP date parser on arbitrary texts, and the round trip through the GMT form.
//
// The zone is fixed to UTC, so local time and GMT coincide: a date the parser reads, written
// back in the GMT form, must read as the same instant.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "http/http_date.h"

namespace {

// The GMT form writes years with four digits, which the parser reads back as written only from
// the year 100 on (smaller ones are taken for two-digit years).
constexpr int kFirstRoundTripYear = 100;
constexpr int kLastYear = 9999;
// Half a millisecond, in days: the date type's resolution.
constexpr double kHalfMsInDays = 0.5 / 86400000.0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const vm::TDateTime value = vm::GMTToLocalDateTime(text);
  if (value == 0) return 0;
  if (!std::isfinite(value)) std::abort();
  const vm::TDateTime first = vm::EncodeDateTime(kFirstRoundTripYear, 1, 1, 0, 0, 0, 0);
  const vm::TDateTime last = vm::EncodeDateTime(kLastYear, 12, 31, 23, 59, 59, 0);
  if (value < first || value > last) return 0;
  const std::string written = vm::DateTimeGMTToHttpStr(value);
  const vm::TDateTime again = vm::GMTToLocalDateTime(written);
  if (std::fabs(again - value) > kHalfMsInDays) {
    std::fprintf(stderr, "round trip: \"%s\" -> %.9f -> \"%s\" -> %.9f\n", text.c_str(), value,
                 written.c_str(), again);
    std::abort();
  }
  vm::DateTimeToInternetStr(value);
  return 0;
}
