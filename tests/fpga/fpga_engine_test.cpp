// The engine object: opening the devices and the register window, the start levels,
// the pass, and the bring-up of both FPGAs on the simulated board.
#include <sys/mman.h>

#include <QDateTime>

#include "platform/sim/board_control.h"
#include "platform/sys.h"

#include "fpga_fixture.h"

using namespace fpgatest;
using namespace plat::wiring;

TEST_F(FpgaTest, InitializeOpensTheWindowSetsTheStartLevelsAndStartsTheThread) {
    fpga_manage* e = start();
    EXPECT_EQ(board().gpio(kGpioRxReset0), kLow);
    EXPECT_EQ(board().gpio(kGpioRxReset1), kLow);
    EXPECT_EQ(board().gpio(kGpioEdidWrite), kHigh);
    EXPECT_EQ(board().gpio(kGpioFpga1FlashAccessB), kHigh);
    EXPECT_EQ(board().gpio(kGpioFpga1CommandB), kHigh);
    EXPECT_EQ(board().gpio(kSocEnable1F1C), 1);
    const uint8_t* m = fpga_manage::MCU_RAM_CMD;
    EXPECT_EQ(Bytes(m + 24, m + 34), Bytes({1, 17, 0, 0, 0xFF, 1, 0, 0, 0, 0}));
    EXPECT_EQ(fpga_manage::MCU_RAM_EXTEND[49], 0x9F);
    EXPECT_EQ(fpga_manage::MCU_RAM_EXTEND[50], 0x1F);
    EXPECT_EQ(g_send_para[1], 0xFF);
    EXPECT_TRUE(testkit::exists("/data/smartmapping"));
    EXPECT_TRUE(testkit::exists("/data/rcvrecovery"));
    EXPECT_TRUE(e->bus.fpga0Select.valid());
}

