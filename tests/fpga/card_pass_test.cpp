// The PC's frames passed through to the receiving cards and their answers back to the
// transport that asked.
#include "card_fixture.h"
#include "fpga/fpga_protocol.h"
#include "protocol/control_frame.h"
#include "protocol/pass_reply.h"
#include "protocol/protocol_phy.h"

using namespace fpgatest;

namespace {

// A PC frame: destination, source 0xF010, tag, mode, [7], opcode, arguments, checksum.
Bytes pcFrame(uint16_t dest, uint8_t tag, uint8_t mode, uint8_t port7, uint8_t opcode, Bytes args) {
    const Bytes head{uint8_t(dest), uint8_t(dest >> 8), 0x10, 0xF0, 0x10, tag, mode, port7, 0, opcode};
    Bytes f(head.size() + args.size() + 1);  // sized once: GCC 12 takes an insert after a fixed head for an overrun
    std::copy(head.begin(), head.end(), f.begin());
    std::copy(args.begin(), args.end(), f.begin() + std::ptrdiff_t(head.size()));
    f.back() = bcc(f.data(), f.size() - 1);
    return f;
}
// Read 4 bytes of card memory at 0x100.
Bytes readCard(uint16_t card, uint8_t port7, uint8_t mode = 1) {
    return pcFrame(card, 'g', mode, port7, 0x61, {0x00, 0x01, 0, 0, 4, 0, 0, 0});
}

class CardPassTest : public CardEngineTest {
protected:
    void SetUp() override {
        CardEngineTest::SetUp();
        for (uint8_t t = 1; t <= 4; ++t) protocol_clear_reply(t);
        engines = std::make_unique<FpgaProtocolEngines>(e);
    }
    // Passes a frame as the transport `t` does; true when it went out.
    bool pass(const Bytes& f, uint8_t t = ctl::kTransportTcp) {
        g_passby_trans_port = t;
        return engines->passToCards(f.data(), unsigned(f.size())) == kEngineOk;
    }
    // The transport's queued answers, decoded.
    std::vector<Bytes> answers(uint8_t t = ctl::kTransportTcp) {
        std::vector<std::vector<uint8_t>> encoded;
        std::vector<Bytes> out;
        if (!protocol_take_reply(t, &encoded)) return out;
        for (const auto& line : encoded) {
            frame_deframer d(4096);
            d.feed(line.data(), line.size(), [&](const uint8_t* p, size_t n) { out.emplace_back(p, p + n); });
        }
        return out;
    }
    void service(int rounds = 3) {
        for (int k = 0; k < rounds; ++k) engines->serviceCardAnswers();
    }
    std::unique_ptr<FpgaProtocolEngines> engines;
};

}  // namespace

TEST_F(CardPassTest, AReadOfCard3OnGlobalPort20ReturnsWithItsPortAndAGoodChecksum) {
    fpga(1).attachCards(3, 5);
    fpga(1).chain(3)->cards[3].memory[0x100] = 0xC3;
    ASSERT_TRUE(pass(readCard(3, 20)));
    const auto out = sent(1, 3);
    ASSERT_EQ(out.size(), 1u) << "[7] = 20 is port 3 of FPGA 1";
    EXPECT_EQ(out[0][1] >> 4 & 3, 3) << "destination bits 12..13 = 3";
    EXPECT_TRUE(checksumOk(out[0]));
    service();
    const auto got = answers();
    ASSERT_EQ(got.size(), 1u);
    const Bytes& a = got[0];
    EXPECT_EQ(u16(a, 0), 0xF010);
    EXPECT_EQ(a[7], 20);
    EXPECT_EQ(u16(a, 2), 3) << "card 3, source port bits cleared";
    EXPECT_EQ(a[11], 0xC3);
    EXPECT_TRUE(checksumOk(a));
    EXPECT_EQ(g_passby_trans_port, 255);
    EXPECT_EQ(fpga(1).misuseCount(), 0u);
}

