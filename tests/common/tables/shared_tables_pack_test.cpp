// The pack of the shared-table routines (__MPACK) over real table files: what it
// keeps, what a crash at each of its steps leaves, and how its failures are named.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/tables/shared_tables_fixture.h"

namespace kestrel::common {
namespace {

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
    Tables().settings.deleted_hidden = false;
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
    Tables().settings.deleted_hidden = true;
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
