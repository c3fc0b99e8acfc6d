// The bytes of DBF tables and FoxPro-layout memo blocks (dbf_format.h).
//
// Everything here is a pure function over byte strings, so it is the one place that
// reads bytes another program wrote: every read checks its bounds first, and bytes
// that make no sense give nothing (or an empty value), never an exception. Headers are
// read leniently where other programs of the family differ (the version byte, the
// memo and index flags, Visual FoxPro's backlink after the field list, field offsets
// left at zero) and strictly where a wrong guess would misplace data (the field list's
// end, the field types, a record too short for its fields). Numbers go through
// std::to_chars and std::from_chars, which ignore the C locale, so a decimal comma set
// elsewhere in the process never leaks into a table.
#include "common/tables/dbf_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "base/ascii_case.h"
#include "common/calendar_date.h"
#include "common/tables/dbf_text.h"

namespace kestrel::common {

namespace {

using namespace dbf_text;  // the field bytes' text rules

constexpr std::size_t kFieldDescriptorSize = 32;
constexpr std::size_t kFieldNameBytes = 11;
constexpr std::size_t kMaxFieldName = 10;
constexpr std::size_t kMaxRecordSize = 0xFFFF;
constexpr std::size_t kHeaderSizeOffset = 8;
constexpr std::size_t kRecordSizeOffset = 10;
constexpr std::size_t kFlagsOffset = 28;
constexpr std::size_t kCodePageOffset = 29;
constexpr int kFirstUpdateYear = 1900;
constexpr std::uint32_t kMemoTypeText = 1;
constexpr std::size_t kMemoFieldWidth = 10;
constexpr std::size_t kBinaryMemoFieldWidth = 4;  // Visual FoxPro

// Where a field's bytes sit in its 32-byte descriptor.
constexpr std::size_t kDescriptorType = 11;
constexpr std::size_t kDescriptorOffset = 12;
constexpr std::size_t kDescriptorLength = 16;
constexpr std::size_t kDescriptorDecimals = 17;

// --- Bytes -----------------------------------------------------------------------

std::uint32_t LittleEndian(std::span<const unsigned char> bytes, std::size_t at,
                           std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = count; i > 0; --i) {
        value = (value << 8) | bytes[at + i - 1];
    }
    return value;
}

std::uint32_t BigEndian(std::span<const unsigned char> bytes, std::size_t at, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value = (value << 8) | bytes[at + i];
    }
    return value;
}

void PutLittleEndian(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value,
                     std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

void PutBigEndian(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value,
                  std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * (count - 1 - i)));
    }
}

// --- Text ------------------------------------------------------------------------

bool IsNameCharacter(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// An unsigned decimal number, all digits, that fits 32 bits.
std::optional<std::uint32_t> DecimalNumber(std::string_view digits) {
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsDigit)) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

// --- Field rules -----------------------------------------------------------------

bool IsKnownType(char type) {
    return type == 'C' || type == 'N' || type == 'D' || type == 'L' || type == 'M';
}

bool IsValidName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxFieldName &&
           std::all_of(name.begin(), name.end(), IsNameCharacter);
}

bool IsValidSize(char type, int length, int decimals) {
    switch (type) {
        case 'C':
            return length >= 1 && length <= 254;
        case 'N':
            return length >= 1 && length <= 20 && decimals >= 0 && decimals <= 15 &&
                   (decimals == 0 || decimals <= length - 2);
        case 'D':
            return length == 8;
        case 'L':
            return length == 1;
        case 'M':
            return length == static_cast<int>(kMemoFieldWidth);
        default:
            return false;
    }
}

// Lays the fields out one after the other behind the deletion flag; answers the
// record size they need.
std::size_t PlaceFields(std::vector<DbfField>& fields) {
    std::size_t offset = 1;
    for (DbfField& field : fields) {
        field.offset = offset;
        offset += field.length;
    }
    return offset;
}

// --- Header parts ----------------------------------------------------------------

Date UpdateDateOf(std::span<const unsigned char> prefix) {
    return CheckedDate(Date{kFirstUpdateYear + prefix[kUpdateDateOffset],
                            prefix[kUpdateDateOffset + 1], prefix[kUpdateDateOffset + 2]});
}

// The field described at `at` (32 bytes), with no offset yet; nothing when its name
// is empty, its type unknown or its length zero.
std::optional<DbfField> FieldAt(std::span<const unsigned char> bytes, std::size_t at) {
    const auto name_bytes = bytes.subspan(at, kFieldNameBytes);
    const auto name_end = std::find(name_bytes.begin(), name_bytes.end(), 0);
    DbfField field;
    field.name = base::UpperAscii(std::string(name_bytes.begin(), name_end));
    field.type = static_cast<char>(bytes[at + kDescriptorType]);
    field.length = bytes[at + kDescriptorLength];
    field.decimals = bytes[at + kDescriptorDecimals];
    if (field.name.empty() || !IsKnownType(field.type) || field.length == 0) {
        return std::nullopt;
    }
    return field;
}

