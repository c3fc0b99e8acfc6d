// Packing a table through staged copies and a marker (table_pack.h has the steps
// and what a crash at each leaves).
#include "common/tables/table_pack.h"

#include <array>
#include <chrono>
#include <memory>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "common/tables/table_file.h"
#include "common/tables/table_io.h"
#include "common/tables/table_layer.h"
#include "errors/raise.h"

namespace kestrel::common {

// The pack's way into a table's own open files.
struct PackAccess {
    static TableFile& TableOf(DbfTable& table) { return *table.files_->table; }
    static TableFile* MemoOf(DbfTable& table) { return table.files_->memo.get(); }
};

namespace {

// The marker's commit texts: the commit, and how the staged copies take their place.
constexpr std::string_view kCommitRename = "KESTREL PACK COMMITTED: RENAME\r\n";
constexpr std::string_view kCommitCopy = "KESTREL PACK COMMITTED: COPY\r\n";
constexpr std::size_t kMarkerReadSize = 64;

// A process that opened the table just before a rename over it lets go as soon as it
// sees the marker; the rename is tried again at this pace until then. A table held
// longer (by a program that knows no marker) fails the replace, which the next open
// finishes.
constexpr auto kReplacePatience = std::chrono::seconds(10);
constexpr auto kReplacePause = std::chrono::milliseconds(10);

constexpr std::size_t kCopyChunk = 64 * 1024;

bool HeldElsewhere(int os_error) {
    return os_error == errors::kOsSharingViolation || os_error == errors::kOsAccessDenied;
}

int RenameWhenFree(const std::string& from, const std::string& to) {
    const auto deadline = std::chrono::steady_clock::now() + kReplacePatience;
    for (;;) {
        const int os = RenameTableFile(from, to);
        if (os == 0 || !HeldElsewhere(os) || std::chrono::steady_clock::now() >= deadline) {
            return os;
        }
        std::this_thread::sleep_for(kReplacePause);
    }
}

// Copies the whole of `staged` into `target` from its first byte, cuts `target` to
// that size and puts it on the disk. 0 or the error code.
int CopyInto(const std::string& staged, TableFile& target) {
    OpenedFile source = OpenTableFile(staged, FileAccess::kReadOnly, FileShare::kExclusive);
    if (!source.file) {
        return source.os_error;
    }
    std::vector<unsigned char> buffer(kCopyChunk);
    std::uint64_t offset = 0;
    for (;;) {
        std::size_t count = 0;
        if (const int os = source.file->Read(offset, buffer, count); os != 0) {
            return os;
        }
        if (count == 0) {
            break;
        }
        if (const int os = target.Write(offset, std::span(buffer.data(), count)); os != 0) {
            return os;
        }
        offset += count;
    }
    if (const int os = target.Truncate(offset); os != 0) {
        return os;
    }
    return target.Flush();
}

// A staged copy and the file whose place it takes.
struct Replacement {
    const std::string& staged;
    const std::string& target;
};

std::array<Replacement, 2> Replacements(const PackFiles& files) {
    return {Replacement{files.staged_table, files.table},
            Replacement{files.staged_memo, files.memo}};
}

// The marker's text: what a leftover marker says.
std::string MarkerText(TableFile& marker) {
    std::vector<unsigned char> bytes(kMarkerReadSize);
    std::size_t count = 0;
    if (marker.Read(0, bytes, count) != 0) {
        return {};
    }
    return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

void RemoveStaged(const PackFiles& files) {
    RemoveTableFile(files.staged_table);
    RemoveTableFile(files.staged_memo);
}

// A committed pack that copies: the targets are held exclusive while both copies are
// made, then the staged copies go.
int FinishByCopy(const PackFiles& files) {
    std::vector<std::unique_ptr<TableFile>> targets;
    for (const Replacement& replacement : Replacements(files)) {
        if (!TableFileExists(replacement.staged)) {
            targets.emplace_back();
            continue;
        }
        OpenedFile target =
            OpenTableFile(replacement.target, FileAccess::kReadWrite, FileShare::kExclusive);
        if (!target.file && target.os_error == errors::kOsFileNotFound) {
            target = CreateTableFile(replacement.target, true);
        }
        if (!target.file) {
            return target.os_error;
        }
        targets.push_back(std::move(target.file));
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (targets[i]) {
            if (const int os = CopyInto(Replacements(files)[i].staged, *targets[i]); os != 0) {
                return os;
            }
        }
    }
    targets.clear();
    RemoveStaged(files);
    return 0;
}

int FinishByRename(const PackFiles& files) {
    for (const Replacement& replacement : Replacements(files)) {
        if (TableFileExists(replacement.staged)) {
            if (const int os = RenameWhenFree(replacement.staged, replacement.target); os != 0) {
                return os;
            }
        }
    }
    return 0;
}

// Settles the pack whose marker the caller holds: a committed one is finished, any
// other undone. 0 or the error code.
int SettleHeld(const PackFiles& files, TableFile& marker) {
    const std::string text = MarkerText(marker);
    if (text == kCommitRename) {
        return FinishByRename(files);
    }
    if (text == kCommitCopy) {
        return FinishByCopy(files);
    }
    RemoveStaged(files);
    return 0;
}

// Closes the marker and removes it, the last file of a pack to go.
void RemoveMarker(std::unique_ptr<TableFile>& marker, const std::string& path) {
    marker.reset();
    RemoveTableFile(path);  // when another process settles it first, it removes it
}

// The table's work area is closed on every way out of the pack; a failure to write
// back a table that was only read is no failure of the pack.
void CloseQuietly(WorkAreas& areas) {
    try {
        areas.Close();
    } catch (const errors::Abandon&) {
    }
}

// Steps 1 to 3: the marker, the staged copies, the commit. A failure leaves the
// table untouched and removes what the pack made.
std::unique_ptr<TableFile> StageAndCommit(WorkAreas& areas, const PackFiles& files, PackReplace how,
                                          const std::function<void(PackStep)>& reached) {
    OpenedFile marker = CreateTableFile(files.marker, /*replace=*/false);
    if (!marker.file) {
        CloseQuietly(areas);
        FailTableCreate(files.marker, marker.os_error);
    }
    try {
        reached(PackStep::kMarked);
        areas.Table()->CopyTo(files.staged_table, files.staged_memo);
        reached(PackStep::kStaged);
        const std::string_view text = how == PackReplace::kRename ? kCommitRename : kCommitCopy;
        const auto bytes =
            std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size());
        int os = marker.file->Write(0, bytes);
        if (os == 0) {
            os = marker.file->Flush();
        }
        if (os != 0) {
            FailTableWrite(files.marker, os);
        }
    } catch (...) {
        CloseQuietly(areas);
        RemoveStaged(files);
        RemoveMarker(marker.file, files.marker);
        throw;
    }
    reached(PackStep::kCommitted);
    return std::move(marker.file);
}

// Steps 4 and 5 through the table's own exclusive handles; the area is closed after.
std::optional<PackFailure> ReplaceByCopy(WorkAreas& areas, const PackFiles& files,
                                         const std::function<void(PackStep)>& reached) {
    DbfTable& table = *areas.Table();
    std::optional<PackFailure> failure;
    if (const int os = CopyInto(files.staged_table, PackAccess::TableOf(table)); os != 0) {
        failure = PackFailure{files.staged_table, files.table, os};
    } else {
        reached(PackStep::kTableReplaced);
        TableFile* memo = PackAccess::MemoOf(table);
        const int memo_os = memo != nullptr ? CopyInto(files.staged_memo, *memo) : 0;
        if (memo_os != 0) {
            failure = PackFailure{files.staged_memo, files.memo, memo_os};
        } else {
            reached(PackStep::kMemoReplaced);
        }
    }
    CloseQuietly(areas);
    if (!failure) {
        RemoveStaged(files);
    }
    return failure;
}

// Steps 4 and 5 by renaming, once the table is closed.
std::optional<PackFailure> ReplaceByRename(WorkAreas& areas, const PackFiles& files,
                                           const std::function<void(PackStep)>& reached) {
    CloseQuietly(areas);
    if (const int os = RenameWhenFree(files.staged_table, files.table); os != 0) {
        return PackFailure{files.staged_table, files.table, os};
    }
    reached(PackStep::kTableReplaced);
    if (TableFileExists(files.staged_memo)) {
        if (const int os = RenameWhenFree(files.staged_memo, files.memo); os != 0) {
            return PackFailure{files.staged_memo, files.memo, os};
        }
    }
    reached(PackStep::kMemoReplaced);
    return std::nullopt;
}

}  // namespace

PackFiles PackFilesFor(const std::string& table) {
    PackFiles files;
    files.table = table;
    files.memo = MemoFileName(table);
    files.staged_table = table + ".NEW";
    files.staged_memo = files.memo + ".NEW";
    files.marker = table + ".PAK";
    return files;
}

std::optional<PackFailure> PackCurrentTable(WorkAreas& areas, PackReplace how,
                                            const std::function<void(PackStep)>& reached) {
    const PackFiles files = PackFilesFor(areas.Table()->Path());
    std::unique_ptr<TableFile> marker = StageAndCommit(areas, files, how, reached);
    std::optional<PackFailure> failure = how == PackReplace::kRename
                                             ? ReplaceByRename(areas, files, reached)
                                             : ReplaceByCopy(areas, files, reached);
    if (failure) {
        marker.reset();  // committed: the next open of the table finishes the replace
        return failure;
    }
    RemoveMarker(marker, files.marker);
    reached(PackStep::kCleared);
    return std::nullopt;
}

PackLeftover SettlePackLeftover(const std::string& table, int& os_error) {
    os_error = 0;
    const PackFiles files = PackFilesFor(table);
    OpenedFile marker = OpenTableFile(files.marker, FileAccess::kReadWrite, FileShare::kExclusive);
    if (!marker.file) {
        if (marker.os_error == errors::kOsSharingViolation) {
            return PackLeftover::kUnderWay;
        }
        if (marker.os_error == errors::kOsFileNotFound) {
            return PackLeftover::kSettled;  // settled by another process meanwhile
        }
        os_error = marker.os_error;
        return PackLeftover::kNone;
    }
    if (const int os = SettleHeld(files, *marker.file); os != 0) {
        os_error = HeldElsewhere(os) ? errors::kOsSharingViolation : os;
        return os_error == errors::kOsSharingViolation ? PackLeftover::kUnderWay
                                                       : PackLeftover::kNone;
    }
    RemoveMarker(marker.file, files.marker);
    return PackLeftover::kSettled;
}

}  // namespace kestrel::common
