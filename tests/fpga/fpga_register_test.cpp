// The two-phase register and RAM protocol, the mirror and the side effects of the
// masked register write.
#include "fpga_fixture.h"

using namespace fpgatest;
using namespace plat::wiring;

namespace {

const char* kFpga0 = "/dev/spidev32766.1";
const char* kFpga1 = "/dev/spidev32766.2";

Bytes cmd(void (*build)(uint8_t*)) {
    uint8_t out[4];
    build(out);
    return Bytes(out, out + 4);
}

}  // namespace

using RegisterTest = OpenEngineTest;

TEST(FpgaCommandWord, RegisterAndRamWordsAreLaidOutAsTheFpgaDecodesThem) {
    EXPECT_EQ(cmd([](uint8_t* o) { fpga_manage::fpga_reg_cmd_to_spi_data(2, 0, 23, 0, 0x40, o); }),
              Bytes({0x04, 0x00, 0x17, 0x40}));
    EXPECT_EQ(cmd([](uint8_t* o) { fpga_manage::fpga_reg_cmd_to_spi_data(2, 0, 22, 1, 0x40, o); }),
              Bytes({0x05, 0x00, 0x16, 0x00}))
        << "no mask on reads";
    EXPECT_EQ(cmd([](uint8_t* o) { fpga_manage::fpga_cmd_to_spi_data(1, 1, 116, 1, o); }),
              Bytes({0x03, 0x01, 0x74, 0x00}));
    EXPECT_EQ(cmd([](uint8_t* o) { fpga_manage::fpga_cmd_to_spi_data(1, 50, 0, 0, o); }),
              Bytes({0x02, 0x32, 0x00, 0x00}));
    EXPECT_EQ(cmd([](uint8_t* o) { fpga_manage::fpga_cmd_to_spi_data(1, 33, 0x1234, 0, o); }),
              Bytes({0x02, 0x21, 0x34, 0x02}))
        << "address cut to 12 bits";
}

TEST_F(RegisterTest, EachFpgaIsReachedOnItsOwnLinkWithItsLinesAndTheMaskAppliedByTheFpga) {
    chips->fpga[1]->setReg(23, 0x81);
    ASSERT_EQ(e->write_to_register(23, 0x40, 0x40, 1), 1);
    EXPECT_EQ(chips->fpga[1]->reg(23), 0xC1);
    auto fs = frames(kFpga1);
    ASSERT_EQ(fs.size(), 4u) << "read (command, data), write (command, data)";
    EXPECT_EQ(fs[0].tx, Bytes({0x05, 0x00, 0x17, 0x00}));
    EXPECT_EQ(fs[1].rx, Bytes({0x81}));
    EXPECT_EQ(fs[2].tx, Bytes({0x04, 0x00, 0x17, 0x40}));
    EXPECT_EQ(fs[3].tx, Bytes({0xC1}));
    EXPECT_TRUE(frames(kFpga0).empty());
    EXPECT_EQ(board().gpio(kGpioFpga0Select), kHigh);
    EXPECT_EQ(board().gpio(kGpioFpga1Select), kHigh);
    EXPECT_EQ(board().gpio(kGpioFpga1CommandA), kLow) << "the command lines stay low after the data";
    EXPECT_EQ(e->mirror(23, 1), 0xC1);
    EXPECT_EQ(guestErrors(), 0u);
}

TEST_F(RegisterTest, DoorbellRunsTheMailboxAndNeverSendsBit2) {
    uint8_t* m = fpga_manage::MCU_RAM_CMD;
    const uint8_t block[] = {0xAA, 2, 0, 0, 0, 0, 5, 0, 1, 0x08, 0x00, 0x22, 0x30};
    std::memcpy(m, block, sizeof block);
    ASSERT_EQ(e->write_to_register(2, 0x06, 0x06, 0), 1);
    EXPECT_EQ(e->onoff_count, 1) << "the mailbox ran";
    EXPECT_EQ(e->on_hour[0], 8);
    EXPECT_EQ(e->off_minute[0], 30);
    auto fs = frames(kFpga0);
    ASSERT_GE(fs.size(), 2u);
    EXPECT_EQ(fs.back().tx, Bytes({0x00})) << "bits 1 and 2 cleared in the byte sent";
    EXPECT_EQ(e->mirror(2, 0), 0x06) << "the mirror keeps the merged byte";
    EXPECT_EQ(chips->fpga[0]->misuseCount(), 0u);
}

TEST_F(RegisterTest, MaskedWriteSendsTheMergedByteWithTheCallersMask) {
    chips->fpga[0]->setReg(2, 0x08);
    ASSERT_EQ(e->write_to_register(2, 0x01, 0x01, 0), 1);
    auto fs = frames(kFpga0);
    ASSERT_EQ(fs.size(), 4u);
    EXPECT_EQ(fs[2].tx, Bytes({0x04, 0x00, 0x02, 0x01}));
    EXPECT_EQ(fs[3].tx, Bytes({0x09}));
}

TEST_F(RegisterTest, VirtualRegistersLiveInTheMirrorOnly) {
    ASSERT_EQ(e->write_to_register(70, 0x0F, 0x35, 0), 1);
    EXPECT_EQ(e->mirror(70, 0), 0x05);
    EXPECT_EQ(e->read_from_register(70, 0), 0);
    EXPECT_EQ(e->write_to_register(100, 0xFF, 1, 0), 0) << "97..127 unused";
    EXPECT_EQ(e->write_to_register(170, 0xFF, 1, 0), 0);
    EXPECT_EQ(e->read_from_register(170, 1), 0);
    EXPECT_EQ(e->mirror(100, 0), 0);
    EXPECT_TRUE(board().spiFrames().empty());
}

