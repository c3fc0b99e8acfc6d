#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/tables/table_layer.h"

namespace kestrel::common {

// The listing of a table: one line per visible record, from the first to the last,
// the values of the named fields separated by tabs and ended by LF, Windows-1252 as
// stored. A C field loses its trailing blanks; a memo is given whole; a date is
// yyyymmdd (nothing for the empty date); a number its shortest decimal text; a
// logical "T" or "F". A name the table does not have gives an empty value.
//
// Every value is read through the table layer, so a table it cannot read (a damaged
// header, a record or memo past the end of its file) fails as the layer fails: the
// error goes to the error callback and the listing is abandoned (errors::Abandon).
using ListedLine = std::function<void(std::string_view line)>;
void ListRecords(DbfTable& table, const std::vector<std::string>& fields, const ListedLine& line);

// The names of every field of the table, in the header's order.
std::vector<std::string> FieldNames(const DbfTable& table);

// The text a listing gives for one value of that field.
std::string ListedValue(const DbfField& field, const FieldValue& value);

}  // namespace kestrel::common
