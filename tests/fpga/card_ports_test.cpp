// Port transmit and receive, the periodic card search and the link watch against the
// simulated FPGAs' ports with card chains behind them.
#include <atomic>
#include <thread>

#include "card_fixture.h"

using namespace fpgatest;

namespace {

class CardPortsTest : public CardEngineTest {
protected:
    // The idle work of one engine pass (without the start-up machines).
    void idle(int n = 1) {
        for (int k = 0; k < n; ++k) {
            G_timeTicks.fetch_add(1);
            board().step(10 * kNsPerMs);
            e->reg_IRQ_Dealwith(0);
            e->reg_IRQ_Dealwith(1);
            e->Check_search_card();
        }
    }
    void search() {
        G_timeTicks.fetch_add(80);
        idle(2);
    }
    uint16_t ramCount(int f, int port) {
        uint16_t c, s;
        rcv::cardTableEntry(port, &c, &s);
        const Bytes b = fpga(f).ram(1, c, 2);
        return u16(b, 0);
    }
};

}  // namespace

TEST_F(CardPortsTest, TwoSearchPassesFindNCardsOnEveryPortOfBothFpgas) {
    for (int f = 0; f < 2; ++f)
        for (int p = 0; p < 16; ++p) fpga(f).attachCards(p, 16);
    search();  // even ports
    search();  // odd ports
    for (int f = 0; f < 2; ++f)
        for (int p = 0; p < 16; ++p) {
            EXPECT_EQ(ramCount(f, p), 16) << "fpga " << f << " port " << p;
            EXPECT_EQ(e->get_port_card_num(16 * f + p), 16);
        }
    search();  // evaluates the last pass: the total for the PC
    EXPECT_EQ(e->totalCards(), 32 * 16);
    EXPECT_EQ(fpga_manage::MCU_RAM_EXTEND[0x7C] | fpga_manage::MCU_RAM_EXTEND[0x7D] << 8, 512);
    // one search per pair and FPGA and pass: 16 frames, each the 30-byte search frame
    for (int f = 0; f < 2; ++f) {
        const auto s0 = sent(f, 0), s1 = sent(f, 1);
        ASSERT_FALSE(s0.empty());
        EXPECT_EQ(s0[0].size(), 30u);
        EXPECT_TRUE(checksumOk(s0[0]));
        EXPECT_EQ(s0.size() + s1.size(), 3u) << "three passes, one port of the pair each";
    }
    EXPECT_EQ(guestErrors(), 0u);
    EXPECT_EQ(fpga(0).cardFramesDropped() + fpga(1).cardFramesDropped(), 0u);
}

// A PC's frame that comes while a search pass sends keeps the rest of the pass off the
// cards' bus: the search looks at the PC's window before each of its frames.
TEST_F(CardPortsTest, APcFrameDuringASearchPassStopsItBeforeItsNextFrame) {
    for (int f = 0; f < 2; ++f)
        for (int p = 0; p < 16; p += 2) fpga(f).attachCards(p, 1);
    e->tx_ram_written_hook = [] { pc_window::note(); };  // with the pass's first frame
    search();
    e->tx_ram_written_hook = nullptr;
    size_t frames = 0;
    for (int f = 0; f < 2; ++f)
        for (int p = 0; p < 16; ++p) frames += sent(f, p).size();
    EXPECT_EQ(frames, 1u);
}

TEST_F(CardPortsTest, ADetachedChainOrASilentPortReadsZeroAfterTheNextPass) {
    fpga(0).attachCards(2, 4);
    fpga(0).attachCards(3, 5);
    fpga(1).attachCards(9, 2);
    search();
    search();
    EXPECT_EQ(e->get_port_card_num(2), 4);
    EXPECT_EQ(e->get_port_card_num(3), 5);
    EXPECT_EQ(e->get_port_card_num(16 + 9), 2);
    fpga(1).attachCards(9, 0);  // unplugged: the link goes with it
    search();
    EXPECT_EQ(e->get_port_card_num(16 + 9), 0);
    EXPECT_EQ(ramCount(1, 9), 0);
    // port 3 searched (an odd pass prefers it) and receive RAM 4 brought nothing
    fpga(0).chain(3)->cards[0].policy = plat::sim::CardAnswerPolicy::Silent;
    search();
    search();
    EXPECT_EQ(e->get_port_card_num(3), 0);
    EXPECT_EQ(ramCount(0, 3), 0);
    EXPECT_EQ(e->get_port_card_num(2), 4) << "its pair partner keeps its count";
}

TEST_F(CardPortsTest, ASearchAnswerWithABadChecksumLeavesTheTableAndIsStillReleased) {
    fpga(0).attachCards(0, 3);
    fpga(0).chain(0)->cards[0].policy = plat::sim::CardAnswerPolicy::BadChecksum;
    search();
    EXPECT_EQ(e->get_port_card_num(0), 0);
    EXPECT_EQ(g_send_para[6], 0) << "no reply flag from a corrupted answer";
    fpga(0).chain(0)->cards[0].policy = plat::sim::CardAnswerPolicy::Answer;
    search();
    search();
    EXPECT_EQ(e->get_port_card_num(0), 3) << "the slot was released: later answers come in";
}

