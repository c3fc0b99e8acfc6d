// Copying a table's kept records, memos included, to new files (the pack's staged
// copies, table_pack.h).
#include <algorithm>
#include <memory>

#include "common/tables/table_io.h"
#include "common/tables/table_layer.h"

namespace kestrel::common {

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
        FlushAll(*memo, memo_path);
    }
    FlushAll(*table, table_path);
}

}  // namespace kestrel::common
