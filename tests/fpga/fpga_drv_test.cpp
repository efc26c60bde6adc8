// Configuration flash commands, byte for byte on the wire, against the simulated NOR parts.
#include <QMutex>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/utils.h"
#include "fpga/fpga_protocol.h"
#include "fpga_fixture.h"

using namespace fpgatest;
using namespace plat::wiring;

namespace {

const char* kFlash2 = "/dev/spidev32766.3";
const char* kFlash3 = "/dev/spidev32766.4";

std::vector<size_t> frameLengths(const std::vector<plat::sim::SpiFrame>& fs) {
    std::vector<size_t> out;
    for (auto& f : fs) out.push_back(f.tx.size());
    return out;
}

// Program frames only (opcode 0x02), as (length, address).
std::vector<std::pair<size_t, uint32_t>> programs(const std::vector<plat::sim::SpiFrame>& fs) {
    std::vector<std::pair<size_t, uint32_t>> out;
    for (auto& f : fs)
        if (f.tx.size() > 4 && f.tx[0] == 0x02)
            out.emplace_back(f.tx.size() - 4, uint32_t(f.tx[1]) << 16 | uint32_t(f.tx[2]) << 8 | f.tx[3]);
    return out;
}

Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

}  // namespace

class FlashTest : public OpenEngineTest {
protected:
    fpga_drv* drv() { return e->drv; }
};

TEST_F(FlashTest, EraseRangeCheckRefuses2032PlusSixteenBlocksAndAccepts1792) {
    int accessWrites = 0;  // start-up has used the flash already: watch the line, not its level
    const int watch = board().watchGpio(kGpioFpga0FlashAccess, [&](uint32_t, uint16_t, uint16_t) { ++accessWrites; });
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 2032, 2, 16), 0);
    EXPECT_TRUE(board().spiFrames().empty());
    EXPECT_EQ(accessWrites, 0) << "a refused erase drives no line";
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 1792, 2, 16), 1);
    EXPECT_GT(accessWrites, 0) << "an erase that runs opens the flash window";
    board().unwatchGpio(watch);
    int erases = 0;
    for (auto& f : frames(kFlash2)) erases += f.tx[0] == 0xD8;
    EXPECT_EQ(erases, 16);
    EXPECT_EQ(guestErrors(), 0u);
}

TEST_F(FlashTest, HugeEraseCountThatWrapsIn32BitsIsRefused) {
    // 0x10000000 units of 16 sectors wrap to 0 in 32-bit arithmetic
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 2, 0x10000000u), 0);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 3, 1), 0) << "no erase kind 3";
    EXPECT_TRUE(board().spiFrames().empty());
}

TEST_F(FlashTest, UnalignedBlockEraseWouldWipeNeighboursAndIsRefused) {
    chips->flash[0]->load(0x6C0001, Bytes(256, 0x5A));
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 1741, 2, 1), 0);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 1741, 1, 1), 0);
    EXPECT_EQ(chips->flash[0]->read(0x6C0001, 256), Bytes(256, 0x5A));
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 1736, 1, 1), 1) << "aligned 32 KiB block";
}

TEST_F(FlashTest, SectorEraseSendsWriteEnableThenCommandAndAddress) {
    chips->flash[0]->load(0x6CD000, Bytes(16, 0x00));
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 1741, 0, 1), 1);
    std::vector<Bytes> nonStatus;
    for (auto& f : frames(kFlash2))
        if (f.tx[0] != 0x05) nonStatus.push_back(f.tx);
    ASSERT_EQ(nonStatus.size(), 2u);
    EXPECT_EQ(nonStatus[0], Bytes({0x06}));
    EXPECT_EQ(nonStatus[1], Bytes({0x20, 0x6C, 0xD0, 0x00}));
    EXPECT_EQ(chips->flash[0]->read(0x6CD000, 16), Bytes(16, 0xFF));
    EXPECT_EQ(guestErrors(), 0u);
}

