#include "serve/write_progress.h"

namespace kestrel::serve {
namespace {

constexpr std::size_t kAnswerHead = 1 + 17;  // the start byte and the header

}  // namespace

void WriteProgress::StartLine() {
    written_ = 0;
    queued_ = 0;
    data_ = tape_.IsExhausted() ? 0 : tape_.Front().data.size();
}

void WriteProgress::Written(std::size_t count) {
    written_ += count;
    changed_();
}

void WriteProgress::StillQueued(std::size_t count) {
    queued_ = count < written_ ? count : written_;
    changed_();
}

DeckProgress WriteProgress::Now() const {
    const std::size_t gone = written_ - queued_;
    return {gone > kAnswerHead ? gone - kAnswerHead : 0, data_};
}

bool WriteProgress::Out() const {
    return written_ - queued_ >= kAnswerHead + data_;
}

}  // namespace kestrel::serve
