// The C331 wire, byte for byte.
#include <fcntl.h>

#include "c331_fixture.h"
#include "platform/sys.h"

using scalertest::ScalerTest;

namespace {

struct Wire {
    std::vector<std::vector<uint8_t>> tx;
    std::vector<uint32_t> speed;
};

Wire wire() {
    Wire w;
    for (const auto& f : plat::sim::board().spiFrames()) {
        if (f.node != c331::kC331SpiNode) continue;
        w.tx.push_back(f.tx);
        w.speed.push_back(f.speedHz);
    }
    return w;
}

using Bytes = std::vector<uint8_t>;

}  // namespace

class C331DrvTest : public ScalerTest {
protected:
    void SetUp() override {
        ScalerTest::SetUp();
        fd = drv.initialize();
        ASSERT_GE(fd, 0);
        plat::sim::board().setSpiFrameLog(true);
    }
    c331_drv drv;
    int fd = -1;
};

TEST_F(C331DrvTest, FourByteWriteSendsOneFramePerByteLowByteFirstAfterOneBankSelect) {
    drv.write_C331(fd, 0xBB1004, 0x12345678, 0);
    const Wire w = wire();
    ASSERT_EQ(w.tx.size(), 5u);
    EXPECT_EQ(w.tx[0], (Bytes{0x80, 0xBB}));
    EXPECT_EQ(w.tx[1], (Bytes{0x90, 0x78}));
    EXPECT_EQ(w.tx[2], (Bytes{0x91, 0x56}));
    EXPECT_EQ(w.tx[3], (Bytes{0x92, 0x34}));
    EXPECT_EQ(w.tx[4], (Bytes{0x93, 0x12}));
    for (uint32_t s : w.speed) EXPECT_EQ(s, 10000000u);
    EXPECT_EQ(chip->regValue(0xBB1004), 0x12345678u);
    EXPECT_EQ(chip->guestErrors(), 0u);
}

TEST_F(C331DrvTest, SameBankTwiceSelectsOnceAndAgainAfterInitRegAccParam) {
    drv.write_C331(fd, 0x0C2802, 511, 16);
    drv.write_C331(fd, 0x0C2A02, 511, 16);
    EXPECT_EQ(chip->counters().bankSelects, 1u);
    const Wire w = wire();
    ASSERT_EQ(w.tx.size(), 5u);
    EXPECT_EQ(w.tx[0], (Bytes{0x80, 0x1C}));  // bank 0x0C + 16
    EXPECT_EQ(w.tx[1], (Bytes{0xA8, 0xFF}));
    EXPECT_EQ(w.tx[2], (Bytes{0xA9, 0x01}));
    drv.init_reg_acc_param();
    drv.read_C331(fd, 0x0C2802, 16);
    EXPECT_EQ(chip->counters().bankSelects, 2u);
}

TEST_F(C331DrvTest, ChipIdReadsAs0x24WithReadFramesAt5MHz) {
    EXPECT_EQ(drv.read_C331(fd, 0xB20801, 0), 0x24u);
    const Wire w = wire();
    ASSERT_EQ(w.tx.size(), 2u);
    EXPECT_EQ(w.tx[0], (Bytes{0x80, 0xB2}));
    EXPECT_EQ(w.speed[0], 10000000u);
    EXPECT_EQ(w.tx[1], (Bytes{0x08, 0xFF}));
    EXPECT_EQ(w.speed[1], 5000000u);
}

TEST_F(C331DrvTest, ByteCountZeroSendsOnlyTheBankSelectAndReadsZero) {
    EXPECT_EQ(drv.read_C331(fd, 0x123400, 0), 0u);
    drv.write_C331(fd, 0x123400, 0xFF, 0);
    const Wire w = wire();
    ASSERT_EQ(w.tx.size(), 1u);
    EXPECT_EQ(w.tx[0], (Bytes{0x80, 0x12}));
}

TEST_F(C331DrvTest, MultiByteReadsAssembleLittleEndianAndDropTheFifthByte) {
    for (unsigned i = 0; i < 5; ++i) chip->setReg(0x20, 0x30 + i, uint8_t(0x11 * (i + 1)));
    EXPECT_EQ(drv.read_C331(fd, 0x203004, 0), 0x44332211u);
    EXPECT_EQ(drv.read_C331(fd, 0x203005, 0), 0x44332211u);
    EXPECT_EQ(chip->counters().reads, 9u);
}

