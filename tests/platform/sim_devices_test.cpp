// Device nodes of the simulated board reached through plat::sys() with the kernel's
// own requests: SPI routing, I2C behind a mux, the SoC register window and serial ports.
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/spi/spidev.h>
#include <poll.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "platform/mmio.h"
#include "platform/sim/sim_board.h"
#include "platform/sys.h"
#include "support/testkit.h"

using namespace plat::sim;

namespace {

// Answers each byte with its complement plus an id, and counts chip-select releases.
class EchoChip : public SpiDeviceModel {
public:
    explicit EchoChip(uint8_t id) : id_(id) {}
    void transfer(const SpiContext&, const uint8_t* tx, uint8_t* rx, size_t len) override {
        for (size_t i = 0; i < len; ++i) {
            seen.push_back(tx[i]);
            rx[i] = static_cast<uint8_t>(~tx[i] + id_);
        }
    }
    void chipSelectReleased(const SpiContext&) override { ++releases; }
    std::vector<uint8_t> seen;
    int releases = 0;

private:
    uint8_t id_;
};

// A register file with an address pointer, as EEPROMs and receivers have.
class RegChip : public I2cDeviceModel {
public:
    bool write(const I2cContext&, const uint8_t* d, size_t n) override {
        if (n == 0) return true;
        ptr = d[0];
        for (size_t i = 1; i < n; ++i) regs[ptr++] = d[i];
        return true;
    }
    bool read(const I2cContext&, uint8_t* d, size_t n) override {
        for (size_t i = 0; i < n; ++i) d[i] = regs[ptr++];
        return true;
    }
    void stop(const I2cContext&) override { ++stops; }
    uint8_t regs[256] = {};
    uint8_t ptr = 0;
    int stops = 0;
};

int spiXfer(int fd, const std::vector<uint8_t>& tx, std::vector<uint8_t>* rx, uint32_t hz = 0) {
    rx->assign(tx.size(), 0);
    spi_ioc_transfer t{};
    t.tx_buf = reinterpret_cast<uintptr_t>(tx.data());
    t.rx_buf = reinterpret_cast<uintptr_t>(rx->data());
    t.len = static_cast<uint32_t>(tx.size());
    t.speed_hz = hz;
    return plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), &t);
}

int i2cWriteRead(int fd, uint8_t addr, std::vector<uint8_t> w, uint8_t* r, uint16_t rn) {
    i2c_msg m[2] = {};
    m[0].addr = addr;
    m[0].len = static_cast<uint16_t>(w.size());
    m[0].buf = w.data();
    m[1].addr = addr;
    m[1].flags = I2C_M_RD;
    m[1].len = rn;
    m[1].buf = r;
    i2c_rdwr_ioctl_data d{m, static_cast<uint32_t>(rn ? 2 : 1)};
    return plat::sys().ioctl(fd, I2C_RDWR, &d);
}

using SimDevicesTest = testkit::SimBoardTest;

TEST_F(SimDevicesTest, SpiFramesReachTheChipOfTheirNodeOnly) {
    auto c331 = std::make_shared<EchoChip>(0);
    auto flash = std::make_shared<EchoChip>(1);
    board().attachSpi("/dev/spidev32766.0", c331);
    board().attachSpi("/dev/spidev32766.3", flash);
    board().setSpiFrameLog(true);
    int fd = plat::sys().open("/dev/spidev32766.0", O_RDWR);
    ASSERT_GE(fd, 0);
    uint8_t mode = SPI_MODE_3;
    uint32_t hz = 10000000, back = 0;
    ASSERT_EQ(plat::sys().ioctl(fd, SPI_IOC_WR_MODE, &mode), 0);
    ASSERT_EQ(plat::sys().ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &hz), 0);
    ASSERT_EQ(plat::sys().ioctl(fd, SPI_IOC_RD_MAX_SPEED_HZ, &back), 0);
    EXPECT_EQ(back, hz);

    std::vector<uint8_t> rx;
    EXPECT_EQ(spiXfer(fd, {0x80, 0xB2}, &rx), 2);
    EXPECT_EQ(rx, (std::vector<uint8_t>{0x7F, 0x4D}));
    EXPECT_EQ(c331->seen, (std::vector<uint8_t>{0x80, 0xB2}));
    EXPECT_EQ(c331->releases, 1);
    EXPECT_TRUE(flash->seen.empty());
    auto frames = board().spiFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].speedHz, hz);
    EXPECT_EQ(frames[0].node, "/dev/spidev32766.0");

    int empty = plat::sys().open("/dev/spidev32766.1", O_RDWR);  // node present, no chip fitted
    ASSERT_GE(empty, 0);
    EXPECT_EQ(spiXfer(empty, {0x05, 0x00}, &rx), 2);
    EXPECT_EQ(rx, (std::vector<uint8_t>{0xFF, 0xFF}));
    EXPECT_LT(plat::sys().open("/dev/spidev32766.9", O_RDWR), 0);
    board().failOpen("/dev/spidev32766.0");
    EXPECT_LT(plat::sys().open("/dev/spidev32766.0", O_RDWR), 0);
    plat::sys().close(fd);
    plat::sys().close(empty);
}

