#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/calendar_date.h"

namespace kestrel::common {

// The library's Italian calendar routines. Names are Windows-1252 byte strings
// ("Luned\xEC"); weekdays are numbered 1 = Sunday to 7 = Saturday. A `Date` that is
// no calendar date of the years 1 to 9999 counts as the empty date.

// The weekday name of number 1..7, the empty text for 0 (the weekday of the empty
// date), nothing for any other number.
std::optional<std::string_view> WeekdayName(int weekday);

// The month name of number 1..12, the empty text for 0 (the month of the empty
// date), nothing for any other number.
std::optional<std::string_view> MonthName(int month);

// CDAY: the weekday name of a date; the empty text for the empty date.
std::string CDAY(const Date& date);

// CMNT: the month name of a date (the empty text for the empty date) or of a month
// number (see MonthName).
std::string CMNT(const Date& date);
std::optional<std::string> CMNT(int month);

// MDAYS: the number of days of the date's month; 0 for the empty date.
int MDAYS(const Date& date);

// ISLEAP: true for a leap year of the Gregorian calendar. The empty date has no year
// and is no leap year.
bool ISLEAP(int year);
bool ISLEAP(const Date& date);

// EASTER: the date of Easter Sunday of the year (the date's year), by the Gregorian
// computus. The empty date for the empty date and for years outside 1 to 9999.
Date EASTER(int year);
Date EASTER(const Date& date);

// ISFEST: true for an Italian public holiday (1 and 6 January, Easter Monday,
// 25 April, 1 May, 2 June, 15 August, 1 November, 8, 25 and 26 December), a Sunday,
// or, when `saturday`, a Saturday. False for the empty date.
bool ISFEST(const Date& date, bool saturday = true);

// TTOD: the date part of a date and time; the empty date for the empty value.
Date TTOD(const DateTime& time);

}  // namespace kestrel::common