TEST_F(CardPassTest, TheSinglePortPatchSetsThePortBitsAndFixesTheChecksumByOldXorNew) {
    fpga(0).attachCards(2, 1);
    fpga(0).attachCards(4, 1);
    // [7] = 0: port from destination bits 12..13 (2); the frame must stay as it was
    Bytes f = readCard(0x2000, 0);
    ASSERT_TRUE(pass(f));
    ASSERT_EQ(sent(0, 2).size(), 1u);
    EXPECT_EQ(sent(0, 2)[0], f);
    // [7] = 5 (port 4) with other port bits already present: replaced, not ORed
    f = readCard(0x3000, 5);
    ASSERT_TRUE(pass(f));
    ASSERT_EQ(sent(0, 4).size(), 1u);
    EXPECT_EQ(u16(sent(0, 4)[0], 0), 0x0000);
    EXPECT_TRUE(checksumOk(sent(0, 4)[0]));
    EXPECT_EQ(guestErrors(), 0u) << "the cards saw good checksums and their own port bits";
}

TEST_F(CardPassTest, OnlyFramesOf11To1023BytesInAKnownModeAndPortGoOut) {
    fpga(0).attachCards(0, 1);
    Bytes big(1023, 0);
    big[0] = 0x00, big[2] = 0x10, big[3] = 0xF0, big[4] = 0x10, big[5] = 'g', big[6] = 1, big[7] = 1, big[9] = 0x55;
    big.back() = bcc(big.data(), big.size() - 1);
    EXPECT_TRUE(pass(big));
    Bytes huge(1024, 0);
    EXPECT_FALSE(pass(huge));
    const Bytes shortFrame{0x00, 0x00, 0x10, 0xF0, 0x10, 'g', 1, 1, 0, 0x55};
    EXPECT_FALSE(pass(shortFrame)) << "10 bytes";
    EXPECT_FALSE(pass(readCard(0, 1, 2))) << "mode 2";
    EXPECT_FALSE(pass(readCard(0, 40))) << "[7] = 40";
    EXPECT_EQ(sent(0, 0).size(), 1u);
}

TEST_F(CardPassTest, AMultiPortFrameTo0FFEGivesOneAnswerAfterItsLastPort) {
    fpga(0).attachCards(1, 2);
    fpga(0).attachCards(6, 3);
    fpga(1).attachCards(12, 1);
    fpga(1).attachCards(13, 4);     // linked, but no cards counted: neither sent to nor waited for
    e->MCU_RAM_PARA_func[0][102] = 2;  // port 1
    e->MCU_RAM_PARA_func[0][568] = 3;  // port 6
    e->MCU_RAM_PARA_func[1][640 + 4 * 4] = 1;  // port 12
    ASSERT_TRUE(pass(readCard(0x0FFE, 0xFF)));
    EXPECT_EQ(sent(0, 1).size() + sent(0, 6).size() + sent(1, 12).size(), 3u);
    EXPECT_EQ(sent(1, 13).size(), 0u);
    service(6);
    const auto got = answers();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(u16(got[0], 2), 0x0FFE);
    EXPECT_EQ(got[0][7], 0xFF);
    EXPECT_TRUE(checksumOk(got[0]));
    service(3);
    EXPECT_TRUE(answers().empty()) << "answered once";
}

TEST_F(CardPassTest, AMultiPortExchangeWithASilentPortAnswersAtItsTimeOutWithWhatCame) {
    fpga(0).attachCards(0, 1);
    fpga(0).attachCards(8, 1);
    e->MCU_RAM_PARA_func[0][100] = 1;
    e->MCU_RAM_PARA_func[0][640] = 1;
    fpga(0).chain(8)->cards[0].policy = plat::sim::CardAnswerPolicy::Silent;
    ASSERT_TRUE(pass(readCard(0x0FFF, 0xFF)));
    service(4);
    EXPECT_TRUE(answers().empty());
    G_timeTicks.fetch_add(fpga_manage::kMultiPortWaitTicks);
    service(1);
    const auto got = answers();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(u16(got[0], 2), 0x0FFF);
}

TEST_F(CardPassTest, WrongTagsSilentCardsAndUnaskedAnswersQueueNothing) {
    fpga(0).attachCards(0, 1);
    e->MCU_RAM_PARA_func[0][100] = 1;
    fpga(0).chain(0)->cards[0].policy = plat::sim::CardAnswerPolicy::WrongTag;
    ASSERT_TRUE(pass(readCard(0x0FFE, 0xFF)));
    service(3);
    EXPECT_TRUE(answers().empty()) << "a multi-port answer with another tag is dropped";
    fpga(0).chain(0)->cards[0].policy = plat::sim::CardAnswerPolicy::Silent;
    EXPECT_TRUE(pass(readCard(0, 1))) << "sent, though nobody answers";
    service(3);
    EXPECT_TRUE(answers().empty());
    fpga(0).chain(0)->cards[0].policy = plat::sim::CardAnswerPolicy::Answer;
    ASSERT_TRUE(pass(readCard(0, 1)));
    g_passby_trans_port = 255;  // the transport gave up
    service(3);
    EXPECT_TRUE(answers().empty());
}

