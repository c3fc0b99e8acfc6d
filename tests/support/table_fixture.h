#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/library_state.h"
#include "common/tables/shared_tables.h"
#include "common/tables/shared_tables_startup.h"
#include "common/tables/table_layer.h"
#include "common/tables/table_settings.h"
#include "errors/deferror.h"
#include "errors/fake_error_services.h"
#include "support/temp_dir.h"

namespace kestrel::testing {

// A fresh library with the program's error handler, the table settings INIT makes
// (but for the file-name case: test folders have lower-case names), and a temporary
// folder for the tables. Every table is closed at the end.
class TableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        common::ResetLibrary();
        common::RegisterTables();
        common::TableSettings& tables = common::Tables().settings;
        tables.deleted_hidden = true;
        tables.memo_extension = ".DBT";
        handler.on_release = [] { common::SUNLOCK(); };
        handler.on_network_error = [] { common::Tables().settings.NETERR = true; };
        errors::SetErrorCallback(
            [this](const errors::ErrorRecord& oErr) { return errors::DEFERROR(oErr, handler); });
    }
    void TearDown() override {
        common::Areas().CloseAll();
        errors::SetErrorCallback({});
        common::ResetLibrary();
        common::ResetTables();
    }

    // A path in the test's folder.
    std::string File(const std::string& name) const { return folder.File(name); }

    // The structure most tests use: every field type.
    static std::vector<common::FieldSpec> People() {
        return {{"CODICE", 'C', 10}, {"NOME", 'C', 30},  {"DATA", 'D', 8},
                {"ETA", 'N', 5, 1},  {"ATTIVO", 'L', 1}, {"NOTE", 'M', 10}};
    }

    TempDir folder;
    FakeErrorServices handler;
};

}  // namespace kestrel::testing
