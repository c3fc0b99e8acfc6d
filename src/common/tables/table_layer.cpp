// The table layer over the platform's table files. Every operation reads what it
// needs from the files at the moment it needs it (see table_layer.h on freshness):
// a process keeps nothing of a table in memory but its header's field list, the
// record it stands on and the changes it has not yet written back.
#include "common/tables/table_layer.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <limits>
#include <ctime>
#include <thread>
#include <utility>

#include "base/ascii_case.h"
#include "common/tables/backoff.h"
#include "common/library_state.h"
#include "common/tables/table_pack.h"
#include "errors/raise.h"

namespace kestrel::common {

namespace {

// The layer's own error numbers (SUBCODE) and the general classes (GENCODE) they
// belong to.
constexpr int kSubOpen = 1001;
constexpr int kSubCreate = 1004;
constexpr int kSubRead = 1010;
constexpr int kSubWrite = 1011;
constexpr int kSubAppendLock = 1024;
constexpr int kSubStructure = 1025;
constexpr int kSubProductionIndex = 1026;
constexpr int kSubAliasInUse = 1027;
constexpr int kSubUnlocked = 1028;
constexpr int kSubTooWide = 1029;
constexpr int kSubImpossibleDate = 1030;

constexpr int kGenCreate = 20;
constexpr int kGenRead = 23;
constexpr int kGenWrite = 24;

errors::ErrorRecord TableError(int gen_code, int sub_code, int os_code, std::string_view file,
                               std::string_view description) {
    errors::ErrorRecord record;
    record.SUBSYSTEM = std::string(kTableDriver);
    record.SUBCODE = sub_code;
    record.GENCODE = gen_code;
    record.OSCODE = os_code;
    record.DESCRIPTION = std::string(description);
    record.FILENAME = std::string(file);
    return record;
}

// Raises an error that the program cannot go on from: when the error callback
// answers at all, the operation is abandoned anyway, so nothing goes on over a
// table in an unknown state.
[[noreturn]] void Fail(const errors::ErrorRecord& record) {
    errors::RaiseError(record);
    throw errors::Abandon{record};
}

// Raises an error that may fail softly; true when it did.
bool FailSoftly(errors::ErrorRecord record) {
    record.CANDEFAULT = true;
    return errors::RaiseError(record).fail_softly;
}

[[noreturn]] void FailCorrupt(std::string_view file) {
    Fail(TableError(errors::kGenCorruption, errors::kSubCorruption, 0, file, "File danneggiato"));
}

[[noreturn]] void FailWrite(std::string_view file, int os_code) {
    const int sub = os_code == errors::kOsDiskFull ? errors::kSubDiskFull : kSubWrite;
    Fail(TableError(kGenWrite, sub, os_code, file, "Errore di scrittura"));
}

[[noreturn]] void FailCreate(std::string_view file, int os_code) {
    Fail(TableError(kGenCreate, kSubCreate, os_code, file, "Errore di creazione"));
}

std::size_t NameStart(std::string_view path) {
    const std::size_t separator = path.find_last_of("\\/:");
    return separator == std::string_view::npos ? 0 : separator + 1;
}

// Where a path's last extension starts (its last "." within the name part), or the
// path's end when the name has none: "CLI.OLD.DBF" is the name "CLI.OLD" with the
// extension ".DBF".
std::size_t ExtensionStart(std::string_view path) {
    const std::size_t start = NameStart(path);
    const std::size_t dot = path.rfind('.');
    return dot == std::string_view::npos || dot < start ? path.size() : dot;
}

// The name part of a path without its last extension.
std::string Stem(std::string_view path) {
    return std::string(path.substr(NameStart(path), ExtensionStart(path) - NameStart(path)));
}

Date Today() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) {
        return {};
    }
    return {local->tm_year + 1900, local->tm_mon + 1, local->tm_mday};
}

std::span<const unsigned char> Bytes(std::string_view text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

void WriteAll(TableFile& file, std::uint64_t offset, std::span<const unsigned char> bytes,
              std::string_view path) {
    if (const int os = file.Write(offset, bytes); os != 0) {
        FailWrite(path, os);
    }
}

// Reads exactly `size` bytes, or fails the table as corrupt (a file shorter than
// its header says).
std::vector<unsigned char> ReadExactly(TableFile& file, std::uint64_t offset, std::size_t size,
                                       std::string_view path) {
    std::vector<unsigned char> bytes(size);
    std::size_t count = 0;
    if (const int os = file.Read(offset, bytes, count); os != 0) {
        Fail(TableError(kGenRead, kSubRead, os, path, "Errore di lettura"));
    }
    if (count != size) {
        FailCorrupt(path);
    }
    return bytes;
}

}  // namespace