// The fields up to the 0Dh that ends the list, which must come within the header.
std::optional<std::vector<DbfField>> FieldList(std::span<const unsigned char> bytes,
                                               std::size_t header_size) {
    std::vector<DbfField> fields;
    for (std::size_t at = kTablePrefixSize; at < header_size; at += kFieldDescriptorSize) {
        if (bytes[at] == kHeaderEnd) {
            return fields;
        }
        if (header_size - at < kFieldDescriptorSize) {
            return std::nullopt;
        }
        auto field = FieldAt(bytes, at);
        if (!field) {
            return std::nullopt;
        }
        fields.push_back(std::move(*field));
    }
    return std::nullopt;
}

void PutField(std::vector<unsigned char>& bytes, std::size_t at, const DbfField& field) {
    const std::string name = base::UpperAscii(field.name).substr(0, kMaxFieldName);
    std::copy(name.begin(), name.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    bytes[at + kDescriptorType] = static_cast<unsigned char>(field.type);
    PutLittleEndian(bytes, at + kDescriptorOffset, static_cast<std::uint32_t>(field.offset), 4);
    bytes[at + kDescriptorLength] = static_cast<unsigned char>(field.length);
    bytes[at + kDescriptorDecimals] = static_cast<unsigned char>(field.decimals);
}

}  // namespace

// --- The table header ------------------------------------------------------------

bool DbfHeader::HasMemo() const {
    return std::any_of(fields.begin(), fields.end(),
                       [](const DbfField& field) { return field.type == 'M'; });
}

const DbfField* DbfHeader::Field(std::string_view name) const {
    const std::string wanted = base::UpperAscii(name);
    for (const DbfField& field : fields) {
        if (base::UpperAscii(field.name) == wanted) {
            return &field;
        }
    }
    return nullptr;
}

std::optional<std::size_t> HeaderSizeOf(std::span<const unsigned char> prefix) {
    if (prefix.size() < kTablePrefixSize) {
        return std::nullopt;
    }
    const std::size_t header_size = LittleEndian(prefix, kHeaderSizeOffset, 2);
    const std::size_t record_size = LittleEndian(prefix, kRecordSizeOffset, 2);
    // At least one field and the 0Dh after it; a record of at least one byte of data.
    if (header_size < kTablePrefixSize + kFieldDescriptorSize + 1 || record_size < 2) {
        return std::nullopt;
    }
    return header_size;
}

std::optional<DbfHeader> ParseHeader(std::span<const unsigned char> bytes) {
    const auto header_size = HeaderSizeOf(bytes);
    if (!header_size || bytes.size() < *header_size) {
        return std::nullopt;
    }
    auto fields = FieldList(bytes, *header_size);
    if (!fields || fields->empty()) {
        return std::nullopt;
    }
    DbfHeader header;
    header.version = bytes[0];
    header.last_update = UpdateDateOf(bytes);
    header.record_count = LittleEndian(bytes, kRecordCountOffset, 4);
    header.header_size = *header_size;
    header.record_size = LittleEndian(bytes, kRecordSizeOffset, 2);
    header.flags = bytes[kFlagsOffset];
    header.code_page = bytes[kCodePageOffset];
    // The offsets the file gives are not trusted (dBASE leaves them zero): the fields
    // follow each other, and a record longer than they need keeps its tail unused.
    if (PlaceFields(*fields) > header.record_size) {
        return std::nullopt;
    }
    header.fields = std::move(*fields);
    return header;
}

std::optional<DbfHeader> HeaderFor(const std::vector<FieldSpec>& structure, const Date& today) {
    if (structure.empty()) {
        return std::nullopt;
    }
    DbfHeader header;
    for (const FieldSpec& spec : structure) {
        const char type = base::UpperAscii(spec.type);
        const std::string name = base::UpperAscii(spec.name);
        if (!IsValidName(name) || !IsValidSize(type, spec.length, spec.decimals) ||
            header.Field(name) != nullptr) {
            return std::nullopt;
        }
        DbfField field;
        field.name = name;
        field.type = type;
        field.length = static_cast<std::size_t>(spec.length);
        field.decimals = type == 'N' ? spec.decimals : 0;
        header.fields.push_back(std::move(field));
    }
    header.record_size = PlaceFields(header.fields);
    header.header_size = kTablePrefixSize + kFieldDescriptorSize * header.fields.size() + 1;
    if (header.record_size > kMaxRecordSize || header.header_size > kMaxRecordSize) {
        return std::nullopt;
    }
    header.version = header.HasMemo() ? kVersionWithMemo : kVersionPlain;
    header.last_update = CheckedDate(today);
    header.code_page = kCodePage1252;
    header.flags = 0;
    return header;
}

