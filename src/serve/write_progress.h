#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>

#include "app/tape_image.h"

namespace kestrel::serve {

// The progress of a long entry on a terminal: "\r  12345 / 48000 bytes" (data bytes),
// redrawn at most every 100 ms while the entry goes out, and wiped once it is all
// written or a log line is due. An entry shorter than 100 ms on the line never shows
// it. Off (every call does nothing) when the output is not a terminal.
class WriteProgress {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

    WriteProgress(std::FILE* out, bool enabled, const app::TapeImage& tape)
        : out_(out), enabled_(enabled), tape_(tape) {}

    // A log line follows: the progress line goes, and the bytes written from now on
    // are the answer for the entry at the front of the tape.
    void StartLine();
    // The line has taken `count` more bytes.
    void Written(std::size_t count);
    // Of the bytes the line has taken, `count` are still queued in the driver.
    void StillQueued(std::size_t count);
    // Wipes the progress line if it shows.
    void Clear();

  private:
    std::FILE* out_;
    bool enabled_;
    const app::TapeImage& tape_;
    void Redraw();

    std::size_t written_ = 0;  // bytes of the answer the line has taken
    std::size_t queued_ = 0;   // of those, still in the driver's queue
    std::size_t data_ = 0;     // the entry's data bytes
    Clock::time_point drawn_at_{};
    bool shown_ = false;
};

}  // namespace kestrel::serve
