// The simulated C331 alone, driven with raw spidev messages (no driver).
#include <fcntl.h>
#include <linux/spi/spidev.h>

#include <cstring>
#include <memory>

#include "platform/board_wiring.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/standard_board.h"
#include "platform/sys.h"
#include "support/testkit.h"

using plat::sim::C331Model;

class C331ModelTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        chip = std::make_shared<C331Model>();
        plat::sim::board().attachSpi(plat::wiring::kSpiC331, chip);
        fd = plat::sys().open(plat::wiring::kSpiC331, O_RDWR);
        ASSERT_GE(fd, 0);
        quietFpgas();
    }
    void quietFpgas() {
        plat::sim::board().setReg16(plat::wiring::kGpioFpga0Select, plat::wiring::kLineHigh);
        plat::sim::board().setReg16(plat::wiring::kGpioFpga1Select, plat::wiring::kLineHigh);
    }
    // One message of `tx`; returns what the chip drove.
    std::vector<uint8_t> frame(std::vector<uint8_t> tx, uint32_t speed) {
        std::vector<uint8_t> rx(tx.size(), 0);
        spi_ioc_transfer t;
        std::memset(&t, 0, sizeof t);
        t.tx_buf = reinterpret_cast<uintptr_t>(tx.data());
        t.rx_buf = reinterpret_cast<uintptr_t>(rx.data());
        t.len = uint32_t(tx.size());
        t.speed_hz = speed;
        t.bits_per_word = 8;
        EXPECT_EQ(plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), &t), int(tx.size()));
        return rx;
    }
    uint8_t readAt(uint8_t addr) { return frame({addr, 0xFF}, 5000000)[1]; }
    void writeAt(uint8_t addr, uint8_t v) { frame({uint8_t(0x80 | addr), v}, 10000000); }

    std::shared_ptr<C331Model> chip;
    int fd = -1;
};

TEST_F(C331ModelTest, BankSelectAtAddressZeroRoutesTheFollowingFrames) {
    writeAt(0, 0x42);
    writeAt(0x10, 0xAB);
    writeAt(0, 0x43);
    EXPECT_EQ(readAt(0x10), 0);
    writeAt(0, 0x42);
    EXPECT_EQ(readAt(0x10), 0xAB);
    EXPECT_EQ(chip->reg(0x42, 0x10), 0xAB);
    writeAt(0, 0xB2);
    EXPECT_EQ(readAt(0x08), 0x24);
    EXPECT_EQ(chip->misuseCount(), 0u);
}

TEST_F(C331ModelTest, CountsFramesBytesAndBusTimeAtTheFramesSpeed) {
    writeAt(0, 1);     // 16 bits at 10 MHz: 1.6 us
    readAt(0x20);      // 16 bits at 5 MHz: 3.2 us
    const auto c = chip->counters();
    EXPECT_EQ(c.frames, 2u);
    EXPECT_EQ(c.bytes, 4u);
    EXPECT_EQ(c.reads, 1u);
    EXPECT_NEAR(c.busSeconds, 4.8e-6, 1e-9);
}

TEST_F(C331ModelTest, StatusRegistersAnswerAsARunningChip) {
    writeAt(0, 0x05);
    writeAt(0x09, 0x0F);  // OCH 0..3 vsync enabled
    EXPECT_EQ(readAt(0x23), 0) << "not before the frame ends";
    plat::sim::board().step(17 * plat::sim::kNsPerMs);
    EXPECT_EQ(readAt(0x23), 0x0F);
    writeAt(0, 0x04);
    EXPECT_EQ(readAt(0x17) & 1, 0);      // drawing engine done
    EXPECT_EQ(readAt(0x53) & 0xA0, 0x20);  // flash idle, write buffer empty
    writeAt(0, 0xB2);
    EXPECT_EQ(readAt(0x63) & 0xA0, 0xA0);  // both V-by-One receivers locked
    writeAt(0, 0x00);
    writeAt(0x29, 0x80);  // measurement hold
    writeAt(0, 0xAE);
    EXPECT_EQ(readAt(0x08), 0);  // no input measured: no signal
    EXPECT_EQ(chip->misuseCount(), 0u);
}

TEST_F(C331ModelTest, FieldIndexAndInputFieldRegisterAdvanceWithTheBoardClock) {
    writeAt(0, 0xAB);
    const int first = (readAt(0x47) >> 2) & 3;
    writeAt(0, 0xA8);
    const int field = readAt(0x3F + 5 * 2);
    plat::sim::board().step(17 * plat::sim::kNsPerMs);
    EXPECT_NE(readAt(0x3F + 5 * 2), field);
    writeAt(0, 0xAB);
    const int second = (readAt(0x47) >> 2) & 3;
    EXPECT_NE(first, second);
}

