// A broken invariant stops a test build where it happens, with the condition and its place.
#include "platform/check.h"

#include <gtest/gtest.h>

namespace mistvale {

TEST(Check, AHoldingConditionIsTrueABrokenOneStopsWithItsPlace) {
    int value = 1;
    EXPECT_TRUE(MV_CHECK(value == 1));
    EXPECT_DEATH(MV_CHECK(value == 2), "check failed: value == 2 \\(.*check_test.cpp:[0-9]+\\)");
}

} // namespace mistvale
