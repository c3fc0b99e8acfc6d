#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/calendar_date.h"

namespace kestrel::common {

// The bytes of a table on disk: a DBF table of the FoxPro family and its memo file
// in the FoxPro block layout. Pure functions over byte strings; the table layer
// (table_layer.h) does the reading, writing and locking.
//
// Table file:
//   0      version: F5h when the table has memo fields, 03h otherwise
//   1..3   date of the last update: year - 1900, month, day
//   4..7   number of records, little-endian
//   8..9   header size (up to and including the 0Dh after the field list), little-endian
//   10..11 record size (the deletion flag and every field), little-endian
//   28     table flags: 01h a production index (.CDX) belongs to the table
//   29     code-page mark: 03h Windows ANSI (1252)
//   32...  32 bytes per field: name (11 bytes, NUL-padded), type, offset of the field
//          in the record (little-endian, 4 bytes), length, decimals; then 0Dh
//   then   the records, each a deletion flag (20h kept, 2Ah deleted) and the fields;
//          then 1Ah, the end marker.
// Fields: C text padded with blanks; N a number right-aligned in blanks; D a date as
// yyyymmdd (eight blanks: the empty date); L "T" or "F" (blank or "?": not set,
// false); M the number of the memo's first block, right-aligned in ten blanks (all
// blank: no memo).
//
// Memo file (".DBT" here, the layout FoxPro keeps in ".FPT"):
//   0..3   the next free block, big-endian
//   6..7   the block size in bytes, big-endian (64 for new files)
//   the header fills the first 512 bytes; block n starts at n x block size.
//   A memo: 4 bytes type (1 = text), 4 bytes length, both big-endian, then the text,
//   taking as many whole blocks as it needs.

inline constexpr unsigned char kVersionPlain = 0x03;
inline constexpr unsigned char kVersionWithMemo = 0xF5;
inline constexpr unsigned char kCodePage1252 = 0x03;
inline constexpr unsigned char kFlagProductionIndex = 0x01;
inline constexpr unsigned char kHeaderEnd = 0x0D;
inline constexpr unsigned char kFileEnd = 0x1A;
inline constexpr char kRecordKept = ' ';
inline constexpr char kRecordDeleted = '*';

inline constexpr std::size_t kTablePrefixSize = 32;   // before the field list
inline constexpr std::size_t kRecordCountOffset = 4;  // 4 bytes, little-endian
inline constexpr std::size_t kUpdateDateOffset = 1;   // 3 bytes
inline constexpr std::size_t kMemoHeaderSize = 512;
inline constexpr std::uint32_t kMemoBlockSize = 64;
inline constexpr std::size_t kMemoBlockHeaderSize = 8;

// One row of a table structure, as DBGEN and DBCREATE take it.
struct FieldSpec {
    std::string name;  // up to 10 characters
    char type = 'C';   // C, N, D, L or M
    int length = 0;    // D is always 8, L 1, M 10
    int decimals = 0;  // N only
};

// A field as the table's header describes it.
struct DbfField {
    std::string name;  // upper case
    char type = 'C';
    std::size_t offset = 0;  // from the start of the record (the deletion flag is at 0)
    std::size_t length = 0;
    int decimals = 0;
};

struct DbfHeader {
    unsigned char version = kVersionPlain;
    Date last_update;
    std::uint32_t record_count = 0;
    std::size_t header_size = 0;
    std::size_t record_size = 0;
    unsigned char flags = 0;
    unsigned char code_page = kCodePage1252;
    std::vector<DbfField> fields;

    bool HasMemo() const;
    bool HasProductionIndex() const { return (flags & kFlagProductionIndex) != 0; }
    // The field of that name (case does not matter), or nothing.
    const DbfField* Field(std::string_view name) const;
    // Where record `number` (from 1) starts in the file.
    std::uint64_t RecordOffset(std::uint32_t number) const {
        return header_size + static_cast<std::uint64_t>(number - 1) * record_size;
    }
};

// The fixed 32-byte start of a table file: answers the header's size so the caller
// can read the rest, or nothing when the bytes are no table of this family.
std::optional<std::size_t> HeaderSizeOf(std::span<const unsigned char> prefix);

// Reads a whole header (prefix and field list, header_size bytes). Nothing when it
// is inconsistent: a field list not ended by 0Dh, fields that overlap or overrun the
// record size, an unknown field type, a record size of zero.
std::optional<DbfHeader> ParseHeader(std::span<const unsigned char> bytes);

// A header for a new table of that structure, dated `today`, with no records;
// nothing when the structure is not valid (no fields, a name empty, longer than 10
// or given twice, a type not C/N/D/L/M, a length out of its type's range, a record
// longer than 65535 bytes).
std::optional<DbfHeader> HeaderFor(const std::vector<FieldSpec>& structure, const Date& today);

// The header's bytes, header_size of them.
std::vector<unsigned char> EncodeHeader(const DbfHeader& header);

// The 4 little-endian bytes of a record count, and back.
std::vector<unsigned char> EncodeCount(std::uint32_t count);
std::uint32_t DecodeCount(std::span<const unsigned char> bytes);
// The 3 bytes of a last-update date.
std::vector<unsigned char> EncodeUpdateDate(const Date& date);

// A field's value: C and M text, N number, D date, L logical.
using FieldValue = std::variant<std::string, double, Date, bool>;

// A blank record (deletion flag kept, every field blank), record_size bytes.
std::string BlankRecord(const DbfHeader& header);

// A field's value from its bytes in a record. M fields are not read here (their
// bytes are a block number: MemoBlockOf).
FieldValue DecodeField(const DbfField& field, std::string_view raw);

// Whether a value can be stored in a field, and if not, why.
enum class FieldFit {
    kFits,
    kWrongType,       // the value's type is not the field's (or the field is M)
    kTooWide,         // a number that needs more places than the field has
    kImpossibleDate,  // a date that is neither the empty date nor a calendar date
};

struct EncodedField {
    FieldFit fit = FieldFit::kFits;
    std::string bytes;  // exactly field.length of them when the value fits, else none
};

// The field's bytes for a value: text cut or padded with blanks; a number rounded
// half away from zero to the decimals (as its shortest decimal text reads: 0.125
// gives 0.13, 2.5 gives 3) and right-aligned; a date as yyyymmdd (the empty date
// blank); a logical as "T"/"F". A value that does not fit is refused, never stored
// in another form.
EncodedField EncodeField(const DbfField& field, const FieldValue& value);

// The memo block that an M field's bytes name, or nothing for no memo.
std::optional<std::uint32_t> MemoBlockOf(std::string_view raw);
// An M field's bytes naming `block` (0: no memo, ten blanks).
std::string MemoFieldFor(std::uint32_t block);

struct MemoHeader {
    std::uint32_t next_free = kMemoHeaderSize / kMemoBlockSize;
    std::uint32_t block_size = kMemoBlockSize;
};

// The memo file's header, or nothing when the block size is zero.
std::optional<MemoHeader> ParseMemoHeader(std::span<const unsigned char> bytes);
// The header's 512 bytes.
std::vector<unsigned char> EncodeMemoHeader(const MemoHeader& header);
// A memo as stored: block header and text, padded with zeros to whole blocks.
std::vector<unsigned char> EncodeMemo(std::string_view text, std::uint32_t block_size);
// How many blocks a memo of that length takes.
std::uint32_t MemoBlocks(std::size_t length, std::uint32_t block_size);
// The text length a memo's 8-byte block header gives, or nothing when it is no
// text memo.
std::optional<std::uint32_t> MemoLengthOf(std::span<const unsigned char> block_header);

}  // namespace kestrel::common
