// Picture adjustments: register values on every OCH, written under held updates.
#include <algorithm>
#include <cstdint>

#include "c331_fixture.h"
#include "scaler/c331_regs.h"

using scalertest::ScalerTest;
using namespace c331;

TEST(C331Brightness, WordFollowsTheFormulaWithTwelveBitNegatives) {
    EXPECT_EQ(c331_manage::brightnessWord(50), 0);
    EXPECT_EQ(c331_manage::brightnessWord(100), 1024);
    EXPECT_EQ(c331_manage::brightnessWord(0), 0xC00);
    EXPECT_EQ(c331_manage::brightnessWord(49), 0xFEC);   // -20 in 12 bits
    EXPECT_EQ(c331_manage::brightnessWord(150), 0xFEC);  // 150 is taken as 49
}

TEST_F(ScalerTest, PictureSettersReachEveryOchAndLeaveUpdatesNormal) {
    startRunning();
    c331_manage::c331_SetBrightness(0);
    c331_manage::c331_SetContrast(50);
    c331_manage::c331_SetSaturation(100);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(regOf(kRegBright2, k), 0xC00u);
        EXPECT_EQ(regOf(kRegContrast1, k), 511u);
        EXPECT_EQ(regOf(kRegSat2, k), 1023u);
        EXPECT_EQ(regOf(kRegEnhEnable, k) & 1, 1u);
        EXPECT_EQ(regOf(kRegSatEnable, k) & 1, 1u);
    }
    EXPECT_EQ(chip->reg(0, 0x22), 0x99);
    EXPECT_EQ(chip->reg(0, 0x28), 0x99);
}

TEST_F(ScalerTest, ColourTemperaturePresetIgnoresUserBytesAndUserModeScalesThem) {
    startRunning();
    c331_manage::c331_SetColorTemp(0x40404002);
    for (int k : {0, 7}) {
        EXPECT_EQ(regOf(kRegColorMatrix0, k), 8192u);
        EXPECT_EQ(regOf(0x0C6202, k), 8192u);
        EXPECT_EQ(regOf(0x0C6A02, k), 8192u);
        EXPECT_EQ(regOf(0x0C5C02, k), 0u);
    }
    c331_manage::c331_SetColorTemp(int(0x80402000u));  // user: 128, 64, 32
    EXPECT_EQ(regOf(kRegColorMatrix0, 4), 8192u);
    EXPECT_EQ(regOf(0x0C6202, 4), 4096u);
    EXPECT_EQ(regOf(0x0C6A02, 4), 2048u);
    for (unsigned a = 0x59; a <= 0x60; ++a) EXPECT_EQ(chip->reg(0, a) & 0x20, 0x20) << a;
}

TEST_F(ScalerTest, SharpnessGainSaturatesAtOneByteInsteadOfWrappingToOff) {
    startRunning();
    // A live, sized window 0 on OCH 0.
    m->win_count = 1;
    m->gWininfo[0].input = 3;
    m->gWininfo[0].ochLst[0] = 0;
    m->gWininfo[0].ochCntH = m->gWininfo[0].ochCntV = 1;
    m->PI_NOSIGNAL[c331_manage::vlxApi_inputCvtC331(3)] = 0;
    m->IWIN_W[0] = 1920, m->IWIN_H[0] = 1080, m->OWIN_W[0] = 1920, m->OWIN_H[0] = 1080;
    c331_manage::c331_SetSharpness(30);  // level 20: 256 does not fit a byte
    EXPECT_EQ(regOf(kRegSharpHGain), 255u);
    c331_manage::c331_SetSharpness(15);  // level 5
    EXPECT_EQ(regOf(kRegSharpHGain), 64u);
    EXPECT_EQ(regOf(kRegSharpHCoef0), 44u);  // ratio 1
    c331_manage::c331_SetSharpness(9);
    EXPECT_EQ(regOf(kRegSharpHGain), 0u);
    c331_manage::c331_SetSharpness(15);
    c331_manage::c331_SetSharpness(10);  // 10 is level 0 too
    EXPECT_EQ(regOf(kRegSharpHGain), 0u);
}

TEST_F(ScalerTest, SharpnessSkipsAWindowWithoutSizesInsteadOfDividingByZero) {
    startRunning();
    m->win_count = 1;
    m->gWininfo[0].input = 3;
    m->gWininfo[0].ochLst[0] = 0;
    m->gWininfo[0].ochCntH = m->gWininfo[0].ochCntV = 1;
    m->PI_NOSIGNAL[c331_manage::vlxApi_inputCvtC331(3)] = 0;
    chip->setReg(0x0B, 0x09, 0x77);
    c331_manage::c331_SetSharpness(40);
    EXPECT_EQ(chip->reg(0x0B, 0x09), 0x77);
}

TEST_F(ScalerTest, ContrastIsWrittenWhileUpdatesAreHeldAndReleasedAfterTheLastRegister) {
    startRunning();
    chip->setFrameLog(true);
    c331_manage::c331_SetContrast(40);
    // [first row of mode 2 .. first row of mode 1]: the span in which updates are held
    size_t held = SIZE_MAX, released = SIZE_MAX, first = SIZE_MAX, last = 0, writes = 0;
    const auto frames = chip->frames();
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto& f = frames[i];
        if (!(f.tx[0] & 0x80)) continue;
        const unsigned a = f.tx[0] & 0x7Fu;
        if (f.bank == 0 && a == 0x22 && f.tx[1] == 0xFF && held == SIZE_MAX) held = i;
        if (f.bank == 0 && a == 0x22 && f.tx[1] == 0x99 && held != SIZE_MAX) released = i;
        if ((f.bank & 0x0F) == 0x0C && f.bank >= 0x0C && a >= 0x28 && a <= 0x2D) {
            first = std::min(first, i);
            last = i;
            ++writes;
        }
    }
    EXPECT_EQ(writes, 8u * 3u * 2u);
    ASSERT_NE(held, SIZE_MAX);
    ASSERT_NE(released, SIZE_MAX);
    EXPECT_LT(held, first);
    EXPECT_LT(last, released);
    EXPECT_EQ(rowWritesOutsideTheHold(), 0u);
}
