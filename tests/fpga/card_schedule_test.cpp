// Brightness modes on the board's wall clock, the on/off schedule and the light sensor
// of a multi-function card.
#include <QDateTime>

#include "card_fixture.h"

using namespace fpgatest;

namespace {

uint8_t bcdOf(int v) { return uint8_t((v / 10) << 4 | (v % 10)); }

class ScheduleTest : public CardEngineTest {
protected:
    void SetUp() override {
        CardEngineTest::SetUp();
        fpga(0).attachCards(0, 1);  // a linked port: the brightness goes out
        e->get_wlan_state();        // the link registers as the engine holds them
    }
    void at(int day, int h, int m, int s = 0) {
        board().setWallClock(QDateTime(QDate(2026, 3, day), QTime(h, m, s)).toSecsSinceEpoch());
    }
    // Register 6 writes on FPGA 0's link since the last call (FPGA 1 gets the same).
    int brightnessSends() {
        int n = 0;
        for (const auto& f : frames("/dev/spidev32766.1"))
            if (f.tx.size() == 4 && f.tx[0] == 0x04 && f.tx[2] == FPGA_REG_BRIGHTNESS) ++n;
        board().clearSpiFrames();
        return n;
    }
    void task() {
        G_timeTicks.fetch_add(1000);
        e->Brightness_task();
    }
    void load(uint8_t mode, const uint8_t* levels48) {
        uint8_t record[kBrightRecordBytes] = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, mode};
        std::memcpy(record + 9, levels48, 48);
        e->Brightness_init(record);
    }
};

}  // namespace

TEST_F(ScheduleTest, AHalfHourScheduleChangesLevelAtTheSlotBoundaryWithThreeSends) {
    uint8_t levels[48];
    std::memset(levels, 5, sizeof levels);
    levels[18] = 8;   // 09:00..09:29
    levels[19] = 12;  // 09:30..09:59
    levels[47] = 3;
    load(BRI_MODE_SCHEDULE, levels);
    board().clearSpiFrames();
    at(5, 9, 29, 40);
    task();
    EXPECT_EQ(brightnessSends(), 2) << "two sends at the new slot";
    EXPECT_EQ(fpga(0).appliedBrightness(), 8 * 16 - 1);
    task();
    EXPECT_EQ(brightnessSends(), 1) << "the third";
    task();
    EXPECT_EQ(brightnessSends(), 0);
    at(5, 9, 30, 0);
    task();
    EXPECT_EQ(fpga(0).appliedBrightness(), 12 * 16 - 1);
    EXPECT_EQ(brightnessSends(), 2);
    at(5, 23, 59, 0);
    task();
    EXPECT_EQ(e->last_slot, 47);
    at(6, 0, 0, 0);
    task();
    EXPECT_EQ(e->last_slot, 0);
}

TEST_F(ScheduleTest, AnOnOffScheduleAt0800And2230FiresOnceEachPerDay) {
    uint8_t block[kOnOffRecordBytes] = {0xAA, 2, 0xAA, 0, 0, 0, 0, 0, 2, bcdOf(8), bcdOf(0), bcdOf(22), bcdOf(30),
                                        bcdOf(6), bcdOf(0), bcdOf(6), bcdOf(1)};
    e->OnOff_time(block);
    e->write_to_register(FPGA_VREG_SCHEDULE, 0xFF, 1, 0);
    int shows = 0, blacks = 0;
    auto run = [&](int day, int h, int m) {
        at(day, h, m, 10);
        const bool before = fpga(0).black();
        e->Extension_function();
        const bool after = fpga(0).black();
        if (before && !after) ++shows;
        if (!before && after) ++blacks;
    };
    e->SCREEN_fpgactrl_status(0);
    run(5, 7, 59);
    run(5, 8, 0);
    e->SCREEN_fpgactrl_status(0);  // blacked by hand: the 08:00 entry fired already today
    run(5, 8, 0);
    EXPECT_EQ(shows, 1);
    e->SCREEN_fpgactrl_status(1);
    run(5, 22, 30);
    run(5, 22, 30);
    EXPECT_EQ(blacks, 1);
    run(6, 0, 1);
    run(6, 8, 0);
    run(6, 22, 30);
    EXPECT_EQ(shows, 2);
    EXPECT_EQ(blacks, 2);
}

TEST_F(ScheduleTest, InSensorModeTheLevelFollowsTheLightOneStepPerRun) {
    fpga(1).attachCards(5, 3);
    fpga(1).chain(5)->cards[1].multiFunction = true;
    fpga(1).chain(5)->cards[1].light = 13;
    // the search finds the multi-function card by its port's status byte
    uint16_t c, s;
    rcv::cardTableEntry(5, &c, &s);
    e->MCU_RAM_PARA_func[1][s] = 1;
    e->Brightness_check_VMF();
    EXPECT_EQ(e->vmf_dest, 0x5000);
    EXPECT_EQ(e->vmf_group, 6);
    const uint8_t none[48] = {};
    load(BRI_MODE_SENSOR, none);
    g_change.bri_current_level = 16;
    fpga(1).clearCardLog();
    task();
    const auto out = sent(1, 5);
    ASSERT_EQ(out.size(), 1u) << "the read goes out on port 5 of FPGA 1";
    Bytes expect{0x00, 0x50, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0, 0, 0x61, 0, 0, 0, 0x02, 0x80, 0, 0, 0};
    expect.push_back(bcc(expect.data(), expect.size()));
    EXPECT_EQ(out[0], expect);
    EXPECT_EQ(g_change.bri_current_level, 15u);
    task();
    task();
    task();
    EXPECT_EQ(g_change.bri_current_level, 13u);
    task();
    EXPECT_EQ(g_change.bri_current_level, 13u);
    board().clearSpiFrames();
    EXPECT_EQ(fpga(1).control({"light", "14"}), "OK");
    task();
    EXPECT_EQ(g_change.bri_current_level, 14u);
    EXPECT_EQ(fpga(0).appliedBrightness(), 14 * 16 - 1);
}

TEST_F(ScheduleTest, OnlyTenSensorFailuresInARowFallBackToLevel16) {
    fpga(0).attachCards(4, 1);
    fpga(0).chain(4)->cards[0].multiFunction = true;
    fpga(0).chain(4)->cards[0].light = 4;
    e->MCU_RAM_PARA_func[0][562] = 1;
    e->sensor_wait_ms = 5;
    const uint8_t none[48] = {};
    load(BRI_MODE_SENSOR, none);
    g_change.bri_current_level = 8;
    auto& card = fpga(0).chain(4)->cards[0];
    for (int round = 0; round < 3; ++round) {
        card.policy = plat::sim::CardAnswerPolicy::BadChecksum;  // a bad checksum feeds nothing
        for (int k = 0; k < 9; ++k) task();
        card.policy = plat::sim::CardAnswerPolicy::Answer;
        task();
    }
    EXPECT_EQ(g_change.bri_current_level, 5u) << "three good readings, three steps down";
    card.policy = plat::sim::CardAnswerPolicy::Silent;
    for (int k = 0; k < 10; ++k) task();
    EXPECT_EQ(g_change.bri_current_level, 16u);
}
