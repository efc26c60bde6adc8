// UDP senders among themselves: each address and port is a PC of its own, a source address
// one machine, over real loopback sockets (127.0.0.n are machines of their own). Time is
// the 10 ms tick.
#include <poll.h>

#include <algorithm>
#include <memory>

#include "core/md5.h"
#include "transport_fixture.h"

using namespace prototest;
using namespace ctl;

namespace {

// A PC on its own UDP port of 127.0.0.host.
class UdpPc {
public:
    explicit UdpPc(int serverPort, uint8_t host = 1) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in me{};
        me.sin_family = AF_INET;
        me.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + host);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<const sockaddr*>(&me), sizeof me), 0);
        to_.sin_family = AF_INET;
        to_.sin_port = htons(uint16_t(serverPort));
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval tv{60, 0};  // a limit for an answer that never comes, generous for a loaded machine
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
    // The group of the next reply; -1 when none came.
    int receiveGroup() {
        const auto r = receive();
        return r.size() > kGroup ? r[kGroup] : -1;
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

// A frame of 60 KB for the controller, answered at once (an unknown group: status 5).
// A frame of 31,775 bytes for the controller, answered at once (an unknown group: status 5):
// 8 leave a command room in a sender's bound, 66 leave 2 bytes of the common bound.
constexpr size_t kBig = 31775;
std::vector<uint8_t> bigLine() { return line(frame(0xEE, std::vector<uint8_t>(kBig - kMinFrame, 0x11))); }
const std::vector<uint8_t> kEraseAll = {0, 0, 0, 0, 0x00, 0x02, 2};
// Register 11, one byte, of the controller or of the first FPGA.
std::vector<uint8_t> readRegFrameOf(uint16_t dst) { return frame(kGroupReadRegisters, cat(le16(11), le16(1)), dst, 1); }

class UdpSendersTest : public TransportTest {
protected:
    void TearDown() override {
        fake.eraseHeld = false;  // a failed test's held erases and pass-throughs end, so the server can stop
        fake.readHeld = false;
        fake.grants = 1 << 20;
        TransportTest::TearDown();
    }
    int port() const { return udpnetManage::p_udpnetManage->port(); }
    size_t senders() const { return udpnetManage::p_udpnetManage->senderCount(); }
    size_t passes() {
        std::lock_guard<std::mutex> l(fake.m);
        return fake.passedBy.size();
    }
    // Every place taken: `count` senders of 127.0.0.2 to .9 (four each, of .9 what is left)
    // with an erase running, and `waiting`, whose FPGA register read holds the thread while
    // `newcomer`'s device information comes in: its own device information then waits,
    // nothing of it started.
    void fillPlacesThenAsk(UdpPc& waiting, UdpPc& newcomer, std::vector<std::unique_ptr<UdpPc>>* busy,
                           size_t count = udpnetManage::kMaxSenders - 1) {
        fake.eraseHeld = true;
        for (size_t k = 0; k < count; ++k) {
            busy->push_back(std::make_unique<UdpPc>(port(), uint8_t(2 + k / 4)));
            busy->back()->send(line(frame(kGroupFlashErase, kEraseAll)));
        }
        ASSERT_TRUE(eventually([&] { return fake.erasesRunning == int(busy->size()); }));
        ASSERT_TRUE(eventually([&] { return senders() == udpnetManage::kMaxSenders - 1; }));
        fake.readHeld = true;
        waiting.send(cat(line(readRegFrameOf(kAddrSendingCard)), line(frame(kGroupDeviceInfo, {}))));
        ASSERT_TRUE(eventually([&] { return fake.readsRunning == 1; }));
        newcomer.send(line(frame(kGroupDeviceInfo, {})));
        fake.readHeld = false;
    }
    // Each sender with a job running got its answer, whether it kept its place or not.
    static void erasesAnswered(std::vector<std::unique_ptr<UdpPc>>& busy) {
        for (auto& pc : busy) {
            const auto r = pc->receive();
            ASSERT_GT(r.size(), kPayload) << "every sender with a job running got its answer";
            EXPECT_EQ(r[kGroup], kGroupFlashErase);
        }
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

// Every place taken, the sender with a frame waiting the only one of its address (127.0.0.20),
// which is within its share. The new address, under its share, takes the place of a running
// erase of an address over it: the erase's answer still comes. A fourth port of 127.0.0.9 (at
// its share) takes no quiet place of those under theirs, and is refused until one is quiet.
TEST_F(UdpSendersTest, ANewAddressTakesThePlaceOfARunningCommandAndNoneIsTakenFromAnAddressUnderItsShare) {
    useFake();
    UdpPc waiting(port(), 20), other(port(), 21), fourth(port(), 9);
    std::vector<std::unique_ptr<UdpPc>> busy;
    ASSERT_NO_FATAL_FAILURE(fillPlacesThenAsk(waiting, other, &busy));
    EXPECT_EQ(waiting.receiveGroup(), kGroupReadRegisters);
    EXPECT_EQ(waiting.receive().size(), kMinFrame + 33) << "the sender with a frame waiting kept its place";
    EXPECT_EQ(other.receive().size(), kMinFrame + 33) << "a new address is answered beside 31 running erases";
    fourth.send(line(frame(kGroupDeviceInfo, {})));
    ASSERT_TRUE(eventually([&] { return udpnetManage::p_udpnetManage->refusedDatagrams() == 1; }));
    EXPECT_TRUE(other.answersDeviceInfo());
    EXPECT_TRUE(waiting.answersDeviceInfo());
    fake.eraseHeld = false;
    erasesAnswered(busy);
    EXPECT_TRUE(fourth.answersDeviceInfo()) << "a quiet sender's place over its address's share is given to it";
    EXPECT_TRUE(eventually([&] {
        G_timeTicks += udpnetManage::kSenderIdleTicks;
        return other.answersDeviceInfo() && senders() == 1;
    })) << "the senders quiet for 30 s are forgotten, the one just heard from is kept";
}

// 127.0.0.9, over its share, has a quiet sender and one with a request waiting: the quiet
// one's place goes to the new address, and the request is answered.
TEST_F(UdpSendersTest, AnAddressOverItsShareGivesUpItsQuietSenderBeforeOneWithARequestWaiting) {
    useFake();
    UdpPc quiet(port(), 9), waiting(port(), 9), newcomer(port(), 21);
    ASSERT_TRUE(quiet.answersDeviceInfo());
    std::vector<std::unique_ptr<UdpPc>> busy;
    ASSERT_NO_FATAL_FAILURE(fillPlacesThenAsk(waiting, newcomer, &busy, udpnetManage::kMaxSenders - 2));
    EXPECT_EQ(waiting.receiveGroup(), kGroupReadRegisters);
    EXPECT_EQ(waiting.receive().size(), kMinFrame + 33) << "its request waiting kept its place";
    EXPECT_EQ(newcomer.receive().size(), kMinFrame + 33);
    fake.eraseHeld = false;
    erasesAnswered(busy);
}

// The same with the sender with a frame waiting the fourth of 127.0.0.9: every address holds
// more than its share (32 places over 9 addresses, the new one counted), and of its senders
// only that one has no job. It gives its place up to the new address, its frame dropped.
TEST_F(UdpSendersTest, AnAddressOverItsShareGivesUpItsSenderWithNothingStartedToANewAddress) {
    useFake();
    UdpPc waiting(port(), 9), newcomer(port(), 21);
    std::vector<std::unique_ptr<UdpPc>> busy;
    ASSERT_NO_FATAL_FAILURE(fillPlacesThenAsk(waiting, newcomer, &busy));
    EXPECT_EQ(waiting.receiveGroup(), kGroupReadRegisters);
    EXPECT_EQ(newcomer.receive().size(), kMinFrame + 33) << "the new address got a place";
    EXPECT_EQ(udpnetManage::p_udpnetManage->refusedDatagrams(), 0u);
    fake.eraseHeld = false;
    erasesAnswered(busy);
    waiting.send(line(readRegFrameOf(kAddrController)));
    EXPECT_EQ(waiting.receiveGroup(), kGroupReadRegisters) << "its device information went with its place";
}

// 33 ports of one address each send a datagram of 64 pass-throughs to silent cards: that
// address takes every free place, and a PC of another address, present or new, is answered.
TEST_F(UdpSendersTest, OneAddressSendingFromManyPortsShutsNoOtherAddressOut) {
    useFake();
    fake.answerAfter = -1;
    UdpPc established(port(), 3);
    ASSERT_TRUE(established.answersDeviceInfo());
    std::vector<std::unique_ptr<UdpPc>> flood;
    for (size_t k = 0; k <= udpnetManage::kMaxSenders; ++k) {
        flood.push_back(std::make_unique<UdpPc>(port(), 2));
        flood.back()->send(passThroughs(udpnetManage::kSenderFrames));
    }
    ASSERT_TRUE(eventually([&] {
        return udpnetManage::p_udpnetManage->refusedDatagrams() == flood.size() - (udpnetManage::kMaxSenders - 1);
    }));
    UdpPc newcomer(port(), 4);
    EXPECT_TRUE(newcomer.answersDeviceInfo());
    EXPECT_TRUE(established.answersDeviceInfo());
    EXPECT_EQ(senders(), udpnetManage::kMaxSenders);
}

// One PC's six ports on an idle controller, each with an erase running: each has its place.
TEST_F(UdpSendersTest, AFreePlaceGoesToAnySenderOfAnyMachine) {
    useFake();
    fake.eraseHeld = true;
    std::vector<std::unique_ptr<UdpPc>> ports;
    for (int k = 0; k < 6; ++k) {
        ports.push_back(std::make_unique<UdpPc>(port()));
        ports.back()->send(line(frame(kGroupFlashErase, kEraseAll)));
    }
    EXPECT_TRUE(eventually([&] { return fake.erasesRunning == 6; }));
    EXPECT_EQ(udpnetManage::p_udpnetManage->refusedDatagrams(), 0u);
    fake.eraseHeld = false;
    erasesAnswered(ports);
}

// Every place taken by 31 machines of one sender each, an erase running on each, and a tool
// of a 32nd that sends each request from a new port: at its share of one place, each new
// port takes its own address's last one's, and every request is answered.
TEST_F(UdpSendersTest, AToolThatSendsFromANewPortEachTimeTakesItsOwnAddresssLastPlace) {
    useFake();
    fake.eraseHeld = true;
    std::vector<std::unique_ptr<UdpPc>> busy;
    for (size_t k = 0; k + 1 < udpnetManage::kMaxSenders; ++k) {
        busy.push_back(std::make_unique<UdpPc>(port(), uint8_t(2 + k)));
        busy.back()->send(line(frame(kGroupFlashErase, kEraseAll)));
    }
    ASSERT_TRUE(eventually([&] { return fake.erasesRunning == int(busy.size()); }));
    std::vector<std::unique_ptr<UdpPc>> tool;  // its ports stay bound: each request's is new
    for (int k = 0; k < 5; ++k) {
        tool.push_back(std::make_unique<UdpPc>(port(), 40));
        EXPECT_TRUE(tool.back()->answersDeviceInfo()) << "request " << k;
    }
    EXPECT_EQ(udpnetManage::p_udpnetManage->refusedDatagrams(), 0u);
    EXPECT_EQ(fake.erasesRunning, int(busy.size())) << "no other machine gave its place";
    fake.eraseHeld = false;
    erasesAnswered(busy);
}

// Frames that waited unstarted far longer than any PC waits for their answer are dropped,
// two senders' in one line of the log; the commands running when they came run to their end
// and are answered, though a datagram came while they ran.
TEST_F(UdpSendersTest, WorkWaitingPastAnyPcsPatienceIsDroppedAndTheCommandRunningEnds) {
    useFake();
    fake.eraseHeld = true;
    UdpPc pc(port()), other(port());
    for (UdpPc* p : {&pc, &other}) p->send(cat(line(frame(kGroupFlashErase, kEraseAll)), line(readRegFrameOf(kAddrController))));
    ASSERT_TRUE(eventually([&] { return fake.erasesRunning == 2; }));
    G_timeTicks += udpnetManage::kStaleTicks + 1;
    pc.send(line(frame(kGroupDeviceInfo, {})));
    ASSERT_TRUE(eventually([&] { return udpnetManage::p_udpnetManage->staleFrames() == 2; }));
    const std::string log = testkit::readFile("/data/kavelkv/log/zufEnglneLog");
    size_t lines = 0;
    for (size_t at = 0; (at = log.find("waiting unstarted", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 1u) << "a line a second at most";
    fake.eraseHeld = false;
    for (UdpPc* p : {&pc, &other}) {
        const auto r = p->receive();
        ASSERT_GT(r.size(), kPayload);
        EXPECT_EQ(r[kGroup], kGroupFlashErase);
        EXPECT_EQ(r[kPayload], kStatusOk);
    }
    EXPECT_EQ(pc.receive().size(), kMinFrame + 33) << "the next answer is the new request's, not the stale one's";
    EXPECT_EQ(udpnetManage::p_udpnetManage->staleFrames(), 2u);
}

TEST_F(UdpSendersTest, GarbageFromManyPortsTakesNoPlaceFromAPcWaitingForItsAnswer) {
    useFake();
    fake.eraseHeld = true;
    UdpPc pc(port()), probe(port());
    pc.send(line(frame(kGroupFlashErase, kEraseAll)));
    ASSERT_TRUE(eventually([&] { return fake.erasesRunning == 1; }));
    auto bad = frame(kGroupDeviceInfo, {});
    bad.back() ^= 0xFF;
    std::vector<uint8_t> garbage;
    for (int i = 0; i < 20; ++i) garbage = cat(garbage, line(bad));
    std::vector<std::unique_ptr<UdpPc>> flood;
    for (size_t k = 0; k < 2 * udpnetManage::kMaxSenders; ++k) {
        flood.push_back(std::make_unique<UdpPc>(port()));
        flood.back()->send(garbage);
    }
    // read after every garbage datagram
    ASSERT_TRUE(probe.answersDeviceInfo());
    // The count is taken after the turn that answered the probe: wait for it, not for a time.
    EXPECT_TRUE(eventually([&] { return senders() == 2u; })) << "garbage earns no place: " << senders();
    fake.eraseHeld = false;
    const auto r = pc.receive();
    ASSERT_GT(r.size(), kPayload) << "the PC kept its place and got its answer";
    EXPECT_EQ(r[kGroup], kGroupFlashErase);
    EXPECT_EQ(r[kPayload], kStatusOk);
    // The first datagram's frames were logged at once; the others' count once a second has
    // passed, though nothing more comes.
    const std::string rest = std::to_string((flood.size() - 1) * 20) + " dropped since the last such line";
    EXPECT_TRUE(eventually([&] {
        G_timeTicks += 10;
        return testkit::readFile("/data/kavelkv/log/zufEnglneLog").find(rest) != std::string::npos;
    })) << rest;
}

// Behind a job each sender sends big frames, one past its bound: all senders together hold
// what fits in their common bound. Then each sends a command, which no longer fits in it:
// it is held past it.
TEST_F(UdpSendersTest, SendersHoldNoMoreBytesThanTheirBoundAndAllTogetherNoMoreThanTheirs) {
    constexpr size_t kEach = udpnetManage::kSenderBytes / kBig;
    constexpr size_t kCount = udpnetManage::kSendersBytes / (kEach * kBig) + 2;
    useFake();
    fake.eraseHeld = true;
    std::vector<std::unique_ptr<UdpPc>> pcs;
    for (size_t k = 0; k < kCount; ++k) {
        pcs.push_back(std::make_unique<UdpPc>(port(), uint8_t(2 + k / 4)));
        pcs.back()->send(line(frame(kGroupFlashErase, kEraseAll)));
    }
    ASSERT_TRUE(eventually([&] { return fake.erasesRunning == int(kCount); }));
    UdpPc probe(port());
    const auto big = bigLine();
    for (auto& pc : pcs)
        for (size_t i = 0; i <= kEach; ++i) {
            pc->send(big);
            ASSERT_TRUE(probe.answersDeviceInfo());  // one datagram at a time in the socket
        }
    for (auto& pc : pcs) pc->send(line(frame(kGroupDeviceInfo, {})));
    fake.eraseHeld = false;
    size_t all = 0;
    for (auto& pc : pcs) {
        ASSERT_EQ(pc->receiveGroup(), kGroupFlashErase);
        size_t held = 0;
        for (auto r = pc->receive(); r.size() != kMinFrame + 33; r = pc->receive()) {
            ASSERT_EQ(r.size(), kMinFrame + 1) << "a command is held past the common bound";
            ++held;
        }
        EXPECT_EQ(held, std::min<size_t>(kEach, udpnetManage::kSendersBytes / kBig - all));
        all += held;
    }
    EXPECT_EQ(all, udpnetManage::kSendersBytes / kBig);
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

// Every place taken by senders of one address, one of them with a file transfer open and
// quiet longest: it keeps its place while another sender of its address comes, even between
// its blocks; quiet for 30 s, it is forgotten with its transfer.
TEST_F(UdpSendersTest, ASenderWithAFileTransferOpenKeepsItsPlaceUntilItsIdleLimit) {
    const auto le32 = [](uint32_t v) { return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; };
    const auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    MD5 digest("goodgood", 8);
    UdpPc uploader(port(), 5);
    ASSERT_EQ(uploader.ask(kGroupWriteDefinedFileStart, cat(text("KVFRscan"), le32(8))), kStatusOk);
    std::vector<std::unique_ptr<UdpPc>> others;
    for (size_t k = 0; k < udpnetManage::kMaxSenders; ++k) {
        others.push_back(std::make_unique<UdpPc>(port(), 5));
        EXPECT_TRUE(others.back()->answersDeviceInfo());
    }
    EXPECT_EQ(uploader.ask(kGroupWriteFileBlock, cat(le32(0), text("good"))), kStatusOk);
    EXPECT_EQ(uploader.ask(kGroupWriteFileBlock, cat(le32(4), text("good"))), kStatusOk);
    EXPECT_EQ(uploader.ask(kGroupWriteFileEnd, std::vector<uint8_t>(digest.digest(), digest.digest() + 16)), kStatusOk);
    EXPECT_EQ(testkit::readFile("/data/smartmapping/scan"), "goodgood");
    EXPECT_NE(testkit::readFile("/data/kavelkv/log/zufEnglneLog").find("places given up"), std::string::npos)
        << "the place given up is logged";

    ASSERT_EQ(uploader.ask(kGroupWriteDefinedFileStart, cat(text("KVFRscan"), le32(4))), kStatusOk);
    G_timeTicks += udpnetManage::kSenderIdleTicks;
    EXPECT_TRUE(others[0]->answersDeviceInfo());
    EXPECT_EQ(uploader.ask(kGroupWriteFileBlock, cat(le32(0), text("late"))), kStatusRefused) << "no transfer open";
    EXPECT_NE(testkit::readFile("/data/kavelkv/log/zufEnglneLog").find("its file transfer dropped"), std::string::npos);
}

// A serial line holds what its PC sends ahead within the bound of a UDP sender, not all
// that the terminal buffered while a long command ran.
TEST_F(UdpSendersTest, ASerialLineHoldsNoMoreAheadThanASender) {
    const int serial = openSerialPeer(plat::path("/run/ttyS2.peer"));
    ASSERT_GE(serial, 0);
    useFake();
    fake.eraseHeld = true;
    const auto erase = line(frame(kGroupFlashErase, kEraseAll));
    ASSERT_EQ(::write(serial, erase.data(), erase.size()), ssize_t(erase.size()));
    ASSERT_TRUE(eventually([&] { return fake.erasesRunning == 1; }));
    std::vector<uint8_t> ahead;
    for (size_t i = 0; i < 3 * control_link::kHeldFrames; ++i) ahead = cat(ahead, line(frame(kGroupDeviceInfo, {})));
    ASSERT_EQ(::write(serial, ahead.data(), ahead.size()), ssize_t(ahead.size()));
    // the erase ends once the whole burst waits at the controller's end of the line
    ASSERT_TRUE(eventually([&] { return plat::sim::board().serialInputWaiting(Kv_uart_inout::kPort) == int(ahead.size()); }));
    fake.eraseHeld = false;
    ASSERT_TRUE(eventually([&] { return Kv_uart_inout::p_uart_inout->framesPastBound() == 2 * control_link::kHeldFrames; }));
    const auto last = line(readRegFrameOf(kAddrController));
    ASSERT_EQ(::write(serial, last.data(), last.size()), ssize_t(last.size()));
    frame_deframer deframer(kMaxFrame);
    std::vector<uint8_t> groups;
    while (groups.empty() || groups.back() != kGroupReadRegisters) {
        pollfd p{serial, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 60000), 1) << "no reply";
        uint8_t buf[4096];
        const ssize_t n = ::read(serial, buf, sizeof buf);
        ASSERT_GT(n, 0);
        deframer.feed(buf, size_t(n), [&](const uint8_t* f, size_t len) {
            if (len > kGroup) groups.push_back(f[kGroup]);
        });
    }
    ::close(serial);
    ASSERT_EQ(groups.front(), kGroupFlashErase);
    EXPECT_EQ(size_t(std::count(groups.begin(), groups.end(), kGroupDeviceInfo)), control_link::kHeldFrames)
        << "the frames past the bound are dropped, the others answered";
}