TEST_F(CardPortsTest, SearchAnswerWithoutPortTakesSlotAndSourceBitsAndShortAnswersSetNoCheckResult) {
    // [7] = 0 on receive RAM 6 (slot 2) with source bits 1: port 5
    Bytes a{0x00, 0xF0, 0x00, 0x10, 0x10, 0xAA, 0xFF, 0, 0, 0x10, 0, 7, 0, 0, 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0x03};
    a.push_back(bcc(a.data(), a.size()));
    e->check_config_valid = true;
    e->check_config_id = 0x11223344;
    e->check_port = 21;  // a net of FPGA 1 is being checked
    e->Search_concurrent_back_result(0, 2, a.data(), uint16_t(a.size()));
    EXPECT_EQ(e->get_port_card_num(5), 7);
    EXPECT_EQ(ramCount(0, 5), 7);
    EXPECT_EQ(a[7], 6);
    EXPECT_EQ(g_send_para[30], 0) << "the answer of another net carries no check result";
    a[7] = 0;
    e->check_port = 5;
    e->Search_concurrent_back_result(0, 2, a.data(), uint16_t(a.size()));
    EXPECT_EQ(g_send_para[30], 3) << "a whole answer carries the check result";
    // 18..23 bytes: the id and result bytes lie beyond the answer (stale buffer bytes)
    g_send_para[30] = 0x77;
    a[7] = 0;
    e->Search_concurrent_back_result(0, 2, a.data(), 20);
    EXPECT_EQ(g_send_para[30], 0x77);
}

TEST_F(CardPortsTest, ALinkChangeRaisesCode11OnceAndNothingWhileAnFpgaIsDown) {
    e->write_to_register(FPGA_VREG_STATE, 0xFF, 0, 1);  // FPGA 1 down
    fpga(0).attachCards(4, 1);
    e->check_wlanonline_state();
    EXPECT_EQ(count(11), 0);
    markUp();
    e->check_wlanonline_state();
    e->check_wlanonline_state();
    EXPECT_EQ(count(11), 1);
    EXPECT_EQ(e->get_wlan_state(), 1u << 4);
    fpga(1).attachCards(15, 2);
    e->check_wlanonline_state();
    EXPECT_EQ(count(11), 2);
    EXPECT_EQ(e->get_wlan_state(), (1u << 4) | (1u << 31));
    e->write_to_register(FPGA_VREG_STATE, 0xFF, 0, 1);
    EXPECT_EQ(e->get_wlan_state(), 1u << 4) << "an FPGA not running contributes zeros";
}

TEST_F(CardPortsTest, ARestartIndicationWithABadIdentityMarksTheFpgaDown) {
    fpga(0).attachCards(0, 1);
    fpga(0).setReg(22, 0x40);
    fpga(0).profile();
    e->Search_Card_Cmd();  // not due yet
    G_timeTicks.fetch_add(80);
    e->Search_Card_Cmd();  // an answer raises the line
    board().step(kNsPerMs);
    // the identity register is read-only on the wire; the model's profile sets it
    fpga(0).setReg(31, 24);
    e->reg_IRQ_Dealwith(0);
    EXPECT_EQ(e->mirror(FPGA_VREG_STATE, 0), 0);
}

TEST_F(CardPortsTest, TransmitAndReadAndReleaseFromTwoThreadsKeepEveryFrameWhole) {
    // ports 2 and 3 share one transmit RAM and its length registers
    fpga(0).attachCards(2, 1);
    fpga(0).attachCards(3, 1);
    uint8_t a[200], b[40];
    ASSERT_EQ(e->load_write_ram_cmd_create(2, 0, 0x100, std::vector<uint8_t>(181, 0xA5).data(), 181, a, 0), 200);
    ASSERT_EQ(e->load_write_ram_cmd_create(3, 0, 0x200, std::vector<uint8_t>(21, 0x5A).data(), 21, b, 0), 40);
    constexpr int kRounds = 150;
    std::atomic<bool> go{false};
    std::thread t1([&] {
        while (!go) std::this_thread::yield();
        for (int k = 0; k < kRounds; ++k) {
            e->Send_to_port(a, 200, 2, 0);
            e->reg_IRQ_Dealwith(0);
        }
    });
    std::thread t2([&] {
        while (!go) std::this_thread::yield();
        for (int k = 0; k < kRounds; ++k) {
            e->Send_to_port(b, 40, 3, 0);
            e->reg_IRQ_Dealwith(0);
        }
    });
    go = true;
    t1.join();
    t2.join();
    const auto s2 = sent(0, 2), s3 = sent(0, 3);
    EXPECT_EQ(s2.size(), size_t(kRounds));
    EXPECT_EQ(s3.size(), size_t(kRounds));
    for (const Bytes& f : s2) EXPECT_EQ(f, Bytes(a, a + 200));
    for (const Bytes& f : s3) EXPECT_EQ(f, Bytes(b, b + 40));
    EXPECT_EQ(fpga(0).misuseCount(), 0u);
    EXPECT_EQ(fpga(0).chain(2)->cards[0].frames, unsigned(kRounds));
    EXPECT_EQ(fpga(0).chain(3)->cards[0].frames, unsigned(kRounds));
}