TEST_F(C331ModelTest, WritesToReadOnlyRegistersAreMisuse) {
    writeAt(0, 0xB2);
    writeAt(0x08, 0x11);  // chip id
    EXPECT_EQ(readAt(0x08), 0x24);
    writeAt(0, 0x05);
    writeAt(0x23, 0xFF);  // output vsync status
    writeAt(0, 0xAF);
    writeAt(0x08, 1);     // a measurement
    EXPECT_EQ(chip->misuseCount(), 3u);
}

TEST_F(C331ModelTest, AbsentAndFlakyChipIdAnswers) {
    chip->setPresence(C331Model::Presence::Absent);
    writeAt(0, 0xB2);
    EXPECT_EQ(readAt(0x08), 0x00);
    chip->setChipIdSequence({0x24, 0x13});
    writeAt(0, 0xB2);
    EXPECT_EQ(readAt(0x08), 0x24);
    EXPECT_EQ(readAt(0x08), 0x13);
    EXPECT_EQ(readAt(0x08), 0x24);
    EXPECT_EQ(chip->control({"absent"}), "OK absent");
    EXPECT_EQ(readAt(0x08), 0x00);
}

TEST_F(C331ModelTest, FrameWhileAnFpgaListensAndFrameOfWrongLengthAreMisuse) {
    plat::sim::board().setReg16(plat::wiring::kGpioFpga1Select, plat::wiring::kLineLow);
    writeAt(0x10, 1);
    EXPECT_EQ(chip->misuseCount(), 1u);
    quietFpgas();
    frame({0x90, 1, 2}, 10000000);
    EXPECT_EQ(chip->misuseCount(), 2u);
}

TEST_F(C331ModelTest, StandardBoardFitsTheC331OnItsNode) {
    plat::resetSys();
    plat::sim::SimBoard& b = plat::sim::board();
    bool attached = false;
    for (const std::string& line : plat::sim::buildStandardBoard(b))
        if (line.rfind("c331:", 0) == 0) attached = line.find("attached") != std::string::npos;
    EXPECT_TRUE(attached);
    EXPECT_NE(b.find<C331Model>("c331"), nullptr);
}

TEST_F(C331ModelTest, PluggedInputReadsItsRasterInTheMeasurementBlock) {
    // board control: 1080p60 on CMOS port 1, then 2160p60 on V-by-One port 5 over 8 lanes
    EXPECT_EQ(chip->control({"input", "1", "2200", "1125", "1920", "60"}).rfind("OK", 0), 0u);
    EXPECT_EQ(chip->control({"input", "5", "4400", "2250", "3840", "60", "8"}).rfind("OK", 0), 0u);
    EXPECT_EQ(chip->control({"input", "9", "2200", "1125", "1920", "60"}).rfind("ERR", 0), 0u);
    writeAt(0, 0x00);
    writeAt(0x29, 0x80);  // the hold latches what the counters measured
    writeAt(0, 0xAE);
    auto u16 = [this](uint8_t a) { return unsigned(readAt(a)) | unsigned(readAt(uint8_t(a + 1))) << 8; };
    auto u24 = [this](uint8_t a) { return unsigned(readAt(a)) | unsigned(readAt(uint8_t(a + 1))) << 8 |
                                          unsigned(readAt(uint8_t(a + 2))) << 16; };
    EXPECT_EQ(u16(0x08 + 2), 2199u);            // h total - 1
    EXPECT_EQ(u16(0x20 + 2), 1125u);            // vertical count
    EXPECT_EQ(u16(0x38 + 2), 1124u);            // lines - 1
    EXPECT_EQ(u24(0x50 + 3), 533333u - 1u);     // 32 MHz / 60 Hz - 1
    for (int j = 0; j < 4; ++j) EXPECT_EQ(u16(uint8_t(0x10 + 8 + 2 * j)), 4399u) << "sub-link " << j;
    EXPECT_EQ(u24(0x5C + 12 + 3), 533333u - 1u);
    writeAt(0, 0xAF);
    EXPECT_EQ(u16(0x08 + 2), 1920u);
    chip->control({"input", "1", "off"});
    writeAt(0, 0xAE);
    EXPECT_EQ(u16(0x08 + 2), 2199u) << "latched until the hold is released";
    writeAt(0, 0x00);
    writeAt(0x29, 0x00);
    writeAt(0x29, 0x80);
    writeAt(0, 0xAE);
    EXPECT_EQ(u16(0x08 + 2), 0u);
    EXPECT_EQ(chip->misuseCount(), 0u);
}

TEST_F(C331ModelTest, StuckSwitchesHoldTheVsyncAndFieldRegisters) {
    chip->setVsyncStuck(true);
    chip->setFieldStuck(true);
    writeAt(0, 0x05);
    writeAt(0x09, 0x01);
    EXPECT_EQ(readAt(0x23), 0);
    writeAt(0, 0xA8);
    EXPECT_NE(readAt(0x3F), 0xFF);
    writeAt(0, 0xAB);
    const int first = (readAt(0x47) >> 2) & 3;
    plat::sim::board().step(17 * plat::sim::kNsPerMs);
    EXPECT_EQ((readAt(0x47) >> 2) & 3, first);
}
