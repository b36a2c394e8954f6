// HTTP dates: the GMT form, the numeric-offset form and the parser.
#pragma once

#include <string>

#include "http/request_info.h"

namespace vm {

// Local offset from UTC in minutes (east positive) at the given local date-time.
int LocalOffsetMinutes(TDateTime localTime);
// "Tue, 05 Mar 2013 10:20:30 GMT" (the value is taken to be GMT already).
std::string DateTimeGMTToHttpStr(TDateTime value);
// "Tue, 5 Mar 2013 10:20:30 +0900" (the value is local time).
std::string DateTimeToInternetStr(TDateTime value);
// Parses an HTTP date to local time; 0 when the text cannot be read.
TDateTime GMTToLocalDateTime(const std::string& text);

// Conversions between TDateTime and broken-down time.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms);
TDateTime NowLocal();

}  // namespace vm