TEST_F(CardPassTest, FourGAnswersGoToThe4GLinkAndEachTransportHasItsOwnReply) {
    fpga(0).attachCards(0, 1);
    ASSERT_TRUE(pass(readCard(0, 1), ctl::kTransport4G));
    service();
    EXPECT_TRUE(answers(ctl::kTransportSerial).empty());
    EXPECT_EQ(answers(ctl::kTransport4G).size(), 1u);
    ASSERT_TRUE(pass(readCard(0, 1), ctl::kTransportUdp));
    service();
    EXPECT_TRUE(answers(ctl::kTransportTcp).empty());
    EXPECT_EQ(answers(ctl::kTransportUdp).size(), 1u);
}

TEST_F(CardPassTest, APcSearchAnswerOnFpga1TakesPort7Minus17) {
    fpga(1).attachCards(3, 6);
    ASSERT_TRUE(pass(pcFrame(0x0FFE, 0xAA, 0xFF, 20, 0x10, Bytes(19, 0))));
    service();
    EXPECT_EQ(e->get_port_card_num(16 + 3), 6);
    const auto got = answers();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0][7], 20);
}

TEST_F(CardPassTest, AJobsRegisterAndSearchAnswersSetTheReplyFlagAndAreNotForwarded) {
    fpga(0).attachCards(2, 3);
    uint8_t f[64];
    const uint8_t regs[4] = {0x03, 0x0F, 0x01, 0x09};
    const int n = e->load_write_reg_cmd_create(2, 1, regs, 4, f, 0);
    g_passby_trans_port = ctl::kTransportTcp;  // a PC exchange waits meanwhile
    ASSERT_EQ(e->job_send(f, uint16_t(n), 2), 1);
    service();
    EXPECT_EQ(g_send_para[6], 1) << "a 'g' answer with opcode 0xA0";
    EXPECT_EQ(e->own_answer, 1);
    EXPECT_EQ(e->own_answer_copy[0], 0xA0);
    EXPECT_EQ(fpga(0).chain(2)->cards[1].mappingDisplay, 9);
    g_send_para[6] = 0;
    const uint8_t args[4] = {0, 0, 0, 0};
    const int s = e->load_search_rxc_cmd_create(2, args, 4, f);
    ASSERT_EQ(e->job_send(f, uint16_t(s), 2), 1);
    service();
    EXPECT_EQ(g_send_para[6], 1) << "a 'g' search answer";
    EXPECT_EQ(e->get_port_card_num(2), 3);
    EXPECT_TRUE(answers().empty()) << "the controller's own answers never reach the PC";
    EXPECT_EQ(g_passby_trans_port, ctl::kTransportTcp);
}

// An FPGA held in reset or going through its start steps after the release loses what it is
// sent: the frame is refused, unsent, for the transport to wait. One that stays down past
// its start steps' time (held in reset by the board here) is not waited for.
TEST_F(CardPassTest, AFrameWaitsForItsFpgasRestartButNotForOneThatStaysDown) {
    const Bytes port2 = readCard(0, 3);
    auto passed = [&](const Bytes& f) { return engines->passToCards(f.data(), unsigned(f.size())); };
    e->reset_fpga_rst(0);
    EXPECT_EQ(passed(port2), kEngineRestarting) << "held in reset";
    EXPECT_EQ(passed(readCard(0, 17)), kEngineOk) << "the other FPGA does not restart";
    fpga(0).holdInReset(true);
    G_timeTicks += 201;
    tick();
    EXPECT_EQ(passed(port2), kEngineRestarting) << "released, in its start steps";
    G_timeTicks += 400;
    tick();
    EXPECT_EQ(passed(port2), kEngineFailed) << "no longer waited for, and nothing sent into it";
    EXPECT_TRUE(sent(0, 2).empty());
}
