#include "serial/key_state.h"

#include <gtest/gtest.h>

#include "serial/port.h"

namespace kestrel::serial {
namespace {

TEST(KeyStateBits, TheAsyncQueryCountsOnlyTheHighByte) {
    EXPECT_TRUE(AsyncKeyIsDown(static_cast<std::int16_t>(0x8000)));
    EXPECT_TRUE(AsyncKeyIsDown(static_cast<std::int16_t>(0x8001)));
    EXPECT_TRUE(AsyncKeyIsDown(0x0100));
    // Pressed and released since the last query: bit 0 only, not seen.
    EXPECT_FALSE(AsyncKeyIsDown(0x0001));
    EXPECT_FALSE(AsyncKeyIsDown(0));
}

TEST(KeyStateBits, KeyStateCountsBit15AndToggleCountsAnyBit) {
    EXPECT_TRUE(KeyWasDown(static_cast<std::int16_t>(0xFF80)));
    EXPECT_FALSE(KeyWasDown(0x0001));  // toggled on, not down
    EXPECT_FALSE(KeyWasDown(0x4000));

    EXPECT_TRUE(KeyIsDownOrToggled(0x0001));  // caps lock on, key released
    EXPECT_TRUE(KeyIsDownOrToggled(static_cast<std::int16_t>(0x8000)));
    EXPECT_FALSE(KeyIsDownOrToggled(0));
}

TEST(Pause, ANegativeDurationIsNoPauseRatherThanAnEndlessOne) {
    EXPECT_EQ(PauseMilliseconds(-1), 0u);
    EXPECT_EQ(PauseMilliseconds(-100000), 0u);
    EXPECT_EQ(PauseMilliseconds(0), 0u);
    EXPECT_EQ(PauseMilliseconds(10), 10u);
}

TEST(OpenQueues, MissingSizesTakeTheirDefaultsAndLargeOnesWrapAt16Bits) {
    EXPECT_EQ(QueueSizesFor({}, {}).input, 1024);
    EXPECT_EQ(QueueSizesFor({}, {}).output, 128);
    EXPECT_EQ(QueueSizesFor(16384, 16384).input, 16384);
    EXPECT_EQ(QueueSizesFor(16384, {}).output, 128);
    EXPECT_EQ(QueueSizesFor(65536 + 10, 65535).input, 10);
    EXPECT_EQ(QueueSizesFor(65536 + 10, 65535).output, 65535);
}

}  // namespace
}  // namespace kestrel::serial
