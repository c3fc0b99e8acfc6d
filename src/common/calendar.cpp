#include "common/calendar.h"

#include <array>

namespace kestrel::common {

namespace {

// Index 0 is the name of the empty date's weekday and month: the empty text.
constexpr std::array<std::string_view, 8> kWeekdayNames = {
    "", "Domenica", "Luned\xEC", "Marted\xEC", "Mercoled\xEC", "Gioved\xEC", "Venerd\xEC", "Sabato",
};

constexpr std::array<std::string_view, 13> kMonthNames = {
    "",       "Gennaio", "Febbraio",  "Marzo",   "Aprile",   "Maggio",   "Giugno",
    "Luglio", "Agosto",  "Settembre", "Ottobre", "Novembre", "Dicembre",
};

struct DayOfMonth {
    int day;
    int month;
};

// The holidays on the same day every year.
constexpr std::array<DayOfMonth, 10> kFixedHolidays = {{
    {1, 1},    // Capodanno
    {6, 1},    // Epifania
    {25, 4},   // Liberazione
    {1, 5},    // Festa del lavoro
    {2, 6},    // Festa della Repubblica
    {15, 8},   // Ferragosto
    {1, 11},   // Ognissanti
    {8, 12},   // Immacolata
    {25, 12},  // Natale
    {26, 12},  // Santo Stefano
}};

constexpr int kSunday = 1;
constexpr int kSaturday = 7;

template <std::size_t N>
std::optional<std::string_view> NameAt(const std::array<std::string_view, N>& names, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= names.size()) {
        return std::nullopt;
    }
    return names[static_cast<std::size_t>(index)];
}

bool IsFixedHoliday(const Date& date) {
    for (const DayOfMonth& holiday : kFixedHolidays) {
        if (date.day == holiday.day && date.month == holiday.month) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::string_view> WeekdayName(int weekday) {
    return NameAt(kWeekdayNames, weekday);
}

std::optional<std::string_view> MonthName(int month) {
    return NameAt(kMonthNames, month);
}

std::string CDAY(const Date& date) {
    return std::string(*WeekdayName(Weekday(date)));
}

std::string CMNT(const Date& date) {
    return std::string(*MonthName(CheckedDate(date).month));
}

std::optional<std::string> CMNT(int month) {
    if (const auto name = MonthName(month)) {
        return std::string(*name);
    }
    return std::nullopt;
}

int MDAYS(const Date& date) {
    switch (CheckedDate(date).month) {
        case 0:
            return 0;
        case 4:
        case 6:
        case 9:
        case 11:
            return 30;
        case 2:
            return ISLEAP(date) ? 29 : 28;
        default:
            return 31;
    }
}

bool ISLEAP(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool ISLEAP(const Date& date) {
    return !IsEmptyDate(date) && ISLEAP(date.year);
}

Date EASTER(int year) {
    if (year < 1 || year > 9999) {
        return {};
    }
    // The anonymous Gregorian computus (Meeus/Jones/Butcher), integer divisions.
    const int a = year % 19;
    const int b = year / 100;
    const int c = year % 100;
    const int d = b / 4;
    const int e = b % 4;
    const int f = (b + 8) / 25;
    const int g = (b - f + 1) / 3;
    const int h = (19 * a + b - d - g + 15) % 30;
    const int i = c / 4;
    const int k = c % 4;
    const int l = (32 + 2 * e + 2 * i - h - k) % 7;
    const int m = (a + 11 * h + 22 * l) / 451;
    const int n = h + l - 7 * m + 114;
    // The date is made from the year itself: a year below 100 is that year, not a
    // two-digit year of the date format's epoch.
    return MakeDate(n % 31 + 1, n / 31, year);
}

Date EASTER(const Date& date) {
    return IsEmptyDate(date) ? Date{} : EASTER(date.year);
}

bool ISFEST(const Date& date, bool saturday) {
    const Date checked = CheckedDate(date);
    if (checked == Date{}) {
        return false;
    }
    if (IsFixedHoliday(checked) || checked == AddDays(EASTER(checked.year), 1)) {
        return true;
    }
    const int weekday = Weekday(checked);
    return weekday == kSunday || (saturday && weekday == kSaturday);
}

Date TTOD(const DateTime& time) {
    return CheckedDate(time.date);
}

}  // namespace kestrel::common
