// Pass-through end to end: the Python client over TCP, UDP and the serial lines, the
// transports, the engine and the simulated card chains.
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <thread>

#include "card_fixture.h"
#include "fpga/fpga_protocol.h"
#include "platform/net.h"
#include "protocol/networkmanage.h"
#include "protocol/uart_inout.h"
#include "protocol/uart_inout_4G.h"
#include "protocol/udpnetmanage.h"

using namespace fpgatest;

namespace {

std::string clientScript() { return VLX_SOURCE_DIR "/tests/protocol/vlx_client.py"; }

// The card's answer as hex, "" when none came within the client's time-out (generous: an
// answer that comes is never missed on a loaded machine).
std::string cardRequest(const std::string& link, const Bytes& frameWithoutChecksum, double timeout = 30.0) {
    std::string hex;
    char b[4];
    for (uint8_t x : frameWithoutChecksum) {
        std::snprintf(b, sizeof b, "%02x", x);
        hex += b;
    }
    const std::string cmd = "python3 " + clientScript() + " " + link + " --timeout " + std::to_string(timeout) +
                            " card " + hex + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return "";
    std::string out;
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out));
    if (!doc.isObject()) {
        ADD_FAILURE() << cmd << " said: " << out;
        return "";
    }
    const QJsonValue r = doc.object().value("reply");
    return r.isString() ? r.toString().toStdString() : "";
}

Bytes fromHex(const std::string& h) {
    Bytes b;
    for (size_t k = 0; k + 1 < h.size(); k += 2) b.push_back(uint8_t(std::stoi(h.substr(k, 2), nullptr, 16)));
    return b;
}

// Read 4 bytes at 0x100 of card `card`, [7] = port7 (no checksum: the client adds it).
Bytes readCard(uint16_t card, uint8_t port7) {
    return {uint8_t(card), uint8_t(card >> 8), 0x10, 0xF0, 0x10, 'g', 1, port7, 0, 0x61, 0, 1, 0, 0, 4, 0, 0, 0};
}

