#pragma once

// The shared-table routines' tests' fixture: real table files in a temporary folder
// made the current directory, with a clock, a message pump and wait windows that the
// tests drive and watch. The other workstation is a second open of the same file,
// which the tests hold and let go of from the fake's callbacks.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/startup_procedures.h"
#include "common/tables/shared_tables.h"
#include "common/tables/table_file.h"
#include "support/table_fixture.h"
#include "support/working_directory.h"

namespace kestrel::common {

inline const std::string kBusy(kWaitMomentarilyBusy);

class FakeServices final : public SharedTableServices {
  public:
    // The clock gives `readings` in turn, then one second more at each call.
    std::vector<double> readings;
    double now = 999;  // the first reading is 1000
    int clock_calls = 0;
    std::function<void(int call)> on_clock = [](int) {};
    std::vector<long> pauses;  // in ms, without messages
    // Pauses that handle messages: how many, how long in all (ms), and at each one.
    int message_calls = 0;
    long message_pause_total = 0;
    std::vector<long> message_pauses;  // the first hundred
    std::function<void(int call)> on_messages = [](int) {};
    std::function<void()> on_open = [] {};
    std::optional<std::string> wait_text;  // the open wait window's text
    std::vector<std::string> screen;       // what was shown, in order

    double SecondsSinceMidnight() override {
        if (++clock_calls > 1000) {
            throw std::runtime_error("the clock was read endlessly");
        }
        on_clock(clock_calls);
        const std::size_t index = static_cast<std::size_t>(clock_calls - 1);
        now = index < readings.size() ? readings[index] : now + 1;
        return now;
    }
    void Pause(std::chrono::milliseconds pause) override {
        pauses.push_back(static_cast<long>(pause.count()));
    }
    void PauseHandlingMessages(std::chrono::milliseconds pause) override {
        message_pause_total += static_cast<long>(pause.count());
        if (message_pauses.size() < 100) {
            message_pauses.push_back(static_cast<long>(pause.count()));
        }
        on_messages(++message_calls);
    }
    std::optional<std::string> WaitText() override { return wait_text; }
    void OpenWait(std::string_view text, std::optional<std::string_view> title) override {
        screen.push_back("open " + std::string(text) + (title ? "|" + std::string(*title) : ""));
        if (!wait_text) {
            wait_text = std::string(text);
        }
        on_open();
    }
    void CloseWait() override {
        screen.push_back("close");
        wait_text.reset();
    }
    void DisableActiveWindow() override { screen.push_back("disable"); }
    void EnableDisabledWindow() override { screen.push_back("enable"); }
    void Inform(std::string_view text) override { screen.push_back("inform " + std::string(text)); }
    std::string CurrentDirectory() override { return "C:\\WORK"; }
    bool ChangeDirectory(const std::string&) override { return true; }
    std::string CurrentDrive() override {
        on_drive();
        return "\\";
    }
    std::optional<std::uint64_t> FreeSpace(const std::string&) override { return free_space; }
    std::string NewTempName() override { return std::string(1, kTempPrefix) + "1"; }
    [[noreturn]] void EndProgram() override { throw errors::EndProgram{}; }
    void PackStepReached(PackStep step) override { on_pack_step(step); }

    std::function<void()> on_drive = [] {};
    std::function<void(PackStep)> on_pack_step = [](PackStep) {};
    std::optional<std::uint64_t> free_space;
};

// The tables live in the test's folder, made the current directory.
class SharedTables : public testing::TableTest {
  protected:
    void SetUp() override {
        TableTest::SetUp();
        here.emplace(folder.path());
    }
    void TearDown() override {
        TableTest::TearDown();
        here.reset();
    }

    // A table with a CODICE field and, when asked, a memo field, holding these codes.
    void MakeTable(const std::string& name, const std::vector<std::string>& codes,
                   bool memo = false) {
        std::vector<FieldSpec> structure{{.name = "CODICE", .length = 10}};
        if (memo) {
            structure.push_back({.name = "NOTE", .type = 'M', .length = 10});
        }
        ASSERT_TRUE(Areas().Create(name, structure));
        ASSERT_TRUE(Areas().Use(true, "", name, std::nullopt, false, false));
        for (const std::string& code : codes) {
            ASSERT_TRUE(Areas().Append());
            Areas().Table()->Put("CODICE", code);
            if (memo) {
                Areas().Table()->Put("NOTE", "nota " + code);
            }
        }
        Areas().Close();
    }
    // ARCHIVIO with codes 1, 2 and 3 and their memos, record 2 deleted.
    void MakePackableTable() {
        MakeTable("ARCHIVIO", {"1", "2", "3"}, /*memo=*/true);
        ASSERT_TRUE(Areas().Use(true, "", "ARCHIVIO", std::nullopt, false, false));
        Areas().Table()->GoTo(2);
        Areas().Table()->Delete();
        Areas().Close();
    }
    // Opens a table shared in a new area through DBOPEN.
    DbfTable& OpenShared(const std::string& name) {
        EXPECT_TRUE(DBOPEN(services, true, "", name, std::nullopt, true, false));
        return *Areas().Table();
    }
    // The other workstation: a second open of the table file.
    std::unique_ptr<TableFile> OtherWorkstation(const std::string& file) {
        return OpenTableFile(file, FileAccess::kReadWrite, FileShare::kShared).file;
    }

    // CLIENTI open here, shared, with its first record locked by the other workstation,
    // which lets go at that clock reading (from 1) or when a busy window opens.
    void HoldFirstRecordElsewhere(int release_at_clock_call = 0) {
        MakeTable("CLIENTI", {"1"});
        OpenShared("CLIENTI");
        other = OtherWorkstation("CLIENTI.DBF");
        ASSERT_TRUE(other->TryLock(kLockBase + 1, 1));
        const auto release = [this] { other->Unlock(kLockBase + 1, 1); };
        services.on_clock = [=](int call) {
            if (call == release_at_clock_call) {
                release();
            }
        };
        services.on_open = [=, this] {
            if (services.wait_text == kBusy) {
                release();
            }
        };
    }

    std::optional<testing::WorkingDirectory> here;
    std::unique_ptr<TableFile> other;
    FakeServices services;
};

}  // namespace kestrel::common
