// The transports end to end: the controller's singletons on the simulated board, real
// loopback sockets and pseudo-terminals, and the Python client of tests/protocol.
#include "transport_fixture.h"

using namespace prototest;
using namespace ctl;

TEST_F(TransportTest, TcpServesTheControllerRequests) { servesTheControllerRequests(tcp); }
TEST_F(TransportTest, UdpServesTheControllerRequests) { servesTheControllerRequests(udp); }
TEST_F(TransportTest, SerialPort2ServesTheControllerRequests) { servesTheControllerRequests(serial2); }
TEST_F(TransportTest, The4GSerialPortServesTheControllerRequests) { servesTheControllerRequests(serial1); }

TEST_F(TransportTest, FpgaRegisterWritesOverTcpReachEachFpga) {
    // Without the FPGA engine the controller says so.
    EXPECT_EQ(runClient(tcp, "write-reg 3 0x20 0x20 --dst 0xF000 --fpga 1").status, kStatusUnavailable);
    useFake();
    EXPECT_EQ(runClient(tcp, "write-reg 3 0x20 0x20 --dst 0xF000 --fpga 1").status, kStatusOk);
    EXPECT_EQ(runClient(udp, "write-reg 6 0xFF 0x80 --dst 0xF000 --fpga 2").status, kStatusOk);
    std::lock_guard<std::mutex> l(fake.m);
    ASSERT_EQ(fake.regWrites.size(), 2u);
    EXPECT_EQ(fake.regWrites[0].fpga, 0);
    EXPECT_EQ(fake.regWrites[1].fpga, 1);
    EXPECT_EQ(fake.regs[1][6], 0x80);
}

TEST_F(TransportTest, TcpFramesSplitOverReadsOrJoinedInOneAreAllAnswered) {
    RawClient c(networkManage::p_networkManage->port());
    ASSERT_TRUE(c.connected());
    const auto a = line(readRegFrame(11, 1));
    for (uint8_t b : a) {
        c.send({b});
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    auto joined = line(memWrite(0x881, {1}));
    const auto second = line(readRegFrame(12, 2));
    joined.insert(joined.end(), second.begin(), second.end());
    c.send(joined);
    const auto r1 = c.receive(), r2 = c.receive(), r3 = c.receive();
    ASSERT_EQ(r1.size(), kMinFrame + 2);
    EXPECT_EQ(r1[kGroup], kGroupReadRegisters);
    ASSERT_FALSE(r2.empty());
    EXPECT_EQ(r2[kGroup], kGroupWriteMemory);
    ASSERT_EQ(r3.size(), kMinFrame + 3);
    EXPECT_EQ(store->ram_para[0x881], 1);
}

TEST_F(TransportTest, SeveralTcpClientsAreServedWhileOneStallsMidFrame) {
    const int port = networkManage::p_networkManage->port();
    RawClient staller(port);
    auto half = line(readRegFrame(11, 1));
    half.resize(half.size() / 2);
    staller.send(half);  // and never the rest
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int k = 0; k < 8; ++k) {
        clients.emplace_back([&, k] {
            RawClient c(port);
            if (!c.connected()) return;
            for (int i = 0; i < 25; ++i) {
                c.send(line(memRead(0x900 + unsigned(k), 1)));
                const auto r = c.receive();
                if (r.size() == kMinFrame + 2 && r[kPayload] == kStatusOk) ++answered;
            }
        });
    }
    for (auto& t : clients) t.join();
    EXPECT_EQ(answered, 8 * 25);
}

TEST_F(TransportTest, SilentReceivingCardDoesNotHoldOtherTcpClientsForever) {
    useFake();
    fake.answerAfter = -1;
    const int port = networkManage::p_networkManage->port();
    RawClient pc(port), other(port);
    std::vector<uint8_t> card = {0xFE, 0x0F, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x01, 0x00, 0x61, 0, 0, 0, 0};
    uint8_t x = 0;
    for (uint8_t b : card) x ^= b;
    card.push_back(x);
    pc.send(line(card));
    while (fake.services < 3) std::this_thread::yield();
    other.send(line(readRegFrame(11, 1)));
    G_timeTicks += control_link::kPassWaitTicks + 1;
    const auto r = other.receive();
    ASSERT_EQ(r.size(), kMinFrame + 2);
    EXPECT_EQ(g_passby_trans_port, kTransportNone);
}

TEST_F(TransportTest, ListeningSocketsTakeOnlyTheLoopbackAddressOnTheSimulatedBoard) {
    EXPECT_TRUE(plat::net::loopbackOnly());
    EXPECT_EQ(networkManage::p_networkManage->port(), g_port + plat::net::portOffset());
    EXPECT_EQ(udpnetManage::p_udpnetManage->port(), 5008 + plat::net::portOffset());
}
