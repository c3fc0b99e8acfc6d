#pragma once

#include <exception>
#include <utility>

namespace kestrel::ui {

// Almost everything runs inside platform callbacks (window and dialog procedures),
// and a C++ exception must never unwind through the platform's frames. A callback
// boundary catches the failure and keeps it here; the framework raises it again as
// soon as the platform call that led into the callback has returned. Only the first
// failure is kept: a second one caught while the first is on its way out is a
// consequence of it.
class PendingFailure {
  public:
    // Runs `handler`; a failure it throws is kept and `fallback` is returned instead.
    template <class Handler, class Result>
    Result Guard(Handler&& handler, Result fallback) noexcept {
        try {
            return std::forward<Handler>(handler)();
        } catch (...) {
            Keep(std::current_exception());
            return fallback;
        }
    }

    void Keep(std::exception_ptr failure) noexcept {
        if (!failure_) {
            failure_ = std::move(failure);
        }
    }

    bool pending() const { return static_cast<bool>(failure_); }

    // Throws the kept failure, if any, and forgets it.
    void Rethrow() {
        if (failure_) {
            std::exception_ptr failure = std::exchange(failure_, nullptr);
            std::rethrow_exception(failure);
        }
    }

  private:
    std::exception_ptr failure_;
};

}  // namespace kestrel::ui