std::vector<unsigned char> EncodeHeader(const DbfHeader& header) {
    const std::size_t field_list_end =
        kTablePrefixSize + kFieldDescriptorSize * header.fields.size();
    // A header smaller than its own field list (no header this file makes) still
    // gets the whole list, so no field is lost.
    std::vector<unsigned char> bytes(std::max(header.header_size, field_list_end + 1), 0);
    bytes[0] = header.version;
    const auto date = EncodeUpdateDate(header.last_update);
    std::copy(date.begin(), date.end(), bytes.begin() + kUpdateDateOffset);
    PutLittleEndian(bytes, kRecordCountOffset, header.record_count, 4);
    PutLittleEndian(bytes, kHeaderSizeOffset, static_cast<std::uint32_t>(header.header_size), 2);
    PutLittleEndian(bytes, kRecordSizeOffset, static_cast<std::uint32_t>(header.record_size), 2);
    bytes[kFlagsOffset] = header.flags;
    bytes[kCodePageOffset] = header.code_page;
    for (std::size_t i = 0; i < header.fields.size(); ++i) {
        PutField(bytes, kTablePrefixSize + kFieldDescriptorSize * i, header.fields[i]);
    }
    bytes[field_list_end] = kHeaderEnd;
    return bytes;
}

std::vector<unsigned char> EncodeCount(std::uint32_t count) {
    std::vector<unsigned char> bytes(4);
    PutLittleEndian(bytes, 0, count, 4);
    return bytes;
}

std::uint32_t DecodeCount(std::span<const unsigned char> bytes) {
    return bytes.size() < 4 ? 0 : LittleEndian(bytes, 0, 4);
}

std::vector<unsigned char> EncodeUpdateDate(const Date& date) {
    const Date checked = CheckedDate(date);
    if (IsEmptyDate(checked)) {
        return {0, 0, 0};
    }
    const int year = std::clamp(checked.year - kFirstUpdateYear, 0, 255);
    return {static_cast<unsigned char>(year), static_cast<unsigned char>(checked.month),
            static_cast<unsigned char>(checked.day)};
}

// --- Memo fields and blocks ------------------------------------------------------

std::optional<std::uint32_t> MemoBlockOf(std::string_view raw) {
    // Visual FoxPro keeps the block number in four binary bytes, little-endian (NULs
    // when there is no memo). Four bytes of digits and blanks are text instead: as a
    // binary number they would name a block past 34 GB, beyond any memo file.
    const bool text =
        std::all_of(raw.begin(), raw.end(), [](char c) { return IsDigit(c) || c == ' '; });
    std::optional<std::uint32_t> block;
    if (raw.size() == kBinaryMemoFieldWidth && !text) {
        const auto* data = reinterpret_cast<const unsigned char*>(raw.data());
        block = LittleEndian(std::span<const unsigned char>(data, raw.size()), 0, raw.size());
    } else {
        block = DecimalNumber(Trimmed(raw));
    }
    if (!block || *block == 0) {
        return std::nullopt;
    }
    return block;
}

std::string MemoFieldFor(std::uint32_t block) {
    if (block == 0) {
        return std::string(kMemoFieldWidth, ' ');
    }
    return RightAligned(std::to_string(block), kMemoFieldWidth);
}

std::optional<MemoHeader> ParseMemoHeader(std::span<const unsigned char> bytes) {
    if (bytes.size() < 8) {
        return std::nullopt;
    }
    MemoHeader header;
    header.next_free = BigEndian(bytes, 0, 4);
    header.block_size = BigEndian(bytes, 6, 2);
    if (header.block_size == 0) {
        return std::nullopt;
    }
    return header;
}

std::vector<unsigned char> EncodeMemoHeader(const MemoHeader& header) {
    std::vector<unsigned char> bytes(kMemoHeaderSize, 0);
    PutBigEndian(bytes, 0, header.next_free, 4);
    PutBigEndian(bytes, 6, header.block_size, 2);
    return bytes;
}

std::uint32_t MemoBlocks(std::size_t length, std::uint32_t block_size) {
    if (block_size == 0) {
        return 0;
    }
    const std::uint64_t stored = static_cast<std::uint64_t>(length) + kMemoBlockHeaderSize;
    const std::uint64_t blocks = stored / block_size + (stored % block_size != 0 ? 1 : 0);
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(blocks, std::numeric_limits<std::uint32_t>::max()));
}

std::vector<unsigned char> EncodeMemo(std::string_view text, std::uint32_t block_size) {
    const auto length = static_cast<std::uint32_t>(
        std::min<std::size_t>(text.size(), std::numeric_limits<std::uint32_t>::max()));
    const std::size_t stored = kMemoBlockHeaderSize + length;
    const std::size_t padded =
        block_size == 0 ? stored
                        : static_cast<std::size_t>(MemoBlocks(length, block_size)) * block_size;
    std::vector<unsigned char> bytes(std::max(stored, padded), 0);
    PutBigEndian(bytes, 0, kMemoTypeText, 4);
    PutBigEndian(bytes, 4, length, 4);
    std::copy(text.begin(), text.begin() + length, bytes.begin() + kMemoBlockHeaderSize);
    return bytes;
}

std::optional<std::uint32_t> MemoLengthOf(std::span<const unsigned char> block_header) {
    if (block_header.size() < kMemoBlockHeaderSize ||
        BigEndian(block_header, 0, 4) != kMemoTypeText) {
        return std::nullopt;
    }
    return BigEndian(block_header, 4, 4);
}

}  // namespace kestrel::common
