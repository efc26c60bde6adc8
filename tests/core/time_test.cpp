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

TEST(PcWindow, FrameNotedWhileTheEngineEndsTheWindowKeepsItOpen) {
    pc_window::clear();
    G_timeTicks = 1000;
    pc_window::note();
    G_timeTicks = 1000 + pc_window::kTicks + 1;
    // a link thread's frame lands between the engine's look at the old tick and its end
    pc_window::setEndingHookForTest([] { pc_window::note(); });
    const pc_window::State seen = pc_window::look();
    pc_window::setEndingHookForTest(nullptr);
    EXPECT_EQ(seen, pc_window::kOpen);
    EXPECT_EQ(pc_window::tick(), 1000 + pc_window::kTicks + 1) << "the new frame's window stays";
    EXPECT_EQ(pc_window::look(), pc_window::kOpen);
    G_timeTicks = 1000 + 2 * pc_window::kTicks + 2;
    EXPECT_EQ(pc_window::look(), pc_window::kEnded);
    EXPECT_FALSE(pc_window::open());
}