TEST_F(SimDevicesTest, SpiChipsSharingANodeAnswerOnlyWhenTheirGpioSelectIsLow) {
    constexpr uint32_t kSel0 = 0x207810, kSel1 = 0x207900;
    auto fpga0 = std::make_shared<EchoChip>(0);
    auto fpga1 = std::make_shared<EchoChip>(1);
    // a node of its own: the standard board's FPGAs sit on spidev32766.1 and .2
    board().addSpiNode("/dev/spidev9.0");
    board().attachSpi("/dev/spidev9.0", fpga0, gpioLinesAre({{kSel0, kLineLow}, {kSel1, kLineHigh}}));
    board().attachSpi("/dev/spidev9.0", fpga1, gpioLinesAre({{kSel0, kLineHigh}, {kSel1, kLineLow}}));
    int fd = plat::sys().open("/dev/spidev9.0", O_RDWR);
    ASSERT_GE(fd, 0);

    // The driver's lines go through the mapped window, as on the device.
    int mem = plat::sys().open("/dev/mem", O_RDWR | O_SYNC);
    void* map = plat::sys().mmap(nullptr, kRegWindowSize, PROT_READ | PROT_WRITE, MAP_SHARED, mem, kRegWindowPhys);
    ASSERT_NE(map, MAP_FAILED);

    std::vector<uint8_t> rx;
    plat::mmioWrite16(map, kSel0, kLineHigh);
    plat::mmioWrite16(map, kSel1, kLineHigh);
    spiXfer(fd, {0x11}, &rx);
    EXPECT_EQ(rx[0], 0xFF);  // nobody selected
    plat::mmioWrite16(map, kSel0, kLineLow);
    spiXfer(fd, {0x22}, &rx);
    EXPECT_EQ(rx[0], static_cast<uint8_t>(~0x22));
    plat::mmioWrite16(map, kSel0, kLineHigh);
    plat::mmioWrite16(map, kSel1, kLineLow);
    spiXfer(fd, {0x33}, &rx);
    EXPECT_EQ(rx[0], static_cast<uint8_t>(~0x33 + 1));
    EXPECT_EQ(fpga0->seen, std::vector<uint8_t>{0x22});
    EXPECT_EQ(fpga1->seen, std::vector<uint8_t>{0x33});
    EXPECT_EQ(board().spiContentions(), 0u);

    // A third chip wired to the same select line: two drivers at once, a fault the board counts.
    board().attachSpi("/dev/spidev9.0", std::make_shared<EchoChip>(2), gpioLinesAre({{kSel1, kLineLow}}));
    spiXfer(fd, {0x44}, &rx);
    EXPECT_EQ(board().spiContentions(), 1u);
    plat::sys().munmap(map, kRegWindowSize);
}

