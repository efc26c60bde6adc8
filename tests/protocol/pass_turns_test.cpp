// Receiving-card pass-throughs from several links share the cards' bus: each waits only
// for those that came before it.
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

// Nothing advances the tick here and the cards stay silent: the answer's wait ends on its
// wall-clock backstop, 3 s alone, shared with the pass-throughs queued behind it.
TEST_F(PassTurnsTest, BehindAStalledTickAPassThroughWithOthersQueuedGivesUpWellBeforeThreeSeconds) {
    useFake();
    fake.answerAfter = -1;
    const auto card = line(cardPassFrame());
    const int port = networkManage::p_networkManage->port();
    RawClient a(port), b(port), c(port);
    a.send(card);
    ASSERT_TRUE(eventually([&] { return passedBy().size() == 1; }));
    const auto t0 = std::chrono::steady_clock::now();
    b.send(card);
    c.send(card);
    ASSERT_TRUE(eventually([] { return control_link::passThroughsWaiting() == 2; }));
    ASSERT_TRUE(eventually([&] { return passedBy().size() == 2; }));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500))
        << "two waiting behind it: 1 s of backstop, not 3 s";
}
