#include "serve/tape_deck.h"

#include <algorithm>

namespace kestrel::serve {
namespace {

// Entry numbers of more digits than this are no entry of any tape.
constexpr std::size_t kMaxTypedDigits = 6;

}  // namespace

TapeDeck::TapeDeck(TapeCatalog catalog, std::size_t from)
    : catalog_(std::move(catalog)), mark_(std::min(from, catalog_.entries.size())) {}

void TapeDeck::MoveMark(std::size_t index) {
    mark_ = std::min(index, Count());
    notice_.clear();
}

void TapeDeck::Next() {
    MoveMark(mark_ + 1);
}

void TapeDeck::Back() {
    MoveMark(mark_ > 0 ? mark_ - 1 : 0);
}

void TapeDeck::First() {
    MoveMark(0);
}

bool TapeDeck::GoTo(std::size_t number) {
    if (number < 1 || number > Count()) {
        notice_ = "no entry " + std::to_string(number);
        return false;
    }
    MoveMark(number - 1);
    return true;
}

void TapeDeck::Again() {
    if (last_sent_) {
        MoveMark(*last_sent_);
    }
}

void TapeDeck::TogglePause() {
    paused_ = !paused_;
}

void TapeDeck::Press(const KeyPress& key) {
    switch (key.key) {
        case DeckKey::kNext:
            Next();
            break;
        case DeckKey::kBack:
            Back();
            break;
        case DeckKey::kFirst:
            First();
            break;
        case DeckKey::kAgain:
            Again();
            break;
        case DeckKey::kPause:
            TogglePause();
            break;
        case DeckKey::kDigit:
            if (typed_.size() < kMaxTypedDigits) {
                typed_.push_back(key.digit);
            }
            break;
        case DeckKey::kBackspace:
            if (!typed_.empty()) {
                typed_.pop_back();
            }
            break;
        case DeckKey::kEnter:
            if (!typed_.empty()) {
                GoTo(std::stoul(typed_));
                typed_.clear();
            }
            break;
        case DeckKey::kEsc:
        case DeckKey::kQuit:
            break;
    }
}

std::size_t TapeDeck::Take() {
    request_held_ = false;
    notice_.clear();
    if (MarkAtEnd()) {
        on_wire_.reset();
        return catalog_.end_offset;
    }
    on_wire_ = mark_;
    last_sent_ = mark_;
    if (activity_ != Activity::kStopping) {
        activity_ = Activity::kSending;
    }
    ++mark_;
    return catalog_.entries[*on_wire_].offset;
}

void TapeDeck::EntryOut() {
    on_wire_.reset();
    if (activity_ == Activity::kSending) {
        activity_ = Activity::kWaiting;
    }
}

}  // namespace kestrel::serve
