#pragma once

#include <chrono>
#include <string_view>

namespace kestrel::common {

// A calendar date; all zero is the empty date.
struct Date {
    int year = 0;
    int month = 0;
    int day = 0;
    friend bool operator==(const Date&, const Date&) = default;
};

// Day arithmetic on the library's `Date` (all zero is the empty date). Only dates
// of the Gregorian calendar in the years 1 to 9999 are dates here: any other value
// of the structure is taken for the empty date.

// The date day/month/year; the empty date when that is no calendar date of the
// years 1 to 9999.
Date MakeDate(int day, int month, int year);

// The date itself when it is a calendar date of the years 1 to 9999, else the empty
// date.
Date CheckedDate(const Date& date);

bool IsEmptyDate(const Date& date);

// 1 = Sunday ... 7 = Saturday; 0 for the empty date.
int Weekday(const Date& date);

// The date `days` later (earlier when negative). The empty date stays empty, and a
// result outside the years 1 to 9999 is the empty date.
Date AddDays(const Date& date, int days);

// A date with a time of day. The empty value has the empty date and time 0.
struct DateTime {
    Date date;
    std::chrono::milliseconds time_of_day{0};
};

// CTOD: reads a date written in `date_format` ("dd/mm/yy": the fields in the order
// in which the format names its "d", "m" and "y"); a two-digit year falls in the
// hundred years from `epoch`. A text that is not a date of the calendar reads as the
// empty date.
Date CTOD(std::string_view text, std::string_view date_format, int epoch);

}  // namespace kestrel::common
