// The common library's start-up and shut-down procedures, the temporary names, the
// user variables and the date routine, over an in-memory file system.
#include "common/startup_procedures.h"
#include "common/tables/shared_tables_startup.h"
#include "common/tables/table_layer.h"
#include "common/tables/table_settings.h"

#include <gtest/gtest.h>

#include <map>

namespace kestrel::common {
namespace {

const std::string kTemp(1, kTempPrefix);

// A file system in memory: paths with "\" separators, "" the current directory.
class MemoryFiles final : public LibraryFiles {
  public:
    struct Node {
        bool directory = false;
        bool hidden = false;
        bool read_only = false;
        bool held = false;  // open elsewhere: cannot be deleted nor opened exclusively
    };
    std::map<std::string, Node> nodes;
    std::optional<std::string> temp = "T:\\TEMP";
    std::vector<std::string> closed;
    bool critical_errors_failed = false;

    void Add(const std::string& path) { nodes[path] = Node{}; }
    void Add(const std::string& path, Node node) { nodes[path] = node; }
    void AddDir(const std::string& path) { nodes[path] = Node{.directory = true}; }
    bool Has(const std::string& path) const { return nodes.contains(path); }

    std::vector<DirEntry> List(const std::string& directory) override {
        std::vector<DirEntry> entries;
        for (const auto& [path, node] : nodes) {
            if (path.size() > directory.size() && path.starts_with(directory) &&
                path.find('\\', directory.size()) == std::string::npos) {
                entries.push_back({path.substr(directory.size()), node.directory, node.hidden});
            }
        }
        return entries;
    }
    bool RemoveFile(const std::string& path, bool even_read_only) override {
        const auto found = nodes.find(path);
        if (found == nodes.end() || found->second.directory || found->second.held ||
            (found->second.read_only && !even_read_only)) {
            return false;
        }
        nodes.erase(found);
        return true;
    }
    bool RemoveDir(const std::string& path) override {
        const auto found = nodes.find(path);
        if (found == nodes.end() || !found->second.directory || !List(path + "\\").empty()) {
            return false;
        }
        nodes.erase(found);
        return true;
    }
    bool HeldOpen(const std::string& path) override { return Has(path) && nodes[path].held; }
    bool Exists(const std::string& path) override { return Has(path); }
    std::optional<std::string> TempVariable() override { return temp; }
    std::string CurrentDriveRoot() override { return "C:\\"; }
    void FailCriticalErrors() override { critical_errors_failed = true; }
    void CloseFile(std::intptr_t file) override { closed.push_back(std::to_string(file)); }
};

class LibraryProcedures : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLibrary();
        RegisterTables();
    }
    void TearDown() override {
        ResetLibrary();
        ResetTables();
    }
    MemoryFiles files;
};

TEST_F(LibraryProcedures, InitFixesTheTableAndDateSettings) {
    INIT(files);
    const TableSettings& tables = Tables().settings;
    EXPECT_EQ(tables.driver, "DBFMEMO");
    EXPECT_EQ(tables.lock_scheme, 2);
    EXPECT_EQ(tables.memo_type, 2);
    EXPECT_EQ(tables.memo_extension, ".DBT");
    EXPECT_EQ(tables.auto_share, 0);
    EXPECT_EQ(tables.confirm, "ON");
    EXPECT_EQ(tables.date_format, "dd/mm/yy");
    EXPECT_TRUE(tables.deleted_hidden);
    EXPECT_EQ(tables.epoch, 1980);
    EXPECT_EQ(tables.file_case, "UPPER");
    EXPECT_EQ(tables.printer_margin, 5);
    EXPECT_FALSE(tables.NETERR);
    EXPECT_TRUE(files.critical_errors_failed);
}

TEST_F(LibraryProcedures, InitKeepsTheCenturyWhenItIsAlreadyShown) {
    Tables().settings.century = true;
    INIT(files);
    EXPECT_EQ(Tables().settings.date_format, "dd/mm/yyyy");
}

TEST_F(LibraryProcedures, InitCreatesTheFourUserVariablesReadableAndWritableByName) {
    EXPECT_FALSE(GetUserVariable("ACS_USER"));
    INIT(files);
    EXPECT_EQ(GetUserVariable("ACS_USER"), UserValue(std::string("USER")));
    EXPECT_EQ(GetUserVariable("ACS_TEMP"), UserValue(std::string()));
    EXPECT_EQ(GetUserVariable("ACS_PASSWD"), UserValue(std::string()));
    EXPECT_EQ(GetUserVariable("acs_level"), UserValue(1));
    SetUserVariable("Acs_Level", 3);
    EXPECT_EQ(GetUserVariable("ACS_LEVEL"), UserValue(3));
}