TEST_F(FlashTest, EraseCountZeroOpensWaitsAndCloses) {
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 100, 0, 0), 1);
    auto fs = frames(kFlash2);
    ASSERT_EQ(fs.size(), 1u);
    EXPECT_EQ(fs[0].tx, Bytes({0x05, 0xFF}));
    EXPECT_EQ(board().gpio(kGpioFpga0FlashAccess), kHigh);
    EXPECT_EQ(board().gpio(kGpioFpga0Select), kHigh);
    EXPECT_EQ(board().gpio(kGpioFpga1Select), kHigh);
}

TEST_F(FlashTest, ProgramPiecesStopAtPageEnds) {
    const Bytes data300 = pattern(300, 1);
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x80, data300.data(), 300), 1);
    EXPECT_EQ(programs(frames(kFlash2)), (std::vector<std::pair<size_t, uint32_t>>{{128, 0x80}, {172, 0x100}}));
    EXPECT_EQ(chips->flash[0]->read(0x80, 300), data300);

    board().clearSpiFrames();
    const Bytes data600 = pattern(600, 9);
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x10080, data600.data(), 600), 1);
    EXPECT_EQ(programs(frames(kFlash2)),
              (std::vector<std::pair<size_t, uint32_t>>{{128, 0x10080}, {256, 0x10100}, {216, 0x10200}}));
    EXPECT_EQ(chips->flash[0]->read(0x10080, 600), data600);

    board().clearSpiFrames();
    const Bytes ten = pattern(10, 3);
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x6C7001, ten.data(), 10), 1);
    EXPECT_EQ(programs(frames(kFlash2)), (std::vector<std::pair<size_t, uint32_t>>{{10, 0x6C7001}}));

    board().clearSpiFrames();
    const Bytes upToEnd = pattern(0x80, 4);
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x20080, upToEnd.data(), 0x80), 1);
    EXPECT_EQ(programs(frames(kFlash2)), (std::vector<std::pair<size_t, uint32_t>>{{128, 0x20080}}))
        << "no empty piece after a write that ends on a page end";

    board().clearSpiFrames();
    const Bytes page = pattern(256, 5);
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x30000, page.data(), 256), 1);
    auto fs = frames(kFlash2);
    int wren = 0;
    for (auto& f : fs) wren += f.tx == Bytes({0x06});
    EXPECT_EQ(wren, 1);
    EXPECT_EQ(programs(fs), (std::vector<std::pair<size_t, uint32_t>>{{256, 0x30000}}));
    EXPECT_EQ(guestErrors(), 0u) << "every piece had its write enable and stayed in its page";
}

TEST_F(FlashTest, ProgramAndReadStayInsideTheCallersBuffers) {
    // exact-size heap buffers: ASan reports any byte written in front of or read past them
    std::vector<uint8_t> src = pattern(600, 2);
    const std::vector<uint8_t> before = src;
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x40080, src.data(), uint32_t(src.size())), 1);
    EXPECT_EQ(src, before) << "the caller's data is not used as a command buffer";
    std::vector<uint8_t> out(600);
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(2, 0x40080, uint32_t(out.size()), out.data()), 1);
    EXPECT_EQ(out, before);
}

TEST_F(FlashTest, ReadsGoIn2048ByteChunksAfterAStatusPoll) {
    std::vector<uint8_t> out(4096);
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(2, 0, 2048, out.data()), 1);
    EXPECT_EQ(frameLengths(frames(kFlash2)), std::vector<size_t>({2, 2053}));
    board().clearSpiFrames();
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(2, 0, 2049, out.data()), 1);
    EXPECT_EQ(frameLengths(frames(kFlash2)), std::vector<size_t>({2, 2053, 6}));
    board().clearSpiFrames();
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(2, 0x1000, 4096, out.data()), 1);
    auto fs = frames(kFlash2);
    ASSERT_EQ(frameLengths(fs), std::vector<size_t>({2, 2053, 2053})) << "no empty third transfer";
    EXPECT_EQ(fs[0].tx, Bytes({0x05, 0xFF}));
    EXPECT_EQ(Bytes(fs[2].tx.begin(), fs[2].tx.begin() + 5), Bytes({0x0B, 0x00, 0x18, 0x00, 0xFF}));
}

