#include "ui/modeless_list.h"

#include <algorithm>

namespace kestrel::ui {

bool ModelessList::CanRegister() const {
    return std::find(entries_.begin(), entries_.end(), Handle{0}) != entries_.end();
}

bool ModelessList::Register(Handle dialog) {
    auto free = std::find(entries_.begin(), entries_.end(), Handle{0});
    if (dialog == 0 || free == entries_.end()) {
        return false;
    }
    *free = dialog;
    used_end_ = std::max(used_end_, static_cast<std::size_t>(free - entries_.begin()) + 1);
    return true;
}

void ModelessList::Deregister(Handle dialog) {
    if (dialog == 0) {
        return;
    }
    auto end = entries_.begin() + static_cast<std::ptrdiff_t>(used_end_);
    auto found = std::find(entries_.begin(), end, dialog);
    if (found != end) {
        *found = 0;
    }
    if (cached_ == dialog) {
        cached_ = 0;
    }
    while (used_end_ > 0 && entries_[used_end_ - 1] == 0) {
        --used_end_;
    }
}

bool ModelessList::Offer(const std::function<bool(Handle)>& accepts) {
    if (cached_ != 0 && accepts(cached_)) {
        return true;
    }
    for (std::size_t i = 0; i < used_end_; ++i) {
        Handle dialog = entries_[i];
        if (dialog != 0 && dialog != cached_ && accepts(dialog)) {
            cached_ = dialog;
            return true;
        }
    }
    return false;
}

std::size_t ModelessList::size() const {
    return static_cast<std::size_t>(
        std::count_if(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(used_end_),
                      [](Handle h) { return h != 0; }));
}

}  // namespace kestrel::ui
