#include "serial/receive_ring.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>

namespace kestrel::serial {
namespace {

std::string Pattern(std::size_t length, std::size_t start = 0) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((start + i) * 7 + (start + i) / 251);
    }
    return bytes;
}

std::string TakeAll(ReceiveRing& ring) {
    std::string out(ReceiveRing::kSlots, '\0');
    out.resize(ring.Take(out));
    return out;
}

TEST(ReceiveRing, AnEmptyRingGivesNothingAndLeavesTheBufferAsItWas) {
    ReceiveRing ring;
    std::string buffer = "untouched";
    EXPECT_EQ(ring.Take(buffer), 0u);
    EXPECT_EQ(buffer, "untouched");
    EXPECT_EQ(ring.Unread(), 0u);
    EXPECT_EQ(ring.Room(), ReceiveRing::kCapacity);
}

TEST(ReceiveRing, APartialTakeLeavesTheRestInOrderAndTheBufferTailUnchanged) {
    ReceiveRing ring;
    ASSERT_EQ(ring.Put(std::string("abcde")), 5u);

    std::string small(3, '.');
    EXPECT_EQ(ring.Take(small), 3u);
    EXPECT_EQ(small, "abc");

    std::string large(1000, ' ');
    EXPECT_EQ(ring.Take(large), 2u);
    EXPECT_EQ(large.substr(0, 2), "de");
    EXPECT_EQ(large.substr(2), std::string(998, ' '));
}

TEST(ReceiveRing, BytesAcrossTheEndOfTheRingComeOutInArrivalOrder) {
    ReceiveRing ring;
    // Move both indices to slot 2046.
    ASSERT_EQ(ring.Put(Pattern(2046)), 2046u);
    ASSERT_EQ(TakeAll(ring).size(), 2046u);

    ASSERT_EQ(ring.Put(std::string("WXYZ")), 4u);  // slots 2046, 2047, 0, 1
    EXPECT_EQ(ring.Unread(), 4u);
    EXPECT_EQ(TakeAll(ring), "WXYZ");

    // And again many times round, with uneven pieces.
    std::string sent;
    std::string taken;
    for (std::size_t round = 0; round < 300; ++round) {
        const std::string piece = Pattern(round * 13 % 1500 + 1, sent.size());
        ASSERT_EQ(ring.Put(piece), piece.size());
        sent += piece;
        taken += TakeAll(ring);
    }
    EXPECT_EQ(taken, sent);
}

TEST(ReceiveRing, AFullRingRefusesMoreInsteadOfOverwriting) {
    ReceiveRing ring;
    const std::string first = Pattern(ReceiveRing::kCapacity);
    ASSERT_EQ(ring.Put(first), ReceiveRing::kCapacity);
    EXPECT_EQ(ring.Room(), 0u);
    EXPECT_EQ(ring.Put(std::string("more")), 0u);

    // Room comes back only as the reader takes bytes, and only that much is stored.
    std::string three(3, '\0');
    ASSERT_EQ(ring.Take(three), 3u);
    EXPECT_EQ(ring.Room(), 3u);
    EXPECT_EQ(ring.Put(std::string("12345")), 3u);

    EXPECT_EQ(TakeAll(ring), first.substr(3) + "123");
}

// One producer thread and one consumer thread, as the receive thread and READCOMM:
// a megabyte passes through the ring with nothing lost, repeated or reordered.
TEST(ReceiveRing, AMegabyteCrossesBetweenTwoThreadsIntact) {
    ReceiveRing ring;
    const std::string sent = Pattern(1 << 20);
    std::thread producer([&] {
        std::size_t done = 0;
        while (done < sent.size()) {
            const std::size_t piece = std::min<std::size_t>(sent.size() - done, 1023);
            done += ring.Put(std::string_view(sent).substr(done, std::min(piece, ring.Room())));
        }
    });
    std::string received;
    received.reserve(sent.size());
    std::string buffer(1000, '\0');
    while (received.size() < sent.size()) {
        received.append(buffer, 0, ring.Take(buffer));
    }
    producer.join();
    EXPECT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent);
    EXPECT_EQ(ring.Unread(), 0u);
}

}  // namespace
}  // namespace kestrel::serial
