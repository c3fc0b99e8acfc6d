#pragma once

#include <windows.h>

namespace kestrel::ui {

// What an event method answers the platform. A number claims the message and is
// returned to the platform. Through a subclassed window anything else lets the
// window's previous procedure run; through the dialog procedure true means
// "handled" (1) and anything else "not handled" (0), so the platform's dialog
// default runs.
class EventResult {
  public:
    static EventResult None() { return EventResult(Kind::kNone, 0); }
    static EventResult Logical(bool value) { return EventResult(Kind::kLogical, value ? 1 : 0); }
    static EventResult Number(LRESULT value) { return EventResult(Kind::kNumber, value); }

    bool IsNumber() const { return kind_ == Kind::kNumber; }
    bool IsTrue() const { return kind_ == Kind::kLogical && value_ != 0; }
    LRESULT number() const { return value_; }

    // The dialog procedure's answer for this result.
    INT_PTR ForDialog() const {
        if (kind_ == Kind::kNumber) {
            return static_cast<INT_PTR>(value_);
        }
        return IsTrue() ? 1 : 0;
    }

  private:
    enum class Kind { kNone, kLogical, kNumber };
    EventResult(Kind kind, LRESULT value) : kind_(kind), value_(value) {}
    Kind kind_;
    LRESULT value_;
};

}  // namespace kestrel::ui
