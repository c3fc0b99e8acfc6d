#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::app {

// Received bytes not yet taken as commands. The receive callback appends at the end,
// the command loop takes one byte at a time from the front; nothing is ever cleared,
// truncated or limited, so bytes that arrive while a block is going out are served
// later in arrival order. Taking from the front is amortised constant time.
class ReceiveBuffer {
  public:
    void Append(std::string_view bytes);

    // The first byte, removed from the buffer; empty (and the buffer unchanged) when
    // nothing is waiting.
    std::optional<char> TakeFront();

    // Drops, in one go, every byte before the first `byte` (all of them when none is
    // waiting); answers how many were dropped.
    std::size_t DropUntil(char byte);

    std::size_t size() const { return bytes_.size() - front_; }
    bool empty() const { return size() == 0; }

  private:
    std::string bytes_;
    std::size_t front_ = 0;  // bytes before this index have been taken
};

}  // namespace kestrel::app
