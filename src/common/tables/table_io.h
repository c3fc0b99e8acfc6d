#pragma once

// What the table layer's files share (table_records.cpp, table_copy.cpp,
// work_areas.cpp, table_pack.cpp): its error records and the reads and writes that
// turn a platform failure into one. The platform's files answer failures by a result
// value (table_file.h); from here up the layer reports every failure as an error
// record to the error callback, and nothing above it looks at a result code.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/calendar_date.h"
#include "common/tables/dbf_format.h"
#include "common/tables/table_file.h"
#include "errors/error_record.h"

namespace kestrel::common {

// The layer's own error numbers (SUBCODE).
inline constexpr int kSubOpen = 1001;
inline constexpr int kSubCreate = 1004;
inline constexpr int kSubRead = 1010;
inline constexpr int kSubWrite = 1011;
inline constexpr int kSubAppendLock = 1024;
inline constexpr int kSubStructure = 1025;
inline constexpr int kSubProductionIndex = 1026;
inline constexpr int kSubAliasInUse = 1027;
inline constexpr int kSubUnlocked = 1028;
inline constexpr int kSubTooWide = 1029;
inline constexpr int kSubImpossibleDate = 1030;

// The general classes (GENCODE) of the layer's failures that errors/error_record.h
// does not name: the error handler treats them alike.
inline constexpr int kGenCreate = 20;
inline constexpr int kGenRead = 23;
inline constexpr int kGenWrite = 24;

// An error record of the layer (SUBSYSTEM kTableDriver).
errors::ErrorRecord TableError(int gen_code, int sub_code, int os_code, std::string_view file,
                               std::string_view description);

// Raises an error that the program cannot go on from: when the error callback
// answers at all, the operation is abandoned anyway, so nothing goes on over a
// table in an unknown state.
[[noreturn]] void FailTable(const errors::ErrorRecord& record);

// Raises an error that may fail softly; true when it did.
bool FailTableSoftly(errors::ErrorRecord record);

[[noreturn]] void FailTableCorrupt(std::string_view file);
[[noreturn]] void FailTableRead(std::string_view file, int os_code);
// A full disk (kOsDiskFull) is raised with the subcode the error handler knows it by.
[[noreturn]] void FailTableWrite(std::string_view file, int os_code);
[[noreturn]] void FailTableCreate(std::string_view file, int os_code);

// The local date, the empty date when the clock cannot be read.
Date Today();

inline std::span<const unsigned char> Bytes(std::string_view text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

void WriteAll(TableFile& file, std::uint64_t offset, std::span<const unsigned char> bytes,
              std::string_view path);

// Reads exactly `size` bytes, or fails the table as corrupt (a file shorter than
// its header says).
std::vector<unsigned char> ReadExactly(TableFile& file, std::uint64_t offset, std::size_t size,
                                       std::string_view path);

// Record `number`'s bytes.
std::string ReadRecordBytes(TableFile& file, const DbfHeader& header, std::uint32_t number,
                            std::string_view path);

// The file's size in bytes.
std::uint64_t SizeOf(TableFile& file, std::string_view path);

// Puts what was written to the file on the disk.
void FlushAll(TableFile& file, std::string_view path);

// The free-block pointer after a memo of `length` bytes stored at `next_free`. A
// memo file counts its blocks in 32 bits: one that would pass the last block is
// full, as a full disk is, and the pointer never wraps onto the file's first
// blocks.
std::uint32_t PastMemo(std::uint32_t next_free, std::size_t length, std::uint32_t block_size,
                       std::string_view path);

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

}  // namespace kestrel::common
