#include "app/tzx_tape.h"

#include <cstdint>
#include <cstdio>

namespace kestrel::app {

namespace {

constexpr std::size_t kSignatureLetters = 7;  // "ZXTape!", before the 1Ah
constexpr std::size_t kVersionOffset = 8;
constexpr std::size_t kFirstBlockOffset = 10;
constexpr int kSupportedMajorVersion = 1;

constexpr int kLoopStartId = 0x24;
constexpr std::size_t kNoLoop = static_cast<std::size_t>(-1);

enum class Kind {
    kData,         // standard-speed data: becomes a TAP block
    kSkipped,      // carries no tape data: passed over
    kLoopStart,    // passed over when the loop holds no data
    kLoopEnd,      // closes it
    kReordering,   // changes which block plays next: refused
    kUnsupported,  // tape data in another encoding, or an ID the format does not know
};

// How long a block's body (the bytes after its ID) is: `fixed` bytes, plus
// `multiplier` times the little-endian number of `width` bytes found at `field`.
struct BodyLength {
    std::size_t fixed = 0;
    std::size_t field = 0;
    std::size_t width = 0;  // 0: the body is `fixed` bytes long
    std::size_t multiplier = 1;
};

struct BlockKind {
    int id;
    std::string_view name;
    Kind kind;
    BodyLength body;  // only read for blocks that are not refused
};

// The blocks of the TZX format. Lengths are given for the blocks that can be passed
// over; refused blocks are refused on their ID alone.
constexpr BlockKind kBlockKinds[] = {
    {0x10, "standard speed data", Kind::kData, {4, 2, 2, 1}},
    {0x11, "turbo speed data", Kind::kUnsupported, {}},
    {0x12, "pure tone", Kind::kUnsupported, {}},
    {0x13, "pulse sequence", Kind::kUnsupported, {}},
    {0x14, "pure data", Kind::kUnsupported, {}},
    {0x15, "direct recording", Kind::kUnsupported, {}},
    {0x16, "C64 ROM type data", Kind::kUnsupported, {}},
    {0x17, "C64 turbo tape data", Kind::kUnsupported, {}},
    {0x18, "CSW recording", Kind::kUnsupported, {}},
    {0x19, "generalized data", Kind::kUnsupported, {}},
    {0x20, "pause or stop the tape", Kind::kSkipped, {2}},
    {0x21, "group start", Kind::kSkipped, {1, 0, 1, 1}},
    {0x22, "group end", Kind::kSkipped, {0}},
    {0x23, "jump to block", Kind::kReordering, {}},
    {0x24, "loop start", Kind::kLoopStart, {2}},
    {0x25, "loop end", Kind::kLoopEnd, {0}},
    {0x26, "call sequence", Kind::kReordering, {}},
    {0x27, "return from sequence", Kind::kReordering, {}},
    {0x28, "select block", Kind::kReordering, {}},
    {0x2A, "stop the tape if in 48K mode", Kind::kSkipped, {4, 0, 4, 1}},
    {0x2B, "set signal level", Kind::kSkipped, {4, 0, 4, 1}},
    {0x30, "text description", Kind::kSkipped, {1, 0, 1, 1}},
    {0x31, "message", Kind::kSkipped, {2, 1, 1, 1}},
    {0x32, "archive info", Kind::kSkipped, {2, 0, 2, 1}},
    {0x33, "hardware type", Kind::kSkipped, {1, 0, 1, 3}},
    {0x34, "emulation info", Kind::kSkipped, {8}},
    {0x35, "custom info", Kind::kSkipped, {0x14, 0x10, 4, 1}},
    {0x40, "snapshot", Kind::kUnsupported, {}},
    {0x5A, "glue", Kind::kSkipped, {9}},
};

constexpr BlockKind kUnknownBlock = {-1, "unknown block", Kind::kUnsupported, {}};

const BlockKind& KindOf(int id) {
    for (const BlockKind& kind : kBlockKinds) {
        if (kind.id == id) {
            return kind;
        }
    }
    return kUnknownBlock;
}

std::string Hex(int id) {
    char text[8];
    std::snprintf(text, sizeof text, "%02Xh", static_cast<unsigned>(id) & 0xFFu);
    return text;
}

std::string BlockText(int id) {
    return "TZX block " + Hex(id) + " (" + std::string(TzxBlockName(id)) + ")";
}

TapeLoad Refuse(std::string reason, std::size_t offset, int block_id = -1) {
    return {{}, TapeRefusal{std::move(reason), offset, block_id}};
}

// The little-endian number of `width` bytes at `bytes[at]`; the caller has checked
// that they are there.
std::uint64_t NumberAt(std::string_view bytes, std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i > 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i - 1]);
    }
    return value;
}

