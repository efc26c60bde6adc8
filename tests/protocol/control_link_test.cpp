// Frame checks and the pass-through wait of a link end.
#include <chrono>
#include <thread>

#include "protocol/control_link.h"
#include "protocol/protocol_phy.h"
#include "protocol_fixture.h"

using namespace prototest;
using namespace ctl;

namespace {
std::vector<uint8_t> lineOf(const std::vector<uint8_t>& f) {
    std::vector<uint8_t> out;
    protocol_phy::data_re_transf_meaning(out, f.data(), f.size());
    return out;
}

// A receiving-card frame as the PC passes it: destination a card, source the PC.
std::vector<uint8_t> cardFrame() {
    std::vector<uint8_t> f = {0xFE, 0x0F, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x03, 0x00, 0x61, 0x80, 0, 0, 0};
    uint8_t x = 0;
    for (uint8_t b : f) x ^= b;
    f.push_back(x);
    return f;
}

class LinkTest : public ProtocolTest {
protected:
    control_link link{kTransportTcp};
    std::vector<std::vector<uint8_t>> sent;
    control_link::Send send = [this](const std::vector<uint8_t>& r) { sent.push_back(r); };
};
}  // namespace

TEST_F(LinkTest, BadBccIsDroppedWithoutReplyOrEffect) {
    std::vector<uint8_t> f = memWrite(0x880, {9, 0});
    f.back() ^= 0xFF;
    std::vector<uint8_t> card = cardFrame();
    card.back() ^= 0xFF;
    const auto line = cat(lineOf(f), lineOf(card));
    link.onBytes(line.data(), line.size(), send);
    EXPECT_TRUE(sent.empty());
    EXPECT_NE(store->ramByte(0x880), 9);
    EXPECT_FALSE(pc_window::open()) << "a bad frame does not count as PC activity";
    EXPECT_EQ(link.droppedFrames(), 2u);
}

TEST_F(LinkTest, GoodFrameIsAnswered) {
    const auto line = lineOf(memWrite(0x880, {9, 0}));
    link.onBytes(line.data(), line.size(), send);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(store->ramByte(0x880), 9);
    std::vector<uint8_t> reply(sent[0].size());
    const int n = protocol_phy::data_transf_meaning(sent[0].data(), sent[0].size(), reply.data(), reply.size());
    ASSERT_EQ(n, int(kMinFrame + 1));
    EXPECT_EQ(reply[kPayload], kStatusOk);
}

// The engine's card jobs and card search wait while the PC's window is open: only a frame
// that shares the cards' bus opens it; a poll of the controller or of the FPGAs does not.
TEST_F(LinkTest, OnlyFramesThatShareTheCardsBusOpenThePcWindow) {
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> quiet = {
        {"parameter RAM write", memWrite(0x880, {9, 0})},
        {"parameter RAM read", memRead(0x880, 2)},
        {"mailbox read", memRead(0x50000000, 4)},
        {"controller register write", regWrite(12, 0xFF, 1)},
        {"controller register read", frame(kGroupReadRegisters, cat(le16(11), le16(1)))},
        {"device information", frame(kGroupDeviceInfo, {})},
        {"output geometry", frame(kGroupOutputGeometry, {}, kAddrSendingCard)},
        {"FPGA register read", frame(kGroupReadRegisters, cat(le16(22), le16(1)), kAddrSendingCard, 2)},
        {"FPGA RAM read", memRead(0x30210000, 4)},
        {"FPGA parameter save", frame(kGroupParamSave, {}, kAddrSendingCard, 1)},
    };
    for (const auto& [what, f] : quiet) {
        link.handleFrame(f.data(), f.size(), send);
        EXPECT_FALSE(pc_window::open()) << what;
    }
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> fpga = {
        {"FPGA register write", regWrite(23, 0x08, 0x08, kAddrSendingCard, 1)},
        {"FPGA RAM write", memWrite(0x30210000, {1, 2})},
        {"update start", frame(kGroupUpdateStart, {}, kAddrSendingCard)},
        {"card frame", cardFrame()},
    };
    uint32_t tick = 1000;
    for (const auto& [what, f] : fpga) {
        pc_window::clear();
        G_timeTicks = ++tick;
        link.handleFrame(f.data(), f.size(), send);
        EXPECT_TRUE(pc_window::open()) << what;
        EXPECT_EQ(pc_window::tick(), tick) << what;
    }
}

