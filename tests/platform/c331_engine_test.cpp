// The simulated C331's flash controller, palette and board-control commands, driven
// with raw frames as the chip sees them (no driver).
#include <fcntl.h>
#include <linux/spi/spidev.h>

#include <cstring>
#include <memory>
#include <sstream>

#include "platform/board_wiring.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "platform/sys.h"
#include "support/testkit.h"

using plat::sim::C331Model;
using plat::sim::kNsPerMs;
using plat::sim::kNsPerUs;

class C331EngineTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        chip = std::make_shared<C331Model>();
        plat::sim::board().attachSpi(plat::wiring::kSpiC331, chip);
        fd = plat::sys().open(plat::wiring::kSpiC331, O_RDWR);
        ASSERT_GE(fd, 0);
        plat::sim::board().setReg16(plat::wiring::kGpioFpga0Select, plat::wiring::kLineHigh);
        plat::sim::board().setReg16(plat::wiring::kGpioFpga1Select, plat::wiring::kLineHigh);
    }
    uint8_t xfer(uint8_t a, uint8_t d, uint32_t speed) {
        uint8_t tx[2] = {a, d}, rx[2] = {0, 0};
        spi_ioc_transfer t;
        std::memset(&t, 0, sizeof t);
        t.tx_buf = reinterpret_cast<uintptr_t>(tx);
        t.rx_buf = reinterpret_cast<uintptr_t>(rx);
        t.len = 2;
        t.speed_hz = speed;
        t.bits_per_word = 8;
        plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), &t);
        return rx[1];
    }
    void w(uint8_t a, uint8_t v) { xfer(uint8_t(0x80 | a), v, 10000000); }
    uint8_t r(uint8_t a) { return xfer(a, 0xFF, 5000000); }
    void addr(uint32_t a) {
        for (int i = 0; i < 4; ++i) w(uint8_t(0x4E + i), uint8_t(a >> (8 * i)));
    }
    std::string board(const std::string& words) {
        std::vector<std::string> args;
        std::istringstream in(words);
        for (std::string s; in >> s;) args.push_back(s);
        return chip->control(args);
    }
    std::shared_ptr<C331Model> chip;
    int fd = -1;
};

TEST_F(C331EngineTest, EraseKeepsEbusyAndWipForThePartsEraseTimeOnTheBoardClock) {
    ASSERT_EQ(board("flash-load 0x21000 00112233"), "OK loaded 4");
    w(0, 0x04);
    addr(0x21FFF);  // anywhere in the sector: a NOR erases the unit it lies in
    w(0x4B, 0x20);
    w(0x48, 4);
    EXPECT_EQ(r(0x54) & 0x08, 0x08);
    EXPECT_EQ(r(0x55) & 0x03, 0x03) << "WIP and WEL while erasing";
    plat::sim::board().step(44 * kNsPerMs);
    EXPECT_EQ(r(0x55) & 0x01, 0x01);
    plat::sim::board().step(2 * kNsPerMs);
    EXPECT_EQ(r(0x54) & 0x08, 0);
    EXPECT_EQ(r(0x55) & 0x03, 0) << "the part clears WEL when the erase ends";
    EXPECT_EQ(board("flash-read 0x21000 4"), "OK FFFFFFFF");
}

TEST_F(C331EngineTest, PageBytesProgramWhenTheAddressRegistersLastByteIsWrittenWrappingInTheirPage) {
    w(0, 0x04);
    addr(0x1F0);
    for (int i = 0; i < 20; ++i) w(0x52, uint8_t(i));
    EXPECT_EQ(r(0x53) & 0x20, 0) << "WEMPTY clear while bytes wait";
    addr(0x300);  // programs the 20 bytes at 0x1F0, the last four wrapped to 0x100
    EXPECT_EQ(r(0x54) & 0x02, 0x02) << "WBUSY while the page shifts into the part";
    plat::sim::board().step(1 * kNsPerMs);
    EXPECT_EQ(r(0x53) & 0x20, 0x20);
    EXPECT_EQ(r(0x55) & 0x01, 0);
    EXPECT_EQ(board("flash-read 0x1FE 2"), "OK 0E0F");
    EXPECT_EQ(board("flash-read 0x100 4"), "OK 10111213");
    // past the flash end nothing is written and nothing outside the store is touched
    addr(0x02000000);
    w(0x52, 0x00);
    addr(0);
    auto lock = chip->engineLock();
    EXPECT_EQ(chip->engine().stats().flashDropped, 1u);
}

TEST_F(C331EngineTest, PaletteDmaFillsEntriesFromItsIndexAndDropsWhatIsPastEntry255) {
    std::string table;
    for (int i = 0; i < 12; ++i) table += "A0";
    ASSERT_EQ(board("flash-load 0x1000 " + table), "OK loaded 12");
    w(0, 0x09);
    w(0x1F, 254);
    w(0, 0x04);
    addr(0x1000);
    w(0x56, 12), w(0x57, 0), w(0x58, 0), w(0x59, 0x80);
    w(0x5A, 4);
    w(0x48, 2);
    EXPECT_EQ(r(0x54) & 0x01, 0x01) << "DMA busy";
    plat::sim::board().step(kNsPerMs);
    EXPECT_EQ(r(0x54) & 0x01, 0);
    auto lock = chip->engineLock();
    EXPECT_EQ(chip->engine().palette(255)[2], 0xA0);
    EXPECT_EQ(chip->engine().stats().paletteDropped, 6u);
}

TEST_F(C331EngineTest, BoardCommandsHoldTheControllerAndListTheRecording) {
    EXPECT_EQ(board("hold flash on"), "OK hold flash on");
    w(0, 0x04);
    EXPECT_EQ(r(0x55) & 0x01, 0x01);
    EXPECT_EQ(r(0x53) & 0x20, 0);
    EXPECT_EQ(board("hold flash off"), "OK hold flash off");
    EXPECT_EQ(r(0x55) & 0x01, 0);
    EXPECT_EQ(board("hold draw on"), "OK hold draw on");
    EXPECT_EQ(r(0x17) & 0x01, 0x01);
    board("hold draw off");
    w(0x1E, 3), w(0x1F, 0), w(0x20, 1), w(0x21, 0), w(0x0B, 7), w(0x1B, 1);
    w(0x08, 1);
    const std::string log = board("draw-log");
    EXPECT_EQ(log.substr(0, 14), "OK 1 commands,");
    EXPECT_NE(log.find("\nfill "), std::string::npos);
    EXPECT_EQ(board("flash-read 0x1FFFFFF 4096").size(), 3u + 2u) << "a range is cut at the flash end";
    EXPECT_EQ(board("flash-load 0x1FFFFFF 0000").substr(0, 3), "ERR");
}
