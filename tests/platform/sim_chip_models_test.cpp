// Chip models on the simulated board: what a model sees of each transfer (mode, speed,
// line levels, board time), GPIO lines reaching watching models at the moment of the
// write, the board clock, spidev's limits and open-drain I2C.
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/spi/spidev.h>
#include <sys/mman.h>

#include <atomic>

#include "platform/board_wiring.h"
#include "platform/gpio_word.h"
#include "platform/platform.h"
#include "platform/sim/card_chain.h"
#include "platform/sim/example_chip.h"
#include "platform/sim/sim_board.h"
#include "platform/sys.h"
#include "support/testkit.h"

using namespace plat::sim;
namespace wiring = plat::wiring;

namespace {

class ChipModelTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        mem_ = plat::sys().open(wiring::kMemDevice, O_RDWR | O_SYNC);
        window_ = plat::sys().mmap(nullptr, wiring::kRegWindowSize, PROT_READ | PROT_WRITE, MAP_SHARED, mem_,
                                   wiring::kRegWindowPhys);
        ASSERT_NE(window_, MAP_FAILED);
    }
    void TearDown() override {
        plat::sys().munmap(window_, wiring::kRegWindowSize);
        plat::sys().close(mem_);
        testkit::SimBoardTest::TearDown();
    }
    plat::GpioWord line(uint32_t offset) { return plat::GpioWord(window_, offset); }

    int openSpi(const char* node, uint8_t mode, uint32_t hz) {
        int fd = plat::sys().open(node, O_RDWR);
        EXPECT_EQ(plat::sys().ioctl(fd, SPI_IOC_WR_MODE, &mode), 0);
        EXPECT_EQ(plat::sys().ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &hz), 0);
        return fd;
    }
    // One frame; returns rx.
    std::vector<uint8_t> frame(int fd, std::vector<uint8_t> tx, uint32_t hz = 0) {
        std::vector<uint8_t> rx(tx.size());
        spi_ioc_transfer t{};
        t.tx_buf = reinterpret_cast<uintptr_t>(tx.data());
        t.rx_buf = reinterpret_cast<uintptr_t>(rx.data());
        t.len = static_cast<uint32_t>(tx.size());
        t.speed_hz = hz;
        EXPECT_EQ(plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), &t), static_cast<int>(tx.size()));
        return rx;
    }

    int mem_ = -1;
    void* window_ = nullptr;
};

}  // namespace

TEST_F(ChipModelTest, ResetPulseReachesTheWatchingModelWithNoSpiTrafficBetween) {
    auto chip = std::make_shared<ExampleChip>("example", wiring::kGpioFpga0Reset, "", 2 * kNsPerMs);
    board().attachSpi(wiring::kSpiFpga0, chip);
    board().setSpiFrameLog(true);
    plat::GpioWord reset = line(wiring::kGpioFpga0Reset);
    reset.set(wiring::kLineHigh);
    int fd = openSpi(wiring::kSpiFpga0, SPI_MODE_3, 10000000);
    frame(fd, {0x01, 0x10});  // a job runs
    ASSERT_TRUE(chip->busy());
    board().clearSpiFrames();

    reset.set(wiring::kLineLow);
    EXPECT_EQ(chip->resets(), 1);
    EXPECT_FALSE(chip->busy());  // the reset ended the job at once
    EXPECT_EQ(frame(fd, {0x05, 0x00})[1], 0xFF);  // held in reset: no answer
    reset.set(wiring::kLineHigh);
    reset.set(wiring::kLineHigh);  // a write of the same level is no new edge
    EXPECT_EQ(chip->resets(), 1);
    EXPECT_EQ(board().spiFrames().size(), 1u);

    // The job's end, cancelled by the reset, never arrives.
    board().step(10 * kNsPerMs);
    EXPECT_EQ(frame(fd, {0x06, 0x00})[1], 0x00);
    EXPECT_EQ(chip->misuseCount(), 0u);
    plat::sys().close(fd);
}

