// libFuzzer target over opening and listing a table and its memo file made of any
// bytes, through the code `tables_demo list` runs: the table layer's open of a work
// area and ListRecords, with every field of the header listed.
//
// Input: two bytes, little-endian, give the length of the table file; that many
// bytes follow (fewer when the input ends first) and the rest is the memo file.
// Checked: the open and the listing either succeed or fail through the error
// callback (Abandon), never otherwise; a listing gives no more lines than the table
// counts records, each ended by LF; walking back from the last record meets as many
// records as the listing did.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/tables/memory_table_file.h"
#include "common/tables/table_layer.h"
#include "common/tables/table_listing.h"
#include "common/tables/table_settings.h"
#include "errors/raise.h"

namespace {

using namespace kestrel::common;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "table listing fuzz: %s\n", what);
        std::abort();
    }
}

std::vector<std::string> Listing(DbfTable& table) {
    std::vector<std::string> lines;
    ListRecords(table, FieldNames(table), [&lines](std::string_view line) {
        Check(!line.empty() && line.back() == '\n', "a line not ended by LF");
        lines.emplace_back(line);
    });
    return lines;
}

std::size_t RecordsBackwards(DbfTable& table) {
    std::size_t count = 0;
    for (table.GoBottom(); !table.Bof() && !table.Eof(); table.Skip(-1)) {
        ++count;
        Check(count <= table.RecCount(), "walking back met more records than counted");
    }
    return count;
}

void ListTable(MemoryFiles files) {
    WorkAreas areas(MemoryFileOpener(std::move(files)));
    try {
        if (!areas.Use(false, "", "T", std::nullopt, true, true)) {
            return;
        }
        DbfTable& table = *areas.Table();
        const std::vector<std::string> first = Listing(table);
        Check(first.size() <= table.RecCount(), "more lines than records");
        Check(RecordsBackwards(table) == first.size(), "walking back met another count");
    } catch (const kestrel::errors::Abandon& abandoned) {
        Check(abandoned.record.SUBSYSTEM.has_value(), "a failure without its layer");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t wanted = data[0] | static_cast<std::size_t>(data[1]) << 8;
    const std::size_t table_size = std::min(wanted, size - 2);
    const std::uint8_t* table = data + 2;
    const std::uint8_t* memo = table + table_size;
    ResetTables();
    TableSettings& settings = Tables().settings;
    settings.memo_extension = ".DBT";
    settings.deleted_hidden = true;
    ListTable({{"T.DBF", std::vector<unsigned char>(table, memo)},
               {"T.DBT", std::vector<unsigned char>(memo, data + size)}});
    return 0;
}