TEST_F(FpgaTest, WindowFailuresLeaveNoThreadAndHarmlessGpioWords) {
    struct Case {
        const char* what;
        std::function<void()> arm;
    };
    const Case cases[] = {
        {"msys missing", [this] { board().failOpen("/dev/msys"); }},
        {"mem missing", [this] { board().failOpen("/dev/mem"); }},
        {"request refused", [this] { board().failMsysRequest(true); }},
        {"window too short", [this] { board().setMsysWindow(plat::sim::kRegWindowPhys, kGpioWindowNeeded - 2); }},
        {"map fails", [this] { board().failMemMap(true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        plat::resetSys();
        c.arm();
        fpga_manage e;
        EXPECT_EQ(e.initialize(), 255);
        EXPECT_FALSE(e.threadRunning());
        EXPECT_FALSE(e.bus.fpga0Select.valid());
        // the scaler's driver and the input chips drive these words whatever happened
        e.bus.fpga0Select.set(kHigh);
        e.bus.fpga1Reset.set(kLow);
        EXPECT_EQ(e.bus.link[0], -1) << "nothing left open";
        EXPECT_EQ(e.read_from_register(31, 0), 0);
    }
}

TEST_F(FpgaTest, NothingReachesTheFpgasUntilTheScalerIsUp) {
    fpga_manage* e = start();
    board().setSpiFrameLog(true);
    for (int k = 0; k < 200; ++k) G_timeTicks.fetch_add(1);
    plat::sleepMs(0);
    e->stopThread();
    EXPECT_TRUE(frames("/dev/spidev32766.1").empty());
    EXPECT_TRUE(frames("/dev/spidev32766.2").empty());
}

TEST_F(FpgaTest, BothFpgasComeUpAndSwitchTheirOutputOn) {
    fpga_manage* e = open();
    ASSERT_TRUE(bringUp());
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        SimFpga& f = *chips->fpga[i];
        EXPECT_TRUE(f.videoOn());
        EXPECT_GE(f.applyCount(), 1u);
        EXPECT_TRUE(f.locked());
        EXPECT_EQ(e->ram_check_result[i], 1);
        // port numbers of the FPGA's 16 ports
        EXPECT_EQ(f.ram(1, 276, 2), Bytes({uint8_t(16 * i + 1), uint8_t(16 * i + 2)}));
        // chip 2's unique ID on both
        EXPECT_EQ(f.reg(32), plat::sim::kFpgaFlashUid[0][0]);
        EXPECT_EQ(f.reg(39), plat::sim::kFpgaFlashUid[0][7]);
        EXPECT_EQ(f.reg(2) & 0x08, 0x08) << "parameters loaded";
    }
    EXPECT_EQ(c331_manage::update_flag, 1) << "the joint step hands over to the scaler";
    EXPECT_EQ(g_force_bkcolor, 0);
    EXPECT_EQ(Bytes(fpga_manage::MCU_RAM_CMD + 12, fpga_manage::MCU_RAM_CMD + 16), Bytes({0x12, 0x05, 0x01, 26}));
    EXPECT_EQ(guestErrors(), 0u) << "no virtual register on the wire, no bit 2 doorbell, no flash misuse";
}

TEST_F(FpgaTest, AStageNotReadyFpgaIsSkippedWhileTheOtherIsServed) {
    fpga_manage* e = open();
    fpga_manage::clock_stage_ready = [](int i) { return i == 0; };
    board().setSpiFrameLog(true);
    g_fpga_c331_start = 1;
    tick(600);
    EXPECT_EQ(e->start_state[0], 7);
    EXPECT_EQ(e->start_state[1], 0);
    EXPECT_TRUE(frames("/dev/spidev32766.2").empty());
    EXPECT_EQ(e->get_fpga_status(), 0);
}

TEST_F(FpgaTest, RamReadBackMismatchResetsAndTheFpgaComesBackOnceItReadsTrue) {
    fpga_manage* e = open();
    chips->fpga[1]->profile().corruptRam1Word = 19;  // port 1's x
    g_fpga_c331_start = 1;
    tick(400);
    EXPECT_GE(chips->fpga[1]->resets(), 1u);
    EXPECT_EQ(e->get_fpga_status(), 0);
    chips->fpga[1]->profile().corruptRam1Word = -1;
    ASSERT_TRUE(bringUp());
}

TEST_F(FpgaTest, NoStartOrCheckStepReachesAnFpgaHeldInReset) {
    fpga_manage* e = open();
    ASSERT_TRUE(bringUp());
    board().setSpiFrameLog(true);
    board().clearSpiFrames();
    e->reset_fpga_rst(1);
    for (int k = 0; k < 200; ++k) {
        tick();
        ASSERT_TRUE(frames("/dev/spidev32766.2").empty()) << "tick " << k;
    }
    EXPECT_EQ(chips->fpga[1]->resets(), 1u);
    ASSERT_TRUE(bringUp());
    EXPECT_TRUE(chips->fpga[1]->videoOn()) << "the output check ran again on the fresh FPGA";
}

TEST_F(FpgaTest, VboErrorsResetTwiceThenTheStartGoesOnRegardless) {
    fpga_manage* e = open();
    chips->fpga[0]->profile().vboErrorStuck = true;
    g_fpga_c331_start = 1;
    int resetsSeen = 0;
    for (int k = 0; k < 3000 && e->start_state[0] < 3; ++k) tick();
    resetsSeen = int(chips->fpga[0]->resets());
    EXPECT_EQ(resetsSeen, 2) << "two resets, then state 3 anyway";
    EXPECT_GE(e->start_state[0], 3);
}

TEST_F(FpgaTest, RestartIndicationRedoesTheOutputCheck) {
    fpga_manage* e = open();
    ASSERT_TRUE(bringUp());
    // the FPGA reloaded its bitstream by itself: the receiving-card side marks it for a new start
    chips->fpga[1]->holdInReset(true);
    chips->fpga[1]->holdInReset(false);
    ASSERT_FALSE(chips->fpga[1]->videoOn());
    e->write_to_register(80, 0xFF, 0, 1);
    {
        std::lock_guard<std::mutex> lock(e->reg_mutex);
        fpga_manage::MCU_REG_func[1][31] = 0;
    }
    EXPECT_EQ(e->get_fpga_status(), 0);
    ASSERT_TRUE(bringUp());
    EXPECT_TRUE(chips->fpga[1]->videoOn());
}

TEST_F(FpgaTest, OutputCheckCountersDoNotWrapAndResetsStopAtTheLimit) {
    fpga_manage* e = open();
    ASSERT_TRUE(bringUp());
    chips->fpga[0]->profile().inputNeverReady = true;
    e->check_state[0] = 0;
    // twelve resets behind it: the next bound is 260 failed checks, above any u8
    e->check_reset_count[0] = 12;
    e->check_fail_count[0] = 255;
    tick(12);
    EXPECT_EQ(e->check_fail_count[0], 256u);
    EXPECT_EQ(chips->fpga[0]->resets(), 0u);

    e->check_reset_count[0] = 100;
    e->check_fail_count[0] = 20 * 101;
    const unsigned before = chips->fpga[0]->resets();
    tick(200);
    EXPECT_EQ(chips->fpga[0]->resets(), before) << "no reset beyond the limit";
    EXPECT_EQ(e->check_gave_up[0], 1);
    chips->fpga[0]->profile().inputNeverReady = false;
    ASSERT_TRUE(bringUp()) << "still watching: a late input brings the output up";
}

TEST_F(FpgaTest, InputSmallerThanHalfTheLedSizeKeepsTheOutputOff) {
    fpga_manage* e = open();
    ram->setRamU16(vlxram::kLedWidth, 1920);
    ram->setRamU16(vlxram::kLedHeight, 1080);
    chips->fpga[0]->setMeasuredInput(959, 540, 833753);
    g_fpga_c331_start = 1;
    tick(900);
    EXPECT_EQ(e->check_state[0], 7);
    EXPECT_FALSE(chips->fpga[0]->videoOn());
    chips->fpga[0]->setMeasuredInput(960, 540, 714286);
    ASSERT_TRUE(bringUp());
}

TEST_F(FpgaTest, LinkWatchRelinksOnFourBadSamplesOfEight) {
    fpga_manage* e = open();
    ASSERT_TRUE(bringUp());
    chips->fpga[0]->profile().badLinkSamples = 3;
    tick(10);
    EXPECT_EQ(e->check_vbo_status(0), 0);
    chips->fpga[0]->profile().badLinkSamples = 4;
    tick(10);
    EXPECT_EQ(e->check_vbo_status(0), 1);
    EXPECT_FALSE(chips->fpga[0]->locked()) << "both start steps withdrawn";
    chips->fpga[0]->profile().badLinkSamples = 0;
    for (int k = 0; k < 3; ++k) {
        tick(10);
        e->check_vbo_status(0);
    }
    EXPECT_EQ(e->relink_flag[0], 0);
    EXPECT_EQ(chips->fpga[0]->reg(3) & 0xC0, 0xC0) << "both start steps given again";
}

TEST_F(FpgaTest, ClockIsReadOnlyWhileBothRun) {
    fpga_manage* e = open();
    board().setWallClock(QDateTime(QDate(2026, 3, 5), QTime(9, 7, 0)).toSecsSinceEpoch());
    e->current_time.weekday = 9;
    g_fpga_c331_start = 1;
    tick(30);
    EXPECT_EQ(e->current_time.year, 0);
    ASSERT_TRUE(bringUp());
    board().setWallClock(QDateTime(QDate(2026, 3, 5), QTime(9, 7, 0)).toSecsSinceEpoch());
    tick(30);
    EXPECT_EQ(e->current_time.year, 2026);
    EXPECT_EQ(e->current_time.month, 3);
    EXPECT_EQ(e->current_time.day, 5);
    EXPECT_EQ(e->current_time.hour, 9);
    EXPECT_EQ(e->current_time.minute, 7);
    // the board's wall clock runs on with real time while the ticks are stepped
    EXPECT_LE(e->current_time.second, 2);
    EXPECT_EQ(e->current_time.weekday, 9) << "not filled";
    // the schedules read the clock on every pass: without touching the heap
    const long long before = testkit::threadAllocations();
    TimeRealType t{};
    e->IT8563WE_Get(&t);
    if (before >= 0) {
        EXPECT_EQ(testkit::threadAllocations(), before);
    }
    EXPECT_EQ(t.day, 5);
}

TEST_F(FpgaTest, BoardControlHoldsAnFpgaInResetBreaksItsLockAndReadsItsRegisters) {
    fpga_manage* e = open();
    ASSERT_TRUE(bringUp());
    plat::sim::registerChipCommands();
    EXPECT_EQ(plat::sim::runBoardCommand("chip fpga0 reg 31"), "OK 26");
    // as a read on the wire answers, the way the protocol reads them
    chips->fpga[0]->setPortLinks(0x0003);
    EXPECT_EQ(plat::sim::runBoardCommand("chip fpga0 reg 128"), "OK 3") << "cards on ports 0 and 1";
    EXPECT_EQ(plat::sim::runBoardCommand("chip fpga0 reg 22"), "OK 144") << "locked, input ready";
    EXPECT_EQ(plat::sim::runBoardCommand("chip fpga1 break-lock"), "OK");
    EXPECT_FALSE(chips->fpga[1]->locked());
    for (int k = 0; k < 4; ++k) {  // the link watch, as the idle work runs it
        tick(10);
        e->check_vbo_status(1);
    }
    tick(3);
    EXPECT_TRUE(chips->fpga[1]->locked()) << "the link watch started the receiver again";
    EXPECT_EQ(plat::sim::runBoardCommand("chip fpga1 reset hold"), "OK");
    EXPECT_TRUE(chips->fpga[1]->inReset());
    EXPECT_EQ(plat::sim::runBoardCommand("chip fpga1 reset release"), "OK");
    EXPECT_FALSE(chips->fpga[1]->videoOn()) << "back in its power-on state";
    EXPECT_EQ(plat::sim::runBoardCommand("chip flash0 cut 0"), "OK");
    EXPECT_EQ(plat::sim::runBoardCommand("chip fpga0 reg 300").rfind("ERR", 0), 0u);
}
