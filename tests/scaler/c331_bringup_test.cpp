// Chip-id phase, bring-up and the manager thread.
#include <chrono>
#include <thread>

#include "platform/platform.h"

#include "c331_fixture.h"
#include "scaler/c331_init_data.h"
#include "scaler/c331_regs.h"

using scalertest::ScalerTest;

TEST_F(ScalerTest, ChipIdNeedsFiveGoodReadsAndABadReadInBetweenDoesNotResetTheCount) {
    startStore();
    chip->setChipIdSequence({0x24, 0x00, 0x24, 0x24, 0x24, 0x24});
    c331_manage* mgr = c331_manage::createForTest();
    for (int i = 0; i < 5; ++i) mgr->step();
    EXPECT_EQ(mgr->state(), 4);
    mgr->step();
    EXPECT_EQ(mgr->state(), c331_manage::kStateBringUp);
}

namespace {

// Chip-id lines in the controller's log.
size_t chipIdLogLines() {
    const std::string log = testkit::readFile("/data/kavelkv/log/zufEnglneLog");
    size_t n = 0;
    for (size_t at = log.find("c331: chip id"); at != std::string::npos; at = log.find("c331: chip id", at + 1)) ++n;
    return n;
}

// The manager's chip-id passes over `ms` of board time, one per 10 ms tick.
void runBoardTime(c331_manage* mgr, int ms) {
    for (int t = 0; t < ms; t += 10) {
        plat::sim::board().clock().step(10 * plat::sim::kNsPerMs);
        G_timeTicks++;
        mgr->step();
    }
}

}  // namespace

TEST_F(ScalerTest, AbsentChipKeepsTheManagerWaitingAndLogsOnlyOnceAMinute) {
    startStore();
    g_debugSwitch = 254;
    chip->setPresence(plat::sim::C331Model::Presence::Absent);
    c331_manage* mgr = c331_manage::createForTest();
    runBoardTime(mgr, 150 * 1000);
    EXPECT_EQ(mgr->state(), 0);
    EXPECT_EQ(g_fpga_c331_start.load(), 0);
    // 15,000 wrong reads: the first, then a count after each of the two full minutes.
    EXPECT_EQ(chipIdLogLines(), 3u);
}

TEST_F(ScalerTest, ChipThatAnswersTenSecondsAfterStartIsBroughtUp) {
    startStore();
    chip->setPresence(plat::sim::C331Model::Presence::Absent);
    c331_manage* mgr = c331_manage::createForTest();
    plat::sim::board().clock().after(10 * plat::sim::kNsPerSec,
                                     [this] { chip->setPresence(plat::sim::C331Model::Presence::Present); });
    runBoardTime(mgr, 10 * 1000 - 10);
    EXPECT_EQ(mgr->state(), 0);
    // The bank select sent while nobody listened was lost: the next id read selects bank 0xB2 again.
    runBoardTime(mgr, 200);
    EXPECT_EQ(mgr->state(), c331_manage::kStateRunning);
    EXPECT_EQ(g_fpga_c331_start.load(), 1);
    EXPECT_EQ(chip->guestErrors(), 0u);
}

TEST_F(ScalerTest, BringUpReachesRunningReleasesTheFpgaEngineAndStaysRunning) {
    startRunning();
    ASSERT_EQ(m->state(), c331_manage::kStateRunning);
    EXPECT_EQ(g_fpga_c331_start.load(), 1);
    // bring-up's own, then the first supervision pass's (every input is new to it)
    EXPECT_EQ(m->set_output_calls, 2u);
    // the default RAM (CP12, 1920 x 1080) gives a 1920 x 1080 OCH on a 2 x 1 grid of one OCH
    EXPECT_EQ(ram->ramU16(vlxram::kPanelResults + 4), 1920);
    EXPECT_EQ(ram->ramU16(vlxram::kPanelResults + 6), 1080);
    EXPECT_EQ(ram->ramU16(vlxram::kPanelResults + 0), 1);
    // picture at bring-up: neutral brightness, RAM contrast, forced background on every OCH
    EXPECT_EQ(regOf(c331::kRegBright0, 7), 0u);
    EXPECT_EQ(regOf(c331::kRegContrast0, 3), unsigned(ram->ramU16(vlxram::kContrast) % 101) * 1023 / 100);
    EXPECT_EQ(regOf(c331::kRegOchBgColor, 5), c331::kBgColorForced);
    EXPECT_EQ(regOf(c331::kRegUpdHold) & 1, 0u);
    const auto frames = chip->counters().frames;
    for (int i = 0; i < 20; ++i) m->step();
    EXPECT_EQ(m->state(), c331_manage::kStateRunning);
    EXPECT_EQ(chip->counters().frames, frames);  // nothing to apply: no traffic
    EXPECT_EQ(chip->guestErrors(), 0u);
}

