#pragma once

#include <cstddef>
#include <functional>

#include "app/tape_image.h"
#include "serve/deck_screen.h"

namespace kestrel::serve {

// How far the answer to the last "B" has gone: the bytes the line has taken (written,
// less what the driver still queues, as far as it says) counted against the entry's
// data. Every change is told to `changed`, which decides what to show and when.
class WriteProgress {
  public:
    WriteProgress(const app::TapeImage& tape, std::function<void()> changed)
        : tape_(tape), changed_(std::move(changed)) {}

    // A log line comes: the bytes written from now on are the answer for the entry
    // at the front of the tape.
    void StartLine();
    // The line has taken `count` more bytes.
    void Written(std::size_t count);
    // Of the bytes the line has taken, `count` are still queued in the driver.
    void StillQueued(std::size_t count);

    // The data bytes gone so far, and the entry's.
    DeckProgress Now() const;
    // The whole answer (start byte, header and data) has gone.
    bool Out() const;

  private:
    const app::TapeImage& tape_;
    std::function<void()> changed_;
    std::size_t written_ = 0;  // bytes of the answer the line has taken
    std::size_t queued_ = 0;   // of those, still in the driver's queue
    std::size_t data_ = 0;     // the entry's data bytes
};

}  // namespace kestrel::serve
