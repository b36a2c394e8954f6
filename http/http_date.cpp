// HTTP dates: writing the two forms, parsing the three forms browsers send.
#include "http/http_date.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>

#include "platform/exception.h"
#include "platform/sjis.h"

namespace vm {
namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int kMinutesPerDay = 1440;
constexpr std::array<const char*, 7> kWeekdayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kTimeZoneFailure = "Failed attempting to retrieve time zone information.";

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct CivilDate {
  int64_t year;
  unsigned month, day;
};

CivilDate CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

// The date type counts days from 1899-12-30.
const int64_t kEpochDaysFrom1970 = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<size_t>(month - 1)];
}

struct Broken {
  int year, month, day, hour, minute, second, weekday;  // weekday 0 = Sunday
};

Broken Decode(TDateTime value) {
  const int64_t totalMs = std::llround(value * static_cast<double>(kMsPerDay));
  int64_t days = totalMs / kMsPerDay;
  int64_t msOfDay = totalMs % kMsPerDay;
  if (msOfDay < 0) {
    msOfDay += kMsPerDay;
    --days;
  }
  const CivilDate civil = CivilFromDays(days + kEpochDaysFrom1970);
  const int64_t seconds = msOfDay / 1000;
  // 1899-12-30 was a Saturday.
  const int weekday = static_cast<int>(((days % 7) + 7 + 6) % 7);
  return {static_cast<int>(civil.year), static_cast<int>(civil.month), static_cast<int>(civil.day),
          static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
          weekday};
}

std::string TimeText(const Broken& t) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.2d:%.2d:%.2d", t.hour, t.minute, t.second);
  return buffer;
}

// Offset from UTC in minutes (east positive) in force at a UTC instant.
int OffsetAtUtc(TDateTime utc) {
  const double seconds = std::floor((utc + static_cast<double>(kEpochDaysFrom1970)) * 86400.0 + 0.5);
  const time_t instant = static_cast<time_t>(seconds);
  struct tm local {};
  if (localtime_r(&instant, &local) == nullptr) throw Exception(kTimeZoneFailure);
  return static_cast<int>(local.tm_gmtoff / 60);
}

// Takes the text up to the separator (the whole text when it is missing) and drops it with the separator.
std::string_view Fetch(std::string_view& text, char separator) {
  const size_t at = text.find(separator);
  const std::string_view item = text.substr(0, at);
  text = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
  return item;
}

// A decimal integer with an optional sign, nothing else.
std::optional<int> ToInt(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > 1000000000) return std::nullopt;
  }
  return static_cast<int>(negative ? -value : value);
}

// 1-12 for a month name in any case, 0 otherwise.
int MonthNumber(std::string_view item) {
  for (size_t i = 0; i < kMonthNames.size(); ++i) {
    if (EqualTextIgnoreCase(item, kMonthNames[i])) return static_cast<int>(i) + 1;
  }
  return 0;
}

bool StartsWithWeekday(std::string_view text) {
  if (text.size() < 3) return false;
  for (const char* name : kWeekdayNames) {
    if (EqualTextIgnoreCase(text.substr(0, 3), name)) return true;
  }
  return false;
}

// Two-digit years: below 80 are this century, 80-99 the last one.
int ExpandYear(int year) {
  if (year < 80) return year + 2000;
  if (year < 100) return year + 1900;
  return year;
}

struct ParsedDate {
  TDateTime value;   // as written, before the zone is applied
  std::string zone;  // what followed the date and time
};

