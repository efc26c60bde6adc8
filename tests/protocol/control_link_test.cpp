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
    const auto line = lineOf(f);
    link.onBytes(line.data(), line.size(), send);
    EXPECT_TRUE(sent.empty());
    EXPECT_NE(store->ram_para[0x880], 9);
    EXPECT_EQ(pc_cmd_valid, 0) << "a bad frame does not count as PC activity";
    EXPECT_EQ(link.droppedFrames(), 1u);
}

TEST_F(LinkTest, GoodFrameMarksThePcActiveAndIsAnswered) {
    G_timeTicks = 1234;
    const auto line = lineOf(memWrite(0x880, {9, 0}));
    link.onBytes(line.data(), line.size(), send);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(store->ram_para[0x880], 9);
    EXPECT_EQ(pc_cmd_valid, 1);
    EXPECT_EQ(pc_cmd_time, 1234u);
    std::vector<uint8_t> reply(sent[0].size());
    const int n = protocol_phy::data_transf_meaning(sent[0].data(), sent[0].size(), reply.data(), reply.size());
    ASSERT_EQ(n, int(kMinFrame + 1));
    EXPECT_EQ(reply[kPayload], kStatusOk);
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

TEST_F(LinkTest, CardFrameWithoutAnEngineGetsNoReplyAndLeavesNoPortClaimed) {
    const auto f = cardFrame();
    link.handleFrame(f.data(), f.size(), send);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(g_passby_trans_port, kTransportNone);
    EXPECT_EQ(pc_cmd_valid, 1);
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