TEST_F(LibraryProcedures, InitClearsTemporaryFilesOfTheCurrentDirectoryOnly) {
    files.Add(kTemp + "2026120812345");
    files.Add(kTemp + "HIDDEN", {.hidden = true});
    files.Add(kTemp + "RO", {.read_only = true});
    files.AddDir(kTemp + "DIR");
    files.Add("KESTREL.INI");
    files.AddDir("T:\\TEMP");
    files.Add("T:\\TEMP\\" + kTemp + "PLAIN");
    INIT(files);
    EXPECT_FALSE(files.Has(kTemp + "2026120812345"));
    EXPECT_TRUE(files.Has(kTemp + "HIDDEN"));  // hidden files are not matched
    EXPECT_TRUE(files.Has(kTemp + "RO"));      // a read-only file cannot be deleted
    EXPECT_TRUE(files.Has(kTemp + "DIR"));     // directories are not matched
    EXPECT_TRUE(files.Has("KESTREL.INI"));
    EXPECT_TRUE(files.Has("T:\\TEMP\\" + kTemp + "PLAIN"));  // a plain file in TEMP stays
}

TEST_F(LibraryProcedures, InitRemovesLeftoverDirectoriesInTempThatHoldOnlyFiles) {
    const std::string left = "T:\\TEMP\\" + kTemp + "20261201100";
    files.AddDir(left);
    files.Add(left + "\\USER");
    files.Add(left + "\\A.DBF", {.hidden = true, .read_only = true});
    const std::string nested = "T:\\TEMP\\" + kTemp + "20261201200";
    files.AddDir(nested);
    files.Add(nested + "\\B.DBF");
    files.AddDir(nested + "\\SUB");
    files.Add(nested + "\\SUB\\C.DBF");
    files.AddDir("T:\\TEMP\\OTHER");
    files.Add("T:\\TEMP\\OTHER\\D.DBF");
    INIT(files);
    EXPECT_FALSE(files.Has(left + "\\A.DBF"));
    EXPECT_FALSE(files.Has(left));
    EXPECT_FALSE(files.Has(nested + "\\B.DBF"));      // emptied of its files
    EXPECT_TRUE(files.Has(nested + "\\SUB\\C.DBF"));  // not descended into
    EXPECT_TRUE(files.Has(nested));
    EXPECT_TRUE(files.Has("T:\\TEMP\\OTHER\\D.DBF"));
}

TEST_F(LibraryProcedures, InitLeavesTheDirectoryOfARunningInstanceWhole) {
    const std::string running = "T:\\TEMP\\" + kTemp + "20261208300";
    files.AddDir(running);
    files.Add(running + "\\A.DBF");  // listed before USER
    files.Add(running + "\\USER", {.held = true});
    INIT(files);
    EXPECT_TRUE(files.Has(running + "\\A.DBF"));
    EXPECT_TRUE(files.Has(running + "\\USER"));
    EXPECT_TRUE(files.Has(running));
}

TEST_F(LibraryProcedures, WithNoTempVariableInitLooksInTheRootOfTheCurrentDrive) {
    files.temp.reset();
    files.AddDir("C:\\" + kTemp + "OLD");
    files.Add("C:\\" + kTemp + "OLD\\X");
    INIT(files);
    EXPECT_FALSE(files.Has("C:\\" + kTemp + "OLD"));
}

TEST_F(LibraryProcedures, DeldirStopsAtTheFirstFileItCannotDelete) {
    files.AddDir("D");
    files.Add("D\\1");
    files.Add("D\\2", {.held = true});
    files.Add("D\\3");
    EXPECT_FALSE(DELDIR(files, "D\\"));
    EXPECT_FALSE(files.Has("D\\1"));
    EXPECT_TRUE(files.Has("D\\3"));
}

TEST_F(LibraryProcedures, ExitWithNobodyLoggedInDeletesOnlyTheViewIndexes) {
    files.Add(kTemp + "VIEW1.NTX");
    files.Add(kTemp + "view12.ntx");
    files.Add(kTemp + "VIEW.DBF");
    files.Add(kTemp + "OTHER.NTX");
    files.Add("ROSSI.USR");
    files.AddDir("C:\\MARLIN");
    files.Add("C:\\MARLIN\\NET");
    files.Add("C:\\MARLIN\\ROSSI.USR");
    Areas().Select(7);
    EXIT(files);
    EXPECT_FALSE(files.Has(kTemp + "VIEW1.NTX"));
    EXPECT_FALSE(files.Has(kTemp + "view12.ntx"));
    EXPECT_TRUE(files.Has(kTemp + "VIEW.DBF"));
    EXPECT_TRUE(files.Has(kTemp + "OTHER.NTX"));
    EXPECT_TRUE(files.Has("ROSSI.USR"));
    EXPECT_TRUE(files.Has("C:\\MARLIN\\ROSSI.USR"));
    EXPECT_TRUE(files.closed.empty());
    EXPECT_EQ(Areas().Current(), 1);
}