// Reads date and time (steps of the three forms); throws on an impossible date or time.
ParsedDate ParseDateAndTime(std::string text) {
  if (StartsWithWeekday(text)) {
    if (text.size() > 4 && text[3] == ',' && text[4] != ' ') text.insert(4, " ");
    const size_t space = text.find(' ');
    text = space == std::string::npos
               ? std::string()
               : std::string(TrimStartView(std::string_view(text).substr(space + 1)));
  }
  std::string_view rest = text;

  const size_t dash = rest.find('-');
  const size_t space = rest.find(' ');
  const bool dashedDate = dash != std::string_view::npos && dash >= 1 && space != std::string_view::npos && dash < space;
  const char separator = dashedDate ? '-' : ' ';
  int day = 1;
  int month = 0;
  const std::string_view first = Fetch(rest, separator);
  rest = TrimStartView(rest);
  if (MonthNumber(first) != 0) {
    month = MonthNumber(first);
    day = ToInt(Fetch(rest, separator)).value_or(1);
  } else {
    day = ToInt(first).value_or(1);
    month = MonthNumber(Fetch(rest, separator));
  }
  rest = TrimStartView(rest);

  const std::string_view yearItem = Fetch(rest, ' ');
  std::optional<int> year = ToInt(yearItem);
  std::string timeFirst;  // the asctime form's rest: time first, year taken out
  if (!year) {
    rest = TrimStartView(rest);
    year = ToInt(Fetch(rest, ' '));
    if (!year) throw Exception("Invalid year");
    timeFirst = std::string(yearItem) + (rest.empty() ? "" : " " + std::string(rest));
    rest = timeFirst;
  }
  ParsedDate parsed{EncodeDateTime(ExpandYear(*year), month, day, 0, 0, 0, 0), std::string()};

  rest = TrimStartView(rest);
  if (rest.find(':') != std::string_view::npos) {
    std::string_view time = Fetch(rest, ' ');
    const int hour = ToInt(Fetch(time, ':')).value_or(0);
    const int minute = ToInt(Fetch(time, ':')).value_or(0);
    const int second = ToInt(Fetch(time, ':')).value_or(0);
    parsed.value += EncodeDateTime(1899, 12, 30, hour, minute, second, 0);
  }
  parsed.zone = std::string(rest);
  return parsed;
}

// Minutes east of UTC named by a zone text such as "+0900"; names like "GMT" count as 0.
int ZoneOffsetMinutes(std::string_view zone) {
  zone = TrimView(zone);
  if (zone.size() <= 4 || (zone[0] != '+' && zone[0] != '-')) return 0;
  const int hours = ToInt(zone.substr(1, 2)).value_or(0);
  const int minutes = ToInt(zone.substr(3, 2)).value_or(0);
  const int offset = hours * 60 + minutes;
  return zone[0] == '-' ? -offset : offset;
}

}  // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 || ms > 999) {
    throw Exception("Invalid argument to date encode");
  }
  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                       kEpochDaysFrom1970;
  const int64_t msOfDay = ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + ms;
  return static_cast<double>(days) + static_cast<double>(msOfDay) / static_cast<double>(kMsPerDay);
}

TDateTime NowLocal() {
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local {};
  localtime_r(&now.tv_sec, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec > 59 ? 59 : local.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
}

int LocalOffsetMinutes(TDateTime localTime) {
  const Broken t = Decode(localTime);
  struct tm local {};
  local.tm_year = t.year - 1900;
  local.tm_mon = t.month - 1;
  local.tm_mday = t.day;
  local.tm_hour = t.hour;
  local.tm_min = t.minute;
  local.tm_sec = t.second;
  local.tm_isdst = -1;  // let the zone rules say whether daylight time is in force
  errno = 0;
  const time_t instant = mktime(&local);
  if (instant == static_cast<time_t>(-1) && errno != 0) throw Exception(kTimeZoneFailure);
  struct tm check {};
  if (localtime_r(&instant, &check) == nullptr) throw Exception(kTimeZoneFailure);
  return static_cast<int>(check.tm_gmtoff / 60);
}

std::string DateTimeGMTToHttpStr(TDateTime value) {
  const Broken t = Decode(value);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %.2d %s %.4d %s %s", kWeekdayNames[static_cast<size_t>(t.weekday)],
                t.day, kMonthNames[static_cast<size_t>(t.month - 1)], t.year, TimeText(t).c_str(), "GMT");
  return buffer;
}

std::string DateTimeToInternetStr(TDateTime value) {
  const Broken t = Decode(value);
  const int offset = LocalOffsetMinutes(value);
  const int magnitude = offset < 0 ? -offset : offset;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%.2d%.2d", offset >= 0 ? '+' : '-', magnitude / 60, magnitude % 60);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %d %s %d %s %s", kWeekdayNames[static_cast<size_t>(t.weekday)], t.day,
                kMonthNames[static_cast<size_t>(t.month - 1)], t.year, TimeText(t).c_str(), zone);
  return buffer;
}

TDateTime GMTToLocalDateTime(const std::string& text) {
  const std::string_view trimmed = TrimView(text);
  if (trimmed.empty()) return 0;
  try {
    const ParsedDate parsed = ParseDateAndTime(std::string(trimmed));
    const TDateTime utc = parsed.value - static_cast<double>(ZoneOffsetMinutes(parsed.zone)) / kMinutesPerDay;
    return utc + static_cast<double>(OffsetAtUtc(utc)) / kMinutesPerDay;
  } catch (const Exception&) {
    return 0;  // an impossible date or time, or no zone information
  }
}

}  // namespace vm
