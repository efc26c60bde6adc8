// Receiving-card frames byte by byte, and the card table.
#include "card_fixture.h"

using namespace fpgatest;

namespace {

Bytes frameOf(const uint8_t* f, int n) { return Bytes(f, f + (n > 0 ? n : 0)); }
// The expected bytes with their XOR checksum appended.
Bytes closed(Bytes b) {
    b.push_back(bcc(b.data(), b.size()));
    return b;
}

}  // namespace

TEST_F(CardEngineTest, BuildersLayFramesOutByteForByteWithTheirChecksum) {
    uint8_t f[1024];
    const uint8_t data[2] = {0xAB, 0xCD};
    int n = e->load_write_ram_cmd_create(5, 2, 0x80, data, 2, f, 0);
    EXPECT_EQ(frameOf(f, n), closed({0x02, 0x10, 0x00, 0xF0, 0x10, 'g', 0x01, 6, 0, 0x60, 0x80, 0, 0, 0, 2, 0, 0, 0,
                                     0xAB, 0xCD}));
    EXPECT_EQ(u16(Bytes(g_send_para, g_send_para + 14), 12), 21) << "length word of the job";
    // n = 0: 19 bytes, checksum at [18]; all cards: 0x0FFF without port bits
    n = e->load_write_ram_cmd_create(7, 0, 0x180, nullptr, 0, f, 1);
    EXPECT_EQ(frameOf(f, n), closed({0xFF, 0x0F, 0x00, 0xF0, 0x10, 'g', 0x01, 8, 0, 0x60, 0x80, 0x01, 0, 0, 0, 0, 0, 0}));
    n = e->save_para_cmd_create(f, 3);
    EXPECT_EQ(frameOf(f, n), closed({0xFF, 0x0F, 0x00, 0xF0, 0x10, 'g', 0x01, 4, 0, 0x81, 0xFF, 0x00}));
    g_send_para[16] = 9;
    n = e->mapping_enable_cmd_create(0, f);
    EXPECT_EQ(frameOf(f, n), closed({0xFF, 0x0F, 0x00, 0xF0, 0x10, 'g', 0x01, 1, 0, 0xA0, 0x03, 0x0F, 0x01, 0x09}));
    n = e->ram_reset_cmd_create(f, SCAN_PARA{0x1201, 0xFF, 0xFF}, 6);
    EXPECT_EQ(frameOf(f, n), closed({0xFE, 0x2F, 0x00, 0xF0, 0x10, 'g', 0x01, 7, 0, 0xA0, 0x01, 0xFF, 0x01, 0xFF}));
    // [7] stays 0 for these three: the frame reaches only the port the send names
    const uint8_t reg[3] = {1, 2, 3};
    n = e->load_write_reg_cmd_create(9, 4, reg, 3, f, 0);
    EXPECT_EQ(frameOf(f, n), closed({0x04, 0x10, 0x00, 0xF0, 0x10, 'g', 0x01, 0, 0, 0xA0, 1, 2, 3}));
    const uint8_t user[3] = {0x55, 7, 8};
    n = e->load_write_user_defined_cmd_create(2, 1, user, 3, f, 0);
    EXPECT_EQ(frameOf(f, n), closed({0x01, 0x20, 0x00, 0xF0, 0x10, 'g', 0x01, 0, 0, 0x55, 7, 8}));
    n = e->save_para2flash_cmd_create(1, 0, f, 1);
    EXPECT_EQ(frameOf(f, n), closed({0xFF, 0x0F, 0x00, 0xF0, 0x10, 'g', 0x01, 0, 0, 0x81, 0xFF, 0x00}));
    // the card's origin plus the wizard's offsets at 0x180
    line_type[4] = 10;
    line_type[6] = 20;
    g_send_para[8] = 2;
    n = e->rcv_card_cmd_create(f, 5, 100, 200);
    EXPECT_EQ(frameOf(f, n), closed({0x02, 0x10, 0x00, 0xF0, 0x10, 'g', 0x01, 6, 0, 0x60, 0x80, 0x01, 0, 0, 4, 0, 0, 0,
                                     110, 0, 220, 0}));
    std::memset(line_type, 0, sizeof line_type);
    // search: config id at [17..20], the enable bit at [16]
    n = e->build_search_frame(f, 13, 0x11223344, 1);
    Bytes search{0xFE, 0x1F, 0x00, 0xF0, 0x10, 0xAA, 0xFF, 14, 0, 0x10, 0, 0, 0, 0, 0, 0, 1, 0x44, 0x33, 0x22, 0x11,
                 0xFF, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(frameOf(f, n), closed(search));
}

TEST_F(CardEngineTest, BuildersRefuseFramesBeyondTheBufferOr1024BytesAndCardIndexesAboveFFD) {
    static uint8_t data[1100];
    uint8_t f[1100];
    uint8_t small[20];
    EXPECT_EQ(e->load_write_ram_cmd_create(0, 1, 0, data, 1005, f, 0, sizeof f), 1024);
    EXPECT_EQ(e->load_write_ram_cmd_create(0, 1, 0, data, 1006, f, 0, sizeof f), 0) << "1025 bytes";
    EXPECT_EQ(e->load_write_ram_cmd_create(0, 1, 0, data, 2, small, 0, sizeof small), 0) << "21 bytes in 20";
    EXPECT_EQ(e->rcv_active_firmware_cmd_create(0, 1, data, 1014, f, sizeof f), 0);
    EXPECT_EQ(e->load_write_reg_cmd_create(0, 0xFFE, data, 1, f, 0), 0) << "0xFFE would address the whole port";
    EXPECT_EQ(e->load_write_reg_cmd_create(0, 0xFFD, data, 1, f, 0), 12);
    EXPECT_EQ(u16(frameOf(f, 12), 0), 0x0FFD);
    EXPECT_EQ(e->load_write_reg_cmd_create(16, 0, data, 1, f, 0), 0) << "port 16";
}

TEST_F(CardEngineTest, CardTableReadsBothFpgasAndSumsIn16Bits) {
    uint8_t* img0 = fpga_manage::MCU_RAM_PARA_func[0];
    uint8_t* img1 = fpga_manage::MCU_RAM_PARA_func[1];
    img0[100] = 3;                // port 0
    img0[564] = 0x34, img0[565] = 0x12;   // port 5
    img0[640 + 4 * 7] = 9;        // port 15
    img1[100] = 7;                // port 16 = FPGA 1 port 0
    EXPECT_EQ(e->get_port_card_num(0), 3);
    EXPECT_EQ(e->get_port_card_num(5), 0x1234);
    EXPECT_EQ(e->get_port_card_num(15), 9);
    EXPECT_EQ(e->get_port_card_num(16), 7);
    EXPECT_EQ(e->get_port_card_num(32), 0);
    EXPECT_EQ(e->check_netport_card(0), 3 + 0x1234 + 9);
    for (int p = 0; p < 16; ++p) {
        uint16_t c, s;
        rcv::cardTableEntry(p, &c, &s);
        img1[c] = 0xFF;
        img1[c + 1] = 0xFF;
    }
    EXPECT_EQ(e->check_netport_card(1), uint16_t(16 * 0xFFFF)) << "wraps at 16 bits";
}

// A pair's transmit that stays busy is waited for (300 ticks, 3 s should the tick stand still,
// as it does here), then the frame goes all the same and is counted. An FPGA held in reset
// drives nothing: the all-ones it reads are no busy bit, and nothing is sent into it.
TEST_F(CardEngineTest, AStuckTransmitIsCountedWhileAnFpgaInResetIsNeitherWaitedForNorSentTo) {
    const Bytes f(20, 0x22);
    fpga(0).profile().txBusyTicks = 100000;  // the board clock stands: busy from the first frame on
    ASSERT_EQ(e->Send_to_port(f.data(), 20, 6, 0), 1);
    EXPECT_EQ(e->busySends(), 0u);
    ASSERT_EQ(e->Send_to_port(f.data(), 20, 7, 0), 1);
    EXPECT_EQ(e->busySends(), 1u);
    EXPECT_EQ(sent(0, 7).size(), 1u);

    fpga(1).holdInReset(true);
    board().setSpiFrameLog(true);
    board().clearSpiFrames();
    EXPECT_EQ(e->Send_to_port(f.data(), 20, 6, 1), 0) << "not sent into a reset FPGA";
    // one look at the pair's status and the identity (command word and data each), no polls
    EXPECT_LE(board().spiFrames().size(), 4u) << "not waited for as busy";
    board().setSpiFrameLog(false);
    EXPECT_EQ(e->busySends(), 1u);
    fpga(1).holdInReset(false);
    EXPECT_EQ(e->Send_to_port(f.data(), 20, 6, 1), 1);
    EXPECT_EQ(sent(1, 6).size(), 1u);
    EXPECT_EQ(e->busySends(), 1u);
}

TEST_F(CardEngineTest, ALongFrameWritesItsLengthMinusOneIntoLowByteAndPairBits) {
    Bytes f(1024, 0x11);
    ASSERT_EQ(e->Send_to_port(f.data(), 1024, 5, 0), 1);
    EXPECT_EQ(fpga(0).reg(136), 0xFF) << "pair 2 low byte";
    EXPECT_EQ((fpga(0).reg(27) >> 4) & 3, 3) << "pair 2 bits 8..9";
    ASSERT_EQ(sent(0, 5).size(), 1u);
    EXPECT_EQ(sent(0, 5)[0], f);
    EXPECT_EQ(e->Send_to_port(f.data(), 1025, 5, 0), 0);
    EXPECT_EQ(e->wait_fpga_send_ready(16, 0), 0) << "port 16 returns at once";
    EXPECT_EQ(fpga(0).misuseCount(), 0u);
}
