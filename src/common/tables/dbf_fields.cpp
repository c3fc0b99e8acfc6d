// The values of DBF fields and records: what a field's bytes mean, and the bytes a
// value takes in its field (dbf_format.h). Pure functions over byte strings, as the
// rest of the format; numbers go through std::to_chars and std::from_chars, which
// ignore the C locale.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>

#include "common/calendar_date.h"
#include "common/tables/dbf_format.h"
#include "common/tables/dbf_text.h"

namespace kestrel::common {

namespace {

using namespace dbf_text;  // the field bytes' text rules

// --- Field values ----------------------------------------------------------------

double NumberOf(std::string_view raw) {
    std::string_view text = Trimmed(raw);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);  // from_chars takes a minus sign only
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return 0;
    }
    return value;
}

Date DateOf(std::string_view raw) {
    if (raw.size() != 8 || !std::all_of(raw.begin(), raw.end(), IsDigit)) {
        return {};
    }
    const auto part = [raw](std::size_t at, std::size_t count) {
        int value = 0;
        for (char digit : raw.substr(at, count)) {
            value = value * 10 + (digit - '0');
        }
        return value;
    };
    return MakeDate(part(6, 2), part(4, 2), part(0, 4));
}

bool LogicalOf(std::string_view raw) {
    if (raw.empty()) {
        return false;
    }
    const char c = raw.front();
    return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

// Adds one to the last digit of `digits`, carrying; "99" becomes "100".
void RoundUp(std::string& digits) {
    for (std::size_t i = digits.size(); i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
}

// The number with `decimals` places, rounded half away from zero as its shortest
// round-trip decimal text reads (0.125 is 0.13, although the double nearest to it
// lies just below), without a sign when it rounds to zero. Nothing when it is not
// finite.
std::optional<std::string> FixedPoint(double value, int decimals) {
    // Enough for any finite double in shortest fixed notation.
    std::array<char, 400> buffer{};
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                            std::chars_format::fixed);
    if (!std::isfinite(value) || error != std::errc{}) {
        return std::nullopt;
    }
    std::string_view text(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
    const bool negative = !text.empty() && text.front() == '-';
    text.remove_prefix(negative ? 1 : 0);
    const std::size_t point = text.find('.');
    const auto places = static_cast<std::size_t>(decimals);
    // Integer and fraction digits as one string, the fraction cut after `places`.
    std::string digits(text.substr(0, point));
    const std::size_t whole = digits.size();
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    digits += fraction.substr(0, places);
    digits.append(whole + places - digits.size(), '0');
    if (fraction.size() > places && fraction[places] >= '5') {
        RoundUp(digits);
    }
    const std::size_t integer = digits.size() - places;
    std::string fixed = digits.substr(0, integer);
    if (places > 0) {
        fixed += '.' + digits.substr(integer);
    }
    if (negative && digits.find_first_not_of('0') != std::string::npos) {
        fixed.insert(fixed.begin(), '-');
    }
    return fixed;
}

EncodedField NumberField(const DbfField& field, double value) {
    const int decimals = std::max(field.decimals, 0);
    // Even 0 needs "0." before its places, so such a field holds no number at all.
    if (decimals > 0 && static_cast<std::size_t>(decimals) + 2 > field.length) {
        return {FieldFit::kTooWide, {}};
    }
    const std::optional<std::string> text = FixedPoint(value, decimals);
    if (!text || text->size() > field.length) {
        return {FieldFit::kTooWide, {}};
    }
    return {FieldFit::kFits, RightAligned(*text, field.length)};
}

EncodedField DateField(const DbfField& field, const Date& value) {
    if (value == Date{}) {
        return {FieldFit::kFits, std::string(field.length, ' ')};
    }
    const Date date = CheckedDate(value);
    if (date == Date{}) {
        return {FieldFit::kImpossibleDate, {}};
    }
    // yyyymmdd: the year, month and day as 8 digits, most significant first.
    const int number = date.year * 10000 + date.month * 100 + date.day;
    std::string digits(8, '0');
    for (int i = 7, rest = number; i >= 0; --i, rest /= 10) {
        digits[static_cast<std::size_t>(i)] = static_cast<char>('0' + rest % 10);
    }
    return {FieldFit::kFits, LeftAligned(digits, field.length)};
}

}  // namespace

// --- Records ---------------------------------------------------------------------

std::string BlankRecord(const DbfHeader& header) {
    std::string record(header.record_size, ' ');
    if (!record.empty()) {
        record[0] = kRecordKept;
    }
    return record;
}

FieldValue DecodeField(const DbfField& field, std::string_view raw) {
    switch (field.type) {
        case 'N':
            return NumberOf(raw);
        case 'D':
            return DateOf(raw);
        case 'L':
            return LogicalOf(raw);
        case 'M':
            return std::string();
        default:
            return std::string(raw);
    }
}

EncodedField EncodeField(const DbfField& field, const FieldValue& value) {
    if (field.type == 'C' && std::holds_alternative<std::string>(value)) {
        return {FieldFit::kFits, LeftAligned(std::get<std::string>(value), field.length)};
    }
    if (field.type == 'N' && std::holds_alternative<double>(value)) {
        return NumberField(field, std::get<double>(value));
    }
    if (field.type == 'D' && std::holds_alternative<Date>(value)) {
        return DateField(field, std::get<Date>(value));
    }
    if (field.type == 'L' && std::holds_alternative<bool>(value)) {
        return {FieldFit::kFits, LeftAligned(std::get<bool>(value) ? "T" : "F", field.length)};
    }
    return {FieldFit::kWrongType, {}};  // M fields hold block numbers: MemoFieldFor
}

}  // namespace kestrel::common
