#include "common/tables/table_listing.h"

#include <array>
#include <charconv>
#include <cstdio>

#include "common/calendar_date.h"

namespace kestrel::common {

namespace {

std::string NumberText(double value) {
    std::array<char, 32> buffer{};
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return error == std::errc{} ? std::string(buffer.data(), end) : std::string();
}

std::string DateText(const Date& date) {
    if (IsEmptyDate(CheckedDate(date))) {
        return {};
    }
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%04d%02d%02d", date.year, date.month, date.day);
    return text.data();
}

}  // namespace

std::string ListedValue(const DbfField& field, const FieldValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (field.type == 'M') {
            return *text;
        }
        return text->substr(0, text->find_last_not_of(' ') + 1);
    }
    if (const auto* number = std::get_if<double>(&value)) {
        return NumberText(*number);
    }
    if (const auto* date = std::get_if<Date>(&value)) {
        return DateText(*date);
    }
    return std::get<bool>(value) ? "T" : "F";
}

std::vector<std::string> FieldNames(const DbfTable& table) {
    std::vector<std::string> names;
    for (const DbfField& field : table.Header().fields) {
        names.push_back(field.name);
    }
    return names;
}

void ListRecords(DbfTable& table, const std::vector<std::string>& fields, const ListedLine& line) {
    std::string text;
    for (table.GoTop(); !table.Eof(); table.Skip()) {
        text.clear();
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) {
                text += '\t';
            }
            const DbfField* field = table.Header().Field(fields[i]);
            const std::optional<FieldValue> value = table.Get(fields[i]);
            if (field != nullptr && value) {
                text += ListedValue(*field, *value);
            }
        }
        text += '\n';
        line(text);
    }
}

}  // namespace kestrel::common
