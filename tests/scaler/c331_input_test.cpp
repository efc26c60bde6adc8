// Input supervision on the simulated chip: a picture plugged into an input is measured,
// classified and reaches the windows that show it; a lost picture turns them to background.
#include "c331_window_world.h"

using namespace scalertest;
using namespace vlxram;

class C331InputTest : public WindowWorld {
protected:
    void SetUp() override {
        WindowWorld::SetUp();
        setPanel(5, 2, 1);
        clearWindows();
    }
    int ichOf(int k) const { return m->ich.win_ich[k][0]; }
};

TEST_F(C331InputTest, SignalPluggedIntoAnInputReachesTheWindowsThatShowIt) {
    window(0, 0, 0, 960, 540, 2);     // HDMI1: chip port 1
    window(1, 1920, 0, 1920, 1080, 2);
    window(2, 960, 540, 500, 500, 3); // another input, left unplugged
    relayout();
    m->step();
    EXPECT_EQ(m->PI_STATE(1), 0);
    plug(2, 1920, 1080, 60);
    passLater();
    EXPECT_EQ(m->PI_STATE(1), 4);
    EXPECT_EQ(m->PI_NOSIGNAL[1], 0);
    EXPECT_EQ(m->PI_ACT[1].HST, 192);
    EXPECT_EQ(m->PI_ACT[1].HW, 1920);
    EXPECT_EQ(m->PI_ACT[1].VST, 41);
    EXPECT_EQ(m->PI_ACT[1].VW, 1080);
    EXPECT_NEAR(m->PI_FV[1], 60.0, 0.01);
    for (int k : {0, 1}) {
        SCOPED_TRACE(k);
        EXPECT_EQ(m->IWIN[k].HW, 1920);
        EXPECT_EQ(m->IWIN[k].VW, 1080);
        ASSERT_GE(ichOf(k), 0);
        EXPECT_EQ(regOf(c331::kRegIactHw, ichOf(k)), 1920u);
        EXPECT_EQ(regOf(c331::kRegIactHst, ichOf(k)), 192u - 7u);
        EXPECT_EQ(regOf(c331::kRegIchSelect0 + (unsigned(ichOf(k)) << 8)), 2u);  // port 1
        for (int o = 0; o < 8; ++o) {
            if (m->PM_WIN_NUM[o] == k) {
                EXPECT_EQ(regOf(c331::kRegOchBgEnable, o), 0u) << "picture shown on OCH " << o;
            }
        }
    }
    // window 0 shows 1920 x 1080 in 960 x 540: shrunk by its input channel
    EXPECT_EQ(regOf(c331::kRegHShrStep, ichOf(0)), unsigned(c331geom::ratioStep(960, 1920)));
    EXPECT_EQ(regOf(c331::kRegHShrCtl, ichOf(0)), c331::kHShrOn);
    EXPECT_EQ(regOf(c331::kRegHShrCtl, ichOf(1)), c331::kHShrOff);
    EXPECT_EQ(m->PI_STATE(0), 0);  // the other input stays dark

    unplug(2);
    passLater();
    EXPECT_EQ(m->PI_NOSIGNAL[1], 1);
    EXPECT_EQ(m->PI_STATE(1), 0);
    EXPECT_EQ(m->PI_ACT[1].HST, 16);
    EXPECT_EQ(m->PI_ACT[1].HW, 0);
    for (int o = 0; o < 8; ++o) {
        if (m->PM_WIN_NUM[o] == 0 || m->PM_WIN_NUM[o] == 1) {
            EXPECT_EQ(regOf(c331::kRegOchBgEnable, o), 1u) << "background on OCH " << o;
        }
    }
    EXPECT_EQ(chip->guestErrors(), 0u);
}

TEST_F(C331InputTest, UnstableReceiverRecordChangesNothing) {
    window(0, 0, 0, 960, 540, 2);
    relayout();
    m->step();
    c331in::installReceiverReader([](int, c331in::ReceiverTiming*) { return false; });
    plug(2, 1920, 1080, 60);  // the chip measures a picture, the receiver is not settled
    passLater();
    c331in::installReceiverReader(nullptr);
    EXPECT_EQ(m->PI_STATE(1), 0);
    EXPECT_EQ(m->PI_ACT[1].HW, 0);
}

TEST_F(C331InputTest, MeasurementOutOfRangeIsNoSignal) {
    window(0, 0, 0, 960, 540, 2);
    relayout();
    plug(2, 1920, 1080, 60);
    passLater();
    ASSERT_EQ(m->PI_STATE(1), 4);
    chip->setReg(c331::kMeasBank, c331::measHTotalAddr(1), 0xFF);  // h total reads 0xFFFF
    chip->setReg(c331::kMeasBank, c331::measHTotalAddr(1) + 1, 0xFF);
    passLater();
    EXPECT_EQ(m->PI_NOSIGNAL[1], 1);
    EXPECT_EQ(m->PI_STATE(1), 0);
}