TEST_F(FlashTest, RangeEndsAtTheEndOfTheChipWithoutWrapping) {
    uint8_t b[16];
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(2, 0x800000 - 16, 16, b), 1);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(2, 0x800000 - 16, 17, b), 0);
    board().clearSpiFrames();
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(2, 0x10, 0xFFFFFFF8u, b), 0) << "address + length wraps to 8";
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x10, b, 0xFFFFFFF8u), 0);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, b, 0), 0);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(2, 0, 0, b), 0);
    EXPECT_TRUE(board().spiFrames().empty());
}

TEST_F(FlashTest, BusyStatusIsPolledUntilWriteInProgressClears) {
    chips->flash[0]->setBusyPolls(3);
    const uint8_t one = 0x42;
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x50000, &one, 1), 1);
    int status = 0;
    for (auto& f : frames(kFlash2)) status += f.tx[0] == 0x05;
    EXPECT_EQ(status, 5) << "one before the write enable, four after the program";
}

TEST_F(FlashTest, StuckBusyFlashFailsWithinTheBoundAndFreesTheSpiBus) {
    chips->flash[0]->setStuckBusy(true);
    drv()->setBusyLimitMs(50);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 1741, 0, 1), 0);
    const uint8_t b = 0;
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, &b, 1), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    ASSERT_TRUE(Utils::_spi_mutex.tryLock()) << "the SPI mutex is released after the failure";
    Utils::_spi_mutex.unlock();
    EXPECT_EQ(board().gpio(kGpioFpga0FlashAccess), kHigh);
}

TEST_F(FlashTest, FailedTransfersReportFailureNotSuccess) {
    board().failNextSpiMessage(kFlash2);  // the first busy poll of the erase
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(2, 1741, 0, 1), 0);
    // a flash whose device never opened: every transfer fails
    const int saved = e->bus.link[kLinkFlashChip3];
    e->bus.link[kLinkFlashChip3] = -1;
    const uint8_t b = 1;
    uint8_t out[4];
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_ERASE(3, 0, 0, 1), 0);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_WRITE(3, 0, &b, 1), 0);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(3, 0, 4, out), 0);
    EXPECT_EQ(drv()->FPGA_SPI_FLASH_SSTF016B_RD_UID(3, out), 0);
    e->bus.link[kLinkFlashChip3] = saved;
}

