// The refresh timer's interval: at least a second, and never beyond what the timer can hold.
#include "app/refresh_interval.h"

#include <gtest/gtest.h>

namespace mistvale {

TEST(RefreshInterval, BoundedBelowByOneSecondAndAboveByInt) {
    EXPECT_EQ(RefreshIntervalMs(0), 1000);
    EXPECT_EQ(RefreshIntervalMs(1), 1000);
    EXPECT_EQ(RefreshIntervalMs(2), 2000);
    EXPECT_EQ(RefreshIntervalMs(2147483), 2147483000);
    EXPECT_EQ(RefreshIntervalMs(2147484), 2147483000);
    EXPECT_EQ(RefreshIntervalMs(0xFFFFFFFFull), 2147483000);
}

} // namespace mistvale
