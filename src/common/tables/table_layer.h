#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/tables/dbf_format.h"
#include "common/tables/table_file.h"

namespace kestrel::common {

// The table layer: DBF tables (dbf_format.h) opened in numbered work areas, shared
// between processes that may run on several workstations over one disk.
//
// Sharing. A table is opened shared or exclusive with the platform's share modes
// (table_file.h); an open that another holder's share mode prevents fails at once,
// as the error record GENCODE 21 / OSCODE 32 / CANDEFAULT, which the error handler
// turns into a soft failure and the network-error flag. Nothing in the layer waits
// but for a memo file's allocation lock (paced, see TablePause): the library's
// waiting routines (shared_tables.h) retry.
//
// The lock layout, the same in every process that uses the layer: exclusive
// byte-range locks on the table file from kLockBase (2^62) up, far beyond the last
// byte that data of any table or memo file can reach (kDataReach, 2^49), so a lock
// never stops a read or write of data, even of a file of many gigabytes (a Win32
// range lock also refuses other processes' reads and writes of the bytes it covers):
//   kLockBase              the append lock, held only while a record is appended
//   kLockBase + n          the lock of record n (n from 1 to 2^32 - 1)
//   kLockBase + 1 ...      the table lock: kTableLockLength bytes, over every record
//                          lock, so it excludes them all and they exclude it
// and one on the memo file, at kLockBase, held while memo blocks are allocated. The
// offsets are 64-bit on every platform (LockFileEx's Offset and OffsetHigh, fcntl's
// 64-bit off_t).
// A process holds either the table lock or record locks; a record lock replaces the
// table lock and every other record lock it held.
//
// Freshness. Nothing of another process's work is kept stale: a record is read from
// the file each time the table moves to it; the record count is read again from the
// header when the table goes to its last record, moves past the count it knew, takes
// a lock or appends. A changed record is written back when the table moves off it,
// commits, unlocks or closes.
//
// Failures, one way per level. The platform's files answer a failure by a result
// value (table_file.h); the layer turns every one it meets into an error record for
// the error callback (errors/raise.h, table_io.h), and never passes a result code
// up: an open the platform refuses (GENCODE 21 with its OSCODE), a failed read,
// write or flush (23 / 24), a table that is no table of this family (32,
// corruption), an append lock that another process holds (40, CANDEFAULT). The soft
// ones answer false; the others leave through the error handler (Abandon).
inline constexpr std::uint64_t kLockBase = std::uint64_t{1} << 62;
inline constexpr std::uint64_t kTableLockLength = 0xFFFF'FFFF;  // records 1 to 2^32 - 1
// No data lies at or beyond this offset: a table's header is at most 65535 bytes and
// is followed by at most 2^32 - 1 records of at most 65535 bytes; a memo file names
// at most 2^32 blocks of at most 65535 bytes, and a memo from the last of them runs
// for at most 2^32 bytes.
inline constexpr std::uint64_t kDataReach = std::uint64_t{1} << 49;
static_assert(0xFFFF + std::uint64_t{0xFFFF'FFFF} * 0xFFFF + 1 <= kDataReach,
              "the records and end marker of a table reach the locks");
static_assert(std::uint64_t{0xFFFF'FFFF} * 0xFFFF + kMemoBlockHeaderSize + 0xFFFF'FFFF <=
                  kDataReach,
              "the memos of a memo file reach the locks");
static_assert(kDataReach < kLockBase, "data and locks overlap");
static_assert(kLockBase + 1 + kTableLockLength <= std::uint64_t{1} << 63,
              "the locks do not fit a signed 64-bit file offset");

// The driver's name: the layer's SUBSYSTEM in its error records (and so in every
// report), and the default driver of the library's table settings.
inline constexpr std::string_view kTableDriver = "DBFMEMO";

// How the layer waits, the one time it waits: between tries of a memo file's
// allocation lock, which another process holds only while it writes one memo.
using TablePause = std::function<void(std::chrono::milliseconds)>;

// Table information item 131: the password handed to an open table.
inline constexpr int kInfoPassword = 131;

// Work areas: 1 to kLastArea; kSemaphoreArea is kept for the library's semaphore.
inline constexpr int kLastArea = 65535;
inline constexpr int kSemaphoreArea = 65534;

// The file name the layer opens for `name`: the name part upper-cased when the
// settings ask for it, ".DBF" added when it has no extension, a trailing "." meaning
// none ("NET." is the file NET).
std::string TableFileName(std::string_view name);
// The table's memo file: its folder and name without its last extension, and the
// memo extension (CLI.OLD.DBF -> CLI.OLD.DBT).
std::string MemoFileName(std::string_view table_file);

// One table open in a work area.
class DbfTable {
  public:
    ~DbfTable();
    DbfTable(const DbfTable&) = delete;
    DbfTable& operator=(const DbfTable&) = delete;

    const std::string& Alias() const { return alias_; }
    const std::string& Path() const { return path_; }
    const DbfHeader& Header() const { return header_; }
    bool Shared() const { return shared_; }
    bool ReadOnly() const { return read_only_; }

    // Position. A table with no visible record is at once at its start and its end.
    bool Eof() const { return eof_; }
    bool Bof() const { return bof_; }
    std::uint32_t RecNo() const { return recno_; }  // count + 1 at the end
    std::uint32_t RecCount();                       // read again from the header
    void GoTo(std::uint32_t record);
    void GoTop();
    void GoBottom();
    void Skip(long count = 1);

    // The current record's deletion flag; deleting or recalling the record.
    bool Deleted() const;
    void Delete();
    void Recall();

    // Fields by name (case does not matter). Get answers nothing for an unknown
    // name; Put answers false for an unknown name or a value of the wrong type, and
    // does nothing at the end of the table. A number too wide for its field (GENCODE
    // 34) or an impossible date (33) is raised as an error and never stored.
    std::optional<FieldValue> Get(std::string_view field);
    bool Put(std::string_view field, const FieldValue& value);

    // Locks (see the layout above); each answers false at once when another process
    // holds what it needs.
    bool LockRecord(std::uint32_t record);  // 0: the current record
    bool LockTable();
    void UnlockAll();
    bool RecordLocked(std::uint32_t record) const;
    bool TableLocked() const { return table_locked_; }

    // Appends a blank record under the append lock and moves to it; false when the
    // append lock is held elsewhere (raised as GENCODE 40 first).
    bool Append();
    // Writes the changed record back, dates the header when the table changed, and
    // puts the table and memo files on the disk.
    void Commit();

    // The natural order is the only order; 0 names it.
    int Order() const { return 0; }

    // Table information: item 131 the password handed to the table.
    std::string Info(int item) const;
    void SetInfo(int item, std::string value);

    // Writes the records that are not deleted, memos included, to a new table file
    // and memo file of those names (replacing files of those names), with this
    // table's header bytes (version, flags, code-page mark, fields) and memo block
    // size, and puts both on the disk. The position is kept.
    void CopyTo(const std::string& table_path, const std::string& memo_path);

  private:
    friend class WorkAreas;
    friend struct PackAccess;  // the pack copies into the table's own open files
    DbfTable() = default;
    // Writes the current record back when it was changed, its memos first.
    void WriteRecord();
    // Reads the record count and the current record again; releases every lock
    // when that fails.
    void Refresh();
    // Moves to the first record not hidden from `from` on, going by `step` (+1 or
    // -1) within the records counted; false, nothing changed, when there is none.
    bool SettleOnVisible(std::int64_t from, int step);
    // The text of the memo an M field's bytes name.
    std::string MemoText(std::string_view raw);

    // The open files of the table.
    struct Files {
        TablePause pause;  // between tries of the memo allocation lock
        std::unique_ptr<TableFile> table;
        std::unique_ptr<TableFile> memo;  // none when the table has no memo fields
        std::string memo_path;
        MemoHeader memo_header;
    };
    std::unique_ptr<Files> files_;
    DbfHeader header_;
    std::string path_;
    std::string alias_;
    bool shared_ = false;
    bool read_only_ = false;
    std::uint32_t count_ = 0;  // the record count as last read from the header
    std::uint32_t recno_ = 1;
    bool eof_ = true;
    bool bof_ = true;
    std::string record_;     // the current record's bytes, as read or changed
    bool dirty_ = false;     // record_ differs from the disk
    bool modified_ = false;  // a record was written since the last Flush
    std::map<std::string, std::string, std::less<>> memo_changes_;  // field -> new text
    std::vector<std::uint32_t> record_locks_;
    bool table_locked_ = false;
    std::map<int, std::string> info_;
};

// The work areas of the process; one is current.
class WorkAreas {
  public:
    // Tables are opened through `opener`: the platform's files unless told otherwise.
    explicit WorkAreas(TableFileOpener opener = OpenTableFile);
    ~WorkAreas();
    WorkAreas(const WorkAreas&) = delete;
    WorkAreas& operator=(const WorkAreas&) = delete;

    // DBUSEAREA: opens a table in the current work area (closing what it held), or in
    // the lowest free area when `new_area`, and makes that area current. The alias
    // defaults to the file name without its last extension (CLI.OLD.DBF: CLI.OLD).
    // True when the table is open; false when the open failed softly (the error
    // handler set the network-error flag). The flag is cleared first.
    bool Use(bool new_area, std::string_view driver, std::string_view name,
             std::optional<std::string_view> alias, bool shared, bool read_only);

    // DBCREATE: makes a new, empty table (and its memo file when it has memo
    // fields). With `replace` files of that name are replaced; without it a table
    // that exists is left as it is and the answer is false (of several processes
    // creating one table at once, exactly one makes it). A structure that is not
    // valid, or a file the platform refuses, is raised as an error.
    bool Create(std::string_view name, const std::vector<FieldSpec>& structure,
                bool replace = true);

    int Current() const { return current_; }
    void Select(int area);
    // Selects the area with that alias; false, nothing changed, when none has it.
    bool Select(std::string_view alias);
    // The area with that alias, or 0.
    int AreaOf(std::string_view alias) const;

    // The current area's table, or nullptr when the area is not in use.
    DbfTable* Table();
    bool Used() const;

    void Close();     // the current area
    void CloseAll();  // every area; then area 1 is current

    // Appends with the network-error flag cleared first; false on a soft failure.
    bool Append();

    // The pause of the tables opened from now on (by default the thread sleeps).
    void SetPause(TablePause pause);

  private:
    std::map<int, std::unique_ptr<DbfTable>> areas_;
    TablePause pause_;
    int current_ = 1;
    TableFileOpener open_;
};

// The process's work areas (the tables' state, table_settings.h).
WorkAreas& Areas();

}  // namespace kestrel::common