TEST_F(C331DrvTest, MaskedWriteChangesOnlyTheMaskedBit) {
    chip->setReg(0x00, 0x29, 0xA4);
    drv.write_c331_mask(fd, 0x002901, 1, 0x01, 0);
    EXPECT_EQ(chip->reg(0x00, 0x29), 0xA5);
    drv.write_c331_mask(fd, 0x002901, 0, 0x01, 0);
    EXPECT_EQ(chip->reg(0x00, 0x29), 0xA4);
}

TEST_F(C331DrvTest, BankOffsetOfTheLastOchReachesBank0x86) {
    drv.write_C331(fd, 0x161C04, 0x2A800000, 112);
    EXPECT_EQ(chip->regValue(0x861C04), 0x2A800000u);
}

TEST_F(C331DrvTest, FailedBankSelectLeavesTheCacheUnknownSoTheNextAccessSelectsAgain) {
    plat::sim::board().failNextSpiMessage(c331::kC331SpiNode);
    drv.write_C331(fd, 0x301001, 7, 0);  // select lost: nothing written
    EXPECT_EQ(drv.cachedBank(), -1);
    EXPECT_EQ(chip->reg(0x30, 0x10), 0);
    drv.write_C331(fd, 0x301001, 7, 0);
    EXPECT_EQ(chip->reg(0x30, 0x10), 7);
    EXPECT_EQ(drv.cachedBank(), 0x30);
}

TEST_F(C331DrvTest, MaskedWriteAfterAFailedReadWritesNothingBack) {
    chip->setReg(0x00, 0x29, 0xF0);
    drv.read_C331(fd, 0x002901, 0);  // bank 0 selected
    plat::sim::board().failNextSpiMessage(c331::kC331SpiNode);
    drv.write_c331_mask(fd, 0x002901, 1, 1, 0);
    EXPECT_EQ(chip->reg(0x00, 0x29), 0xF0);
}

TEST_F(C331DrvTest, DataWriteToAddressZeroSelectsThatBankInTheCacheToo) {
    // The clock block's first register is address 0 of bank 0xFF: on the chip it selects bank 8.
    drv.write_C331(fd, 0xFF0001, 8, 0);
    drv.write_C331(fd, 0xFF0101, 0x5A, 0);
    EXPECT_EQ(chip->reg(0xFF, 0x01), 0x5A);
    EXPECT_EQ(chip->reg(0x08, 0x01), 0);
}

TEST_F(C331DrvTest, RegisterRunPastAddress0x7FIsRefusedRatherThanAliasingTheBankSelect) {
    drv.write_C331(fd, 0x107E04, 0xFFFFFFFF, 0);
    EXPECT_TRUE(wire().tx.empty());
    EXPECT_EQ(chip->selectedBank(), 0);
}

TEST_F(C331DrvTest, UnopenableNodeGivesMinusOneAndAccessesFailWithoutCrashing) {
    plat::sim::board().failOpen(c331::kC331SpiNode);
    c331_drv other;
    const int bad = other.initialize();
    EXPECT_EQ(bad, -1);
    EXPECT_EQ(other.read_C331(bad, 0xB20801, 0), 0u);
    EXPECT_GT(other.transferErrors(), 0u);
}

TEST_F(C331DrvTest, EveryFrameIsClockedWithBothFpgaSelectsInactive) {
    // An FPGA access left its select low: the C331 frame must not reach that FPGA too.
    plat::sim::board().setReg16(plat::wiring::kGpioFpga0Select, plat::wiring::kLineLow);
    plat::sim::board().setReg16(plat::wiring::kGpioFpga1Select, plat::wiring::kLineLow);
    drv.write_C331(fd, 0x100101, 5, 0);
    EXPECT_EQ(chip->misuseCount(), 0u);
    EXPECT_EQ(plat::sim::board().gpio(plat::wiring::kGpioFpga0Select), plat::wiring::kLineHigh);
    EXPECT_EQ(plat::sim::board().gpio(plat::wiring::kGpioFpga1Select), plat::wiring::kLineHigh);
}

TEST_F(ScalerTest, WithoutTheRegisterWindowTheSelectsAreSkippedWithoutACrash) {
    plat::sim::board().failMsysRequest(true);
    c331_drv d;
    const int fd = d.initialize();
    d.write_C331(fd, 0x100101, 5, 0);
    EXPECT_EQ(chip->reg(0x10, 0x01), 5);
    EXPECT_GT(chip->misuseCount(), 0u);  // the chip sees the FPGAs' selects left low
    chip.reset();                        // counted on purpose: not the drivers' misuse
}
