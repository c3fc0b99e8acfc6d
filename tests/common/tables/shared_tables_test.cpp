// The library's shared-table routines over real table files in a temporary folder,
// with a clock, a message pump and wait windows that the tests drive and watch. The
// other workstation is a second open of the same file, which the tests hold and let
// go of from the fake's callbacks.
#include "common/tables/shared_tables.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>

#include "common/tables/table_file.h"
#include "support/table_fixture.h"
#include "support/working_directory.h"

namespace kestrel::common {
namespace {

const std::string kBusy(kWaitMomentarilyBusy);

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

TEST_F(SharedTables, ALockReleasedWithinThreeSecondsIsTakenWithoutAWindow) {
    HoldFirstRecordElsewhere(3);  // two seconds after the first try

    DBLOCK(services, true);

    EXPECT_TRUE(Areas().Table()->RecordLocked(1));
    EXPECT_EQ(services.clock_calls, 3);
    EXPECT_TRUE(services.screen.empty());
}

TEST_F(SharedTables, ALockHeldLongerShowsTheBusyWindowThenTheNotedTextAgain) {
    HoldFirstRecordElsewhere();
    services.wait_text = "Stampa in corso...";

    DBLOCK(services, true);

    EXPECT_TRUE(Areas().Table()->RecordLocked(1));
    EXPECT_EQ(services.clock_calls, 4);                     // 1000 to 1003: three silent seconds
    EXPECT_EQ(services.pauses, (std::vector<long>{1, 2}));  // between the silent tries
    EXPECT_EQ(services.message_calls, 0);
    EXPECT_EQ(services.screen, (std::vector<std::string>{"close", "open " + kBusy, "close",
                                                         "open Stampa in corso..."}));
    EXPECT_EQ(services.wait_text, "Stampa in corso...");
}

TEST_F(SharedTables, ALockReleasedTwoAndAHalfSecondsAfterTheFirstTryShowsNoWindow) {
    HoldFirstRecordElsewhere(3);
    services.readings = {1000.9, 1002.0, 1003.4};  // the third reading: 2.5 s later

    DBLOCK(services, true);

    EXPECT_TRUE(Areas().Table()->RecordLocked(1));
    EXPECT_TRUE(services.screen.empty());
}

TEST_F(SharedTables, MidnightInsideTheSilentSecondsDoesNotCutThemShort) {
    HoldFirstRecordElsewhere(3);  // the clock reads 1: two seconds have passed
    services.readings = {86399, 0, 1, 2, 3};

    DBLOCK(services, true);

    EXPECT_TRUE(services.screen.empty());
}

TEST_F(SharedTables, MidnightInsideTheSilentSecondsDoesNotMakeThemEndless) {
    HoldFirstRecordElsewhere();
    services.readings = {86399, 0, 1, 2, 3};

    DBLOCK(services, true);

    EXPECT_EQ(services.clock_calls, 4);  // 86399, 0, 1, 2: three seconds
    EXPECT_EQ(services.screen, (std::vector<std::string>{"open " + kBusy, "close"}));
}

TEST_F(SharedTables, SecondsAreCountedAcrossMidnight) {
    EXPECT_EQ(SecondsSince(10, 13), 3);
    EXPECT_EQ(SecondsSince(5, 5), 0);
    EXPECT_EQ(SecondsSince(86399, 2), 3);
    EXPECT_EQ(SecondsSince(86000, 400), 800);
}

TEST_F(SharedTables, ATableOpenElsewhereKeepsSwitchOffOnScreenUntilItIsClosed) {
    MakeTable("CLIENTI", {"1"});
    other = OtherWorkstation("CLIENTI.DBF");
    services.on_messages = [&](int call) {
        if (call == 3) {
            other.reset();
        }
    };

    EXPECT_TRUE(DBOPEN(services, true, "", "CLIENTI", std::nullopt, false, false));

    EXPECT_TRUE(Areas().Used());
    EXPECT_EQ(services.message_calls, 3);  // before each try again
    EXPECT_EQ(services.message_pauses, (std::vector<long>{1, 2, 4}));
    EXPECT_EQ(services.screen,
              (std::vector<std::string>{"disable", "open Spegnere tutti i terminali...|Attenzione",
                                        "close", "enable"}));
}

TEST_F(SharedTables, AnHourOfWaitingForAnOpenTriesSeldomAndHandlesMessagesThroughout) {
    MakeTable("CLIENTI", {"1"});
    other = OtherWorkstation("CLIENTI.DBF");
    services.on_messages = [&](int) {
        if (services.message_pause_total >= 3'600'000) {
            other.reset();
        }
    };

    EXPECT_TRUE(DBOPEN(services, true, "", "CLIENTI", std::nullopt, false, false));

    // 1 ms doubling to 50 ms for 10 s, to 1 s for 10 minutes, then 5 s.
    EXPECT_GT(services.message_calls, 1300);
    EXPECT_LT(services.message_calls, 1500);
    EXPECT_TRUE(services.pauses.empty());
    EXPECT_EQ(OpenPauseCeiling(std::chrono::milliseconds(9'999)).count(), 50);
    EXPECT_EQ(OpenPauseCeiling(std::chrono::seconds(10)).count(), 1000);
    EXPECT_EQ(OpenPauseCeiling(std::chrono::seconds(599)).count(), 1000);
    EXPECT_EQ(OpenPauseCeiling(std::chrono::minutes(10)).count(), 5000);
}

TEST_F(SharedTables, AnAppendThatFailsGivesBackTheTableLock) {
    MakeTable("CLIENTI", {"1"});
    ASSERT_TRUE(DBOPEN(services, true, "", "CLIENTI", std::nullopt, true, /*lReadOnly=*/true));

    EXPECT_THROW(DBAPP(services), errors::Abandon);

    EXPECT_FALSE(Areas().Table()->TableLocked());
    other = OtherWorkstation("CLIENTI.DBF");
    EXPECT_TRUE(other->TryLock(kLockBase + 1, 1));
}

TEST_F(SharedTables, TheNextCodeFollowsTheLastCodeGivenAndKeepsThePlace) {
    MakeTable("VUOTA", {});
    OpenShared("VUOTA");
    EXPECT_EQ(NEXTCODE(services), "1");

    MakeTable("ULTIMO", {"41", "9999999999"});
    OpenShared("ULTIMO");
    EXPECT_EQ(NEXTCODE(services), "0");

    MakeTable("CLIENTI", {"5", "17", "", "  "});
    DbfTable& table = OpenShared("CLIENTI");
    table.GoTo(2);
    EXPECT_EQ(NEXTCODE(services), "18");
    EXPECT_EQ(table.RecNo(), 2u);
    EXPECT_TRUE(table.RecordLocked(2));
    EXPECT_FALSE(table.TableLocked());
}

TEST_F(SharedTables, TheSemaphoreIsLeftAloneWhileNobodyIsLoggedIn) {
    Areas().Select(3);
    SLOCK(services);  // no NET table exists: an attempt to open it would fail
    EXPECT_EQ(Areas().Current(), 3);
    MakeTable("NET.", {});
    Areas().Select(kSemaphoreArea);
    ASSERT_TRUE(Areas().Use(false, "", "NET.", std::nullopt, true, false));
    Areas().Select(3);

    SUNLOCK();

    Areas().Select(kSemaphoreArea);
    EXPECT_TRUE(Areas().Used());
}

TEST_F(SharedTables, TheSemaphoreIsOneRecordThatOneWorkstationHoldsAtATime) {
    Library().user_name = "MARIO   ";
    SCREATE(services);
    SCREATE(services);  // made already: left as it is
    other = OtherWorkstation("NET");
    Areas().Select(3);

    SLOCK(services);

    EXPECT_EQ(Areas().Current(), 3);
    EXPECT_FALSE(other->TryLock(kLockBase + 1, 1));
    SUNLOCK();
    EXPECT_TRUE(other->TryLock(kLockBase + 1, 1));
    ASSERT_TRUE(Areas().Use(true, "", "NET.", std::nullopt, true, true));
    EXPECT_EQ(Areas().Table()->RecCount(), 1u);
}

TEST_F(SharedTables, ASemaphoreMadeMeanwhileByAnotherWorkstationIsKept) {
    services.on_drive = [&] {  // between the check and the creation
        ASSERT_TRUE(Areas().Create("NET.", {{.name = "LOCK", .length = 1}}));
        ASSERT_TRUE(Areas().Use(true, "", "NET.", std::nullopt, false, false));
        ASSERT_TRUE(Areas().Append());
        Areas().Table()->Put("LOCK", std::string("X"));
        Areas().Close();
    };

    SCREATE(services);

    ASSERT_TRUE(Areas().Use(true, "", "NET.", std::nullopt, true, true));
    EXPECT_EQ(Areas().Table()->RecCount(), 1u);
    EXPECT_EQ(std::get<std::string>(*Areas().Table()->Get("LOCK")), "X");
}

TEST_F(SharedTables, NetUsedTellsATableHeldOpenElsewhere) {
    EXPECT_FALSE(NETUSED("MANCANTE"));
    MakeTable("CLIENTI", {});
    EXPECT_FALSE(NETUSED("CLIENTI"));
    other = OtherWorkstation("CLIENTI.DBF");
    EXPECT_TRUE(NETUSED("CLIENTI"));
}

// The files of the current folder whose names end so.
std::vector<std::string> FilesEnding(const std::string& folder, std::string_view end) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(end)) {
            found.push_back(name);
        }
    }
    return found;
}

// ARCHIVIO, opened through the layer: complete, either as it was before the pack
// (three records, the second deleted) or packed (two); answers its record count.
std::uint32_t CheckArchivioComplete() {
    Library().tables.deleted_hidden = false;
    EXPECT_TRUE(Areas().Use(true, "", "ARCHIVIO", std::nullopt, true, true));
    DbfTable& table = *Areas().Table();
    const std::uint32_t count = table.RecCount();
    const std::vector<std::string> codes =
        count == 3 ? std::vector<std::string>{"1", "2", "3"} : std::vector<std::string>{"1", "3"};
    EXPECT_EQ(count, codes.size());
    for (std::uint32_t n = 1; n <= codes.size() && n <= count; ++n) {
        table.GoTo(n);
        EXPECT_EQ(table.Deleted(), codes[n - 1] == "2");
        EXPECT_EQ(std::get<std::string>(*table.Get("CODICE")).substr(0, 2), codes[n - 1] + " ");
        EXPECT_EQ(std::get<std::string>(*table.Get("NOTE")), "nota " + codes[n - 1]);
    }
    Areas().CloseAll();
    Library().tables.deleted_hidden = true;
    return count;
}

TEST_F(SharedTables, PackingRemovesTheDeletedRecordsAndKeepsTheMemosAndTheHeader) {
    MakePackableTable();
    {
        // Bytes of another DBF program's making: a version, a flag and a code page of
        // its own, and memos in 32-byte blocks (written before any memo was stored).
        std::fstream dbf("ARCHIVIO.DBF", std::ios::in | std::ios::out | std::ios::binary);
        dbf.seekp(0);
        dbf.put('\x83');
        dbf.seekp(28);
        dbf.put('\x02');
        dbf.put('\x57');
    }
    std::string memo_header(8, '\0');
    {
        std::ifstream dbt("ARCHIVIO.DBT", std::ios::binary);
        dbt.read(memo_header.data(), 8);
    }
    MPACK(services, "ARCHIVIO");

    EXPECT_EQ(CheckArchivioComplete(), 2u);
    std::ifstream dbf("ARCHIVIO.DBF", std::ios::binary);
    std::string header(32, '\0');
    dbf.read(header.data(), 32);
    EXPECT_EQ(header[0], '\x83');
    EXPECT_EQ(header.substr(28, 2), "\x02\x57");
    std::ifstream dbt("ARCHIVIO.DBT", std::ios::binary);
    std::string packed_memo_header(8, '\0');
    dbt.read(packed_memo_header.data(), 8);
    EXPECT_EQ(packed_memo_header.substr(4), memo_header.substr(4));  // the block size
    EXPECT_EQ(FilesEnding(folder.path(), ".NEW"), std::vector<std::string>{});
    EXPECT_EQ(FilesEnding(folder.path(), ".PAK"), std::vector<std::string>{});
}

// What a crash leaves at each step of a pack is the folder as it is at that moment:
// a copy of it, opened through the layer, must give a complete table, old up to the
// commit and packed from it, and no pack file once opened. (Copying files that the
// pack holds exclusive works only where share modes are advisory.)
class PackCrash : public SharedTables, public ::testing::WithParamInterface<bool> {};

TEST_P(PackCrash, ATableLeftAtAnyStepOfAPackOpensCompleteOldOrNew) {
#ifdef _WIN32
    GTEST_SKIP() << "the folder cannot be copied while the pack holds its files";
#endif
    const bool shared_disk = GetParam();
    MakePackableTable();
    if (shared_disk) {
        std::ofstream(std::string(kSharedFolderMark)) << "";  // a file of that name, here
    }
    std::vector<PackStep> steps;
    services.on_pack_step = [&](PackStep step) {
        steps.push_back(step);
        const auto copy =
            std::filesystem::path(folder.path()) / ("at" + std::to_string(static_cast<int>(step)));
        std::filesystem::create_directory(copy);
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            if (entry.is_regular_file()) {
                std::filesystem::copy_file(entry.path(), copy / entry.path().filename());
            }
        }
    };
    MPACK(services, "ARCHIVIO");

