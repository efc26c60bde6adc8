// TCP clients among themselves: one that reads nothing, one that pipelines slow commands,
// idle and closed connections, over real loopback sockets. Time is the 10 ms tick.
#include <sys/ioctl.h>

#include <memory>

#include "protocol/tcpserver.h"
#include "transport_fixture.h"

using namespace prototest;
using namespace ctl;

namespace {

// Waits for cond, at most 10 s of wall time (the server's poll wakes every second).
template <typename F>
bool eventually(F cond) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a pace, not a wait
    }
    return true;
}

std::vector<uint8_t> deviceInfo() { return line(frame(kGroupDeviceInfo, {})); }

bool answersDeviceInfo(RawClient& c) {
    c.send(deviceInfo());
    const auto r = c.receive();
    return r.size() == kMinFrame + 33 && r[kGroup] == kGroupDeviceInfo && r[kPayload] == kStatusOk;
}

std::vector<uint8_t> cardFrames(int count) {
    std::vector<uint8_t> card = {0xFE, 0x0F, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x01, 0x00, 0x61, 0, 0, 0, 0};
    uint8_t x = 0;
    for (uint8_t b : card) x ^= b;
    card.push_back(x);
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) out = cat(out, line(card));
    return out;
}

class TcpClientsTest : public TransportTest {
protected:
    size_t clients() const { return networkManage::p_networkManage->clientCount(); }
    int port() const { return networkManage::p_networkManage->port(); }
};

}  // namespace

TEST_F(TcpClientsTest, AClientThatReadsNothingCostsAnotherNoWaitAndIsDroppedWhenItStalls) {
    testkit::writeFile("/data/configs/alias.json", std::string(61440, 'a'));
    RawClient hog(port(), 5, 4096);
    auto burst = line(frame(kGroupReadFileStart, {4, 0}));
    for (int i = 0; i < 300; ++i) burst = cat(burst, line(frame(kGroupReadFileBlock, {0, 0, 0, 0, 0x00, 0xF0})));
    hog.send(burst);
    // The blocks are on their way and the hog's window is full.
    ASSERT_TRUE(eventually([&] {
        int n = 0;
        return ::ioctl(hog.fd(), FIONREAD, &n) == 0 && n >= 2048;
    }));
    RawClient other(port(), 2);
    EXPECT_TRUE(answersDeviceInfo(other)) << "answered while the hog's replies wait";
    ASSERT_EQ(clients(), 2u);
    // Board time runs on (5 s a second) until the server gives up on the hog.
    EXPECT_TRUE(eventually([&] {
        G_timeTicks += 1;
        return clients() == 1;
    })) << "the hog is dropped";
    EXPECT_TRUE(hog.endedByServer());
    EXPECT_TRUE(answersDeviceInfo(other));
}

TEST_F(TcpClientsTest, PipelinedSlowCommandsHoldAnotherClientForOneCommandAtMost) {
    useFake();
    fake.answerAfter = -1;  // every pass-through waits its full time
    RawClient pc(port()), other(port(), 2);
    pc.send(cardFrames(40));
    ASSERT_TRUE(eventually([&] { return fake.services >= 3; }));
    other.send(line(readRegFrame(11, 1)));
    G_timeTicks += control_link::kPassWaitTicks + 1;  // the first card command ends
    const auto r = other.receive();
    ASSERT_EQ(r.size(), kMinFrame + 2) << "answered before the second card command ends";
    EXPECT_EQ(r[kGroup], kGroupReadRegisters);
    fake.answerAfter = 1;
    G_timeTicks += control_link::kPassWaitTicks + 1;
}

TEST_F(TcpClientsTest, WithEveryPlaceTakenTheConnectionIdleThirtySecondsGivesWay) {
    std::vector<std::unique_ptr<RawClient>> idle;
    for (size_t k = 0; k < TcpServer::kMaxClients; ++k) {
        idle.push_back(std::make_unique<RawClient>(port()));
        ASSERT_TRUE(answersDeviceInfo(*idle.back()));
        G_timeTicks += 10;  // the first is idle longest
    }
    RawClient early(port());
    EXPECT_TRUE(early.endedByServer()) << "no connection idle long enough: the 17th is closed";
    EXPECT_EQ(clients(), TcpServer::kMaxClients);
    G_timeTicks += TcpServer::kIdleTicks - 10 * (TcpServer::kMaxClients - 1);
    RawClient late(port());
    EXPECT_TRUE(answersDeviceInfo(late));
    EXPECT_TRUE(idle.front()->endedByServer());
    EXPECT_TRUE(answersDeviceInfo(*idle[1]));
}

TEST_F(TcpClientsTest, ConnectionsClosedByTheirPeersFreeTheirPlacesAtOnce) {
    useFake();
    fake.answerAfter = -1;
    std::vector<std::unique_ptr<RawClient>> open;
    for (size_t k = 0; k + 2 < TcpServer::kMaxClients; ++k) {
        open.push_back(std::make_unique<RawClient>(port()));
        ASSERT_TRUE(answersDeviceInfo(*open.back()));
    }
    RawClient pc(port());
    pc.send(cardFrames(1));
    ASSERT_TRUE(eventually([&] { return fake.services >= 3; }));
    // While the server waits for a card: two short connections, then one that stays.
    { RawClient a(port()), b(port()); }
    RawClient stays(port());
    stays.send(deviceInfo());
    G_timeTicks += control_link::kPassWaitTicks + 1;
    const auto r = stays.receive();
    ASSERT_EQ(r.size(), kMinFrame + 33) << "admitted in the place of a closed connection";
    EXPECT_EQ(clients(), TcpServer::kMaxClients);
}
