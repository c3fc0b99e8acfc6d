#include "serve/deck_keys.h"

#include <optional>

namespace kestrel::serve {
namespace {

constexpr char kEscByte = 0x1B;

std::optional<KeyPress> PlainKey(char byte) {
    switch (byte) {
        case 'q':
        case 'Q':
            return KeyPress{DeckKey::kQuit};
        case 'n':
            return KeyPress{DeckKey::kNext};
        case 'p':
            return KeyPress{DeckKey::kBack};
        case 'r':
            return KeyPress{DeckKey::kAgain};
        case ' ':
            return KeyPress{DeckKey::kPause};
        case '\r':
        case '\n':
            return KeyPress{DeckKey::kEnter};
        case 0x7F:
        case '\b':
            return KeyPress{DeckKey::kBackspace};
        default:
            break;
    }
    if (byte >= '0' && byte <= '9') {
        return KeyPress{DeckKey::kDigit, byte};
    }
    return std::nullopt;
}

// The key a whole escape sequence stands for, if the deck has one.
std::optional<KeyPress> SequenceKey(std::string_view sequence) {
    if (sequence == "\x1b[C" || sequence == "\x1bOC") {
        return KeyPress{DeckKey::kNext};
    }
    if (sequence == "\x1b[D" || sequence == "\x1bOD") {
        return KeyPress{DeckKey::kBack};
    }
    if (sequence == "\x1b[H" || sequence == "\x1bOH" || sequence == "\x1b[1~" ||
        sequence == "\x1b[7~") {
        return KeyPress{DeckKey::kFirst};
    }
    return std::nullopt;
}

// The length of the escape sequence at the start of `bytes` (which starts with ESC
// and a second byte): 0 when the bytes end before it does.
std::size_t SequenceLength(std::string_view bytes) {
    if (bytes[1] == 'O') {
        return bytes.size() >= 3 ? 3 : 0;  // ESC O and one final byte
    }
    // ESC [, parameter and intermediate bytes, one final byte.
    std::size_t i = 2;
    while (i < bytes.size() && bytes[i] >= 0x20 && bytes[i] <= 0x3F) {
        ++i;
    }
    return i < bytes.size() ? i + 1 : 0;
}

}  // namespace

std::vector<KeyPress> KeyDecoder::Take(std::string_view read) {
    std::string bytes = pending_ + std::string(read);
    pending_.clear();
    std::vector<KeyPress> keys;
    std::string_view rest = bytes;
    while (!rest.empty()) {
        if (rest[0] != kEscByte) {
            if (const auto key = PlainKey(rest[0])) {
                keys.push_back(*key);
            }
            rest.remove_prefix(1);
            continue;
        }
        if (rest.size() == 1 || (rest[1] != '[' && rest[1] != 'O')) {
            keys.push_back({DeckKey::kEsc});
            rest.remove_prefix(1);
            continue;
        }
        const std::size_t length = SequenceLength(rest);
        if (length == 0) {
            pending_ = std::string(rest);
            break;
        }
        if (const auto key = SequenceKey(rest.substr(0, length))) {
            keys.push_back(*key);
        }
        rest.remove_prefix(length);
    }
    return keys;
}

}  // namespace kestrel::serve
