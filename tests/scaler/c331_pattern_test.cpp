// Test patterns over window 0's OCHs.
#include "c331_window_world.h"

using scalertest::ScalerTest;
using scalertest::WindowWorld;
using namespace c331;

namespace {

void oneWindowOnTwoOch(c331_manage* m) {
    m->win_count = 1;
    m->gWininfo[0].ochLst[0] = 0;
    m->gWininfo[0].ochLst[1] = 1;
    m->gWininfo[0].ochCntH = 2;
    m->gWininfo[0].ochCntV = 1;
}

}  // namespace

TEST_F(ScalerTest, PatternIndexWrapsEveryTwentyAndFirstOchGetsModeZero) {
    startRunning();
    oneWindowOnTwoOch(m);
    EXPECT_EQ(m->c331_SetPattern(21), 0);  // pattern 0: red
    EXPECT_EQ(regOf(kRegPatType, 0), 4u);
    EXPECT_EQ(regOf(kRegPatC1, 0), 255u);
    EXPECT_EQ(regOf(kRegPatC2, 1), 0u);
    EXPECT_EQ(regOf(kRegPatMode, 0), 0u);
    EXPECT_EQ(regOf(kRegPatMode, 1), 3u);
    EXPECT_EQ(m->vlxApi_IsPatternGen(), 1);
    EXPECT_EQ(m->c331_SetPattern(20), 0);  // pattern 19
    EXPECT_EQ(regOf(kRegPatType, 1), 3u);
    EXPECT_EQ(regOf(kRegPatOpt1, 1), 1u);
    EXPECT_EQ(regOf(kRegPatP3, 1), 0x4FFFu);
    EXPECT_EQ(regOf(kRegPatEn3, 1), 3u);
    EXPECT_EQ(regOf(kRegPatC1, 0), 255u);
    EXPECT_EQ(regOf(kRegPatMode, 0), kPatModeWide);
    EXPECT_EQ(chip->reg(0, 0x22), 0x99);  // updates released
}

TEST_F(ScalerTest, PatternIsRefusedWithTwoWindowsAndTheOutputStaysUnchanged) {
    startRunning();
    oneWindowOnTwoOch(m);
    m->win_count = 2;
    const auto frames = chip->counters().frames;
    EXPECT_EQ(m->c331_SetPattern(3), -1);
    EXPECT_EQ(chip->counters().frames, frames);
    EXPECT_EQ(m->vlxApi_IsPatternGen(), 0);
}

TEST_F(ScalerTest, PatternOffClearsTheOchOfEveryWindowAndInputPollingResumes) {
    startRunning();
    oneWindowOnTwoOch(m);
    m->c331_SetPattern(6);
    ASSERT_EQ(regOf(kRegPatType, 1), 1u);
    // a second window took OCH 1 while the pattern is shown
    m->win_count = 2;
    m->gWininfo[0].ochCntH = 1;
    m->gWininfo[1].ochLst[0] = 1;
    m->gWininfo[1].ochCntH = m->gWininfo[1].ochCntV = 1;
    EXPECT_EQ(m->c331_SetPattern(0), 0);  // switching off is still possible
    for (int k : {0, 1}) {
        EXPECT_EQ(regOf(kRegPatType, k), 0u);
        EXPECT_EQ(regOf(kRegPatP2, k), 0u);
        EXPECT_EQ(regOf(kRegPatEn1, k), 0u);
    }
    EXPECT_EQ(m->vlxApi_IsPatternGen(), 0);
}

TEST_F(WindowWorld, PatternOverTheOnlyWindowShownLiftsItsBackgroundWhenRamWindowZeroIsOff) {
    clearWindows();
    window(1, 0, 0, 1920, 1080, 2);  // no signal: its background is on
    relayout();
    ASSERT_EQ(m->win_count, 1);
    ASSERT_EQ(m->gWininfo[0].ramWin, 1);
    const int och = m->gWininfo[0].ochLst[0];
    ASSERT_EQ(regOf(kRegOchBgEnable, och), 1u);
    takeAsApplied();
    writeRam(vlxram::kTestPattern, 4);  // white
    m->step();
    EXPECT_EQ(regOf(kRegPatC1, och), 255u);
    EXPECT_EQ(regOf(kRegOchBgEnable, och), 0u) << "the pattern is not hidden behind the no-signal background";
    shadowFollows();
    writeRam(vlxram::kTestPattern, 0);
    m->step();
    EXPECT_EQ(regOf(kRegPatType, och), 0u);
    EXPECT_EQ(regOf(kRegOchBgEnable, och), 1u);
    EXPECT_EQ(chip->guestErrors(), 0u);
}