TEST_F(FlashTest, UniqueIdComesInReceiveOrderAndAnyOtherChipNumberIsChip3) {
    uint8_t uid[8];
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_SSTF016B_RD_UID(2, uid), 1);
    EXPECT_EQ(Bytes(uid, uid + 8), Bytes(plat::sim::kFpgaFlashUid[0], plat::sim::kFpgaFlashUid[0] + 8));
    auto fs = frames(kFlash2);
    ASSERT_EQ(fs.size(), 2u);
    EXPECT_EQ(fs[0].tx, Bytes({0x05, 0xFF})) << "the chip polled first";
    EXPECT_EQ(fs[1].tx, Bytes({0x4B, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_SSTF016B_RD_UID(5, uid), 1);
    EXPECT_EQ(Bytes(uid, uid + 8), Bytes(plat::sim::kFpgaFlashUid[1], plat::sim::kFpgaFlashUid[1] + 8));
    EXPECT_EQ(frames(kFlash3).size(), 2u);
    // chip 3's window: FPGA 1's access lines back high, both selects high
    EXPECT_EQ(board().gpio(kGpioFpga1FlashAccessA), kHigh);
    EXPECT_EQ(board().gpio(kGpioFpga1FlashAccessB), kHigh);
    EXPECT_EQ(board().gpio(kGpioFpga0Select), kHigh);
    EXPECT_EQ(board().gpio(kGpioFpga1Select), kHigh);
}

// Two PCs save FPGA 0's parameters while both FPGAs restart, the flashes busy for the part's
// own erase and program times in real time, so that every busy wait lets the bus go between
// its polls: a restart's reads of the RAM-50 block and the unique ID wait for the chip, and
// every wait takes its window back; no command reaches a busy chip and no save fails. Each
// PC saves once per restart (turns by work done, not by the clock).
TEST_F(FlashTest, RestartsBesideTwoPcsSavingReachNoBusyChip) {
    const Bytes block = pattern(256, 0x31);
    for (auto& f : chips->flash) f->load(FLASH_RAM50_BLOCK, block);
    ASSERT_TRUE(bringUp());
    board().setSpiFrameLog(false);
    for (auto& f : chips->flash) f->setBusyPolls(0);
    board().followRealTime(true);
    FpgaProtocolEngines pe(e);
    std::mutex turn;
    std::condition_variable restarted;
    int rounds = 0;
    bool restarting = true;
    std::atomic<int> saves{0}, failed{0};
    auto pc = [&] {
        for (int seen = 0;; ++seen) {
            ++(pe.fpgaSaveParameters(0) == kEngineOk ? saves : failed);
            std::unique_lock<std::mutex> l(turn);
            restarted.wait(l, [&] { return rounds > seen || !restarting; });
            if (!restarting) return;
        }
    };
    std::thread first(pc), second(pc);
    const Bytes zeros(256, 0), uid(plat::sim::kFpgaFlashUid[0], plat::sim::kFpgaFlashUid[0] + 8);
    int besideErase = 0, wrong = 0;
    const auto erases0 = [&] {   // the PCs' threads count erases under the board's lock
        uint64_t n = 0;
        board().underLock([&] { n = chips->flash[0]->counters().erases; });
        return n;
    };
    // until 20 restarts had an erase of FPGA 0's flash among their reads (bounded)
    while (rounds < 2000 && besideErase < 20) {
        const uint64_t erases = erases0();
        for (int i = 0; i < 2; ++i) {
            e->write_fpga_ram(zeros.data(), 0, 256, FPGA_RAM_FLASHBLOCK, i);
            for (uint8_t k = 0; k < 8; ++k) e->write_to_register(FPGA_REG_UID0 + k, 0xFF, 0, i);
            e->fpgainit(i);
            Bytes ids;
            for (uint8_t k = 0; k < 8; ++k) ids.push_back(chips->fpga[i]->reg(FPGA_REG_UID0 + k));
            wrong += chips->fpga[i]->ram(FPGA_RAM_FLASHBLOCK, 0, 256) != block || ids != uid;
        }
        besideErase += erases0() != erases;
        std::lock_guard<std::mutex> l(turn);
        ++rounds;
        restarted.notify_all();
    }
    {
        std::lock_guard<std::mutex> l(turn);
        restarting = false;
        restarted.notify_all();
    }
    first.join();
    second.join();
    board().followRealTime(false);
    EXPECT_EQ(besideErase, 20) << "in " << rounds << " restarts";
    EXPECT_EQ(wrong, 0) << "restarts that left an FPGA a wrong RAM-50 block or unique ID, of " << rounds;
    EXPECT_EQ(failed, 0) << "of " << saves + failed << " saves";
    EXPECT_EQ(guestErrors(), 0u);
}

// The model on its own, fed raw frames: the part's rules, not the driver's.
class NorModelTest : public FpgaTest {
protected:
    Bytes frame(Bytes tx, plat::sim::BoardNs after = 0) {
        plat::sim::SpiContext ctx{node, 3, 8, 10000000, board().now(), board()};
        Bytes rx(tx.size(), 0xFF);
        f.transfer(ctx, tx.data(), rx.data(), tx.size());
        f.chipSelectReleased(ctx);
        if (after) board().step(after);
        return rx;
    }
    const uint8_t uid[8] = {};
    const std::string node = "/dev/spidev9.0";
    SpiNorFlash f{"nor-test", plat::sim::norPart("nor-8m"), "/sim/nor-test.bin", uid};
};

TEST_F(NorModelTest, ProgramsOnlyClearBitsAndNeedWriteEnable) {
    auto frame = [this](Bytes tx) { return NorModelTest::frame(std::move(tx), 200 * kNsPerMs); };  // past any erase
    frame({0x02, 0x00, 0x00, 0x10, 0x0F});
    EXPECT_EQ(f.read(0x10, 1), Bytes({0xFF})) << "no write enable: ignored";
    EXPECT_EQ(f.misuseCount(), 1u);
    frame({0x06});
    frame({0x02, 0x00, 0x00, 0x10, 0x0F});
    frame({0x06});
    frame({0x02, 0x00, 0x00, 0x10, 0xF3});
    EXPECT_EQ(f.read(0x10, 1), Bytes({0x03})) << "AND into the cell";
    EXPECT_EQ(f.misuseCount(), 2u) << "setting a 0 back to 1 is reported";
    frame({0x06});
    frame({0x02, 0x00, 0x00, 0xFF, 0x11, 0x22});
    EXPECT_EQ(f.read(0xFF, 1), Bytes({0x11}));
    EXPECT_EQ(f.read(0x00, 1), Bytes({0x22})) << "wraps inside its page";
    frame({0x06});
    frame({0x52, 0x00, 0x80, 0x00});
    EXPECT_EQ(f.read(0x10, 1), Bytes({0x03})) << "32 KiB block at 0x8000 leaves 0x10";
    frame({0x06});
    frame({0x20, 0x00, 0x00, 0x80});
    EXPECT_EQ(f.read(0x10, 1), Bytes({0xFF})) << "erase aligns down to its sector";
    EXPECT_EQ(frame({0x9F, 0, 0, 0}), Bytes({0xFF, 0xEF, 0x40, 0x17}));
}

TEST_F(NorModelTest, IsBusyForTheErasesTimeOnTheBoardClock) {
    frame({0x06});
    frame({0xD8, 0x01, 0x00, 0x00});
    EXPECT_EQ(frame({0x05, 0xFF})[1] & 1, 1);
    frame({0x06});
    EXPECT_EQ(f.misuseCount(), 1u) << "a command while the erase runs";
    const Bytes idRead = {0x4B, 0, 0, 0, 0, 0xFF};
    EXPECT_EQ(frame(idRead)[5], 0xFF) << "ignored while busy: the data line idles high";
    EXPECT_EQ(f.misuseCount(), 2u);
    board().step(149 * kNsPerMs);
    EXPECT_EQ(frame({0x05, 0xFF})[1] & 1, 1);
    board().step(1 * kNsPerMs);
    EXPECT_EQ(frame({0x05, 0xFF})[1] & 1, 0) << "a 64 KiB block takes 150 ms";
    EXPECT_EQ(frame(idRead)[5], 0x00) << "the ID once the erase is over";
}

TEST_F(FlashTest, WindowClosesAccessLinesBeforeTheSelects) {
    std::vector<std::pair<uint32_t, uint16_t>> writes;
    for (uint32_t line : {kGpioFpga0Select, kGpioFpga1Select, kGpioFpga1FlashAccessA, kGpioFpga1FlashAccessB})
        board().watchGpio(line, [&](uint32_t offset, uint16_t, uint16_t level) { writes.emplace_back(offset, level); });
    uint8_t b[4];
    ASSERT_EQ(drv()->FPGA_SPI_FLASH_VBYONE_READ(3, 0, 4, b), 1);
    const std::vector<std::pair<uint32_t, uint16_t>> expected = {
        {kGpioFpga0Select, kHigh},       {kGpioFpga1Select, kLow},        // open: FPGA 1's side
        {kGpioFpga1FlashAccessA, kLow},  {kGpioFpga1FlashAccessB, kLow},  //   and both access lines
        {kGpioFpga1FlashAccessA, kHigh}, {kGpioFpga1FlashAccessB, kHigh}, // close: access first
        {kGpioFpga0Select, kHigh},       {kGpioFpga1Select, kHigh},       //   then the selects
    };
    EXPECT_EQ(writes, expected);
}
