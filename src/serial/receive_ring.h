#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrel::serial {

// The bytes a port has received and the application has not read yet, in arrival
// order, in a circular buffer of 2048 slots. One thread puts bytes in (the port's
// receive thread), one other thread takes them out (READCOMM on the window thread);
// there is no lock.
//
// Each side writes only its own index: the producer the write index, the consumer
// the read index. A byte is stored before the write index moves past it (release
// store), and the consumer loads the write index (acquire) before it copies the
// byte, so it never sees an index ahead of its byte; the same pairing in the other
// direction keeps the producer from reusing a slot that is still being copied.
//
// The ring is empty when the two indices are equal, so it holds at most 2047 bytes.
// It never overwrites: the producer asks Room() and puts in at most that many bytes;
// whatever does not fit waits in the device driver until the consumer has caught up.
class ReceiveRing {
  public:
    static constexpr std::size_t kSlots = 2048;
    static constexpr std::size_t kCapacity = kSlots - 1;

    // Either side. Bytes waiting to be taken. The consumer sees the count only grow
    // until it takes; the producer (which asks before and after it notifies the
    // consumer) sees it only shrink until it puts.
    std::size_t Unread() const;

    // Consumer side.
    // Copies up to out.size() waiting bytes, oldest first, to the front of out and
    // frees their slots; returns how many were copied. Never waits.
    std::size_t Take(std::span<char> out);

    // Producer side. How many bytes Put() can take now; only grows while the
    // producer does nothing, since only the consumer frees slots.
    std::size_t Room() const;
    // Stores the bytes after the newest ones. The caller passes at most Room() bytes;
    // anything beyond that is not stored, and the number stored is returned.
    std::size_t Put(std::span<const char> bytes);

  private:
    static std::size_t Distance(std::size_t from, std::size_t to) {
        return (to + kSlots - from) % kSlots;
    }

    std::array<char, kSlots> slots_{};
    // Written only by the producer (release), read by the consumer (acquire) and by
    // the producer itself (relaxed: it is its own value).
    std::atomic<std::uint16_t> write_index_{0};
    // Written only by the consumer (release), read by the producer (acquire) and by
    // the consumer itself (relaxed; Unread reads it with acquire, for either side).
    std::atomic<std::uint16_t> read_index_{0};
};

}  // namespace kestrel::serial
