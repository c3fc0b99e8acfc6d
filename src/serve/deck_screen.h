#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "serve/tape_deck.h"

namespace kestrel::serve {

// How far the entry on the wire has gone: of its answer's data bytes, how many the
// line has taken (written and no longer in the driver's queue, as far as the driver
// says: a pty's driver takes the whole entry at once).
struct DeckProgress {
    std::size_t sent = 0;
    std::size_t data = 0;
};

// The deck's screen as lines of text, at most `height` lines of at most `width`
// bytes each (cut, never wrapped): a title, the entries (number, type, name, length,
// a check word for a bad or short entry) with the mark on the entry the next "B"
// gets or on "end", a progress bar under the entry on the wire, then a status line
// and a key help line. A list taller than the screen shows the part around the mark.
std::vector<std::string> DeckScreen(const TapeDeck& deck, const DeckProgress& progress,
                                    std::string_view title, std::size_t width, std::size_t height);

// The status line's words: waiting, sending, paused, stopping.
std::string DeckStatus(const TapeDeck& deck);

}  // namespace kestrel::serve
