// A table's records, its locks and its appends: everything a DbfTable does once it is
// open (work_areas.cpp opens and creates tables, table_copy.cpp copies one). Every
// operation reads what it needs from the files at the moment it needs it (see
// table_layer.h on freshness): a process keeps nothing of a table in memory but its
// header's field list, the record it stands on and the changes it has not yet
// written back.
#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

#include "common/tables/backoff.h"
#include "common/tables/table_io.h"
#include "common/tables/table_layer.h"
#include "common/tables/table_settings.h"
#include "errors/raise.h"

namespace kestrel::common {

DbfTable::~DbfTable() {
    // A table closed on the way out of a failure must not fail again: what cannot
    // be written back now is given up with the rest of the failed operation.
    try {
        UnlockAll();
    } catch (const errors::Abandon&) {
    } catch (const errors::EndProgram&) {
    }
}

namespace {

bool IsHidden(std::string_view record) {
    return Tables().settings.deleted_hidden && !record.empty() && record[0] == kRecordDeleted;
}

}  // namespace

// --- Reading and writing ------------------------------------------------------------

std::uint32_t DbfTable::RecCount() {
    TableFile& file = *files_->table;
    const std::vector<unsigned char> bytes = ReadExactly(file, kRecordCountOffset, 4, path_);
    std::uint32_t count = DecodeCount(bytes);
    // Never trust a count beyond what the file holds (a damaged header).
    const std::uint64_t size = SizeOf(file, path_);
    if (size >= header_.header_size) {
        const std::uint64_t held = (size - header_.header_size) / header_.record_size;
        count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, held));
    }
    count_ = count;
    return count;
}

void DbfTable::GoTo(std::uint32_t record) {
    WriteRecord();
    if (record > count_ || record == 0) {
        RecCount();
    }
    if (record >= 1 && record <= count_) {
        recno_ = record;
        record_ = ReadRecordBytes(*files_->table, header_, record, path_);
        eof_ = false;
    } else {
        recno_ = count_ + 1;
        record_ = BlankRecord(header_);
        eof_ = true;
    }
    bof_ = false;
}

bool DbfTable::SettleOnVisible(std::int64_t from, int step) {
    for (std::int64_t n = from; n >= 1 && n <= count_; n += step) {
        const auto number = static_cast<std::uint32_t>(n);
        std::string record = ReadRecordBytes(*files_->table, header_, number, path_);
        if (!IsHidden(record)) {
            recno_ = number;
            record_ = std::move(record);
            eof_ = bof_ = false;
            return true;
        }
    }
    return false;
}

void DbfTable::GoTop() {
    WriteRecord();
    RecCount();
    if (!SettleOnVisible(1, +1)) {
        GoTo(count_ + 1);
        bof_ = true;  // no visible record: at the start and the end at once
    }
}

void DbfTable::GoBottom() {
    WriteRecord();
    RecCount();
    if (!SettleOnVisible(count_, -1)) {
        GoTo(count_ + 1);
        bof_ = true;
    }
}

void DbfTable::Skip(long count) {
    WriteRecord();
    if (count == 0) {
        GoTo(recno_);  // read the record again
        return;
    }
    for (long step = 0; step < count && !eof_; ++step) {
        RecCount();  // records another workstation appended lie ahead too
        if (!SettleOnVisible(std::int64_t{recno_} + 1, +1)) {
            GoTo(count_ + 1);
        }
    }
    for (long step = 0; step > count; --step) {
        const std::int64_t before = std::min<std::int64_t>(recno_, std::int64_t{count_} + 1) - 1;
        if (!SettleOnVisible(before, -1)) {
            GoTop();  // before the first record: on the first visible one, at the start
            bof_ = true;
            return;
        }
    }
}

bool DbfTable::Deleted() const {
    return !eof_ && !record_.empty() && record_[0] == kRecordDeleted;
}

namespace {

bool MayChange(const DbfTable& table) {
    if (table.ReadOnly()) {
        return false;
    }
    if (!table.Shared() || table.TableLocked() || table.RecordLocked(table.RecNo())) {
        return true;
    }
    // Changing a shared record nobody locked could undo another workstation's change.
    FailTable(TableError(errors::kGenReportAndAbandon, kSubUnlocked, 0, table.Path(),
                         "Record non bloccato"));
}

}  // namespace

void DbfTable::Delete() {
    if (eof_ || !MayChange(*this)) {
        return;
    }
    record_[0] = kRecordDeleted;
    dirty_ = true;
}

