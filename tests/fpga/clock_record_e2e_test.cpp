// The operating time as the PC reads it: the engine started on a flash image of eight
// groups, its passes run one stepped minute at a time, MCU_RAM_EXTEND 76..99 read and the
// clock set through the Python client over TCP.
#include "clock_record_fixture.h"
#include "platform/sim/standard_board.h"
#include "protocol/transport_fixture.h"
#include "scaler/engine_requests.h"

namespace {

std::vector<uint8_t> fromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t k = 0; k + 1 < hex.size(); k += 2) out.push_back(uint8_t(std::stoul(hex.substr(k, 2), nullptr, 16)));
    return out;
}

class ClockRecordLinkTest : public prototest::TransportTest {
protected:
    void SetUp() override {
        TransportTest::SetUp();
        if (HasFatalFailure()) return;
        engine_requests::clearAll();
        g_fpga_c331_start = 0;
        plat::sim::SimBoard& b = plat::sim::board();
        plat::sim::buildStandardBoard(b);
        b.setWallClock(QDateTime(QDate(2026, 3, 5), QTime(9, 7, 0)).toSecsSinceEpoch());
        flash = b.find<plat::sim::SpiNorFlash>("flash0");
        ASSERT_TRUE(flash);
        for (const char* f : {"flash0", "flash1"}) b.find<plat::sim::SpiNorFlash>(f)->setBusyPolls(2);
        flash->load(clocktest::kArea, clocktest::generateImage("--groups 8 --minutes 2880,1000 --history 70000"));
        engine = fpga_manage::pInstance();
        engine->stopThread();
    }
    void TearDown() override {
        stopLinks();
        fpga_manage::resetInstanceForTest();
        TransportTest::TearDown();
    }
    // MCU_RAM_EXTEND 76..99 through the client.
    std::vector<uint8_t> operatingTime() {
        const prototest::ClientResult r = prototest::runClient(tcp, "read-mem 0xA000004C 24");
        EXPECT_EQ(r.status, ctl::kStatusOk);
        return fromHex(r.data);
    }
    void minutes(int n) {
        for (int k = 0; k < n; ++k) {
            G_timeTicks.fetch_add(CLOCK_STEP_TICKS);
            engine->fpga_manage_deal();
        }
    }

    std::shared_ptr<plat::sim::SpiNorFlash> flash;
    fpga_manage* engine = nullptr;
};

TEST_F(ClockRecordLinkTest, TotalReadOverTcpIsTheRecordersAndTheClockSetReachesTheFlash) {
    const uint32_t history = 70000 + 2880 + 7 * 1000;
    std::vector<uint8_t> t = operatingTime();
    ASSERT_EQ(t.size(), 24u);
    EXPECT_EQ(clocktest::le32(t, 0), history);
    EXPECT_EQ(clocktest::le32(t, 4), 0u);
    EXPECT_EQ(std::vector<uint8_t>(t.begin() + 8, t.begin() + 12), std::vector<uint8_t>({8, 0, 0, 0}))
        << "the log entry after the eighth group's, then 0";
    // the board's wall clock runs on from 09:07:00
    EXPECT_EQ(std::vector<uint8_t>(t.begin() + 12, t.begin() + 18),
              std::vector<uint8_t>({0x26, 0x20, 0x03, 0x05, 0x09, 0x07}));
    EXPECT_LT(t[18], 0x10);
    EXPECT_EQ(t[19], 0xFF);

    minutes(31);
    t = operatingTime();
    EXPECT_EQ(clocktest::le32(t, 0), history + 31);
    EXPECT_EQ(clocktest::le32(t, 0), engine->clock_record->total_minutes());
    EXPECT_EQ(clocktest::le32(t, 4), 31u);
    EXPECT_EQ(clocktest::le32(t, 20), 31u);
    EXPECT_EQ(clocktest::le32(flash->read(clocktest::kA, 16), 8), history) << "the wrap's record 0 carries it";

    EXPECT_EQ(prototest::runClient(tcp, "set-clock 2026-03-06 10:00:00").status, ctl::kStatusOk);
    EXPECT_EQ(flash->read(clocktest::kA + 44, 1), std::vector<uint8_t>({0x5A}));
    EXPECT_EQ(flash->read(clocktest::kB + 44, 1), std::vector<uint8_t>({0x5A}));
    EXPECT_EQ(flash->misuseCount(), 0u);
}

}  // namespace