TEST_F(ChipModelTest, ModelSeesTheModeAndSpeedOfEachTransfer) {
    auto chip = std::make_shared<ExampleChip>("example", 0, "", 0);
    board().attachSpi(wiring::kSpiC331, chip);
    board().setSpiFrameLog(true);
    int fd = openSpi(wiring::kSpiC331, SPI_MODE_3, wiring::kC331WriteSpeedHz);

    frame(fd, {0x05, 0xFF});
    EXPECT_EQ(chip->lastMode(), static_cast<uint32_t>(SPI_MODE_3));
    EXPECT_EQ(chip->lastSpeedHz(), wiring::kC331WriteSpeedHz);
    frame(fd, {0x05, 0xFF}, wiring::kC331ReadSpeedHz);  // per-transfer speed wins
    EXPECT_EQ(chip->lastSpeedHz(), wiring::kC331ReadSpeedHz);

    // A plain write goes out at the descriptor's speed and mode too.
    uint8_t mode = SPI_MODE_0;
    uint32_t slow = 1000000;
    ASSERT_EQ(plat::sys().ioctl(fd, SPI_IOC_WR_MODE, &mode), 0);
    ASSERT_EQ(plat::sys().ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &slow), 0);
    const uint8_t status[2] = {0x05, 0xFF};
    EXPECT_EQ(plat::sys().write(fd, status, 2), 2);
    EXPECT_EQ(chip->lastSpeedHz(), slow);
    EXPECT_EQ(chip->lastMode(), static_cast<uint32_t>(SPI_MODE_0));

    auto frames = board().spiFrames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].speedHz, wiring::kC331ReadSpeedHz);
    EXPECT_EQ(frames[2].mode, static_cast<uint32_t>(SPI_MODE_0));
    EXPECT_EQ(frames[2].bitsPerWord, 8);

    // Mode bits the controller lacks are refused and leave the mode as it was.
    uint8_t threeWire = SPI_MODE_3 | SPI_3WIRE;
    EXPECT_LT(plat::sys().ioctl(fd, SPI_IOC_WR_MODE, &threeWire), 0);
    EXPECT_EQ(errno, EINVAL);
    uint8_t back = 0xAA;
    ASSERT_EQ(plat::sys().ioctl(fd, SPI_IOC_RD_MODE, &back), 0);
    EXPECT_EQ(back, SPI_MODE_0);
    plat::sys().close(fd);
}

TEST_F(ChipModelTest, BusyBitClearsAfterTheSetBoardTimeSteppedByTheTest) {
    auto chip = std::make_shared<ExampleChip>("example", 0, "", 2 * kNsPerMs);
    board().attachSpi(wiring::kSpiFlash0, chip);
    board().setSpiFrameLog(true);
    int fd = openSpi(wiring::kSpiFlash0, SPI_MODE_3, wiring::kFpgaSpeedHz);
    board().step(5 * kNsPerMs);
    frame(fd, {0x01, 0x41});
    EXPECT_EQ(frame(fd, {0x05, 0xFF})[1], 1);
    board().step(2 * kNsPerMs - 1);
    EXPECT_EQ(frame(fd, {0x05, 0xFF})[1], 1);  // one nanosecond early
    board().step(1);
    EXPECT_EQ(frame(fd, {0x05, 0xFF})[1], 0);
    EXPECT_EQ(frame(fd, {0x06, 0xFF})[1], 0x42);

    auto frames = board().spiFrames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].time, 5 * kNsPerMs);  // frames carry the board clock
    EXPECT_EQ(frames[3].time, 7 * kNsPerMs);
    plat::sys().close(fd);
}

TEST_F(ChipModelTest, ClockRunsEventsInOrderEachAtItsOwnTimeAndCancelledOnesNever) {
    BoardClock& clock = board().clock();
    std::vector<std::pair<int, BoardNs>> ran;
    clock.after(30, [&] { ran.emplace_back(3, clock.now()); });
    clock.after(10, [&] {
        ran.emplace_back(1, clock.now());
        clock.after(5, [&] { ran.emplace_back(2, clock.now()); });  // an event scheduling the next
    });
    auto dropped = clock.after(20, [&] { ran.emplace_back(99, clock.now()); });
    BoardNs hookTime = 0;
    clock.onAdvance([&](BoardNs t) { hookTime = t; });
    clock.cancel(dropped);
    board().step(100);
    EXPECT_EQ(ran, (std::vector<std::pair<int, BoardNs>>{{1, 10}, {2, 15}, {3, 30}}));
    EXPECT_EQ(hookTime, 100u);
    EXPECT_EQ(board().now(), 100u);
}

TEST_F(ChipModelTest, RunningBoardFiresAnEventWithNoAccessWhenItFallsDue) {
    std::atomic<bool> fired{false};
    board().followRealTime(true);
    board().clock().after(1 * kNsPerMs, [&] { fired = true; });
    testkit::waitUntil([&] { return fired.load(); });
    board().followRealTime(false);
    EXPECT_TRUE(fired);
}

