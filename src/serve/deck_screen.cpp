#include "serve/deck_screen.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::serve {
namespace {

constexpr std::size_t kBarWidth = 30;
// n and p have Right and Left beside them, Home has ESC too, Esc stops like q.
constexpr std::string_view kKeyHelp =
    "n next  p back  Home first  12 Enter: go to 12  r again  Space pause  q quit";

std::string TypeWord(std::uint8_t type) {
    switch (type) {
        case 0:
            return "Program";
        case 1:
            return "Numbers";
        case 2:
            return "Chars";
        case 3:
            return "Bytes";
        default:
            return "type " + std::to_string(type);
    }
}

std::string EntryLine(const TapeDeck& deck, std::size_t index) {
    const CatalogEntry& entry = deck.Catalog().entries[index];
    const char mark = index == deck.Mark() ? '>' : ' ';
    const std::string check =
        entry.check == BlockCheck::kOk ? "" : "  " + std::string(CheckWord(entry.check));
    char line[128];
    std::snprintf(line, sizeof line, "%c %4zu  %-8s  %-10s  %6u", mark, index + 1,
                  TypeWord(entry.type).c_str(), ShownName(entry.name).c_str(),
                  static_cast<unsigned>(entry.length));
    return line + check;
}

std::string BarLine(const DeckProgress& progress) {
    const std::size_t data = std::max<std::size_t>(progress.data, 1);
    const std::size_t sent = std::min(progress.sent, progress.data);
    const std::size_t filled = progress.data == 0 ? kBarWidth : sent * kBarWidth / data;
    return "        [" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
           std::to_string(sent) + " / " + std::to_string(progress.data) +
           " bytes taken by the line";
}

}  // namespace

std::string DeckStatus(const TapeDeck& deck) {
    std::string status;
    if (deck.Now() == TapeDeck::Activity::kStopping) {
        status = "stopping after this entry";
    } else if (deck.OnWire()) {
        const std::size_t on = *deck.OnWire();
        status =
            "sending " + std::to_string(on + 1) + " " + ShownName(deck.Catalog().entries[on].name);
        if (deck.Paused()) {
            status += "; paused after it (Space to go on)";
        }
    } else if (deck.Paused()) {
        status =
            deck.RequestHeld() ? "paused: a B waits (Space to go on)" : "paused (Space to go on)";
    } else {
        status = deck.MarkAtEnd() ? "waiting: the next B ends the tape" : "waiting for a B";
    }
    if (!deck.Typed().empty()) {
        status += "  | go to " + deck.Typed() + "_";
    }
    if (!deck.Notice().empty()) {
        status += "  | " + deck.Notice();
    }
    return status;
}

std::vector<std::string> DeckScreen(const TapeDeck& deck, const DeckProgress& progress,
                                    std::string_view title, std::size_t width, std::size_t height) {
    // The list: each entry, the bar under the one on the wire, then "end".
    std::vector<std::string> list;
    std::size_t mark_row = 0;
    for (std::size_t i = 0; i < deck.Count(); ++i) {
        if (i == deck.Mark()) {
            mark_row = list.size();
        }
        list.push_back(EntryLine(deck, i));
        if (deck.OnWire() == i) {
            list.push_back(BarLine(progress));
        }
    }
    if (deck.MarkAtEnd()) {
        mark_row = list.size();
    }
    list.push_back(deck.MarkAtEnd() ? ">  end" : "   end");

    std::vector<std::string> screen{std::string(title), "     #  type      name        length"};
    const std::size_t footer = 2;
    const std::size_t room = height > screen.size() + footer ? height - screen.size() - footer : 1;
    std::size_t first = 0;
    if (list.size() > room) {
        // The part of the list around the mark.
        first = mark_row > room / 2 ? mark_row - room / 2 : 0;
        first = std::min(first, list.size() - room);
    }
    for (std::size_t i = first; i < list.size() && i < first + room; ++i) {
        screen.push_back(list[i]);
    }
    screen.push_back(DeckStatus(deck));
    screen.emplace_back(kKeyHelp);
    if (screen.size() > height) {
        screen.resize(height);
    }
    for (std::string& line : screen) {
        if (line.size() > width) {
            line.resize(width);
        }
    }
    return screen;
}

}  // namespace kestrel::serve
