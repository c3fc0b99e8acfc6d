#include "serve/write_progress.h"

namespace kestrel::serve {
namespace {

constexpr std::size_t kAnswerHead = 1 + 17;  // the start byte and the header

}  // namespace

void WriteProgress::StartLine() {
    Clear();
    written_ = 0;
    queued_ = 0;
    data_ = tape_.IsExhausted() ? 0 : tape_.Front().data.size();
    drawn_at_ = Clock::now();  // the first drawing comes 100 ms into the entry
}

void WriteProgress::Written(std::size_t count) {
    written_ += count;
    Redraw();
}

void WriteProgress::StillQueued(std::size_t count) {
    queued_ = count < written_ ? count : written_;
    Redraw();
}

void WriteProgress::Redraw() {
    if (!enabled_) {
        return;
    }
    const std::size_t gone = written_ - queued_;
    const std::size_t sent = gone > kAnswerHead ? gone - kAnswerHead : 0;
    if (sent >= data_) {
        Clear();
        return;
    }
    const Clock::time_point now = Clock::now();
    if (now - drawn_at_ < kRedrawEvery) {
        return;
    }
    drawn_at_ = now;
    std::fprintf(out_, "\r  %zu / %zu bytes", sent, data_);
    std::fflush(out_);
    shown_ = true;
}

void WriteProgress::Clear() {
    if (shown_) {
        std::fputs("\r                                        \r", out_);
        std::fflush(out_);
        shown_ = false;
    }
}

}  // namespace kestrel::serve