TEST_F(LinkTest, CardFrameIsPassedAndItsAnswerReturnsOnTheSameLink) {
    useFake();
    fake.answerAfter = 3;
    const auto f = cardFrame();
    link.handleFrame(f.data(), f.size(), send);
    EXPECT_EQ(fake.passed, f);
    ASSERT_EQ(sent.size(), 1u);
    std::vector<uint8_t> answer(sent[0].size());
    const int n = protocol_phy::data_transf_meaning(sent[0].data(), sent[0].size(), answer.data(), answer.size());
    ASSERT_EQ(n, int(f.size()));
    EXPECT_EQ(answer[0], 0x10);
    EXPECT_EQ(g_passby_trans_port, kTransportNone);
}

TEST_F(LinkTest, SilentCardFreesTheLinkOnceTheWaitRunsOut) {
    useFake();
    fake.answerAfter = -1;
    const auto f = cardFrame();
    std::atomic<bool> done{false};
    std::thread t([&] {
        link.handleFrame(f.data(), f.size(), send);
        done = true;
    });
    while (fake.services < 5) std::this_thread::yield();
    EXPECT_FALSE(done) << "still waiting while the tick stands";
    EXPECT_EQ(g_passby_trans_port, kTransportTcp);
    G_timeTicks += control_link::kPassWaitTicks + 1;
    t.join();
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(g_passby_trans_port, kTransportNone);
    // A late answer is not sent with the next exchange.
    protocol_pass_reply(kTransportTcp, f.data(), f.size());
    fake.answerAfter = 1;
    link.handleFrame(f.data(), f.size(), send);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][3], 0x10) << "the fresh answer, not the stale one";
}

// While an FPGA restarts the frame waits for it, 600 ticks at most; one that came alone after
// such a wait ran out waits afresh, and goes out once the FPGA is back.
TEST_F(LinkTest, CardFrameWaitsForARestartingFpgaWithinItsBound) {
    useFake();
    fake.answerAfter = 1;
    fake.restarting = true;
    const auto f = cardFrame();
    auto refusedAgain = [&](int n) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (fake.refusals < n && std::chrono::steady_clock::now() < end) std::this_thread::yield();
        return fake.refusals >= n;
    };
    std::thread first([&] { link.handleFrame(f.data(), f.size(), send); });
    EXPECT_TRUE(refusedAgain(3));
    G_timeTicks += 601;
    first.join();
    EXPECT_TRUE(fake.passed.empty());
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(g_passby_trans_port, kTransportNone);

    std::thread second([&] { link.handleFrame(f.data(), f.size(), send); });
    EXPECT_TRUE(refusedAgain(fake.refusals + 3)) << "waits afresh";
    fake.restarting = false;
    second.join();
    EXPECT_EQ(fake.passed, f);
    EXPECT_EQ(sent.size(), 1u) << "answered";
}

TEST_F(LinkTest, CardFrameWithoutAnEngineGetsNoReplyAndLeavesNoPortClaimed) {
    const auto f = cardFrame();
    link.handleFrame(f.data(), f.size(), send);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(g_passby_trans_port, kTransportNone);
    EXPECT_TRUE(pc_window::open());
}

TEST_F(LinkTest, CardFrameOf1024BytesIsNotPassed) {
    useFake();
    std::vector<uint8_t> f(1024, 0);
    f[0] = 0x01;
    f[2] = 0x10;
    f[3] = 0xF0;
    uint8_t x = 0;
    for (size_t i = 0; i + 1 < f.size(); ++i) x ^= f[i];
    f.back() = x;
    link.handleFrame(f.data(), f.size(), send);
    EXPECT_TRUE(fake.passed.empty());
}