TEST_F(ChipModelTest, StartUpWaitPassesAsBoardTimeAtOnce) {
    plat::setSleepScale(1);  // sleeps in real time, as in the program
    static std::atomic<uint64_t> sleptUs;
    sleptUs = 0;
    plat::setSleepHook([](uint64_t us) { sleptUs += us; });  // sees every sleep instead
    board().followRealTime(true);
    std::atomic<bool> fired{false};
    board().clock().after(2500 * kNsPerMs, [&] { fired = true; });  // falls due within the wait
    const BoardNs before = board().now();
    plat::hardwareWaitMs(3000);
    plat::setSleepHook(nullptr);
    EXPECT_GE(board().now() - before, 3000 * kNsPerMs);
    EXPECT_TRUE(fired) << "the models see the wait go by";
    EXPECT_EQ(sleptUs.load(), 0u) << "no real-time wait on the simulated board";
    board().followRealTime(false);
    plat::setSleepScale(0);
}

TEST_F(ChipModelTest, SpidevRefusesAMessageLongerThanItsBufferAsTheKernelDoes) {
    auto chip = std::make_shared<ExampleChip>("example", 0, "", 0);
    board().attachSpi(wiring::kSpiFlash1, chip);
    board().setSpiFrameLog(true);
    int fd = openSpi(wiring::kSpiFlash1, SPI_MODE_3, wiring::kFpgaSpeedHz);
    std::vector<uint8_t> tx(4097, 0x05), rx(4097);
    spi_ioc_transfer t{};
    t.tx_buf = reinterpret_cast<uintptr_t>(tx.data());
    t.rx_buf = reinterpret_cast<uintptr_t>(rx.data());
    t.len = 4097;
    EXPECT_LT(plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), &t), 0);
    EXPECT_EQ(errno, EMSGSIZE);
    EXPECT_LT(plat::sys().write(fd, tx.data(), 4097), 0);
    EXPECT_EQ(errno, EMSGSIZE);
    // Two transfers of one message share the buffer.
    spi_ioc_transfer two[2] = {t, t};
    two[0].len = 2048;
    two[1].len = 2049;
    EXPECT_LT(plat::sys().ioctl(fd, SPI_IOC_MESSAGE(2), two), 0);
    EXPECT_TRUE(board().spiFrames().empty());  // nothing reached the wire

    t.len = 4096;
    EXPECT_EQ(plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), &t), 4096);
    // 16-bit words: an odd byte count is half a word.
    t.len = 3;
    t.bits_per_word = 16;
    EXPECT_LT(plat::sys().ioctl(fd, SPI_IOC_MESSAGE(1), &t), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(board().spiFrames().size(), 1u);
    plat::sys().close(fd);
}

TEST_F(ChipModelTest, LogsKeepTheLatestFramesWithinTheirBytesAndCountTheDropped) {
    board().setSpiFrameLog(true);
    int fd = openSpi(wiring::kSpiFpga1, SPI_MODE_3, wiring::kFpgaSpeedHz);
    for (size_t i = 0; i < kFrameLogDepth + 5; ++i) frame(fd, {static_cast<uint8_t>(i)});
    auto frames = board().spiFrames();
    ASSERT_EQ(frames.size(), kFrameLogDepth);
    EXPECT_EQ(board().spiFramesDropped(), 5u);
    EXPECT_EQ(frames.back().tx[0], static_cast<uint8_t>(kFrameLogDepth + 4));

    // long frames: the byte budget bounds the log long before the count does
    board().clearSpiFrames();
    for (int i = 0; i < 300; ++i) {
        std::vector<uint8_t> tx(4096, static_cast<uint8_t>(i));
        frame(fd, tx);
    }
    frames = board().spiFrames();
    size_t held = 0;
    for (const SpiFrame& f : frames) held += heapBytes(f) + sizeof(SpiFrame);
    EXPECT_LT(frames.size(), 300u);
    EXPECT_LE(held, kFrameLogBytes);
    EXPECT_EQ(board().spiFramesDropped(), 300u - frames.size());
    EXPECT_EQ(frames.back().tx[0], static_cast<uint8_t>(299));
    plat::sys().close(fd);

    // a receiving card keeps the newest frames addressed to it within its budget
    CardChain chain(1);
    std::vector<uint8_t> save(1000, 0);
    save[9] = 0x81;  // to card 0 on port 0: save
    for (int i = 0; i < 5000; ++i) {
        save[10] = static_cast<uint8_t>(i);
        save[11] = static_cast<uint8_t>(i >> 8);
        save.back() = 0;
        for (size_t k = 0; k + 1 < save.size(); ++k) save.back() ^= save[k];
        chain.receive(save.data(), save.size(), 0, nullptr);
    }
    const SimCard& card = chain.cards[0];
    EXPECT_EQ(card.frames, 5000u);
    EXPECT_LE(card.received.bytes(), SimCard::kReceivedBytes);
    ASSERT_FALSE(card.received.empty());
    EXPECT_EQ(card.received.back(), save) << "the newest frame is kept";
    EXPECT_EQ(card.received.size() + card.received.dropped(), 5000u);
}