TEST_F(ScalerTest, TransmitterPllSettingFollowsTheRatioIn64Bits) {
    startStore();
    c331_manage* mgr = c331_manage::createForTest();
    mgr->load_system_param();
    EXPECT_EQ(c331_manage::txPllSetting(mgr->PS), 76);  // 22 x 27 MHz / 4 MHz = 148
    C331SystemParam p = mgr->PS;
    p.further[3] = 1;
    p.further[4] = 137;  // 137 x 27 MHz overflows 32 bits
    p.inClkA = 27000000;
    EXPECT_EQ(c331_manage::txPllSetting(p), 76);
    p.further[4] = 80;
    p.inClkA = 1000000;  // 80 MHz / 4 MHz = 20
    EXPECT_EQ(c331_manage::txPllSetting(p), 68);
    p.further[4] = 160;  // 40
    EXPECT_EQ(c331_manage::txPllSetting(p), 72);
    p.further[4] = 164;  // 41
    EXPECT_EQ(c331_manage::txPllSetting(p), 76);
    p.arrangMode = 1;  // divisor 2 MHz: 82
    p.further[4] = 20;  // 10
    EXPECT_EQ(c331_manage::txPllSetting(p), 68);
}

TEST_F(ScalerTest, SetRtctWritesItsRowAndLeavesTheHoldBitClearInEveryMode) {
    startStore();
    c331_manage* mgr = c331_manage::createForTest();
    const uint8_t rows[5][7] = {{0, 0, 0, 0, 0, 0, 0},
                                {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99},
                                {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF},
                                {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99}};
    chip->setReg(0, 0x29, 0x80);  // a measurement hold must survive
    chip->setFrameLog(true);
    for (int mode = 0; mode <= 4; ++mode) {
        mgr->set_rtct(mgr->fd(), mode == 4 ? 9 : mode);
        for (int i = 0; i < 7; ++i) EXPECT_EQ(chip->reg(0, 0x22 + i), rows[mode][i]) << "mode " << mode << " reg " << i;
        EXPECT_EQ(chip->reg(0, 0x29), 0x80);
    }
    EXPECT_EQ(rowWritesOutsideTheHold(), 0u) << "every row is written inside its hold";
}

TEST_F(ScalerTest, LoadParamRaisesChangeFlagsOnlyForWordsThatDiffer) {
    startStore();
    c331_manage* mgr = c331_manage::createForTest();
    mgr->load_param();
    EXPECT_EQ(mgr->PM_CHG[kChgInput][0], 1);   // 0 -> 4
    EXPECT_EQ(mgr->PM_CHG[kChgInput][5], 0);   // 0 -> 0
    EXPECT_EQ(mgr->PM_INPUT[1], 5);
    EXPECT_EQ(mgr->PM_WIN_FADE_IN[3], 60);
    EXPECT_EQ(mgr->PM_WIN_STITCHING[4], 4);
    mgr->load_param();
    for (int g = 0; g < kChgGroups; ++g)
        for (int w = 0; w < WINDOW_MAX; ++w) EXPECT_EQ(mgr->PM_CHG[g][w], 0) << g << "/" << w;
}

TEST_F(ScalerTest, InitialSettingProgramsClockMemoryAndPerChannelTimingAndTheSecondTransmitterPll) {
    startRunning();
    EXPECT_EQ(chip->reg(0xFF, 0x02), 200);
    EXPECT_EQ(regOf(c331::kRegIsFld0, 3), 3u * 0x2000u);
    EXPECT_EQ(regOf(0x162004, 2), 0x8800000u + 2u * 0x2000u);
    EXPECT_EQ(regOf(c331::kRegTx1Pll), 76u);
    EXPECT_EQ(regOf(c331::kRegTx2Pll), 76u);
    EXPECT_EQ(regOf(c331::kRegTx2Ctl), c331::kTxCtlStart);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(regOf(c331::kRegIsyct, k), 1u);
}

