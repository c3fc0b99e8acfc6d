// The table layer over real files: what one process writes another reads, locks and
// share modes exclude other opens, appends never collide, bad tables never crash.
// Two opens of one file in one process stand for two workstations: the platform's
// share modes and locks belong to each open.
#include "common/tables/table_layer.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include "common/tables/memory_table_file.h"
#include "common/tables/table_listing.h"

#include "support/table_fixture.h"

namespace kestrel::common {
namespace {

using testing::TableTest;

class TableLayer : public TableTest {
  protected:
    // Opens the people table shared in a new area under `alias`.
    DbfTable& OpenPeople(std::string_view alias, bool shared = true) {
        EXPECT_TRUE(Areas().Use(true, "", File("people"), alias, shared, false));
        return *Areas().Table();
    }

    void MakePeople() { ASSERT_TRUE(Areas().Create(File("people"), People())); }

    // The other workstation: a second open of one of the table's files.
    std::unique_ptr<TableFile> Other(const std::string& name) {
        return OpenTableFile(File(name), FileAccess::kReadWrite, FileShare::kShared).file;
    }

    // Appends a record with that code and note, committed and unlocked.
    static void AddPerson(DbfTable& table, const std::string& code, const std::string& note) {
        ASSERT_TRUE(table.Append());
        ASSERT_TRUE(table.LockRecord(0));
        table.Put("CODICE", code);
        table.Put("NOTE", note);
        table.Commit();
        table.UnlockAll();
    }
};

TEST_F(TableLayer, NamesAreUpperCasedAndGetTheirExtension) {
    Tables().settings.file_case = "UPPER";
    EXPECT_EQ(TableFileName("c:\\dati\\clienti"), "c:\\dati\\CLIENTI.DBF");
    EXPECT_EQ(TableFileName("net."), "NET");
    EXPECT_EQ(TableFileName("archivio.dat"), "ARCHIVIO.DAT");
    EXPECT_EQ(MemoFileName("C:\\DATI\\CLIENTI.DBF"), "C:\\DATI\\CLIENTI.DBT");
}

TEST_F(TableLayer, TheMemoFileAndTheAliasLoseOnlyTheLastExtension) {
    EXPECT_EQ(MemoFileName("C:\\DATI\\CLI.OLD.DBF"), "C:\\DATI\\CLI.OLD.DBT");
    EXPECT_EQ(MemoFileName("C:\\DATI.2026\\NET"), "C:\\DATI.2026\\NET.DBT");
    ASSERT_TRUE(Areas().Create(File("cli.old.dbf"), People()));
    EXPECT_TRUE(TableFileExists(File("cli.old.DBT")));
    ASSERT_TRUE(Areas().Use(true, "", File("cli.old.dbf"), std::nullopt, true, false));
    EXPECT_EQ(Areas().Table()->Alias(), "CLI.OLD");
}

TEST_F(TableLayer, EveryFieldTypeAndLongMemosSurviveClosingAndOpeningAgain) {
    MakePeople();
    DbfTable& table = OpenPeople("P", false);
    EXPECT_TRUE(table.Eof() && table.Bof());
    const std::string long_note(1000, 'x');
    ASSERT_TRUE(table.Append());
    EXPECT_TRUE(table.Put("codice", std::string("42")));
    EXPECT_TRUE(table.Put("NOME", std::string("Niccol\xF2")));
    EXPECT_TRUE(table.Put("DATA", Date{2026, 12, 9}));
    EXPECT_TRUE(table.Put("ETA", 41.5));
    EXPECT_TRUE(table.Put("ATTIVO", true));
    EXPECT_TRUE(table.Put("NOTE", long_note));
    EXPECT_FALSE(table.Put("ETA", std::string("not a number")));
    EXPECT_FALSE(table.Put("MISSING", 1.0));
    AddPerson(table, "43", "short");
    Areas().CloseAll();

    DbfTable& again = OpenPeople("P");
    EXPECT_EQ(again.RecCount(), 2u);
    EXPECT_EQ(std::get<std::string>(*again.Get("NOME")), "Niccol\xF2" + std::string(23, ' '));
    EXPECT_EQ(std::get<Date>(*again.Get("DATA")), (Date{2026, 12, 9}));
    EXPECT_DOUBLE_EQ(std::get<double>(*again.Get("ETA")), 41.5);
    EXPECT_TRUE(std::get<bool>(*again.Get("ATTIVO")));
    EXPECT_EQ(std::get<std::string>(*again.Get("NOTE")), long_note);
    again.Skip();
    EXPECT_EQ(std::get<std::string>(*again.Get("NOTE")), "short");
    again.Skip();
    EXPECT_TRUE(again.Eof());
}

TEST_F(TableLayer, AValueThatDoesNotFitIsReportedByTheDriverAndNeverStored) {
    MakePeople();
    DbfTable& table = OpenPeople("P", false);
    ASSERT_TRUE(table.Append());
    ASSERT_TRUE(table.Put("ETA", 123.4));
    EXPECT_THROW(table.Put("ETA", 1234.5), errors::EndProgram);
    ASSERT_EQ(handler.asked.size(), 1u);
    EXPECT_EQ(handler.asked[0].rfind("Error DBFMEMO/1029  Numero troppo ampio per il campo ETA "
                                     "(N 5,1): " +
                                         File("people.DBF"),
                                     0),
              0u)
        << handler.asked[0];
    EXPECT_THROW(table.Put("DATA", Date{2026, 2, 30}), errors::EndProgram);
    ASSERT_EQ(handler.asked.size(), 2u);
    EXPECT_EQ(handler.asked[1].rfind("Error DBFMEMO/1030  Data impossibile per il campo DATA", 0),
              0u)
        << handler.asked[1];
    EXPECT_DOUBLE_EQ(std::get<double>(*table.Get("ETA")), 123.4);
    EXPECT_EQ(std::get<Date>(*table.Get("DATA")), Date{});
}

TEST_F(TableLayer, LocksOfOneWorkstationExcludeTheOther) {
    MakePeople();
    DbfTable& first = OpenPeople("A");
    AddPerson(first, "1", "");
    AddPerson(first, "2", "");
    DbfTable& second = OpenPeople("B");

    ASSERT_TRUE(first.LockRecord(1));
    EXPECT_FALSE(second.LockRecord(1));
    EXPECT_FALSE(second.LockTable());
    EXPECT_TRUE(second.LockRecord(2));
    // A record lock replaces the table lock and the other record locks.
    EXPECT_FALSE(first.LockTable());
    second.UnlockAll();
    EXPECT_TRUE(first.LockTable());
    EXPECT_FALSE(second.LockRecord(2));
    ASSERT_TRUE(first.LockRecord(2));
    EXPECT_FALSE(first.TableLocked());
    EXPECT_TRUE(second.LockRecord(1));
    // Closing releases.
    Areas().Select("A");
    Areas().Close();
    EXPECT_TRUE(second.LockRecord(2));
}

// Writes `value` big- or little-endian into the 4 bytes at `offset` of a file.
void PatchFile(const std::string& path, std::uint64_t offset, std::uint32_t value, bool big) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    for (int i = 0; i < 4; ++i) {
        const int shift = big ? 24 - 8 * i : 8 * i;
        file.put(static_cast<char>((value >> shift) & 0xFF));
    }
}

TEST_F(TableLayer, FilesPastAGigabyteAreReadAndWrittenWhileOthersHoldLocks) {
    MakePeople();
    // Records and memo blocks past 1 GiB, in sparse files.
    const std::uint64_t gigabyte = std::uint64_t{1} << 30;
    const DbfHeader header = *HeaderFor(People(), Date{2026, 12, 9});
    const auto count = static_cast<std::uint32_t>(gigabyte / header.record_size + 2);
    std::filesystem::resize_file(File("people.DBF"), header.RecordOffset(count + 1));
    PatchFile(File("people.DBF"), kRecordCountOffset, count, false);
    PatchFile(File("people.DBT"), 0, static_cast<std::uint32_t>(gigabyte / kMemoBlockSize + 1),
              true);
    DbfTable& first = OpenPeople("A");
    DbfTable& second = OpenPeople("B");

    // The table lock excludes every record lock, up to the last record number.
    ASSERT_TRUE(first.LockTable());
    EXPECT_FALSE(second.LockRecord(count));
    EXPECT_FALSE(second.LockRecord(0xFFFF'FFFFu));
    first.UnlockAll();
    ASSERT_TRUE(second.LockRecord(count));
    EXPECT_FALSE(first.LockTable());

    first.GoTo(count - 1);
    ASSERT_GT(header.RecordOffset(count - 1), gigabyte);
    ASSERT_TRUE(first.LockRecord(0));
    EXPECT_TRUE(first.Put("CODICE", std::string("far")));
    EXPECT_TRUE(first.Put("NOTE", std::string("past a gigabyte")));
    first.Commit();
    second.GoTo(count - 1);
    EXPECT_EQ(std::get<std::string>(*second.Get("CODICE")), "far" + std::string(7, ' '));
    EXPECT_EQ(std::get<std::string>(*second.Get("NOTE")), "past a gigabyte");
    EXPECT_GT(std::filesystem::file_size(File("people.DBT")), gigabyte);
}

TEST_F(TableLayer, AMemoFileOrTableAtItsLastNumberIsFullAndNeverWraps) {
    const auto header_bytes = [this](const std::string& name) {
        std::ifstream file(File(name), std::ios::binary);
        std::string bytes(12, '\0');
        file.read(bytes.data(), 12);
        return bytes;
    };
    MakePeople();
    PatchFile(File("people.DBT"), 0, 0xFFFF'FFFFu, true);
    const std::string memo_before = header_bytes("people.DBT");
    DbfTable& people = OpenPeople("P", false);
    ASSERT_TRUE(people.Append());
    EXPECT_THROW(
        {
            people.Put("NOTE", std::string("no block left"));
            people.Commit();
        },
        errors::Abandon);
    Areas().CloseAll();  // the platform may keep others from reading an exclusive open
    EXPECT_EQ(header_bytes("people.DBT"), memo_before);

    // A table of 2^32 - 1 two-byte records, sparse.
    ASSERT_TRUE(Areas().Create(File("full"), {{"A", 'C', 1}}));
    const DbfHeader header = *HeaderFor({{"A", 'C', 1}}, Date{2026, 12, 9});
    std::filesystem::resize_file(File("full.DBF"), header.RecordOffset(0xFFFF'FFFFu) + 2);
    PatchFile(File("full.DBF"), kRecordCountOffset, 0xFFFF'FFFFu, false);
    const std::string table_before = header_bytes("full.DBF");
    ASSERT_TRUE(Areas().Use(true, "", File("full"), "F", false, false));
    EXPECT_THROW(Areas().Table()->Append(), errors::Abandon);
    Areas().CloseAll();
    EXPECT_EQ(header_bytes("full.DBF"), table_before);
    ASSERT_EQ(handler.informed.size(), 2u);
    EXPECT_NE(handler.informed[0].find("insufficiente"), std::string::npos) << handler.informed[0];
    EXPECT_NE(handler.informed[1].find("insufficiente"), std::string::npos) << handler.informed[1];
}

TEST_F(TableLayer, AppendsOfTwoWorkstationsNeverShareARecordAndEachSeesTheOthers) {
    MakePeople();
    DbfTable& first = OpenPeople("A");
    DbfTable& second = OpenPeople("B");
    AddPerson(first, "1", "from A");
    AddPerson(second, "2", "from B");
    AddPerson(first, "3", "from A again");
    EXPECT_EQ(second.RecNo(), 2u);
    EXPECT_EQ(first.RecNo(), 3u);
    second.GoBottom();
    EXPECT_EQ(std::get<std::string>(*second.Get("NOTE")), "from A again");
    first.GoTo(2);
    EXPECT_EQ(std::get<std::string>(*first.Get("NOTE")), "from B");
}

TEST_F(TableLayer, AChangeToASharedRecordNeedsItsLock) {
    MakePeople();
    DbfTable& table = OpenPeople("A");
    AddPerson(table, "1", "");
    EXPECT_THROW(table.Put("CODICE", std::string("2")), errors::Abandon);
}

TEST_F(TableLayer, AnExclusiveHolderFailsTheOpenSoftlyWithTheNetworkError) {
    MakePeople();
    OpenPeople("A", false);
    EXPECT_FALSE(Areas().Use(true, "", File("people"), "B", true, false));
    EXPECT_TRUE(Tables().settings.NETERR);
    EXPECT_TRUE(handler.informed.empty());
    EXPECT_TRUE(handler.asked.empty());
    Areas().Select("A");
    Areas().Close();
    EXPECT_TRUE(Areas().Use(true, "", File("people"), "B", true, false));
    EXPECT_FALSE(Tables().settings.NETERR);
}

TEST_F(TableLayer, DeletedRecordsAreHiddenAndCopiesLeaveThemOut) {
    MakePeople();
    DbfTable& table = OpenPeople("A", false);
    for (const char* code : {"1", "2", "3"}) {
        AddPerson(table, code, std::string("note ") + code);
    }
    table.GoTo(2);
    table.Delete();
    table.GoTop();
    table.Skip();
    EXPECT_EQ(table.RecNo(), 3u);
    table.GoTo(2);
    EXPECT_TRUE(table.Deleted());
    table.CopyTo(File("copy.DBF"), File("copy.DBT"));
    Areas().CloseAll();

    DbfTable& copy = *(Areas().Use(true, "", File("copy"), "C", false, true), Areas().Table());
    EXPECT_EQ(copy.RecCount(), 2u);
    copy.GoBottom();
    EXPECT_EQ(std::get<std::string>(*copy.Get("NOTE")), "note 3");
}

std::vector<unsigned char> FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string Listed(DbfTable& table, const std::vector<std::string>& fields) {
    std::string text;
    ListRecords(table, fields, [&text](std::string_view line) { text += line; });
    return text;
}

TEST_F(TableLayer, AListingShowsTheVisibleRecordsAlikeFromFilesAndFromMemory) {
    MakePeople();
    DbfTable& table = OpenPeople("A", false);
    AddPerson(table, "7", "prima\triga");
    table.Put("NOME", std::string("Niccol\xF2 "));
    table.Put("DATA", Date{2026, 12, 9});
    table.Put("ETA", 41.5);
    table.Put("ATTIVO", true);
    AddPerson(table, "8", "");
    table.Delete();
    AddPerson(table, "9", "");
    Areas().CloseAll();
    const std::string expected =
        "7\tNiccol\xF2\t20261209\t41.5\tT\tprima\triga\t\n"
        "9\t\t\t0\tF\t\t\n";
    const std::vector<std::string> fields = {"CODICE", "NOME", "DATA",   "ETA",
                                             "ATTIVO", "NOTE", "MISSING"};
    EXPECT_EQ(Listed(OpenPeople("A", true), fields), expected);
    Areas().CloseAll();

    WorkAreas memory(MemoryFileOpener(
        {{"T.DBF", FileBytes(File("people.DBF"))}, {"T.DBT", FileBytes(File("people.DBT"))}}));
    ASSERT_TRUE(memory.Use(false, "", "T", std::nullopt, true, true));
    EXPECT_EQ(Listed(*memory.Table(), fields), expected);
    EXPECT_EQ(FieldNames(*memory.Table()).front(), "CODICE");
    EXPECT_THROW(memory.Use(false, "", "U", std::nullopt, true, true), errors::Abandon);
}

TEST_F(TableLayer, ATableWithAProductionIndexOpensOnlyForReading) {
    MakePeople();
    {
        std::fstream file(File("people.DBF"), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(28);
        file.put(static_cast<char>(kFlagProductionIndex));
    }
    EXPECT_THROW(Areas().Use(true, "", File("people"), "A", true, false), errors::Abandon);
    EXPECT_EQ(handler.informed.size(), 1u);
    EXPECT_TRUE(Areas().Use(true, "", File("people"), "A", true, true));
}

TEST_F(TableLayer, ADamagedTableIsReportedAsCorrupt) {
    std::ofstream(File("bad.DBF"), std::ios::binary) << std::string(40, '\x03');
    EXPECT_THROW(Areas().Use(true, "", File("bad"), "B", true, false), errors::Abandon);
    ASSERT_EQ(handler.informed.size(), 1u);
    EXPECT_NE(handler.informed[0].find("risulta corrotto"), std::string::npos);
}

TEST_F(TableLayer, AMemoWaitsPacedForTheAllocationLockForAsLongAsAnotherHoldsIt) {
    MakePeople();
    const std::unique_ptr<TableFile> other = Other("people.DBT");
    ASSERT_TRUE(other->TryLock(kLockBase, 1));
    std::vector<long> pauses;
    Areas().SetPause([&](std::chrono::milliseconds pause) {
        pauses.push_back(static_cast<long>(pause.count()));
        if (pauses.size() == 12) {
            other->Unlock(kLockBase, 1);
        }
    });
    DbfTable& table = OpenPeople("A");

    AddPerson(table, "1", "scritta dopo l'attesa");

    EXPECT_EQ(pauses, (std::vector<long>{1, 2, 4, 8, 16, 32, 50, 50, 50, 50, 50, 50}));
    table.GoTo(1);
    EXPECT_EQ(std::get<std::string>(*table.Get("NOTE")), "scritta dopo l'attesa");
}

TEST_F(TableLayer, ALockWhoseTableCannotBeReadAgainIsGivenBack) {
    MakePeople();
    DbfTable& table = OpenPeople("A");
    AddPerson(table, "1", "");
    std::filesystem::resize_file(File("people.DBF"), 4);  // the header's count is gone

    EXPECT_THROW(table.LockRecord(1), errors::Abandon);

    EXPECT_FALSE(table.RecordLocked(1));
    EXPECT_TRUE(Other("people.DBF")->TryLock(kLockBase + 1, 1));
}

// A table file of the platform whose flush fails as a disk that went away does.
class UnflushableFile final : public TableFile {
  public:
    explicit UnflushableFile(std::unique_ptr<TableFile> file) : file_(std::move(file)) {}
    int Read(std::uint64_t offset, std::span<unsigned char> into, std::size_t& count) override {
        return file_->Read(offset, into, count);
    }
    int Write(std::uint64_t offset, std::span<const unsigned char> from) override {
        return file_->Write(offset, from);
    }
    int Size(std::uint64_t& size) override { return file_->Size(size); }
    int Flush() override { return errors::kOsNotReady; }
    int Truncate(std::uint64_t size) override { return file_->Truncate(size); }
    bool TryLock(std::uint64_t offset, std::uint64_t length) override {
        return file_->TryLock(offset, length);
    }
    void Unlock(std::uint64_t offset, std::uint64_t length) override {
        file_->Unlock(offset, length);
    }

  private:
    std::unique_ptr<TableFile> file_;
};

TEST_F(TableLayer, ACommitWhoseFilesCannotBePutOnTheDiskIsReportedNotTakenForDone) {
    MakePeople();
    WorkAreas areas([](const std::string& path, FileAccess access, FileShare share) {
        OpenedFile opened = OpenTableFile(path, access, share);
        if (opened.file) {
            opened.file = std::make_unique<UnflushableFile>(std::move(opened.file));
        }
        return opened;
    });
    ASSERT_TRUE(areas.Use(true, "", File("people"), "A", true, false));
    DbfTable& table = *areas.Table();
    ASSERT_TRUE(table.Append());

    EXPECT_THROW(table.Commit(), errors::Abandon);
    EXPECT_FALSE(handler.trace.empty());  // the error handler was told
}

#ifndef _WIN32
// Files of this process cannot grow past their present size while it lives: the
// disk is full as far as the table layer can tell.
class NoFileGrows {
  public:
    explicit NoFileGrows(std::uintmax_t size) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = static_cast<rlim_t>(size);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    NoFileGrows(const NoFileGrows&) = delete;
    NoFileGrows& operator=(const NoFileGrows&) = delete;
    ~NoFileGrows() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

  private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
};

TEST_F(TableLayer, AWriteThatFailsIsReportedOnceAndItsLockIsReleased) {
    MakePeople();
    DbfTable& table = OpenPeople("A");
    AddPerson(table, "1", "");
    ASSERT_TRUE(table.LockRecord(1));
    table.Put("NOTE", "una nota che il disco pieno non accoglie");
    {
        const NoFileGrows full(std::filesystem::file_size(File("people.DBT")));
        EXPECT_ANY_THROW(table.UnlockAll());  // reported as a full disk
    }
    const std::size_t reported = handler.trace.size();
    EXPECT_GT(reported, 0u);

    EXPECT_TRUE(Other("people.DBF")->TryLock(kLockBase + 1, 1));
    Areas().Close();  // the failed change is not written again
    EXPECT_EQ(handler.trace.size(), reported);
    ASSERT_TRUE(Areas().Use(true, "", File("people"), "B", true, false));
    EXPECT_EQ(std::get<std::string>(*Areas().Table()->Get("NOTE")), "");
}
#endif

}  // namespace
}  // namespace kestrel::common