TEST_F(LibraryProcedures, ExitClosesAWaitWindowStillOpen) {
    struct NotingWaitBox : WaitBox {
        explicit NotingWaitBox(int& count) : ends(count) {}
        void End() override { ++ends; }
        void SetMsg(const std::string&) override {}
        void SetPos(int) override {}
        void SetPag(int) override {}
        int& ends;
    };
    int ends = 0;
    Library().wait_window = std::make_unique<NotingWaitBox>(ends);
    Library().wait_text = "Attendere";
    EXIT(files);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(Library().wait_window, nullptr);
    EXPECT_FALSE(CURMSG().has_value());
}

TEST_F(LibraryProcedures, ExitOfAUserWithoutATemporaryDirectoryDeletesNoOtherFile) {
    files.Add("CLIENTI.DBF");
    files.Add("CLIENTI.DBT");
    Library().user_name = "ROSSI   ";
    EXIT(files);
    EXPECT_TRUE(files.Has("CLIENTI.DBF"));
    EXPECT_TRUE(files.Has("CLIENTI.DBT"));
}

TEST_F(LibraryProcedures, ExitOfALoggedInUserRemovesItsTemporaryDirectory) {
    const std::string directory = "T:\\TEMP\\" + kTemp + "20261208400";
    files.AddDir(directory);
    files.Add(directory + "\\USER");
    files.Add(directory + "\\" + kTemp + "VIEW1.NTX");
    files.AddDir("C:\\MARLIN");
    files.Add("C:\\MARLIN\\NET");
    files.Add("C:\\MARLIN\\ROSSI.USR");
    Library().user_name = "ROSSI   ";
    Library().temp_directory = directory + "\\";
    Library().user_file = 42;
    EXIT(files);
    EXPECT_EQ(files.closed, std::vector<std::string>{"42"});
    EXPECT_FALSE(files.Has(directory));
    EXPECT_FALSE(files.Has("C:\\MARLIN\\ROSSI.USR"));
    EXPECT_TRUE(files.Has("C:\\MARLIN\\NET"));
}

TEST(TemporaryNames, CarryThePrefixTheDateAndTheHundredths) {
    EXPECT_EQ(TempName({2026, 12, 8, 6543210}), kTemp + "202612086543210");
    EXPECT_EQ(TempName({2026, 1, 2, 0}), kTemp + "202601020");
}

TEST(TemporaryNames, GetnewfnameWaitsForTheClockSoTwoCallsDiffer) {
    int reads = 0;
    const Clock clock = [&reads] {
        ++reads;
        return ClockReading{2026, 12, 8, 100 + reads / 4};  // moves every fourth read
    };
    const std::string first = GETNEWFNAME(clock);
    const std::string second = GETNEWFNAME(clock);
    EXPECT_NE(first, second);
    EXPECT_EQ(first, kTemp + "20261208100");
}

TEST(DateRoutine, ReadsDayMonthAndATwoDigitYearFromTheEpoch) {
    TableSettings settings;
    settings.date_format = "dd/mm/yy";
    settings.epoch = 1980;
    EXPECT_EQ(CTOD("01/02/85", settings), (Date{1985, 2, 1}));
    EXPECT_EQ(CTOD("01/02/15", settings), (Date{2015, 2, 1}));
    EXPECT_EQ(CTOD("31/12/79", settings), (Date{2079, 12, 31}));
    EXPECT_EQ(CTOD("01/01/80", settings), (Date{1980, 1, 1}));
    EXPECT_EQ(CTOD("29/02/2000", settings), (Date{2000, 2, 29}));
}

TEST(DateRoutine, ATextThatIsNotACalendarDateIsTheEmptyDate) {
    TableSettings settings;
    settings.date_format = "dd/mm/yy";
    settings.epoch = 1980;
    EXPECT_EQ(CTOD("29/02/81", settings), Date{});
    EXPECT_EQ(CTOD("32/01/85", settings), Date{});
    EXPECT_EQ(CTOD("01/13/85", settings), Date{});
    EXPECT_EQ(CTOD("  /  /  ", settings), Date{});
    EXPECT_EQ(CTOD("1/2/3/4", settings), Date{});
}

TEST(DateRoutine, FollowsTheFormatAndEpochThatInitSets) {
    ResetLibrary();
    RegisterTables();
    MemoryFiles files;
    EXPECT_EQ(CTOD("01/02/15"), (Date{1915, 1, 2}));  // before INIT: mm/dd/yy, 1900
    INIT(files);
    EXPECT_EQ(CTOD("01/02/15"), (Date{2015, 2, 1}));
    EXPECT_EQ(CTOD("01/02/85"), (Date{1985, 2, 1}));
    ResetLibrary();
    ResetTables();
}

}  // namespace
}  // namespace kestrel::common
