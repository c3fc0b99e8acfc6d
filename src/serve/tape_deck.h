#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "serve/deck_keys.h"
#include "serve/tape_catalog.h"

namespace kestrel::serve {

// The tape position in the user's hands: the tape's entries, the mark (the entry the
// next "B" gets, or the end of the tape), the entry on the wire and the one last sent,
// and whether the deck is paused. Keys move the mark only; a move takes effect at the
// next "B", and never changes a byte already on the wire. Platform-neutral: the
// terminal front end feeds it keys and the session's progress, and draws it.
class TapeDeck {
  public:
    enum class Activity { kWaiting, kSending, kStopping };

    // `from`: the index of the entry the mark starts on (at most the end).
    explicit TapeDeck(TapeCatalog catalog, std::size_t from = 0);

    const TapeCatalog& Catalog() const { return catalog_; }
    std::size_t Count() const { return catalog_.entries.size(); }
    // The index of the entry the next "B" gets; Count() for the end of the tape.
    std::size_t Mark() const { return mark_; }
    bool MarkAtEnd() const { return mark_ >= Count(); }
    std::optional<std::size_t> OnWire() const { return on_wire_; }
    std::optional<std::size_t> LastSent() const { return last_sent_; }
    bool Paused() const { return paused_; }
    // A "B" that came while paused waits for the deck to go on.
    bool RequestHeld() const { return request_held_; }
    Activity Now() const { return activity_; }
    // The digits typed so far of an entry number to go to.
    const std::string& Typed() const { return typed_; }
    // A word on the last key that could not be followed ("no entry 9"); empty otherwise.
    const std::string& Notice() const { return notice_; }

    void Next();
    void Back();
    void First();
    // To entry `number` (1-based); false, with a notice, when there is none.
    bool GoTo(std::size_t number);
    void Again();
    void TogglePause();
    // A deck key; the stop keys are the session's, not the deck's.
    void Press(const KeyPress& key);

    // A "B" is to be answered: the offset in the image where its answer starts (the
    // catalog's end offset at the end of the tape). The entry goes on the wire and the
    // mark moves on to the next one.
    std::size_t Take();
    // A "B" waits while paused (true), or goes on (false).
    void HoldRequest(bool held) { request_held_ = held; }
    // The entry on the wire has all gone out.
    void EntryOut();
    // A stop was asked: the session ends after the entry on the wire.
    void Stopping() { activity_ = Activity::kStopping; }

  private:
    void MoveMark(std::size_t index);

    TapeCatalog catalog_;
    std::size_t mark_ = 0;
    std::optional<std::size_t> on_wire_;
    std::optional<std::size_t> last_sent_;
    bool paused_ = false;
    bool request_held_ = false;
    Activity activity_ = Activity::kWaiting;
    std::string typed_;
    std::string notice_;
};

}  // namespace kestrel::serve