void FailTableCreate(const std::string& path, int os_error) {
    FailCreate(path, os_error);
}

void FailTableWrite(const std::string& path, int os_error) {
    FailWrite(path, os_error);
}

std::string TableFileName(std::string_view name) {
    std::string path(name);
    const std::size_t start = NameStart(path);
    if (Library().tables.file_case == "UPPER") {
        path = path.substr(0, start) + base::UpperAscii(path.substr(start));
    }
    const std::size_t dot = path.find('.', start);
    if (dot == std::string::npos) {
        path += ".DBF";
    } else if (dot + 1 == path.size()) {
        path.pop_back();  // "NET." is the file NET
    }
    return path;
}

std::string MemoFileName(std::string_view table_file) {
    return std::string(table_file.substr(0, ExtensionStart(table_file))) +
           Library().tables.memo_extension;
}

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
    return Library().tables.deleted_hidden && !record.empty() && record[0] == kRecordDeleted;
}

}  // namespace

// --- Reading and writing ------------------------------------------------------------

std::uint32_t DbfTable::RecCount() {
    TableFile& file = *files_->table;
    const std::vector<unsigned char> bytes = ReadExactly(file, kRecordCountOffset, 4, path_);
    std::uint32_t count = DecodeCount(bytes);
    // Never trust a count beyond what the file holds (a damaged header).
    std::uint64_t size = 0;
    if (file.Size(size) == 0 && size >= header_.header_size) {
        const std::uint64_t held = (size - header_.header_size) / header_.record_size;
        count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, held));
    }
    count_ = count;
    return count;
}