    ASSERT_EQ(steps.size(), 6u);
    for (const PackStep step : steps) {
        SCOPED_TRACE(static_cast<int>(step));
        const std::string copy = folder.File("at" + std::to_string(static_cast<int>(step)));
        std::filesystem::current_path(copy);
        EXPECT_EQ(CheckArchivioComplete(), step < PackStep::kCommitted ? 3u : 2u);
        EXPECT_EQ(FilesEnding(copy, ".NEW"), std::vector<std::string>{});
        EXPECT_EQ(FilesEnding(copy, ".PAK"), std::vector<std::string>{});
    }
}

INSTANTIATE_TEST_SUITE_P(LocalAndSharedDisk, PackCrash, ::testing::Bool());

TEST_F(SharedTables, APackThatCannotStageLeavesTheTableAndNoPackFile) {
    MakeTable("ARCHIVIO", {"1", "2"}, /*memo=*/true);
    std::filesystem::create_directory("ARCHIVIO.DBT.NEW");  // the staged memo cannot be made

    EXPECT_THROW(MPACK(services, "ARCHIVIO"), errors::Abandon);

    EXPECT_FALSE(TableFileExists("ARCHIVIO.DBF.NEW"));
    EXPECT_FALSE(TableFileExists("ARCHIVIO.DBF.PAK"));
    ASSERT_TRUE(Areas().Use(true, "", "ARCHIVIO", std::nullopt, true, true));
    EXPECT_EQ(Areas().Table()->RecCount(), 2u);
}

TEST_F(SharedTables, APackThatFailsAfterItsCommitNamesTheFileThatHoldsTheData) {
#ifdef _WIN32
    GTEST_SKIP() << "the shared disk's mark is a real C:\\MARLIN\\NET there";
#endif
    MakePackableTable();
    std::ofstream(std::string(kSharedFolderMark)) << "";  // the shared disk: copies
    services.on_pack_step = [](PackStep step) {
        if (step == PackStep::kTableReplaced) {  // the staged memo cannot be read
            std::filesystem::remove("ARCHIVIO.DBT.NEW");
        }
    };
    EXPECT_THROW(MPACK(services, "ARCHIVIO"), errors::Abandon);

    ASSERT_FALSE(services.screen.empty());
    EXPECT_EQ(services.screen.back(),
              "inform Impossibile copiare il file ARCHIVIO.DBT.NEW in ARCHIVIO.DBT");
    EXPECT_FALSE(Areas().Used());
    EXPECT_TRUE(TableFileExists("ARCHIVIO.DBF.PAK"));  // committed, for the next open
    EXPECT_FALSE(NETUSED("ARCHIVIO.DBF.PAK"));         // and released
}

TEST_F(SharedTables, AnOpenWaitsWhileAnotherWorkstationPacksTheTable) {
    MakeTable("CLIENTI", {"1"});
    std::unique_ptr<TableFile> marker = CreateTableFile("CLIENTI.DBF.PAK", false).file;
    ASSERT_TRUE(marker);
    services.on_messages = [&](int call) {
        if (call == 2) {
            marker.reset();
            std::filesystem::remove("CLIENTI.DBF.PAK");
        }
    };
    EXPECT_TRUE(DBOPEN(services, true, "", "CLIENTI", std::nullopt, true, false));
    EXPECT_GE(services.message_calls, 2);
    EXPECT_EQ(services.screen.front(), "disable");
}

}  // namespace
}  // namespace kestrel::common
