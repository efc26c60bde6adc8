#include "core/global.h"
#include "core/utils.h"
#include "support/testkit.h"

TEST(TimeSpace, CountsTicksSinceStartAndLosesOneAcrossWrap) {
    G_timeTicks = 25;
    EXPECT_EQ(Utils::getTimeSpace(10), 15u);
    G_timeTicks = 10;
    EXPECT_EQ(Utils::getTimeSpace(10), 0u);
    G_timeTicks = 5;
    EXPECT_EQ(Utils::getTimeSpace(0xFFFFFFF0u), 20u);
}
