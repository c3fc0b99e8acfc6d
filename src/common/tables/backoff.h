#pragma once

#include <chrono>

namespace kestrel::common {

// A paced back-off for loops that try something again until another process lets
// go of it: the first pause is short, so a release that comes at once is noticed at
// once, and each pause doubles up to a ceiling, so a long wait costs the machine
// (and a file server behind a shared disk) a few tries a second instead of a flood.
// The ceiling may be changed between pauses: a loop whose every try costs something
// that grows with the number of tries raises it as the wait grows longer.
class Backoff {
  public:
    using Milliseconds = std::chrono::milliseconds;

    static constexpr Milliseconds kFirstPause{1};
    static constexpr Milliseconds kCeiling{50};

    explicit Backoff(Milliseconds first = kFirstPause, Milliseconds ceiling = kCeiling);

    // The pause to take before the next try: the first pause, then twice the one
    // before, never more than the ceiling (nor less than 1 ms).
    Milliseconds Next();
    void SetCeiling(Milliseconds ceiling);
    // The sum of the pauses given so far: how long the loop has waited, at least.
    Milliseconds Waited() const { return waited_; }

  private:
    Milliseconds next_;
    Milliseconds ceiling_;
    Milliseconds waited_{0};
};

}  // namespace kestrel::common
