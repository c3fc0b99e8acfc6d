// The paced back-off of the library's waiting loops.
#include "common/tables/backoff.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrel::common {
namespace {

using std::chrono::milliseconds;

std::vector<long> Pauses(Backoff& backoff, int count) {
    std::vector<long> pauses;
    for (int i = 0; i < count; ++i) {
        pauses.push_back(static_cast<long>(backoff.Next().count()));
    }
    return pauses;
}

TEST(Backoff, PausesDoubleFromOneMillisecondUpToTheCeiling) {
    Backoff backoff;
    EXPECT_EQ(Pauses(backoff, 9), (std::vector<long>{1, 2, 4, 8, 16, 32, 50, 50, 50}));
    EXPECT_EQ(backoff.Waited(), milliseconds(1 + 2 + 4 + 8 + 16 + 32 + 50 * 3));
}

TEST(Backoff, ARaisedCeilingGoesOnDoublingAndALoweredOneHoldsAtOnce) {
    Backoff backoff(milliseconds(1), milliseconds(50));
    Pauses(backoff, 8);
    backoff.SetCeiling(milliseconds(1000));
    EXPECT_EQ(Pauses(backoff, 6), (std::vector<long>{100, 200, 400, 800, 1000, 1000}));
    backoff.SetCeiling(milliseconds(5));
    EXPECT_EQ(Pauses(backoff, 2), (std::vector<long>{5, 5}));
}

TEST(Backoff, NoPauseIsEverZero) {
    Backoff backoff(milliseconds(0), milliseconds(0));
    EXPECT_EQ(Pauses(backoff, 3), (std::vector<long>{1, 1, 1}));
}

}  // namespace
}  // namespace kestrel::common