void DbfTable::Recall() {
    if (eof_ || !MayChange(*this)) {
        return;
    }
    record_[0] = kRecordKept;
    dirty_ = true;
}

std::optional<FieldValue> DbfTable::Get(std::string_view name) {
    const DbfField* field = header_.Field(name);
    if (field == nullptr) {
        return std::nullopt;
    }
    const std::string_view raw = std::string_view(record_).substr(field->offset, field->length);
    if (field->type != 'M') {
        return DecodeField(*field, raw);
    }
    if (const auto changed = memo_changes_.find(field->name); changed != memo_changes_.end()) {
        return changed->second;
    }
    return MemoText(raw);
}

std::string DbfTable::MemoText(std::string_view raw) {
    const std::optional<std::uint32_t> block = MemoBlockOf(raw);
    if (!block || !files_->memo) {
        return std::string();
    }
    TableFile& memo = *files_->memo;
    const std::uint32_t block_size = files_->memo_header.block_size;
    const std::uint64_t at = static_cast<std::uint64_t>(*block) * block_size;
    const std::vector<unsigned char> head =
        ReadExactly(memo, at, kMemoBlockHeaderSize, files_->memo_path);
    const std::optional<std::uint32_t> length = MemoLengthOf(head);
    if (!length || at + kMemoBlockHeaderSize + *length > SizeOf(memo, files_->memo_path)) {
        FailTableCorrupt(files_->memo_path);
    }
    const std::vector<unsigned char> text =
        ReadExactly(memo, at + kMemoBlockHeaderSize, *length, files_->memo_path);
    return std::string(text.begin(), text.end());
}

bool DbfTable::Put(std::string_view name, const FieldValue& value) {
    const DbfField* field = header_.Field(name);
    if (field == nullptr || eof_ || !MayChange(*this)) {
        return false;
    }
    if (field->type == 'M') {
        const std::string* text = std::get_if<std::string>(&value);
        if (text == nullptr || files_->memo == nullptr) {
            return false;
        }
        memo_changes_[field->name] = *text;
        dirty_ = true;
        return true;
    }
    const EncodedField encoded = EncodeField(*field, value);
    switch (encoded.fit) {
        case FieldFit::kFits:
            break;
        case FieldFit::kWrongType:
            return false;
        case FieldFit::kTooWide:
            FailTable(TableError(errors::kGenDataWidth, kSubTooWide, 0, path_,
                                 "Numero troppo ampio per il campo " + field->name + " (N " +
                                     std::to_string(field->length) + "," +
                                     std::to_string(field->decimals) + ")"));
        case FieldFit::kImpossibleDate:
            FailTable(TableError(errors::kGenDataType, kSubImpossibleDate, 0, path_,
                                 "Data impossibile per il campo " + field->name));
    }
    record_.replace(field->offset, field->length, encoded.bytes);
    dirty_ = true;
    return true;
}

namespace {

// Takes a lock that another process holds only while it writes one memo: tried
// again, paced, for as long as that takes (a process that ends lets go of it).
void TakeShortLock(TableFile& file, std::uint64_t offset, const TablePause& pause) {
    Backoff backoff;
    while (!file.TryLock(offset, 1)) {
        pause(backoff.Next());
    }
}

// Stores a memo at the end of the memo file and answers its first block (0 for an
// empty text, which is no memo). Blocks are given out under the memo file's lock,
// the free-block pointer read and written under it, so two processes never write
// into the same blocks.
std::uint32_t StoreMemo(TableFile& memo, const std::string& path, std::string_view text,
                        const TablePause& pause) {
    if (text.empty()) {
        return 0;
    }
    TakeShortLock(memo, kLockBase, pause);
    const HeldByte allocation(&memo, kLockBase);
    const std::optional<MemoHeader> header =
        ParseMemoHeader(ReadExactly(memo, 0, kMemoHeaderSize, path));
    if (!header) {
        FailTableCorrupt(path);
    }
    MemoHeader next = *header;
    next.next_free = PastMemo(header->next_free, text.size(), header->block_size, path);
    const std::vector<unsigned char> stored = EncodeMemo(text, header->block_size);
    WriteAll(memo, static_cast<std::uint64_t>(header->next_free) * header->block_size, stored,
             path);
    WriteAll(memo, 0, EncodeMemoHeader(next), path);
    return header->next_free;
}

}  // namespace