namespace {
// A register chip that can be told to hold its acknowledge back.
class Reg : public I2cDeviceModel {
public:
    Reg(std::string name, uint8_t value, bool acks) : I2cDeviceModel(std::move(name)), value_(value), acks_(acks) {}
    bool write(const I2cContext& ctx, const uint8_t*, size_t) override {
        path = ctx.path.size();
        ++writes;
        return acks_;
    }
    bool read(const I2cContext&, uint8_t* d, size_t n) override {
        for (size_t i = 0; i < n; ++i) d[i] = value_;
        return acks_;
    }
    int writes = 0;
    size_t path = 99;

private:
    uint8_t value_;
    bool acks_;
};
}  // namespace

TEST_F(ChipModelTest, TwoI2cTargetsAtOneAddressAckAsOneAndCountOneCollision) {
    auto a = std::make_shared<Reg>("a", 0xF0, true);
    auto b = std::make_shared<Reg>("b", 0x3C, false);  // answers data but holds back its ACK
    auto c = std::make_shared<Reg>("c", 0x0F, true);
    board().attachI2c(0, {}, 0x48, a);
    board().attachI2c(0, {}, 0x48, b);
    board().setI2cFrameLog(true);
    int fd = plat::sys().open(wiring::kI2cDevice, O_RDWR);
    uint8_t reg = 0x10, value = 0;
    i2c_msg m[2] = {{0x48, 0, 1, &reg}, {0x48, I2C_M_RD, 1, &value}};
    i2c_rdwr_ioctl_data d{m, 2};
    EXPECT_EQ(plat::sys().ioctl(fd, I2C_RDWR, &d), 2);  // open drain: one ACK is enough
    EXPECT_EQ(value, 0xF0);
    EXPECT_EQ(a->writes, 1);
    EXPECT_EQ(b->writes, 1);
    EXPECT_EQ(board().i2cCollisions(), 1u);  // one transaction, one address
    EXPECT_EQ(board().i2cNacks(), 0u);

    // Two drivers of the read data: the low bits win.
    board().attachI2c(0, {}, 0x48, c);
    EXPECT_EQ(plat::sys().ioctl(fd, I2C_RDWR, &d), 2);
    EXPECT_EQ(value, 0x00);
    EXPECT_EQ(board().i2cCollisions(), 2u);
    auto frames = board().i2cFrames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[3].targets, 3);
    EXPECT_TRUE(frames[3].read);
    EXPECT_EQ(board().find<Reg>("b"), b);  // found by name
    EXPECT_EQ(a->path, 0u);

    // a receiver's register poll, as the input-source loop makes a few hundred a second,
    // touches no heap once the bus's working lists have their size
    board().setI2cFrameLog(false);
    board().attachI2c(0, {}, 0x50, std::make_shared<Reg>("e", 0x5A, true));
    i2c_msg poll[2] = {{0x50, 0, 1, &reg}, {0x50, I2C_M_RD, 1, &value}};
    i2c_rdwr_ioctl_data p{poll, 2};
    ASSERT_EQ(plat::sys().ioctl(fd, I2C_RDWR, &p), 2);
    const long long before = testkit::threadAllocations();
    for (int k = 0; k < 10; ++k) plat::sys().ioctl(fd, I2C_RDWR, &p);
    if (before >= 0) {
        EXPECT_EQ(testkit::threadAllocations(), before);
    }
    EXPECT_EQ(value, 0x5A);
    plat::sys().close(fd);
}

TEST_F(ChipModelTest, GpioWordWithoutAWindowIgnoresWritesInsteadOfWritingThroughANullPointer) {
    int heard = 0;
    board().watchGpio(wiring::kGpioRxReset0, [&](uint32_t, uint16_t, uint16_t) { ++heard; });
    plat::GpioWord none(nullptr, wiring::kGpioRxReset0);
    EXPECT_FALSE(none.valid());
    none.set(wiring::kLineHigh);
    EXPECT_EQ(none.get(), 0);
    EXPECT_EQ(heard, 0);
    plat::GpioWord real = line(wiring::kGpioRxReset0);
    real.set(wiring::kLineHigh);
    EXPECT_TRUE(real.high());
    EXPECT_EQ(board().gpio(wiring::kGpioRxReset0), wiring::kLineHigh);
    EXPECT_EQ(heard, 1);
}
