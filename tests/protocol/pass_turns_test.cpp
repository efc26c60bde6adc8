// Receiving-card pass-throughs from several links share the cards' bus in turns by machine:
// a TCP client, a serial line, the UDP senders of one address.
#include <algorithm>
#include <memory>

#include "transport_fixture.h"

using namespace prototest;
using namespace ctl;

namespace {

class PassTurnsTest : public TransportTest {
protected:
    std::vector<uint8_t> passedBy() {
        std::lock_guard<std::mutex> l(fake.m);
        return fake.passedBy;
    }
    // Lets the cards answer one pass-through at a time, each once every one that can wait
    // does: `steady`'s link sent `steadyCount` (its next waits once the one before is
    // answered), a group of another machine `groupCount` at once.
    void answerInTurns(uint8_t steady, size_t steadyCount, size_t groupCount) {
        for (size_t n = 1; n < steadyCount + groupCount; ++n) {
            ASSERT_TRUE(eventually([&] {
                const auto by = passedBy();
                const auto mine = size_t(std::count(by.begin(), by.end(), steady));
                const size_t steadyWaiting = mine < steadyCount && by.back() != steady ? 1 : 0;
                return control_link::passThroughsWaiting() == groupCount - (by.size() - mine) + steadyWaiting;
            })) << n;
            fake.grants = 1;
            ASSERT_TRUE(eventually([&] { return passedBy().size() > n; })) << n;
        }
    }
};

}  // namespace