void DbfTable::WriteRecord() {
    // The change is taken before it is written: a write that fails is not tried
    // again by the release or close that follows the failure.
    const bool changed = std::exchange(dirty_, false) && !eof_;
    const auto memos = std::exchange(memo_changes_, {});
    if (changed) {
        for (const auto& [name, text] : memos) {
            const DbfField* field = header_.Field(name);
            const std::uint32_t block =
                StoreMemo(*files_->memo, files_->memo_path, text, files_->pause);
            record_.replace(field->offset, field->length, MemoFieldFor(block));
        }
        WriteAll(*files_->table, header_.RecordOffset(recno_), Bytes(record_), path_);
        modified_ = true;
    }
}

void DbfTable::Commit() {
    WriteRecord();
    if (!read_only_) {
        if (modified_) {
            WriteAll(*files_->table, kUpdateDateOffset, EncodeUpdateDate(Today()), path_);
            modified_ = false;
        }
        FlushAll(*files_->table, path_);
        if (files_->memo) {
            FlushAll(*files_->memo, files_->memo_path);
        }
    }
}

// --- Locks ---------------------------------------------------------------------------

bool DbfTable::RecordLocked(std::uint32_t record) const {
    return std::find(record_locks_.begin(), record_locks_.end(), record) != record_locks_.end();
}

void DbfTable::UnlockAll() {
    // The locks are released even when the record cannot be written back.
    std::exception_ptr failed_write;
    try {
        WriteRecord();
    } catch (...) {
        failed_write = std::current_exception();
    }
    for (std::uint32_t record : record_locks_) {
        files_->table->Unlock(kLockBase + record, 1);
    }
    record_locks_.clear();
    if (table_locked_) {
        files_->table->Unlock(kLockBase + 1, kTableLockLength);
        table_locked_ = false;
    }
    if (failed_write) {
        std::rethrow_exception(failed_write);
    }
}

// After a lock, what the table shows must be what is on the disk now; a lock whose
// table cannot be read again is given back with the failure.
void DbfTable::Refresh() {
    try {
        RecCount();
        if (!eof_ && recno_ <= count_) {
            record_ = ReadRecordBytes(*files_->table, header_, recno_, path_);
        }
    } catch (...) {
        UnlockAll();
        throw;
    }
}

bool DbfTable::LockRecord(std::uint32_t record) {
    if (record == 0) {
        record = recno_;
    }
    UnlockAll();
    if (!shared_) {
        record_locks_.push_back(record);  // an exclusive table is locked as a whole
        return true;
    }
    if (!files_->table->TryLock(kLockBase + record, 1)) {
        return false;
    }
    record_locks_.push_back(record);
    Refresh();
    return true;
}

bool DbfTable::LockTable() {
    UnlockAll();
    if (shared_ && !files_->table->TryLock(kLockBase + 1, kTableLockLength)) {
        return false;
    }
    table_locked_ = true;
    Refresh();
    return true;
}

// --- Append --------------------------------------------------------------------------

bool DbfTable::Append() {
    WriteRecord();
    TableFile& file = *files_->table;
    if (read_only_) {
        FailTable(TableError(kGenWrite, kSubWrite, errors::kOsAccessDenied, path_,
                             "Tabella in sola lettura"));
    }
    if (shared_ && !file.TryLock(kLockBase, 1)) {
        FailTableSoftly(TableError(errors::kGenAppendLock, kSubAppendLock, errors::kOsLockViolation,
                                   path_, "Blocco per aggiunta non ottenuto"));
        return false;
    }
    const HeldByte append_lock(shared_ ? &file : nullptr, kLockBase);
    // The count is read under the append lock, and the record and the end marker are
    // on the disk before the header counts them: a reader never sees a counted record
    // that is not there, and two appenders never take the same number. A table
    // counts its records in 32 bits: one more than the last would count none, so a
    // full table is refused as a full disk is.
    if (RecCount() == std::numeric_limits<std::uint32_t>::max()) {
        FailTableWrite(path_, errors::kOsDiskFull);
    }
    const std::uint32_t number = RecCount() + 1;
    std::string record = BlankRecord(header_);
    std::string bytes = record + static_cast<char>(kFileEnd);
    WriteAll(file, header_.RecordOffset(number), Bytes(bytes), path_);
    WriteAll(file, kRecordCountOffset, EncodeCount(number), path_);
    WriteAll(file, kUpdateDateOffset, EncodeUpdateDate(Today()), path_);
    count_ = number;
    recno_ = number;
    record_ = std::move(record);
    eof_ = bof_ = false;
    return true;
}

std::string DbfTable::Info(int item) const {
    const auto found = info_.find(item);
    return found == info_.end() ? std::string() : found->second;
}

void DbfTable::SetInfo(int item, std::string value) {
    info_[item] = std::move(value);
}

}  // namespace kestrel::common
