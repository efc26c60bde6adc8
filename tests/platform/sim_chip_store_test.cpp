// Persistent cells of simulated flashes and EEPROMs: they survive a reboot of the
// simulated board, and an injected power cut tears them only at a write boundary.
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <mtd/mtd-user.h>

#include "platform/board_wiring.h"
#include "platform/sim/chip_store.h"
#include "platform/sim/example_chip.h"
#include "platform/sim/sim_board.h"
#include "platform/sys.h"
#include "support/testkit.h"

using namespace plat::sim;
namespace wiring = plat::wiring;

using ChipStoreTest = testkit::SimBoardTest;

namespace {
std::vector<uint8_t> page(uint8_t v) { return std::vector<uint8_t>(256, v); }
}  // namespace

TEST_F(ChipStoreTest, StoreWrittenBeforeARebootReadsBackAfterItAndAPowerCutTearsOnlyAtAWriteBoundary) {
    {
        ChipStore store("/sim/part.bin", 1024);
        ASSERT_TRUE(store.ok());
        EXPECT_EQ(store.read(0, 4), std::vector<uint8_t>(4, 0xFF));  // a new part comes erased
        store.powerCutAfterWrites(2);
        EXPECT_TRUE(store.write(0, page(0x11).data(), 256));
        EXPECT_TRUE(store.write(256, page(0x22).data(), 256));
        EXPECT_FALSE(store.write(512, page(0x33).data(), 256));  // power gone mid-sequence
        EXPECT_FALSE(store.write(768, page(0x44).data(), 256));
        EXPECT_TRUE(store.powerLost());
        EXPECT_EQ(store.writeUnits(), 2u);
    }
    plat::resetSys();  // the simulated board reboots
    ChipStore again("/sim/part.bin", 1024);
    EXPECT_EQ(again.read(0, 256), page(0x11));
    EXPECT_EQ(again.read(256, 256), page(0x22));
    EXPECT_EQ(again.read(512, 512), std::vector<uint8_t>(512, 0xFF));  // whole units lost, none half-written

    // Flash programming only clears bits; an erase sets them again.
    const uint8_t f0 = 0xF0, x3c = 0x3C;
    EXPECT_TRUE(again.program(0, &f0, 1));
    EXPECT_EQ(again.read(0, 1)[0], 0x10);
    EXPECT_TRUE(again.program(600, &x3c, 1));
    EXPECT_TRUE(again.erase(512, 256));
    EXPECT_EQ(again.read(600, 1)[0], 0xFF);
    EXPECT_FALSE(again.write(1020, page(0).data(), 8));  // past the end: refused, nothing written
    EXPECT_EQ(again.read(1020, 4), std::vector<uint8_t>(4, 0xFF));
}

TEST_F(ChipStoreTest, StoreOfAnotherSizeStartsErased) {
    {
        ChipStore store("/sim/part.bin", 512);
        store.write(0, page(0).data(), 256);
    }
    ChipStore bigger("/sim/part.bin", 1024);
    EXPECT_EQ(bigger.read(0, 256), std::vector<uint8_t>(256, 0xFF));
}

TEST_F(ChipStoreTest, ModelCellsSurviveARebootOfTheSimulatedBoard) {
    auto cells = [](uint8_t writeValue, bool write) {
        auto chip = std::make_shared<ExampleChip>("example", 0, "/sim/example.bin", 0);
        board().attachSpi(wiring::kSpiFlash0, chip);
        int fd = plat::sys().open(wiring::kSpiFlash0, O_RDWR);
        uint8_t tx[3] = {0x02, 0x07, writeValue}, rx[3] = {};
        spi_ioc_transfer t{};
        t.tx_buf = reinterpret_cast<uintptr_t>(tx);
        t.rx_buf = reinterpret_cast<uintptr_t>(rx);
        t.len = 3;
        if (write) plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), &t);
        tx[0] = 0x03;
        plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), &t);
        plat::sys().close(fd);
        return rx[2];
    };
    EXPECT_EQ(cells(0x5A, true), 0x5A);
    plat::resetSys();
    EXPECT_EQ(cells(0, false), 0x5A);
}

TEST_F(ChipStoreTest, PowerCutDuringAnMtdWriteLeavesWholePagesOnly) {
    ChipStore* store = board().mtdStore(8);
    ASSERT_NE(store, nullptr);
    int fd = plat::sys().open(wiring::kMtdBootLogo.path, O_WRONLY);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> data(3 * 2048, 0x00);
    store->powerCutAfterWrites(1);
    EXPECT_LT(plat::sys().pwrite(fd, data.data(), data.size(), 0), 0);  // the failure is reported
    EXPECT_EQ(errno, EIO);
    plat::sys().close(fd);
    plat::resetSys();
    EXPECT_EQ(board().mtdRead(8, 0, 2048), std::vector<uint8_t>(2048, 0x00));
    EXPECT_EQ(board().mtdRead(8, 2048, 4096), std::vector<uint8_t>(4096, 0xFF));
}
