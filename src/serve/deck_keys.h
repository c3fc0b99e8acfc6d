#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrel::serve {

// The keys of the tape deck, as the terminal sends them.
enum class DeckKey {
    kEsc,        // Esc pressed alone: stop
    kQuit,       // q or Q: stop
    kNext,       // n, Right
    kBack,       // p, Left
    kFirst,      // Home
    kAgain,      // r: the entry last sent
    kPause,      // Space
    kDigit,      // 0-9, with its digit
    kEnter,      // CR or LF
    kBackspace,  // DEL or BS
};

struct KeyPress {
    DeckKey key;
    char digit = 0;  // kDigit: '0' to '9'
    bool operator==(const KeyPress&) const = default;
};

// Turns the bytes read from the terminal into keys. The escape sequences of cursor
// and function keys (ESC [ ... final, ESC O final) are taken whole: Right, Left and
// Home are keys, every other one is passed over (F2 sends ESC O Q, which is no q).
// A sequence cut between two reads is kept until the next read completes it; an
// Esc at the very end of a read is Esc pressed alone (a terminal sends a key's
// sequence in one write). Other bytes are not keys of the deck.
class KeyDecoder {
  public:
    std::vector<KeyPress> Take(std::string_view bytes);

  private:
    std::string pending_;  // the start of an escape sequence the last read cut off
};

}  // namespace kestrel::serve
