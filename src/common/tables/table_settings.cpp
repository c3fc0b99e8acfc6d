#include "common/tables/table_settings.h"

#include "common/tables/table_layer.h"

namespace kestrel::common {

TablesState& Tables() {
    static TablesState state;
    return state;
}

void ResetTables() {
    Tables() = TablesState{};
}

void FixTableSettings(TableSettings& settings) {
    settings.driver = std::string(kTableDriver);
    settings.lock_scheme = 2;
    settings.memo_type = 2;
    settings.memo_extension = ".DBT";
    settings.auto_share = 0;
    settings.confirm = "ON";
    settings.date_format = settings.century ? "dd/mm/yyyy" : "dd/mm/yy";
    settings.deleted_hidden = true;
    settings.epoch = 1980;
    settings.file_case = "UPPER";
    settings.printer_margin = 5;
}

Date CTOD(std::string_view text, const TableSettings& settings) {
    return CTOD(text, settings.date_format, settings.epoch);
}

}  // namespace kestrel::common