TEST_F(RegisterTest, ScreenStateFollowsWhatTheFpgaHoldsNotTheCallersValue) {
    chips->fpga[0]->setReg(0, 0x04);  // black
    ScreenState = 1;
    ASSERT_EQ(e->write_to_register(0, 0x80, 0x80, 0), 1);  // the mapping bit only
    EXPECT_EQ(ScreenState, 0) << "the screen is still black";
    EXPECT_EQ(fpga_manage::MCU_RAM_EXTEND[29], 0);
    EXPECT_TRUE(chips->fpga[0]->black());
    EXPECT_TRUE(chips->fpga[0]->mapping());
    EXPECT_EQ(ram->ramU16(vlxram::kScreenState), 0) << "only a mask-4 write touches 0x844";

    ASSERT_EQ(e->write_to_register(0, 0x0C, 0x08, 0), 1);
    EXPECT_EQ(ScreenState, 1);
    EXPECT_EQ(fpga_manage::MCU_RAM_EXTEND[29], 1);
}

TEST_F(RegisterTest, BlackWithMask4RecordsTheScreenStateUnlessTheLedHandshakeRuns) {
    g_set_led_para = 1;
    ASSERT_EQ(e->write_to_register(0, 0x04, 0x04, 0), 1);
    EXPECT_EQ(ScreenState, 0);
    EXPECT_EQ(ram->ramU16(vlxram::kScreenState), 0);
    g_set_led_para = 0;
    ASSERT_EQ(e->write_to_register(0, 0x04, 0x04, 1), 1);
    EXPECT_EQ(ram->ramU16(vlxram::kScreenState), 1);
    ASSERT_EQ(e->write_to_register(0, 0x04, 0x00, 1), 1);
    EXPECT_EQ(ram->ramU16(vlxram::kScreenState), 0);
    EXPECT_EQ(ScreenState, 1);
}

TEST_F(RegisterTest, RamTransfersStayInsideTheTwelveBitSpace) {
    const Bytes data = {1, 2, 3, 4};
    ASSERT_EQ(e->write_fpga_ram(data.data(), 0x1FFC, 4, 33, 0), 1);
    EXPECT_EQ(chips->fpga[0]->ram(33, 0xFFC, 4), data);
    EXPECT_EQ(e->write_fpga_ram(data.data(), 0xFFE, 4, 33, 0), 0) << "past the end of the RAM";
    Bytes big(5000, 0);
    EXPECT_EQ(e->read_fpga_ram(big.data(), 0, 4097, 33, 0), 0);
    EXPECT_EQ(e->read_fpga_ram(big.data(), 0, 0, 33, 0), 0);
    Bytes back(4);
    ASSERT_EQ(e->read_fpga_ram(back.data(), 0xFFC, 4, 33, 0), 1);
    EXPECT_EQ(back, data);
    EXPECT_EQ(guestErrors(), 0u);
}

TEST_F(RegisterTest, FailedReadLeavesTheMirrorAlone) {
    chips->fpga[1]->setReg(40, 0x1C);
    ASSERT_EQ(e->read_from_register(42, 1), 1);
    const uint8_t before = e->mirror(42, 1);
    board().failNextSpiMessage(kFpga1);
    EXPECT_EQ(e->read_from_register(42, 1), 0);
    EXPECT_EQ(e->mirror(42, 1), before);
    chips->fpga[1]->holdInReset(true);
    ASSERT_EQ(e->read_from_register(31, 1), 1) << "a held FPGA answers all ones";
    EXPECT_EQ(e->mirror(31, 1), 0xFF);
}

// The FPGA model on its own, fed raw frames with its command line set by the test.
TEST_F(FpgaTest, FpgaModelReportsProtocolMisuseAndAppliesTheMaskItself) {
    SimFpga& f = *chips->fpga[0];
    const std::string node = "/dev/spidev32766.1";
    auto frame = [&](bool command, Bytes tx) {
        board().setReg16(plat::wiring::kGpioFpga0Command, command ? kHigh : kLow);
        plat::sim::SpiContext ctx{node, 3, 8, 10000000, board().now(), board()};
        Bytes rx(tx.size(), 0xFF);
        f.transfer(ctx, tx.data(), rx.data(), tx.size());
        return rx;
    };
    frame(false, {0x12});
    EXPECT_EQ(f.misuseCount(), 1u) << "data without a command word";
    frame(true, {0x05, 0x00, 0x50, 0x00});
    EXPECT_EQ(f.misuseCount(), 2u) << "virtual register 80 on the wire";
    frame(true, {0x04, 0x00, 0x02, 0x04});
    frame(false, {0x04});
    EXPECT_EQ(f.misuseCount(), 3u) << "register 2 bit 2 written 1";
    f.setReg(23, 0xF0);
    frame(true, {0x04, 0x00, 0x17, 0x0F});
    frame(false, {0x05});
    EXPECT_EQ(f.reg(23), 0xF5) << "only the masked bits change";
    frame(true, {0x04, 0x00, 0x1F, 0xFF});
    frame(false, {0x99});
    EXPECT_EQ(f.reg(31), 26) << "the identity is read-only";
    frame(true, {0x02, 0x01, 0x70, 0x00});  // RAM 1 from 112: over the measured input
    frame(false, Bytes(16, 0));
    EXPECT_EQ(f.ram(1, 116, 2), Bytes({0x80, 0x07})) << "the FPGA's own measurement stays";
}
