#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kestrel::common {

class WorkAreas;

// Packing a table: its kept records take the place of the table and its memo file so
// that no crash, at any moment, loses either, and no workstation ever works on a
// table whose memo pointers do not match its memo file.
//
// The files of a pack of T.DBF, all beside the table (one folder, so one volume):
//   T.DBF.NEW, T.DBT.NEW  the staged copies: the kept records and their memos
//   T.DBF.PAK             the marker, held exclusive by the packing process
// None begins with the temporary-file character, so the start-up clean-up of
// leftover temporary files never deletes a staged copy that holds the only packed
// data.
//
// The steps (PackStep), with T held exclusive from the start:
//   1 kMarked         the marker is made, empty: a pack is under way
//   2 kStaged         both staged copies are written and on the disk
//   3 kCommitted      the marker holds the commit text and is on the disk. This is
//                     the commit point: from here on the staged copies are the table
//   4 kTableReplaced  T.DBF.NEW has taken the place of T.DBF
//   5 kMemoReplaced   T.DBT.NEW has taken the place of T.DBT
//   6 kCleared        the staged copies and the marker are gone
// How a staged copy takes its place (PackReplace), written in the commit text:
//   kRename  (tables on the local disk) T is closed and each staged copy is renamed
//            over its target in one step, never deleting the target first;
//   kCopy    (tables on the shared disk) each staged copy is copied into its target
//            through the table's own exclusive handles, kept open until both are
//            copied, so no workstation opens the table between the two copies.
//
// What a crash leaves, and what the next open of the table (any process's, through
// the table layer) makes of it. The layer opens the table, then looks for the
// marker: a marker another process holds means a pack under way, and the open fails
// as against an exclusive holder (a sharing violation, which the waiting routines
// wait out); a marker nobody holds is a leftover, which the opener takes and
// settles before it opens the table again:
//   before step 3  the marker is not committed: T.DBF and T.DBT were never touched;
//                  the staged copies are deleted, then the marker. The old table.
//   from step 3    the marker is committed: each staged copy still there takes its
//                  place the way the commit text says (a copy interrupted halfway
//                  is made again from the start), then the marker is deleted. The
//                  new table.
// Settling is itself safe to interrupt: the marker goes last.
//
// Rejected: deleting the table before renaming the copy (a crash between the two
// loses the table); staging in the current folder or the temporary folder (another
// volume makes the rename a copy, and the start-up clean-up may delete the staged
// files); a move that falls back to copy and delete across volumes (not one step).

enum class PackStep : int {
    kMarked = 1,
    kStaged = 2,
    kCommitted = 3,
    kTableReplaced = 4,
    kMemoReplaced = 5,
    kCleared = 6,
};

enum class PackReplace { kRename, kCopy };

struct PackFiles {
    std::string table;
    std::string memo;
    std::string staged_table;
    std::string staged_memo;
    std::string marker;
};

// The files of a pack of the table file `table` (its memo file by MemoFileName).
PackFiles PackFilesFor(const std::string& table);

// A pack that failed after its commit: the file that holds the packed data, the
// file it could not take the place of, and the platform's error.
struct PackFailure {
    std::string source;
    std::string target;
    int os_error = 0;
};

// Packs the table open exclusively in the current work area of `areas`, step by step
// as above, calling `reached` at each step. A failure before the commit leaves the
// table as it was, removes the staged copies and the marker, and leaves through the
// error handler (errors::Abandon). A failure after the commit answers which copy
// failed; the committed marker and the staged copies are kept, for the next open to
// finish. Either way the table's work area is closed and the marker released.
std::optional<PackFailure> PackCurrentTable(WorkAreas& areas, PackReplace how,
                                            const std::function<void(PackStep)>& reached);

// What the open of a table finds of a pack (see above).
enum class PackLeftover {
    kNone,      // no marker: the table is as its files say
    kUnderWay,  // another process holds the marker: a sharing violation
    kSettled,   // a leftover marker was settled: open the table again
};
// Looks for the marker of the table file `table`, which the caller does not hold
// open, and settles a leftover. A leftover that cannot be settled answers its
// platform error in `os_error` (and kNone).
PackLeftover SettlePackLeftover(const std::string& table, int& os_error);

}  // namespace kestrel::common
