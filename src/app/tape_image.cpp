#include "app/tape_image.h"

#include "base/blank.h"

namespace kestrel::app {

void TapeImage::Assign(std::string bytes) {
    bytes_ = std::move(bytes);
    front_ = 0;
    // The bytes never change, only the front moves, so what is left is blank exactly
    // when the front stands past the last byte that is not blank. Finding that byte
    // once keeps the end-of-tape test constant-time however often it is asked.
    content_end_ = bytes_.size();
    while (content_end_ > 0 &&
           base::IsBlankByte(static_cast<unsigned char>(bytes_[content_end_ - 1]))) {
        --content_end_;
    }
}

TapeEntry TapeImage::Front() const {
    TapeEntry entry;
    entry.type = ByteAt(tap::kType);
    entry.name = RangeAt(tap::kName, tap::kNameLength);
    entry.length = WordAt(tap::kDataLength);
    entry.param1 = WordAt(tap::kParam1);
    entry.param2 = WordAt(tap::kParam2);
    entry.data = RangeAt(tap::kData, entry.length);
    return entry;
}

void TapeImage::DropFront() {
    std::size_t step = tap::kEntryOverhead + WordAt(tap::kDataLength);
    std::size_t left = bytes_.size() - front_;
    front_ += step < left ? step : left;
}

std::string_view TapeImage::Remaining() const {
    return std::string_view(bytes_).substr(front_);
}

std::uint8_t TapeImage::ByteAt(std::size_t offset) const {
    std::string_view rest = Remaining();
    return offset < rest.size() ? static_cast<std::uint8_t>(rest[offset]) : 0;
}

std::uint16_t TapeImage::WordAt(std::size_t offset) const {
    return static_cast<std::uint16_t>(ByteAt(offset) | (ByteAt(offset + 1) << 8));
}

std::string_view TapeImage::RangeAt(std::size_t offset, std::size_t count) const {
    std::string_view rest = Remaining();
    if (offset >= rest.size()) {
        return {};
    }
    return rest.substr(offset, count);
}

}  // namespace kestrel::app
