// Window controls and port queries; windows are named by their RAM block.
#include "c331_fixture.h"
#include "scaler/c331_regs.h"

using scalertest::ScalerTest;
using namespace vlxram;

TEST(C331Ports, ConversionTablesMapEveryPortAndRefuseTheRest) {
    const int cvt[6] = {3, 2, 1, 0, 5, 4};
    for (int p = 0; p < 6; ++p) EXPECT_EQ(c331_manage::vlxApi_inputCvtC331(p), cvt[p]);
    EXPECT_EQ(c331_manage::vlxApi_inputCvtC331(6), 255);
    EXPECT_EQ(c331_manage::vlxApi_inputCvtC331(-1), 255);
    EXPECT_EQ(c331_manage::vlxApi_GetPortDevId(0), 3);
    EXPECT_EQ(c331_manage::vlxApi_GetPortDevId(4), 5);
    EXPECT_EQ(c331_manage::vlxApi_GetPortDevId(9), 3);
    EXPECT_EQ(c331_manage::dbdModeCode(5), 30);
    EXPECT_EQ(c331_manage::dbdModeCode(10), 1);
}

class C331WindowTest : public ScalerTest {
protected:
    void SetUp() override {
        ScalerTest::SetUp();
        startRunning();
    }
    // Windows 0, 2 and 3 shown; window 1 off.
    void threeWindows() {
        for (int w = 0; w < 6; ++w) ram->setRamU16(windowField(w, kWinState), w == 0 || w == 2 || w == 3 ? 1 : 0);
        ram->setRamU16(windowField(2, kWinSource), 1);
        ram->setRamU16(windowField(3, kWinSource), 4);
        m->vlxApi_initEnvC331();
        m->vlxApi_MultiWinChAlloc(1);
        m->vlxApi_MultiWinChInit();
    }
};

TEST_F(C331WindowTest, ChangesNameTheRamWindowAndReachItsRecordWhenAnEarlierWindowIsOff) {
    threeWindows();
    ASSERT_EQ(m->win_count, 3);
    EXPECT_EQ(m->recordOf(2), 1);
    EXPECT_EQ(m->recordOf(3), 2);
    EXPECT_EQ(m->recordOf(1), -1);
    m->c331_SetWinAttr(3, 2);
    EXPECT_EQ(m->PM_WIN_ATTR1[2], 1);
    EXPECT_EQ(m->PM_WIN_ATTR1[1], 0);
    const unsigned calls = m->set_output_calls;
    m->c331_SetWinAttr(1, 3);  // window 1 is not shown: nothing changes
    EXPECT_EQ(m->set_output_calls, calls);
    EXPECT_EQ(m->gWininfo[0].rotate, 0);
}

TEST_F(C331WindowTest, BlackOnAWindowWithPictureIsStoredAndReprogrammed) {
    threeWindows();
    const unsigned calls = m->set_output_calls;
    m->c331_SetWinOutput(m->fd(), 2, 0x0001);
    EXPECT_EQ(m->gWininfo[1].output & 1, 1);
    EXPECT_EQ(m->set_output_calls, calls + 1);
    EXPECT_EQ(m->PM_CHG[kChgDbd][1], 0);  // set_output consumed the request
    // black: the background covers every OCH of the window
    for (int o = 0; o < 8; ++o) {
        if (m->PM_WIN_NUM[o] == 1) {
            EXPECT_EQ(regOf(c331::kRegOchBgEnable, o), 1u) << o;
        }
    }
}

TEST_F(C331WindowTest, FreezeWithoutSignalStaysOffButFadeAndDotByDotBitsApply) {
    threeWindows();
    ram->setRamU16(windowField(2, kWinDbdMode), 5);
    m->c331_SetWinOutput(m->fd(), 2, 0x0106);
    EXPECT_EQ(m->gWininfo[1].output & 2, 0);
    EXPECT_EQ(m->PM_WIN_FADE_EN[1], 1);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], 30);
}

TEST_F(C331WindowTest, FreezeWithSignalFreezesTheWindowsInputChannel) {
    threeWindows();
    m->PI_NOSIGNAL[c331_manage::vlxApi_inputCvtC331(1)] = 0;
    m->win_ich[1] = 5;
    const unsigned calls = m->set_output_calls;
    ram->setRamU16(windowField(2, kWinDbdMode), 5);
    m->c331_SetWinOutput(m->fd(), 2, 0x0106);
    EXPECT_EQ(m->gWininfo[1].output & 2, 2);
    EXPECT_EQ(regOf(c331::kRegIsyct, 5), c331::kIchFreeze);
    EXPECT_EQ(m->set_output_calls, calls);  // a freeze is not reprogrammed away
    EXPECT_EQ(m->PM_WIN_FADE_EN[1], 1);     // but the switching effect is kept
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], 30);   // and so is the dot-by-dot mode
    m->c331_SetWinOutput(m->fd(), 2, 0x0000);
    EXPECT_EQ(regOf(c331::kRegIsyct, 5), c331::kIchRun);
}

TEST_F(C331WindowTest, CropIndexFortyAndAboveChangesNothing) {
    threeWindows();
    ram->setRamByte(kCropTable + 10 * 3, 5);
    m->c331_SetInputsourceCrop(0, 0x8028);
    EXPECT_EQ(m->gWininfo[0].cropIdx, 0);
    m->c331_SetInputsourceCrop(0, 0x8003);
    EXPECT_EQ(m->gWininfo[0].cropIdx, 3);
    EXPECT_EQ(m->gWininfo[0].input, 5);
}

TEST_F(C331WindowTest, DotByDotPortsListOnlyForDotByDotWindows) {
    threeWindows();
    int ports[6];
    EXPECT_EQ(m->vlxApi_GetWinDbdMultiPort(0, ports), 0);
    for (int p : ports) EXPECT_EQ(p, 6);
    m->PM_WIN_DBD_MODE[1] = 50;
    EXPECT_EQ(m->vlxApi_GetWinDbdMultiPort(2, ports), 1);
    EXPECT_EQ(ports[0], 5);
    EXPECT_EQ(ports[1], 4);
    EXPECT_EQ(ports[2], 6);
}

TEST_F(C331WindowTest, DotByDotModeIsKeptOnlyWhileTheWindowShowsDotByDot) {
    threeWindows();
    m->c331_SetWinDbdMode(m->fd(), 2, 3);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], 0);
    ram->setRamU16(windowField(2, kWinOutput), 0x100);
    m->c331_SetWinDbdMode(m->fd(), 2, 3);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], 22);
}