TEST_F(C331InputTest, InterlacedAndVByOneInputsAreClassified) {
    // 1080i at 50 Hz on a CMOS port: field total 562
    c331in::installReceiverReader([](int source, c331in::ReceiverTiming* t) {
        *t = c331in::timingFromRam(source, 1920, 540, 50);
        if (source == 2) {
            t->vtotal = 562;
            t->ip = 1;
        } else if (source == 4) {  // V-by-One, 4 lanes, 1920 wide at 148.5 MHz
            *t = c331in::timingFromRam(source, 1920, 1080, 60);
            t->lane = 4;
        }
        return true;
    });
    window(0, 0, 0, 960, 540, 2);
    window(1, 1920, 0, 960, 540, 4);
    relayout();
    plat::sim::C331Model::InputSignal i1;
    i1.htotal = 2640, i1.vtotal = 562, i1.hact = 1920, i1.hz = 50;
    chip->setInputSignal(1, i1);
    plat::sim::C331Model::InputSignal v;
    v.htotal = 2200, v.vtotal = 1125, v.hact = 960, v.hz = 60, v.lanes = 4;
    chip->setInputSignal(5, v);
    passLater();
    c331in::installReceiverReader(nullptr);
    EXPECT_EQ(m->PI_STATE(1), 6);
    EXPECT_EQ(m->PI_SCAN_MODE(1), 1);
    EXPECT_EQ(m->PI_ACT[1].HW, 1920);  // state 4 and above: not halved
    EXPECT_EQ(m->PI_STATE(5), 1);      // 4 lanes is not fewer than 4
    EXPECT_EQ(m->PI_ACT[5].HW, 960);   // two pixels per clock: halved
    EXPECT_EQ(m->inputWidth(5), 1920);
    // the V-by-One receiver was set up for four lanes, the interlaced input sits on a de-interlacing ICH
    EXPECT_EQ(regOf(c331::kRegVboRxLanes + (c331::kVboRxStride << 8)), 0xF0u);
    EXPECT_LT(m->ich.win_ich[0][0], 4);
    EXPECT_TRUE(m->ich.holdsPair(1));
}

TEST_F(C331InputTest, SourceSwitchTakesSourceModuloSixAndRefusesUnknownWindows) {
    window(0, 0, 0, 500, 500, 0);
    window(1, 600, 0, 500, 500, 0);
    window(2, 1200, 0, 500, 500, 0);
    window(3, 1800, 0, 500, 500, 0);
    relayout();
    m->c331_SetInputsource(3, 8);
    EXPECT_EQ(m->gWininfo[3].input, 2);
    EXPECT_EQ(m->PM_INPUT[3], 1);
    const unsigned calls = m->set_output_calls;
    m->c331_SetInputsource(5, 1);  // block 5 is not shown
    EXPECT_EQ(m->set_output_calls, calls);
}

TEST_F(C331InputTest, LostVByOneInputIsRestartedPacedNotOnEveryPass) {
    window(0, 0, 0, 960, 540, 4);  // chip port 5: V-by-One receiver 1
    relayout();
    m->step();
    chip->setFrameLog(true);
    for (int i = 0; i < 50; ++i) m->step();  // no time passes
    int restarts = 0;
    for (const RegWrite& w : writes())
        if (w.bank == 2 && w.addr == 0x7F && w.value == 13) ++restarts;
    EXPECT_LE(restarts, 1);
    G_timeTicks += c331_manage::kVboRestartTicks;
    m->step();
    restarts = 0;
    for (const RegWrite& w : writes())
        if (w.bank == 2 && w.addr == 0x7F && w.value == 13) ++restarts;
    EXPECT_GE(restarts, 1);
}

TEST_F(C331InputTest, CropMarginsFollowTheMeasuredInput) {
    ram->setRamU16(kCropTable + kCropEntrySize * 2, kCropInUse | 2);
    ram->setRamU16(kCropTable + kCropEntrySize * 2 + 2, 100);
    ram->setRamU16(kCropTable + kCropEntrySize * 2 + 4, 50);
    ram->setRamU16(kCropTable + kCropEntrySize * 2 + 6, 800);
    ram->setRamU16(kCropTable + kCropEntrySize * 2 + 8, 600);
    window(0, 0, 0, 800, 600, kSourceIsCrop | 2);
    relayout();
    EXPECT_EQ(m->PM_INPUT_OFFSET_EN[0], 1);
    EXPECT_EQ(m->PM_INPUT_OFFSET[0][1], 0);  // no picture yet: no margins
    plug(2, 1920, 1080, 60);
    passLater();
    EXPECT_EQ(m->PM_INPUT_OFFSET[0][0], 100);
    EXPECT_EQ(m->PM_INPUT_OFFSET[0][1], 1020);
    EXPECT_EQ(m->PM_INPUT_OFFSET[0][2], 50);
    EXPECT_EQ(m->PM_INPUT_OFFSET[0][3], 430);
    EXPECT_EQ(m->IWIN[0].HST, 100);
    EXPECT_EQ(m->IWIN[0].HW, 800);
    EXPECT_EQ(m->IWIN[0].VW, 600);
}