namespace {

std::string ReadRecordBytes(TableFile& file, const DbfHeader& header, std::uint32_t number,
                            std::string_view path) {
    const std::vector<unsigned char> bytes =
        ReadExactly(file, header.RecordOffset(number), header.record_size, path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

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
    Fail(TableError(1001 /* report and abandon */, kSubUnlocked, 0, table.Path(),
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
    std::uint64_t size = 0;
    if (!length || memo.Size(size) != 0 || at + kMemoBlockHeaderSize + *length > size) {
        FailCorrupt(files_->memo_path);
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
            Fail(TableError(errors::kGenDataWidth, kSubTooWide, 0, path_,
                            "Numero troppo ampio per il campo " + field->name + " (N " +
                                std::to_string(field->length) + "," +
                                std::to_string(field->decimals) + ")"));
        case FieldFit::kImpossibleDate:
            Fail(TableError(errors::kGenDataType, kSubImpossibleDate, 0, path_,
                            "Data impossibile per il campo " + field->name));
    }
    record_.replace(field->offset, field->length, encoded.bytes);
    dirty_ = true;
    return true;
}

namespace {

// A one-byte lock taken (or none, given no file), released when this goes out of
// scope, a failure included.
class HeldByte {
  public:
    HeldByte(TableFile* file, std::uint64_t offset) : file_(file), offset_(offset) {}
    HeldByte(const HeldByte&) = delete;
    HeldByte& operator=(const HeldByte&) = delete;
    ~HeldByte() {
        if (file_ != nullptr) {
            file_->Unlock(offset_, 1);
        }
    }

  private:
    TableFile* file_;
    std::uint64_t offset_;
};

// Takes a lock that another process holds only while it writes one memo: tried
// again, paced, for as long as that takes (a process that ends lets go of it).
void TakeShortLock(TableFile& file, std::uint64_t offset, const TablePause& pause) {
    Backoff backoff;
    while (!file.TryLock(offset, 1)) {
        pause(backoff.Next());
    }
}

// The free-block pointer after a memo of `length` bytes stored at `next_free`. A
// memo file counts its blocks in 32 bits: one that would pass the last block is
// full, as a full disk is, and the pointer never wraps onto the file's first
// blocks.
std::uint32_t PastMemo(std::uint32_t next_free, std::size_t length, std::uint32_t block_size,
                       std::string_view path) {
    const std::uint64_t past = std::uint64_t{next_free} + MemoBlocks(length, block_size);
    if (past > std::numeric_limits<std::uint32_t>::max()) {
        FailWrite(path, errors::kOsDiskFull);
    }
    return static_cast<std::uint32_t>(past);
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
        FailCorrupt(path);
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
        files_->table->Flush();
        if (files_->memo) {
            files_->memo->Flush();
        }
    }
}

namespace {

struct NewFiles {
    std::unique_ptr<TableFile> table;
    std::unique_ptr<TableFile> memo;
};

// Creates the files of a table with that header; nothing (and no file touched) when
// the table exists and may not be replaced.
std::optional<NewFiles> CreateFiles(const std::string& path, const DbfHeader& header,
                                    bool replace) {
    OpenedFile table = CreateTableFile(path, replace);
    if (!table.file) {
        if (!replace && table.os_error == errors::kOsFileExists) {
            return std::nullopt;
        }
        FailCreate(path, table.os_error);
    }
    std::vector<unsigned char> bytes = EncodeHeader(header);
    bytes.push_back(kFileEnd);
    WriteAll(*table.file, 0, bytes, path);
    NewFiles files{std::move(table.file), nullptr};
    if (header.HasMemo()) {
        const std::string memo_path = MemoFileName(path);
        OpenedFile memo = CreateTableFile(memo_path, true);
        if (!memo.file) {
            FailCreate(memo_path, memo.os_error);
        }
        WriteAll(*memo.file, 0, EncodeMemoHeader(MemoHeader{}), memo_path);
        files.memo = std::move(memo.file);
    }
    return files;
}

}  // namespace

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
        Fail(TableError(kGenWrite, kSubWrite, errors::kOsAccessDenied, path_,
                        "Tabella in sola lettura"));
    }
    if (shared_ && !file.TryLock(kLockBase, 1)) {
        FailSoftly(TableError(errors::kGenAppendLock, kSubAppendLock, errors::kOsLockViolation,
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
        FailWrite(path_, errors::kOsDiskFull);
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

namespace {

// A new file at `path` for a copy, replacing one of that name.
std::unique_ptr<TableFile> CreateCopyFile(const std::string& path) {
    OpenedFile created = CreateTableFile(path, true);
    if (!created.file) {
        FailTableCreate(path, created.os_error);
    }
    return std::move(created.file);
}

// The bytes of an M field of `width` naming `block`: four binary bytes, little-endian,
// in a four-byte field (Visual FoxPro's), else the block number as text.
std::string MemoFieldOfWidth(std::uint32_t block, std::size_t width) {
    constexpr std::size_t kBinaryWidth = 4;
    if (width == kBinaryWidth) {
        std::string bytes(kBinaryWidth, '\0');
        for (std::size_t i = 0; i < kBinaryWidth; ++i) {
            bytes[i] = static_cast<char>((block >> (8 * i)) & 0xFFu);
        }
        return bytes;
    }
    std::string bytes = MemoFieldFor(block);
    if (bytes.size() > width) {
        return bytes.substr(bytes.size() - width);
    }
    return std::string(width - bytes.size(), ' ') + bytes;
}

}  // namespace

void DbfTable::CopyTo(const std::string& table_path, const std::string& memo_path) {
    WriteRecord();
    // The copy starts from this table's own header bytes (version, flags, code-page
    // mark, field descriptors and whatever else its maker kept there), with the
    // count and the date made new.
    std::vector<unsigned char> header = ReadExactly(*files_->table, 0, header_.header_size, path_);
    std::unique_ptr<TableFile> table = CreateCopyFile(table_path);
    std::unique_ptr<TableFile> memo;
    MemoHeader memo_header;
    if (files_->memo) {
        // The memo file keeps its block size and its header's other bytes.
        memo_header.block_size = files_->memo_header.block_size;
        memo_header.next_free = static_cast<std::uint32_t>(
            (kMemoHeaderSize + memo_header.block_size - 1) / memo_header.block_size);
        memo = CreateCopyFile(memo_path);
    }
    std::uint32_t copied = 0;
    const std::uint32_t count = RecCount();
    for (std::uint32_t n = 1; n <= count; ++n) {
        std::string record = ReadRecordBytes(*files_->table, header_, n, path_);
        if (record[0] == kRecordDeleted) {
            continue;
        }
        for (const DbfField& field : header_.fields) {
            if (field.type != 'M') {
                continue;
            }
            const std::string text = MemoText(record.substr(field.offset, field.length));
            const std::uint32_t block = text.empty() || !memo ? 0 : memo_header.next_free;
            record.replace(field.offset, field.length, MemoFieldOfWidth(block, field.length));
            if (block != 0) {
                const std::uint64_t at = static_cast<std::uint64_t>(block) * memo_header.block_size;
                WriteAll(*memo, at, EncodeMemo(text, memo_header.block_size), memo_path);
                memo_header.next_free =
                    PastMemo(memo_header.next_free, text.size(), memo_header.block_size, memo_path);
            }
        }
        ++copied;
        WriteAll(*table, header_.RecordOffset(copied), Bytes(record), table_path);
    }
    const std::string end(1, static_cast<char>(kFileEnd));
    WriteAll(*table, header_.RecordOffset(copied + 1), Bytes(end), table_path);
    const std::vector<unsigned char> count_bytes = EncodeCount(copied);
    const std::vector<unsigned char> date_bytes = EncodeUpdateDate(Today());
    std::copy(count_bytes.begin(), count_bytes.end(), header.begin() + kRecordCountOffset);
    std::copy(date_bytes.begin(), date_bytes.end(), header.begin() + kUpdateDateOffset);
    WriteAll(*table, 0, header, table_path);
    if (memo) {
        std::vector<unsigned char> memo_bytes =
            ReadExactly(*files_->memo, 0, kMemoHeaderSize, files_->memo_path);
        const std::vector<unsigned char> next = EncodeMemoHeader(memo_header);
        std::copy(next.begin(), next.begin() + 4, memo_bytes.begin());  // the next free block
        WriteAll(*memo, 0, memo_bytes, memo_path);
        if (const int os = memo->Flush(); os != 0) {
            FailWrite(memo_path, os);
        }
    }
    if (const int os = table->Flush(); os != 0) {
        FailWrite(table_path, os);
    }
}

std::string DbfTable::Info(int item) const {
    const auto found = info_.find(item);
    return found == info_.end() ? std::string() : found->second;
}

void DbfTable::SetInfo(int item, std::string value) {
    info_[item] = std::move(value);
}

// --- Opening and creating -------------------------------------------------------------

namespace {

DbfHeader ReadHeader(TableFile& file, const std::string& path) {
    std::vector<unsigned char> prefix(kTablePrefixSize);
    std::size_t count = 0;
    if (const int os = file.Read(0, prefix, count); os != 0) {
        Fail(TableError(kGenRead, kSubRead, os, path, "Errore di lettura"));
    }
    const std::optional<std::size_t> size =
        count == prefix.size() ? HeaderSizeOf(prefix) : std::nullopt;
    if (!size) {
        FailCorrupt(path);
    }
    std::optional<DbfHeader> header = ParseHeader(ReadExactly(file, 0, *size, path));
    if (!header) {
        FailCorrupt(path);
    }
    return *std::move(header);
}

}  // namespace

bool WorkAreas::Create(std::string_view name, const std::vector<FieldSpec>& structure,
                       bool replace) {
    const std::string path = TableFileName(name);
    const std::optional<DbfHeader> header = HeaderFor(structure, Today());
    if (!header) {
        Fail(TableError(1001 /* report and abandon */, kSubStructure, 0, path,
                        "Struttura non valida"));
    }
    return CreateFiles(path, *header, replace).has_value();
}

WorkAreas::WorkAreas(TableFileOpener opener)
    : pause_([](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }),
      open_(std::move(opener)) {}
WorkAreas::~WorkAreas() = default;

namespace {

// Opens a table file once no pack of it is under way or left over: a leftover is
// settled first (table_pack.h), and a pack under way elsewhere answers a sharing
// violation, as an exclusive holder would. The marker is looked for after the
// table is open, so an open that succeeds cannot have slipped in between a pack's
// last use of the table and its replace.
OpenedFile OpenUnpackedTable(const TableFileOpener& open, const std::string& path,
                             FileAccess access, FileShare share) {
    for (;;) {
        OpenedFile opened = open(path, access, share);
        if (!opened.file || !TableFileExists(PackFilesFor(path).marker)) {
            return opened;
        }
        opened.file.reset();  // settling needs the table free
        int os_error = 0;
        switch (SettlePackLeftover(path, os_error)) {
            case PackLeftover::kUnderWay:
                return {nullptr, errors::kOsSharingViolation};
            case PackLeftover::kNone:
                if (os_error != 0) {
                    return {nullptr, os_error};
                }
                break;
            case PackLeftover::kSettled:
                break;
        }
    }
}

int LowestFreeArea(const std::map<int, std::unique_ptr<DbfTable>>& areas) {
    for (int area = 1; area <= kLastArea; ++area) {
        if (area != kSemaphoreArea && !areas.contains(area)) {
            return area;
        }
    }
    return 0;
}

}  // namespace

bool WorkAreas::Use(bool new_area, std::string_view driver, std::string_view name,
                    std::optional<std::string_view> alias, bool shared, bool read_only) {
    (void)driver;  // one driver: DBF tables with memo files
    Library().tables.NETERR = false;
    if (new_area) {
        current_ = LowestFreeArea(areas_);
    }
    Close();
    const std::string path = TableFileName(name);
    const std::string chosen_alias = base::UpperAscii(alias ? *alias : Stem(path));
    if (AreaOf(chosen_alias) != 0) {
        Fail(TableError(1001 /* report and abandon */, kSubAliasInUse, 0, chosen_alias,
                        "Alias gi\xE0 in uso"));
    }
    const FileAccess access = read_only ? FileAccess::kReadOnly : FileAccess::kReadWrite;
    const FileShare share = shared ? FileShare::kShared : FileShare::kExclusive;
    OpenedFile table_file = OpenUnpackedTable(open_, path, access, share);
    if (!table_file.file) {
        FailSoftly(TableError(errors::kGenOpen, kSubOpen, table_file.os_error, path,
                              "Errore di apertura"));
        return false;
    }
    auto table = std::unique_ptr<DbfTable>(new DbfTable());
    table->header_ = ReadHeader(*table_file.file, path);
    if (table->header_.HasProductionIndex() && !read_only) {
        // The layer keeps no index: changing such a table would leave its index stale.
        Fail(TableError(1001 /* report and abandon */, kSubProductionIndex, 0, path,
                        "Tabella con indice (.CDX): si apre solo in lettura"));
    }
    table->files_ = std::make_unique<DbfTable::Files>();
    table->files_->pause = pause_;
    table->files_->table = std::move(table_file.file);
    if (table->header_.HasMemo()) {
        const std::string memo_path = MemoFileName(path);
        OpenedFile memo = open_(memo_path, access, share);
        if (!memo.file) {
            FailSoftly(TableError(errors::kGenOpen, kSubOpen, memo.os_error, memo_path,
                                  "Errore di apertura"));
            return false;
        }
        const std::optional<MemoHeader> memo_header =
            ParseMemoHeader(ReadExactly(*memo.file, 0, kMemoHeaderSize, memo_path));
        if (!memo_header) {
            FailCorrupt(memo_path);
        }
        table->files_->memo = std::move(memo.file);
        table->files_->memo_path = memo_path;
        table->files_->memo_header = *memo_header;
    }
    table->path_ = path;
    table->alias_ = chosen_alias;
    table->shared_ = shared;
    table->read_only_ = read_only;
    table->GoTop();
    areas_[current_] = std::move(table);
    return true;
}

void WorkAreas::Select(int area) {
    if (area == 0) {
        area = LowestFreeArea(areas_);
    }
    if (area >= 1 && area <= kLastArea) {
        current_ = area;
    }
}

bool WorkAreas::Select(std::string_view alias) {
    const int area = AreaOf(alias);
    if (area == 0) {
        return false;
    }
    current_ = area;
    return true;
}

int WorkAreas::AreaOf(std::string_view alias) const {
    const std::string wanted = base::UpperAscii(alias);
    for (const auto& [area, table] : areas_) {
        if (table->Alias() == wanted) {
            return area;
        }
    }
    return 0;
}

DbfTable* WorkAreas::Table() {
    const auto found = areas_.find(current_);
    return found == areas_.end() ? nullptr : found->second.get();
}

bool WorkAreas::Used() const {
    return areas_.contains(current_);
}

void WorkAreas::Close() {
    const auto found = areas_.find(current_);
    if (found == areas_.end()) {
        return;
    }
    std::unique_ptr<DbfTable> table = std::move(found->second);
    areas_.erase(found);
    table->Commit();  // may fail; the table is closed either way
}

void WorkAreas::CloseAll() {
    while (!areas_.empty()) {
        current_ = areas_.begin()->first;
        try {
            Close();
        } catch (const errors::Abandon&) {
            // One table that cannot be written back does not keep the others open.
        }
    }
    current_ = 1;
}

void WorkAreas::SetPause(TablePause pause) {
    pause_ = std::move(pause);
}

bool WorkAreas::Append() {
    Library().tables.NETERR = false;
    DbfTable* table = Table();
    return table != nullptr && table->Append();
}

WorkAreas& Areas() {
    LibraryState& library = Library();
    if (!library.work_areas) {
        library.work_areas.reset(new WorkAreas());
    }
    return *library.work_areas;
}

void WorkAreasDeleter::operator()(WorkAreas* areas) const {
    delete areas;
}

}  // namespace kestrel::common
