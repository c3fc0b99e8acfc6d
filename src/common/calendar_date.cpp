#include "common/calendar_date.h"

namespace kestrel::common {

namespace {

constexpr int kFirstYear = 1;
constexpr int kLastYear = 9999;

// Only for dates that passed CheckedDate.
std::chrono::sys_days ToDays(const Date& date) {
    return std::chrono::sys_days{std::chrono::year{date.year} /
                                 std::chrono::month{static_cast<unsigned>(date.month)} /
                                 std::chrono::day{static_cast<unsigned>(date.day)}};
}

}  // namespace

Date MakeDate(int day, int month, int year) {
    if (year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1 || day > 31) {
        return {};
    }
    const std::chrono::year_month_day ymd{std::chrono::year{year},
                                          std::chrono::month{static_cast<unsigned>(month)},
                                          std::chrono::day{static_cast<unsigned>(day)}};
    if (!ymd.ok()) {
        return {};
    }
    return {year, month, day};
}

Date CheckedDate(const Date& date) {
    return MakeDate(date.day, date.month, date.year);
}

bool IsEmptyDate(const Date& date) {
    return CheckedDate(date) == Date{};
}

int Weekday(const Date& date) {
    const Date checked = CheckedDate(date);
    if (checked == Date{}) {
        return 0;
    }
    // c_encoding: 0 = Sunday ... 6 = Saturday.
    return static_cast<int>(std::chrono::weekday{ToDays(checked)}.c_encoding()) + 1;
}

Date AddDays(const Date& date, int days) {
    const Date checked = CheckedDate(date);
    // Years 1 to 9999 span fewer than 3.7 million days: a longer step leaves the
    // range whatever the start, and a shorter one stays far inside the clock's range.
    constexpr int kSpan = 3'700'000;
    if (checked == Date{} || days > kSpan || days < -kSpan) {
        return {};
    }
    const std::chrono::year_month_day moved{ToDays(checked) + std::chrono::days{days}};
    return MakeDate(static_cast<int>(static_cast<unsigned>(moved.day())),
                    static_cast<int>(static_cast<unsigned>(moved.month())),
                    static_cast<int>(moved.year()));
}

}  // namespace kestrel::common
