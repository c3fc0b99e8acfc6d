#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace kestrel::ui {

// The modeless dialogs that the message pump offers keyboard navigation to. A
// window handle is kept as an opaque number (0 = free entry). The dialog that
// accepted the last message is cached and asked first.
class ModelessList {
  public:
    static constexpr std::size_t kCapacity = 1500;
    using Handle = std::uintptr_t;

    bool CanRegister() const;        // CANREGDIALOG
    bool Register(Handle dialog);    // REGDIALOG: false when all entries are used
    void Deregister(Handle dialog);  // DEREGDIALOG

    // Offers a message to the cached dialog, then to each registered one in order;
    // `accepts` says whether a dialog took it. True when one did.
    bool Offer(const std::function<bool(Handle)>& accepts);

    std::size_t size() const;

  private:
    std::array<Handle, kCapacity> entries_{};
    std::size_t used_end_ = 0;  // one past the highest index in use
    Handle cached_ = 0;
};

}  // namespace kestrel::ui