TEST_F(SimDevicesTest, SpiMessageWithCsChangeReleasesBetweenTransfers) {
    auto chip = std::make_shared<EchoChip>(0);
    board().attachSpi("/dev/spidev32766.2", chip);
    int fd = plat::sys().open("/dev/spidev32766.2", O_RDWR);
    uint8_t a[4] = {1, 2, 3, 4}, b[2] = {5, 6};
    spi_ioc_transfer t[2] = {};
    t[0].tx_buf = reinterpret_cast<uintptr_t>(a);
    t[0].len = 4;
    t[0].cs_change = 1;
    t[1].tx_buf = reinterpret_cast<uintptr_t>(b);
    t[1].len = 2;
    EXPECT_EQ(plat::sys().ioctl(fd, SPI_IOC_MESSAGE(2), t), 6);
    EXPECT_EQ(chip->releases, 2);
    board().failNextSpiMessage("/dev/spidev32766.2");
    EXPECT_LT(plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), t), 0);
}

TEST_F(SimDevicesTest, I2cDevicesBehindAMuxAnswerOnlyOnTheirChannel) {
    auto mux = std::make_shared<I2cMuxModel>(4);
    auto edid1 = std::make_shared<RegChip>();
    auto edid2 = std::make_shared<RegChip>();
    board().attachI2c(0, {}, 0x70, mux);
    board().attachI2c(0, {{0x70, 1}}, 0x50, edid1);  // same address on two channels
    board().attachI2c(0, {{0x70, 2}}, 0x50, edid2);
    edid1->regs[0x10] = 0xA1;
    edid2->regs[0x10] = 0xB2;
    int fd = plat::sys().open("/dev/i2c-0", O_RDWR);
    ASSERT_GE(fd, 0);
    uint8_t r = 0;

    EXPECT_LT(i2cWriteRead(fd, 0x50, {0x10}, &r, 1), 0);  // all channels off: no acknowledge
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(i2cWriteRead(fd, 0x70, {0x04}, nullptr, 0), 1);  // channel 2
    EXPECT_EQ(i2cWriteRead(fd, 0x50, {0x10}, &r, 1), 2);
    EXPECT_EQ(r, 0xB2);
    EXPECT_EQ(i2cWriteRead(fd, 0x70, {0x01}, nullptr, 0), 1);  // channel 0 only
    EXPECT_LT(i2cWriteRead(fd, 0x50, {0x10}, &r, 1), 0);
    EXPECT_EQ(i2cWriteRead(fd, 0x70, {0x02}, nullptr, 0), 1);  // channel 1
    EXPECT_EQ(i2cWriteRead(fd, 0x50, {0x20, 0x5A}, nullptr, 0), 1);
    EXPECT_EQ(edid1->regs[0x20], 0x5A);
    EXPECT_EQ(edid2->regs[0x20], 0);
    EXPECT_GE(edid1->stops, 1);

    // read()/write() after I2C_SLAVE reach the same device
    ASSERT_EQ(plat::sys().ioctl(fd, I2C_SLAVE, reinterpret_cast<void*>(0x50)), 0);
    uint8_t ptr = 0x10;
    EXPECT_EQ(plat::sys().write(fd, &ptr, 1), 1);
    EXPECT_EQ(plat::sys().read(fd, &r, 1), 1);
    EXPECT_EQ(r, 0xA1);
    EXPECT_LT(plat::sys().open("/dev/i2c-1", O_RDWR), 0);
}

TEST_F(SimDevicesTest, MsysRequestAndMemMapGiveTheGpioWindowTheBoardSees) {
    int msys = plat::sys().open("/dev/msys", O_RDWR | O_SYNC);
    ASSERT_GE(msys, 0);
    uint32_t block[5] = {kMsysMagic, 0, 0, 0, kMsysBlockBytes};
    ASSERT_EQ(plat::sys().ioctl(msys, kMsysRequestWindow, block), 0);
    EXPECT_GE(block[3], 0x207956u);  // covers the highest GPIO line the engine drives
    int mem = plat::sys().open("/dev/mem", O_RDWR | O_SYNC);
    void* map = plat::sys().mmap(nullptr, block[3], PROT_READ | PROT_WRITE, MAP_SHARED, mem, block[1]);
    ASSERT_NE(map, MAP_FAILED);
    plat::mmioWrite16(map, 0x207858, kLineHigh);
    EXPECT_EQ(board().gpio(0x207858), kLineHigh);
    board().setReg16(0x207908, 1);  // an interrupt line the board drives
    EXPECT_EQ(plat::mmioRead16(map, 0x207908), 1);
    EXPECT_EQ(plat::sys().munmap(map, block[3]), 0);

    uint32_t bad[5] = {0x12345678, 0, 0, 0, kMsysBlockBytes};
    EXPECT_LT(plat::sys().ioctl(msys, kMsysRequestWindow, bad), 0);
    board().failMsysRequest(true);
    EXPECT_LT(plat::sys().ioctl(msys, kMsysRequestWindow, block), 0);
    board().failMemMap(true);
    EXPECT_EQ(plat::sys().mmap(nullptr, 0x1000, PROT_READ, MAP_SHARED, mem, kRegWindowPhys), MAP_FAILED);
    board().failMemMap(false);
    EXPECT_EQ(plat::sys().mmap(nullptr, 0x1000, PROT_READ, MAP_SHARED, mem, kRegWindowPhys + kRegWindowSize),
              MAP_FAILED);  // nothing there
    board().failOpen("/dev/mem", EACCES);
    EXPECT_LT(plat::sys().open("/dev/mem", O_RDWR), 0);
    EXPECT_EQ(errno, EACCES);
}

