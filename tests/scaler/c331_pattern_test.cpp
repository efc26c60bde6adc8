// Test patterns over window 0's OCHs.
#include "c331_fixture.h"
#include "scaler/c331_regs.h"

using scalertest::ScalerTest;
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

TEST_F(ScalerTest, PatternOffClearsEveryOchOfWindowZeroAndInputPollingResumes) {
    startRunning();
    oneWindowOnTwoOch(m);
    m->c331_SetPattern(6);
    ASSERT_EQ(regOf(kRegPatType, 1), 1u);
    m->win_count = 2;  // a second window appeared while the pattern is shown
    EXPECT_EQ(m->c331_SetPattern(0), 0);  // switching off is still possible
    for (int k : {0, 1}) {
        EXPECT_EQ(regOf(kRegPatType, k), 0u);
        EXPECT_EQ(regOf(kRegPatP2, k), 0u);
        EXPECT_EQ(regOf(kRegPatEn1, k), 0u);
    }
    EXPECT_EQ(m->vlxApi_IsPatternGen(), 0);
}
