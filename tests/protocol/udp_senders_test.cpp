// UDP senders among themselves: each address and port is a PC of its own, over real
// loopback sockets. Time is the 10 ms tick.
#include <memory>

#include "core/md5.h"
#include "transport_fixture.h"

using namespace prototest;
using namespace ctl;

namespace {

// A PC on its own UDP port.
class UdpPc {
public:
    explicit UdpPc(int serverPort) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        to_.sin_family = AF_INET;
        to_.sin_port = htons(uint16_t(serverPort));
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval tv{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~UdpPc() { ::close(fd_); }
    void send(const std::vector<uint8_t>& datagram) {
        ASSERT_EQ(::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_),
                  ssize_t(datagram.size()));
    }
    // Next decoded frame, empty after the receive timeout.
    std::vector<uint8_t> receive() {
        while (frames_.empty()) {
            uint8_t buf[65536];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return {};
            deframer_.reset();
            deframer_.feed(buf, size_t(n), [&](const uint8_t* f, size_t len) { frames_.emplace_back(f, f + len); });
        }
        auto f = frames_.front();
        frames_.erase(frames_.begin());
        return f;
    }
    // The status of the reply to one frame (0xEE: none).
    uint8_t ask(uint8_t group, const std::vector<uint8_t>& payload) {
        send(line(frame(group, payload)));
        const auto r = receive();
        return r.size() > kPayload ? r[kPayload] : 0xEE;
    }
    bool answersDeviceInfo() {
        send(line(frame(kGroupDeviceInfo, {})));
        const auto r = receive();
        return r.size() == kMinFrame + 33 && r[kGroup] == kGroupDeviceInfo;
    }

private:
    int fd_ = -1;
    sockaddr_in to_{};
    frame_deframer deframer_{kMaxFrame};
    std::vector<std::vector<uint8_t>> frames_;
};

std::vector<uint8_t> passThroughs(size_t count) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < count; ++i) out = cat(out, line(cardPassFrame()));
    return out;
}

class UdpSendersTest : public TransportTest {
protected:
    int port() const { return udpnetManage::p_udpnetManage->port(); }
    size_t senders() const { return udpnetManage::p_udpnetManage->senderCount(); }
    size_t passes() {
        std::lock_guard<std::mutex> l(fake.m);
        return fake.passedBy.size();
    }
};

}  // namespace

TEST_F(UdpSendersTest, ADatagramOfPassThroughsLeavesAnotherSenderAnsweredAndKeepsItsOwnOrderWithinItsBound) {
    useFake();
    fake.answerAfter = -1;  // the cards stay silent until granted
    UdpPc flood(port()), other(port());
    flood.send(passThroughs(200));
    ASSERT_TRUE(eventually([&] { return fake.services >= 3; }));
    EXPECT_TRUE(other.answersDeviceInfo()) << "answered while the first pass-through waits for the cards";
    // The cards answer from now on; the flood's device info comes after all its answers.
    fake.grants = 1 << 20;
    flood.send(line(frame(kGroupDeviceInfo, {})));
    size_t cardAnswers = 0;
    for (auto r = flood.receive(); !r.empty() && r.size() != kMinFrame + 33; r = flood.receive()) {
        EXPECT_EQ(rd16(r.data() + kDst), kAddrPc);
        ++cardAnswers;
    }
    EXPECT_EQ(cardAnswers, udpnetManage::kSenderFrames) << "the frames past the bound are dropped, the others answered";
    EXPECT_EQ(passes(), udpnetManage::kSenderFrames);
}

TEST_F(UdpSendersTest, AFloodFromManyPortsLeavesANewSenderAnsweredAndTheSendersBounded) {
    useFake();
    fake.answerAfter = -1;
    std::vector<std::unique_ptr<UdpPc>> flood;
    for (size_t k = 0; k < udpnetManage::kMaxSenders + 8; ++k) {
        flood.push_back(std::make_unique<UdpPc>(port()));
        flood.back()->send(passThroughs(5));
    }
    ASSERT_TRUE(eventually([&] { return fake.services >= 3; }));
    UdpPc other(port());
    EXPECT_TRUE(other.answersDeviceInfo()) << "answered while every sender's pass-throughs wait";
    EXPECT_LE(senders(), udpnetManage::kMaxSenders);
    // The cards answering again, the senders quiet for 30 s are forgotten.
    fake.grants = 1 << 20;
    EXPECT_TRUE(eventually([&] {
        G_timeTicks += udpnetManage::kSenderIdleTicks;
        return other.answersDeviceInfo() && senders() == 1;
    })) << "only the one just heard from is kept";
}

TEST_F(UdpSendersTest, TwoSendersFileTransfersAreKeptApart) {
    const auto le32 = [](uint32_t v) { return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; };
    const auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    MD5 digest("good", 4);
    UdpPc a(port()), b(port());
    ASSERT_EQ(a.ask(kGroupWriteDefinedFileStart, cat(text("KVFRscan"), le32(4))), kStatusOk);
    ASSERT_EQ(b.ask(kGroupWriteDefinedFileStart, cat(text("KVFRmaps"), le32(8))), kStatusOk);
    EXPECT_EQ(a.ask(kGroupWriteFileBlock, cat(le32(0), text("good"))), kStatusOk);
    EXPECT_EQ(a.ask(kGroupWriteFileEnd, std::vector<uint8_t>(digest.digest(), digest.digest() + 16)), kStatusOk);
    EXPECT_EQ(testkit::readFile("/data/smartmapping/scan"), "good") << "the other sender's transfer left this one whole";
}
