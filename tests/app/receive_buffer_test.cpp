#include "app/receive_buffer.h"

#include <gtest/gtest.h>

namespace kestrel::app {
namespace {

TEST(ReceiveBuffer, BytesComeOutInArrivalOrderAcrossManyAppendsAndTakes) {
    ReceiveBuffer buffer;
    std::string sent;
    std::string taken;
    for (int round = 0; round < 5000; ++round) {
        std::string chunk(static_cast<std::size_t>(round % 37), '\0');
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = static_cast<char>(sent.size() + i);
        }
        buffer.Append(chunk);
        sent += chunk;
        for (int i = 0; i < round % 41; ++i) {
            if (auto byte = buffer.TakeFront()) {
                taken.push_back(*byte);
            }
        }
    }
    while (auto byte = buffer.TakeFront()) {
        taken.push_back(*byte);
    }
    EXPECT_EQ(taken, sent);
    EXPECT_TRUE(buffer.empty());
}

TEST(ReceiveBuffer, NothingWaitingLeavesItUnchanged) {
    ReceiveBuffer buffer;
    EXPECT_EQ(buffer.TakeFront(), std::nullopt);
    buffer.Append("");
    EXPECT_EQ(buffer.size(), 0u);
    buffer.Append(std::string(1, '\0'));
    EXPECT_EQ(buffer.TakeFront(), '\0');
}

}  // namespace
}  // namespace kestrel::app