TEST_F(PassTurnsTest, PassThroughsOnUdpAndSerialAreAnsweredInTheirTurnWhileATcpClientKeepsSendingThem) {
    useFake();
    fake.answerAfter = -1;  // the cards answer when the test lets them
    const auto card = line(cardPassFrame());
    RawClient pc(networkManage::p_networkManage->port());
    std::vector<uint8_t> many;
    for (int i = 0; i < 8; ++i) many = cat(many, card);
    pc.send(many);
    ASSERT_TRUE(eventually([&] { return fake.services >= 3; })) << "the first TCP pass-through waits for its card";

    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    timeval tv{5, 0};
    ::setsockopt(udp, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(udpnetManage::p_udpnetManage->port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int serial = openSerialPeer(plat::path("/run/ttyS2.peer"));
    ASSERT_GE(serial, 0);
    // Each round: a UDP and then a serial pass-through come while a TCP one waits for its card.
    for (size_t running = 0; running < 9; running += 3) {
        ASSERT_EQ(::sendto(udp, card.data(), card.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
                  ssize_t(card.size()));
        ASSERT_TRUE(eventually([] { return control_link::passThroughsWaiting() == 1; }));
        ASSERT_EQ(::write(serial, card.data(), card.size()), ssize_t(card.size()));
        ASSERT_TRUE(eventually([] { return control_link::passThroughsWaiting() == 2; }));
        // One answer at a time: the TCP link is back with its next frame at once, yet waits.
        for (size_t next = running + 1; next <= running + 3; ++next) {
            fake.grants = 1;
            ASSERT_TRUE(eventually([&] { return passedBy().size() > next; })) << next;
        }
        const auto by = passedBy();
        EXPECT_EQ(std::vector<uint8_t>(by.begin() + long(running), by.begin() + long(running) + 4),
                  (std::vector<uint8_t>{kTransportTcp, kTransportUdp, kTransportSerial, kTransportTcp}))
            << "from pass-through " << running;
    }
    uint8_t buf[256];
    EXPECT_GT(::recv(udp, buf, sizeof buf, 0), 0) << "the UDP sender has its card's answer";
    EXPECT_EQ(pc.receive().size(), cardPassFrame().size()) << "and the TCP client its first";
    ::close(serial);
    ::close(udp);
    fake.grants = 100;  // the client's other frames pass at once
}

// Three UDP senders of one address each send a pass-through while a TCP client's waits for
// its card, and the client sends on: the address and the client take turns.
TEST_F(PassTurnsTest, TheUdpSendersOfOneAddressTakeOneTurnBesideATcpClient) {
    useFake();
    fake.answerAfter = -1;
    const auto card = line(cardPassFrame());
    RawClient pc(networkManage::p_networkManage->port());
    constexpr size_t kTcp = 4, kUdp = 3;
    std::vector<uint8_t> many;
    for (size_t i = 0; i < kTcp; ++i) many = cat(many, card);
    pc.send(many);
    ASSERT_TRUE(eventually([&] { return passedBy().size() == 1; }));
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(uint16_t(udpnetManage::p_udpnetManage->port()));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<int> udp;
    for (size_t i = 0; i < kUdp; ++i) {
        udp.push_back(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in me{};
        me.sin_family = AF_INET;
        me.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);
        ASSERT_EQ(::bind(udp.back(), reinterpret_cast<sockaddr*>(&me), sizeof me), 0);
        ASSERT_EQ(::sendto(udp.back(), card.data(), card.size(), 0, reinterpret_cast<sockaddr*>(&server), sizeof server),
                  ssize_t(card.size()));
    }
    answerInTurns(kTransportTcp, kTcp, kUdp);
    EXPECT_EQ(passedBy(), (std::vector<uint8_t>{kTransportTcp, kTransportUdp, kTransportTcp, kTransportUdp, kTransportTcp,
                                                kTransportUdp, kTransportTcp}));
    fake.grants = 100;
    for (int fd : udp) ::close(fd);
}

// Three TCP connections of one address each send a pass-through while a serial line's waits
// for its card, and the line sends on: the address and the line take turns.
TEST_F(PassTurnsTest, TheTcpConnectionsOfOneAddressTakeOneTurnBesideASerialLine) {
    useFake();
    fake.answerAfter = -1;
    const auto card = line(cardPassFrame());
    constexpr size_t kSerial = 4, kTcp = 3;
    const int serial = openSerialPeer(plat::path("/run/ttyS2.peer"));
    ASSERT_GE(serial, 0);
    std::vector<uint8_t> many;
    for (size_t i = 0; i < kSerial; ++i) many = cat(many, card);
    ASSERT_EQ(::write(serial, many.data(), many.size()), ssize_t(many.size()));
    ASSERT_TRUE(eventually([&] { return passedBy().size() == 1; }));
    std::vector<std::unique_ptr<RawClient>> pcs;
    for (size_t i = 0; i < kTcp; ++i) {
        pcs.push_back(std::make_unique<RawClient>(networkManage::p_networkManage->port(), 60, 0, 2));
        pcs.back()->send(card);
    }
    answerInTurns(kTransportSerial, kSerial, kTcp);
    EXPECT_EQ(passedBy(), (std::vector<uint8_t>{kTransportSerial, kTransportTcp, kTransportSerial, kTransportTcp,
                                                kTransportSerial, kTransportTcp, kTransportSerial}));
    fake.grants = 100;
    ::close(serial);
}

// Nothing advances the tick here and the cards stay silent: each answer's wait ends on its
// wall-clock backstop, and each pass-through queued behind still goes in its turn. (How
// soon, with others queued, protocol_rtt_bench measures.)
TEST_F(PassTurnsTest, BehindAStalledTickPassThroughsGiveUpOneAfterTheOtherUnanswered) {
    useFake();
    fake.answerAfter = -1;
    const auto card = line(cardPassFrame());
    const int port = networkManage::p_networkManage->port();
    RawClient a(port), b(port), c(port);
    a.send(card);
    ASSERT_TRUE(eventually([&] { return passedBy().size() == 1; }));
    b.send(card);
    c.send(card);
    ASSERT_TRUE(eventually([&] { return passedBy().size() == 3 && g_passby_trans_port == kTransportNone; }))
        << "each gave up in its turn, none dropped for the others";
}
