#include "common/tables/backoff.h"

#include <algorithm>

namespace kestrel::common {

Backoff::Backoff(Milliseconds first, Milliseconds ceiling)
    : next_(std::max(first, Milliseconds{1})), ceiling_(std::max(ceiling, Milliseconds{1})) {}

Backoff::Milliseconds Backoff::Next() {
    const Milliseconds pause = std::min(next_, ceiling_);
    next_ = pause * 2;  // at most twice the ceiling, so it never overflows
    waited_ += pause;
    return pause;
}

void Backoff::SetCeiling(Milliseconds ceiling) {
    ceiling_ = std::max(ceiling, Milliseconds{1});
}

}  // namespace kestrel::common
