#include "serial/receive_ring.h"

#include <algorithm>

namespace kestrel::serial {

std::size_t ReceiveRing::Unread() const {
    const std::size_t read = read_index_.load(std::memory_order_acquire);
    const std::size_t write = write_index_.load(std::memory_order_acquire);
    return Distance(read, write);
}

std::size_t ReceiveRing::Take(std::span<char> out) {
    std::size_t read = read_index_.load(std::memory_order_relaxed);
    const std::size_t write = write_index_.load(std::memory_order_acquire);
    const std::size_t count = std::min(out.size(), Distance(read, write));
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = slots_[read];
        read = (read + 1) % kSlots;
    }
    read_index_.store(static_cast<std::uint16_t>(read), std::memory_order_release);
    return count;
}

std::size_t ReceiveRing::Room() const {
    const std::size_t write = write_index_.load(std::memory_order_relaxed);
    const std::size_t read = read_index_.load(std::memory_order_acquire);
    return kCapacity - Distance(read, write);
}

std::size_t ReceiveRing::Put(std::span<const char> bytes) {
    std::size_t write = write_index_.load(std::memory_order_relaxed);
    const std::size_t count = std::min(bytes.size(), Room());
    for (std::size_t i = 0; i < count; ++i) {
        slots_[write] = bytes[i];
        write = (write + 1) % kSlots;
    }
    write_index_.store(static_cast<std::uint16_t>(write), std::memory_order_release);
    return count;
}

}  // namespace kestrel::serial