TEST_F(SimDevicesTest, ChipIdRegistersReadAsTheTestSetThem) {
    board().setChipId(0x1234, 0xABCD, 0x0042);
    board().setReg16(kChipIdControl, 0x01FF);
    int mem = plat::sys().open("/dev/mem", O_RDWR | O_SYNC);
    void* map = plat::sys().mmap(nullptr, kRegWindowSize, PROT_READ | PROT_WRITE, MAP_SHARED, mem, kRegWindowPhys);
    ASSERT_NE(map, MAP_FAILED);
    EXPECT_EQ(plat::mmioRead16(map, kChipIdX), 0x1234);
    EXPECT_EQ(plat::mmioRead16(map, kChipIdY), 0xABCD);
    EXPECT_EQ(plat::mmioRead16(map, kChipIdZ), 0x0042);
    plat::mmioWrite16(map, kChipIdControl, uint16_t(plat::mmioRead16(map, kChipIdControl) & ~0x0100));
    EXPECT_EQ(board().reg16(kChipIdControl), 0x00FF);
    plat::sys().munmap(map, kRegWindowSize);
}

TEST_F(SimDevicesTest, SerialPortCarriesBytesBothWaysThroughRealTermios) {
    int fd = plat::sys().open("/dev/ttyS2", O_RDWR | O_NOCTTY | O_NDELAY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | CSTOPB)) | CS8 | CLOCAL | CREAD;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    termios back{};
    ASSERT_EQ(tcgetattr(fd, &back), 0);
    EXPECT_EQ(cfgetispeed(&back), static_cast<speed_t>(B115200));

    const int peer = board().serialPeerFd(2);
    ASSERT_GE(peer, 0);
    const uint8_t frame[] = {0xA5, 0xA5, 0xA5, 0x0D, 0x0A, 0x00, 0x11, 0x5A};  // CR LF pass untouched in raw mode
    ASSERT_EQ(plat::sys().write(fd, frame, sizeof frame), static_cast<ssize_t>(sizeof frame));
    std::vector<uint8_t> got;
    auto collect = [&got](int from, size_t want) {
        pollfd p{from, POLLIN, 0};
        while (got.size() < want && ::poll(&p, 1, 2000) > 0) {
            uint8_t b[64];
            ssize_t n = ::read(from, b, sizeof b);
            if (n <= 0) break;
            got.insert(got.end(), b, b + n);
        }
    };
    collect(peer, sizeof frame);
    EXPECT_EQ(got, std::vector<uint8_t>(frame, frame + sizeof frame));

    got.clear();
    const uint8_t reply[] = {0x5A, 0x0D, 0xFF, 0x00};
    ASSERT_EQ(::write(peer, reply, sizeof reply), static_cast<ssize_t>(sizeof reply));
    collect(fd, sizeof reply);
    EXPECT_EQ(got, std::vector<uint8_t>(reply, reply + sizeof reply));
    plat::sys().close(fd);
    EXPECT_LT(plat::sys().open("/dev/ttyS3", O_RDWR), 0);
}

}  // namespace