// The body length of the block whose body starts at `body`, or nothing when the
// file ends before the length is known or before the body does.
std::optional<std::size_t> BodyLengthAt(std::string_view file, std::size_t body,
                                        const BodyLength& rule) {
    std::size_t left = file.size() - body;
    std::uint64_t length = rule.fixed;
    if (rule.width > 0) {
        if (rule.field + rule.width > left) {
            return std::nullopt;
        }
        length += NumberAt(file, body + rule.field, rule.width) * rule.multiplier;
    }
    if (length > left) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(length);
}

std::optional<TapeLoad> CheckHeader(std::string_view file) {
    std::size_t compared = file.size() < kTzxSignature.size() ? file.size() : kTzxSignature.size();
    if (file.substr(0, compared) != kTzxSignature.substr(0, compared)) {
        return Refuse("not a TZX file: it does not begin with \"ZXTape!\" and 1Ah", 0);
    }
    if (file.size() < kFirstBlockOffset) {
        return Refuse("TZX header cut short: " + std::to_string(file.size()) + " of its " +
                          std::to_string(kFirstBlockOffset) + " bytes",
                      0);
    }
    int major = static_cast<unsigned char>(file[kVersionOffset]);
    int minor = static_cast<unsigned char>(file[kVersionOffset + 1]);
    if (major != kSupportedMajorVersion) {
        return Refuse("TZX version " + std::to_string(major) + "." + std::to_string(minor) +
                          " is not supported (only 1.xx)",
                      kVersionOffset);
    }
    return std::nullopt;
}

}  // namespace

bool IsTzx(std::string_view file_bytes) {
    return file_bytes.substr(0, kSignatureLetters) == kTzxSignature.substr(0, kSignatureLetters);
}

std::string_view TzxBlockName(int block_id) {
    return KindOf(block_id).name;
}

std::string DescribeRefusal(const TapeRefusal& refusal) {
    return refusal.reason + " at offset " + std::to_string(refusal.offset);
}

TapeLoad TzxToTap(std::string_view file) {
    if (std::optional<TapeLoad> bad_header = CheckHeader(file)) {
        return *bad_header;
    }
    std::string tap;
    tap.reserve(file.size());
    // A loop plays the blocks up to its end several times over; without data in it
    // that changes nothing the remote receives, with data it would repeat entries.
    std::size_t open_loop = kNoLoop;  // the offset of the loop start block
    std::size_t offset = kFirstBlockOffset;
    while (offset < file.size()) {
        int id = static_cast<unsigned char>(file[offset]);
        const BlockKind& kind = KindOf(id);
        if (kind.kind == Kind::kUnsupported) {
            return Refuse(
                kind.id < 0 ? "unknown TZX block " + Hex(id) : "unsupported " + BlockText(id),
                offset, id);
        }
        if (kind.kind == Kind::kReordering) {
            return Refuse(BlockText(id) + " changes the order the blocks play in", offset, id);
        }
        std::size_t body = offset + 1;
        std::optional<std::size_t> length = BodyLengthAt(file, body, kind.body);
        if (!length) {
            return Refuse(BlockText(id) + " runs past the end of the file", offset, id);
        }
        switch (kind.kind) {
            case Kind::kData: {
                // A block with no bytes has no flag for the remote machine to load: it
                // is a tone on tape and nothing in a TAP file.
                std::size_t data_length = *length - kind.body.fixed;
                if (data_length > 0) {
                    if (open_loop != kNoLoop) {
                        return Refuse(BlockText(kLoopStartId) + " repeats data blocks", open_loop,
                                      kLoopStartId);
                    }
                    tap.push_back(static_cast<char>(data_length & 0xFF));
                    tap.push_back(static_cast<char>(data_length >> 8));
                    tap.append(file.substr(body + kind.body.fixed, data_length));
                }
                break;
            }
            case Kind::kLoopStart:
                if (open_loop != kNoLoop) {
                    return Refuse(BlockText(id) + " inside another loop", offset, id);
                }
                open_loop = offset;
                break;
            case Kind::kLoopEnd:
                if (open_loop == kNoLoop) {
                    return Refuse(BlockText(id) + " without a loop start", offset, id);
                }
                open_loop = kNoLoop;
                break;
            default:
                break;
        }
        offset = body + *length;
    }
    return {std::move(tap), std::nullopt};
}

}  // namespace kestrel::app