class CardTransportTest : public CardEngineTest {
protected:
    void SetUp() override {
        CardEngineTest::SetUp();
        engines = std::make_unique<FpgaProtocolEngines>(e);
        installProtocolEngines(engines.get());
        ASSERT_TRUE(board().startSerialBridges());
        for (int attempt = 0; attempt < 20; ++attempt) {
            plat::net::setPortOffset(24000 + int((unsigned(getpid()) * 7 + unsigned(attempt) * 211) % 1500) * 20);
            udpnetManage::pInstance();
            networkManage::pInstance();
            if (udpnetManage::p_udpnetManage->port() > 0 && networkManage::p_networkManage->port() > 0) break;
            stopNet();
        }
        ASSERT_GT(networkManage::p_networkManage->port(), 0);
        Kv_uart_inout::pInstance();
        Kv_uart_inout_4G::pInstance();
        tcp = "--tcp 127.0.0.1:" + std::to_string(networkManage::p_networkManage->port());
        udp = "--udp 127.0.0.1:" + std::to_string(udpnetManage::p_udpnetManage->port());
        serial = "--serial " + plat::path("/run/ttyS2.peer");
        serial4g = "--serial " + plat::path("/run/ttyS1.peer");
        // the GUI's 10 ms tick
        ticker = std::thread([this] {
            while (!stop) {
                G_timeTicks.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    void TearDown() override {
        stop = true;
        ticker.join();
        stopNet();
        Kv_uart_inout::resetInstanceForTest();
        Kv_uart_inout_4G::resetInstanceForTest();
        installProtocolEngines(nullptr);
        CardEngineTest::TearDown();
    }
    static void stopNet() {
        networkManage::resetInstanceForTest();
        udpnetManage::resetInstanceForTest();
    }
    std::unique_ptr<FpgaProtocolEngines> engines;
    std::string tcp, udp, serial, serial4g;
    std::atomic<bool> stop{false};
    std::thread ticker;
};

}  // namespace

TEST_F(CardTransportTest, AReadOfCard3OnGlobalPort20ReturnsOverTcpUdpAndSerial) {
    board().underLock([&] {
        fpga(1).attachCards(3, 5);
        fpga(1).chain(3)->cards[3].memory[0x100] = 0x3C;
    });
    for (const std::string& link : {tcp, udp, serial, serial4g}) {
        SCOPED_TRACE(link);
        const Bytes a = fromHex(cardRequest(link, readCard(3, 20)));
        ASSERT_GE(a.size(), 16u);
        EXPECT_EQ(a[7], 20);
        EXPECT_EQ(u16(a, 2), 3);
        EXPECT_EQ(a[11], 0x3C);
        EXPECT_TRUE(checksumOk(a));
    }
    EXPECT_EQ(guestErrors(), 0u);
}

TEST_F(CardTransportTest, A0FFEFrameOverThreePortsGivesOneAnswer) {
    board().underLock([&] {
        fpga(0).attachCards(0, 2);
        fpga(0).attachCards(9, 2);
        fpga(1).attachCards(4, 2);
        for (auto* c : {fpga(0).chain(0), fpga(0).chain(9), fpga(1).chain(4)}) c->broadcastAllAnswer = true;
    });
    {
        std::lock_guard<std::mutex> image(fpga_manage::image_mutex);
        e->MCU_RAM_PARA_func[0][100] = 2;
        e->MCU_RAM_PARA_func[0][644] = 2;
        e->MCU_RAM_PARA_func[1][560] = 2;
    }
    const Bytes a = fromHex(cardRequest(tcp, readCard(0x0FFE, 0xFF)));
    ASSERT_GE(a.size(), 16u);
    EXPECT_EQ(u16(a, 2), 0x0FFE);
    EXPECT_EQ(a[7], 0xFF);
    EXPECT_TRUE(checksumOk(a));
    std::vector<CardFrameRecord> answers;
    board().underLock([&] {
        for (int f = 0; f < 2; ++f)
            for (const auto& r : fpga(f).cardLog())
                if (r.answer) answers.push_back(r);
    });
    EXPECT_EQ(answers.size(), 6u) << "two cards answered on each of the three ports";
}

TEST_F(CardTransportTest, ASilentCardLeavesItsClientUnansweredWhileTheLinkServesAnother) {
    board().underLock([&] {
        fpga(0).attachCards(0, 1);
        fpga(0).chain(0)->cards[0].policy = plat::sim::CardAnswerPolicy::Silent;
        fpga(0).attachCards(2, 1);
    });
    // the silent card's frame goes out first; the other client's waits behind its turn
    auto silent = std::async(std::launch::async, [&] { return cardRequest(tcp, readCard(0, 1), 10); });
    EXPECT_TRUE(testkit::waitUntil([&] {
        bool out = false;
        board().underLock([&] { out = !sent(0, 0).empty(); });
        return out;
    }));
    const Bytes a = fromHex(cardRequest(tcp, readCard(0, 3)));
    EXPECT_EQ(silent.get(), "");
    ASSERT_GE(a.size(), 11u) << "the silent card held the link for its wait only";
    EXPECT_EQ(a[7], 3);
}

TEST_F(CardTransportTest, TwoTransportsPassFramesWhileTheEngineSearchesAndReadsTheSensor) {
    board().underLock([&] {
        for (int p = 0; p < 16; ++p) fpga(0).attachCards(p, 2);
        for (int p = 0; p < 16; ++p) fpga(1).attachCards(p, 2);
        fpga(0).chain(6)->cards[0].multiFunction = true;
        fpga(0).chain(5)->cards[1].memory[0x100] = 0x55;
        fpga(1).chain(10)->cards[1].memory[0x100] = 0xAA;
        // the FPGAs' logs drop frames while the engine searches every round: the two
        // read cards keep their own, with room for any number of searches
        for (auto* card : {&fpga(0).chain(5)->cards[1], &fpga(1).chain(10)->cards[1]})
            card->received = plat::sim::ByteLog<Bytes>{64u << 20};
    });
    e->sensor_wait_ms = 50;
    std::atomic<bool> done{false};
    std::atomic<int> sensorReads{0};
    std::thread engine([&] {
        while (!done) {
            e->reg_IRQ_Dealwith(0);
            e->reg_IRQ_Dealwith(1);
            g_change.search_time = G_timeTicks - 100;  // a search every round
            e->Search_Card_Cmd();
            e->Brightness_check_VMF();
            sensorReads += e->Brightness_read_VMF_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    constexpr int kRequests = 8;
    auto client = [&](const std::string& link, uint8_t port7, uint8_t value) {
        int good = 0;
        for (int k = 0; k < kRequests; ++k) {
            const Bytes a = fromHex(cardRequest(link, readCard(1, port7)));
            if (a.size() >= 12 && a[7] == port7 && a[11] == value && checksumOk(a)) ++good;
        }
        return good;
    };
    auto viaTcp = std::async(std::launch::async, client, tcp, uint8_t(6), uint8_t(0x55));
    auto viaUdp = std::async(std::launch::async, client, udp, uint8_t(27), uint8_t(0xAA));
    EXPECT_EQ(viaTcp.get(), kRequests);
    EXPECT_EQ(viaUdp.get(), kRequests);
    done = true;
    engine.join();
    EXPECT_GT(sensorReads.load(), 0);
    EXPECT_EQ(guestErrors(), 0u) << "no torn frame, no wrong port bits";
    EXPECT_EQ(fpga(0).cardFramesDropped() + fpga(1).cardFramesDropped(), 0u);
    auto reads = [&](int f, int port) {
        const plat::sim::SimCard& card = fpga(f).chain(port)->cards[1];
        EXPECT_EQ(card.received.dropped(), 0u);
        int n = 0;
        for (const Bytes& b : card.received) n += b[9] == 0x61 && u16(b, 0) == uint16_t(1 | (port & 3) << 12);
        return n;
    };
    EXPECT_EQ(reads(0, 5), kRequests) << "each frame reached its card once";
    EXPECT_EQ(reads(1, 10), kRequests);
}