TEST_F(ScalerTest, DebugRequestBit6BringsTheChipUpAgain) {
    startRunning();
    ram->registersForTest()[34] = 0x40 | 0x80;  // lowest set bit wins
    writeRam(vlxram::kContrast, 40);
    m->step();
    EXPECT_EQ(ram->registersForTest()[34], 0);
    EXPECT_EQ(m->state(), 0);
    g_fpga_c331_start = 0;
    for (int i = 0; i < 6; ++i) m->step();
    EXPECT_EQ(m->state(), c331_manage::kStateRunning);
    EXPECT_EQ(g_fpga_c331_start.load(), 1);
}

TEST_F(ScalerTest, PInstanceInitialisesOnceSoOneThreadDrivesTheChip) {
    startStore();
    c331_manage* first = c331_manage::pInstance();
    c331_manage* again = c331_manage::pInstance();
    EXPECT_EQ(first, again);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (first->state() != c331_manage::kStateRunning && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(first->state(), c331_manage::kStateRunning);
    // One bring-up: the panel was set up once, the chip was asked its id five times plus once at start.
    EXPECT_EQ(first->panel_inits, 1u);
    EXPECT_EQ(chip->guestErrors(), 0u);
}

TEST_F(ScalerTest, ChipIdPhasePollsAtAFewMillisecondsNotInATightLoop) {
    startStore();
    chip->setPresence(plat::sim::C331Model::Presence::Absent);
    plat::setSleepScale(1.0);
    const auto start = std::chrono::steady_clock::now();
    c331_manage* mgr = c331_manage::pInstance();
    const bool polling = testkit::waitUntil([&] { return chip->counters().reads >= 20; });
    mgr->stopThread();
    const auto took = std::chrono::steady_clock::now() - start;
    const auto reads = chip->counters().reads;
    plat::setSleepScale(0);
    EXPECT_TRUE(polling);
    // One read per pass and a pause of 5 ms after each, which never ends early: however
    // loaded the machine, the reads took at least a few milliseconds each (one more at the
    // start). A spinning loop makes them in microseconds.
    EXPECT_GE(took, std::chrono::milliseconds(4) * int(reads - 2));
}

TEST_F(ScalerTest, InitialSettingIsACompleteSequenceOfAboutTwoHundredNinetyWritesFollowingTheBlock) {
    startStore();
    c331_manage* mgr = c331_manage::createForTest();
    mgr->load_system_param();
    mgr->define_param();
    chip->setFrameLog(true);
    mgr->write_initial_setting(mgr->fd(), 1);
    unsigned writes = 0;
    for (const auto& f : chip->frames())
        if ((f.tx[0] & 0x80) && (f.tx[0] & 0x7F) != 0) ++writes;
    // at least one data frame per register of the sequence
    EXPECT_GE(writes, 280u);
    for (unsigned a = 0x08; a <= 0x0F; ++a) EXPECT_EQ(chip->reg(0, a), 0x11) << a;
    for (unsigned a = 0x22; a <= 0x27; ++a) EXPECT_EQ(chip->reg(0, a), 0) << a;
    EXPECT_EQ(regOf(c331::kRegOutHsync), 88u / 2 - 1);
    EXPECT_EQ(regOf(c331::kRegOutVsync), 10u - 1);
    EXPECT_EQ(regOf(c331::kRegOutHsync2), 88u / 2 - 1);
    EXPECT_EQ(regOf(c331::kRegOutVsync2), 10u - 1);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(regOf(c331::kRegOchHStart, k), 176u);
        EXPECT_EQ(regOf(c331::kRegOchVStart, k), 82u);
        EXPECT_EQ(regOf(c331::kRegOchHEnd, k), 176u + 1920);
        EXPECT_EQ(regOf(c331::kRegOchLineUnit, k), 64u);
        EXPECT_EQ(regOf(c331::kRegOchFillY, k), 255u);
        for (int j = 0; j < 4; ++j) EXPECT_EQ(regOf(c331::kRegIsFld0 + (unsigned(4 * j) << 8), k), mgr->PS.memPlane[j][k]);
    }
    EXPECT_EQ(regOf(c331::kRegTx1Mode), 9u);
    EXPECT_EQ(regOf(c331::kRegTx2Mode), 9u);
    EXPECT_EQ(chip->misuseCount(), 0u);
}
