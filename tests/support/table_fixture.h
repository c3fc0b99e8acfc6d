#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/library_state.h"
#include "common/shared_tables.h"
#include "common/table_layer.h"
#include "errors/deferror.h"
#include "support/temp_dir.h"

namespace kestrel::testing {

// The error handler's services as a test sees them: messages recorded, the
// network-error flag and the semaphore release wired to the library as the program
// wires them.
class RecordingErrorServices final : public errors::ErrorHandlerServices {
  public:
    void ReleaseSemaphore() override {
        ++releases;
        common::SUNLOCK();
    }
    void Inform(std::string_view text) override { messages.emplace_back(text); }
    bool Ask(std::string_view text) override {
        messages.emplace_back(text);
        return false;
    }
    std::string ProgramPath() override { return "C:\\TEST.EXE"; }
    void OpenWithShell(const std::string&) override {}
    void SetNetworkError() override { common::Library().tables.NETERR = true; }
    void PostQuit() override {}

    std::vector<std::string> messages;
    int releases = 0;
};

// A fresh library with the program's error handler, the table settings INIT makes
// (but for the file-name case: test folders have lower-case names), and a temporary
// folder for the tables. Every table is closed at the end.
class TableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        common::ResetLibrary();
        common::TableSettings& tables = common::Library().tables;
        tables.deleted_hidden = true;
        tables.memo_extension = ".DBT";
        errors::SetErrorCallback(
            [this](const errors::ErrorRecord& oErr) { return errors::DEFERROR(oErr, handler); });
    }
    void TearDown() override {
        common::Areas().CloseAll();
        errors::SetErrorCallback({});
        common::ResetLibrary();
    }

    // A path in the test's folder.
    std::string File(const std::string& name) const { return folder.File(name); }

    // The structure most tests use: every field type.
    static std::vector<common::FieldSpec> People() {
        return {{"CODICE", 'C', 10}, {"NOME", 'C', 30},  {"DATA", 'D', 8},
                {"ETA", 'N', 5, 1},  {"ATTIVO", 'L', 1}, {"NOTE", 'M', 10}};
    }

    TempDir folder;
    RecordingErrorServices handler;
};

}  // namespace kestrel::testing
