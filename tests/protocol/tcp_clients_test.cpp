// TCP clients among themselves: one that reads nothing, one that pipelines slow commands,
// long commands, idle, trickling and closed connections, over real loopback sockets. Time
// is the 10 ms tick.
#include <sys/ioctl.h>

#include <memory>

#include "core/md5.h"
#include "protocol/tcpserver.h"
#include "transport_fixture.h"

using namespace prototest;
using namespace ctl;

namespace {

std::vector<uint8_t> deviceInfo() { return line(frame(kGroupDeviceInfo, {})); }

// 127.0.0.<10 + k>: a machine of its own for each k
uint8_t machine(size_t k) { return uint8_t(10 + k); }

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
    const std::vector<uint8_t> one = line(card);
    std::vector<uint8_t> out;
    out.reserve(one.size() * size_t(count));
    for (int i = 0; i < count; ++i) out.insert(out.end(), one.begin(), one.end());
    return out;
}

// A read of the 61,440-byte alias file and 300 reads of its whole block: 18 MB of replies.
// The file is written here, before any client sends the burst: written again while the
// server reads it, it is read short and the blocks are refused in a few bytes.
std::vector<uint8_t> blockReadBurst() {
    testkit::writeFile("/data/configs/alias.json", std::string(61440, 'a'));
    auto burst = line(frame(kGroupReadFileStart, {4, 0}));
    for (int i = 0; i < 300; ++i) burst = cat(burst, line(frame(kGroupReadFileBlock, {0, 0, 0, 0, 0x00, 0xF0})));
    return burst;
}

class TcpClientsTest : public TransportTest {
protected:
    void TearDown() override {
        fake.eraseHeld = false;  // a failed test's held erases end, so the server can stop
        TransportTest::TearDown();
    }
    size_t clients() const { return networkManage::p_networkManage->clientCount(); }
    int port() const { return networkManage::p_networkManage->port(); }
    size_t passes() {
        std::lock_guard<std::mutex> l(fake.m);
        return fake.passedBy.size();
    }
    // Every place taken by a client that sent a whole-flash erase, which runs as its job
    // until released, and then closed.
    void fillWithDepartedErases() {
        fake.eraseHeld = true;
        std::vector<std::unique_ptr<RawClient>> gone;
        for (size_t k = 0; k < TcpServer::kMaxClients; ++k) {
            gone.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(k)));
            gone.back()->send(line(frame(kGroupFlashErase, {0, 0, 0, 0, 0x00, 0x02, 2})));
        }
        ASSERT_TRUE(eventually([&] { return fake.erasesRunning == int(TcpServer::kMaxClients); }));
    }
    void erasesEnd() {
        fake.eraseHeld = false;
        ASSERT_TRUE(eventually([&] { return fake.erasesRunning == 0; }));
    }
    static std::vector<uint8_t> le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
    static std::vector<uint8_t> text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
    // The status of the answer to one frame, -1 when none came.
    static int ask(RawClient& c, uint8_t group, const std::vector<uint8_t>& payload) {
        c.send(line(frame(group, payload)));
        const auto r = c.receive();
        return r.size() > kPayload ? int(r[kPayload]) : -1;
    }
    // The upload of 8 bytes started on c ends whole.
    static void uploadEnds(RawClient& c) {
        EXPECT_EQ(ask(c, kGroupWriteFileBlock, cat(le32(0), text("goodgood"))), kStatusOk);
        MD5 digest("goodgood", 8);
        EXPECT_EQ(ask(c, kGroupWriteFileEnd, std::vector<uint8_t>(digest.digest(), digest.digest() + 16)), kStatusOk);
        EXPECT_EQ(testkit::readFile("/data/smartmapping/scan"), "goodgood");
    }
    static size_t logLines(const std::string& text) {
        const std::string log = testkit::readFile("/data/kavelkv/log/zufEnglneLog");
        size_t n = 0;
        for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; ++at) ++n;
        return n;
    }
    // A connection of 127.0.0.<machine> with a whole-flash erase running, held until released.
    void eraseRunningOn(uint8_t machine, std::vector<std::unique_ptr<RawClient>>* held) {
        fake.eraseHeld = true;
        held->push_back(std::make_unique<RawClient>(port(), 60, 0, machine));
        held->back()->send(line(frame(kGroupFlashErase, {0, 0, 0, 0, 0x00, 0x02, 2})));
        ASSERT_TRUE(eventually([&] { return fake.erasesRunning == int(held->size()); }));
    }
};

}  // namespace

TEST_F(TcpClientsTest, AClientThatReadsNothingCostsAnotherNoWaitAndIsDroppedWhenItStalls) {
    RawClient hog(port(), 5, 4096);
    hog.send(blockReadBurst());
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
        idle.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(k)));
        ASSERT_TRUE(answersDeviceInfo(*idle.back()));
        G_timeTicks += 10;  // the first is idle longest
    }
    // 16 machines, none over its share of one place
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
        open.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(k)));
        ASSERT_TRUE(answersDeviceInfo(*open.back()));
    }
    RawClient pc(port(), 60, 0, machine(TcpServer::kMaxClients));
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

TEST_F(TcpClientsTest, AClientThatReadsNothingIsNotReadOncePastItsReplyBound) {
    RawClient hog(port(), 5, 4096);
    hog.send(blockReadBurst());
    // Past the bound the server reads no more of the hog, so the
    // bytes it sends next (outside any frame) fill the sockets' buffers and its sending stops;
    // a server that read on would pile the replies up in its memory without end.
    const std::vector<uint8_t> filler(65536, 0x00);
    size_t sent = 0;
    constexpr size_t kLots = size_t(256) << 20;
    while (sent < kLots) {
        pollfd p{hog.fd(), POLLOUT, 0};
        if (::poll(&p, 1, 1000) != 1) break;  // nothing taken for a second: the server reads no more
        const ssize_t n = ::send(hog.fd(), filler.data(), filler.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) sent += size_t(n);
    }
    EXPECT_LT(sent, kLots) << "the hog was read on";
    RawClient other(port(), 2);
    EXPECT_TRUE(answersDeviceInfo(other));
}

TEST_F(TcpClientsTest, APeerThatEndsItsStreamGetsEveryReplyAndThenTheEnd) {
    RawClient pc(port());
    pc.send(cat(deviceInfo(), line(readRegFrame(11, 1))));
    ::shutdown(pc.fd(), SHUT_WR);
    EXPECT_EQ(pc.receive().size(), kMinFrame + 33);
    EXPECT_EQ(pc.receive().size(), kMinFrame + 2);
    EXPECT_TRUE(pc.readsEndOfStream()) << "the server closes once the replies are out";
    EXPECT_TRUE(eventually([&] { return clients() == 0; }));
}

TEST_F(TcpClientsTest, APassThroughWaitingForTheCardsHoldsNoOtherClientAndKeepsItsClientsOrder) {
    useFake();
    fake.answerAfter = -1;
    RawClient pc(port()), other(port(), 2);
    pc.send(cat(cardFrames(1), deviceInfo()));
    ASSERT_TRUE(eventually([&] { return fake.services >= 3; }));
    EXPECT_TRUE(answersDeviceInfo(other));
    EXPECT_EQ(g_passby_trans_port.load(), kTransportTcp) << "answered while the pass-through still waits";
    fake.grants = 1;
    const auto card = pc.receive();
    ASSERT_EQ(card.size(), 15u) << "the card's answer first";
    EXPECT_EQ(rd16(card.data() + kDst), kAddrPc);
    EXPECT_EQ(pc.receive().size(), kMinFrame + 33) << "then the frame the client sent after it";
}

TEST_F(TcpClientsTest, ConnectionsThatTrickleBytesOrBadFramesButNoGoodFrameGiveWayAfterThirtySeconds) {
    std::vector<std::unique_ptr<RawClient>> trickle;
    for (size_t k = 0; k + 1 < TcpServer::kMaxClients; ++k) {
        trickle.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(k)));
        ASSERT_TRUE(answersDeviceInfo(*trickle.back()));
    }
    RawClient active(port());
    ASSERT_TRUE(answersDeviceInfo(active));
    {
        // Refused, with its request unread: the end of the stream, not a reset.
        RawClient early(port(), 60, 0, machine(20));
        early.send(deviceInfo());
        EXPECT_TRUE(early.readsEndOfStream());
    }
    auto badBcc = frame(kGroupDeviceInfo, {});
    badBcc.back() ^= 0xFF;
    for (int k = 0; k < 3; ++k) {
        G_timeTicks += 1000;
        for (auto& t : trickle) t->send(cat({0x00}, line(badBcc)));
        ASSERT_TRUE(answersDeviceInfo(active));  // the bytes above were read before this
    }
    G_timeTicks += 1;
    RawClient late(port(), 60, 0, machine(21));
    EXPECT_TRUE(answersDeviceInfo(late)) << "a connection without a frame for 30 s gave way";
    EXPECT_TRUE(answersDeviceInfo(active));
    EXPECT_EQ(clients(), TcpServer::kMaxClients);
}

TEST_F(TcpClientsTest, LongCommandsOfClientsThatLeftLeaveThoseWhoStayTheirsAndAreCollected) {
    useFake();
    testkit::writeFile("/data/configs/alias.json", "{}");
    // Twice: the jobs of the first departures, once ended, hold no place of the second.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        fillWithDepartedErases();
        RawClient stays(port());
        stays.send(line(frame(kGroupReadFileStart, {4, 0})));
        const auto r = stays.receive();
        ASSERT_EQ(r.size(), kMinFrame + 21) << "its long command ran beside the 16 erases left behind";
        EXPECT_EQ(r[kGroup], kGroupReadFileStart);
        EXPECT_EQ(r[kPayload], kStatusOk);
        EXPECT_EQ(fake.erasesRunning, int(TcpServer::kMaxClients));
        erasesEnd();
    }
}

TEST_F(TcpClientsTest, ADepartedClientsJobAnswersNoOneAndLeavesTheNextClientInItsPlaceFree) {
    useFake();
    fake.eraseHeld = true;
    std::vector<std::unique_ptr<RawClient>> idle;
    for (size_t k = 0; k + 1 < TcpServer::kMaxClients; ++k) {
        idle.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(k)));
        ASSERT_TRUE(answersDeviceInfo(*idle.back()));
    }
    {
        RawClient gone(port());
        gone.send(line(frame(kGroupFlashErase, {0, 0, 0, 0, 0x00, 0x02, 2})));
        ASSERT_TRUE(eventually([&] { return fake.erasesRunning == 1; }));
    }
    RawClient next(port());  // takes the place of the one that left
    EXPECT_TRUE(answersDeviceInfo(next)) << "answered while the erase of the one that left runs";
    fake.eraseHeld = false;
    ASSERT_TRUE(eventually([&] { return fake.erasesRunning == 0; }));
    EXPECT_TRUE(answersDeviceInfo(next)) << "the erase's reply to the one that left is not the next one's";
}

// 38 KB of pass-throughs, and 380 KB: more than the sockets hold, so its close arrives only
// once the server has read what it sent.
TEST_F(TcpClientsTest, AClientThatPipelinesPassThroughsAndClosesStopsTakingTurnsAtOnce) {
    useFake();
    fake.answerAfter = -1;
    RawClient other(port());
    for (int count : {2000, 20000}) {
        const size_t before = passes();
        {
            RawClient gone(port());
            gone.send(cardFrames(count));
            ASSERT_TRUE(eventually([&] { return passes() > before; }));
        }
        // The cards stay silent: no reply tells the server the peer is gone, only its close.
        // The ticks stand still, so each pass-through waits out its 3 s wall-clock bound: the
        // server has read what was sent and found the close long before a third could start.
        EXPECT_TRUE(testkit::waitUntil([&] { return clients() == 1; })) << count;
        EXPECT_TRUE(answersDeviceInfo(other));
        EXPECT_LE(passes() - before, 2u) << count << ": what it queued behind its close was dropped, not passed";
    }
}

TEST_F(TcpClientsTest, IdleTimeCountsFromTheEndOfTheClientsOwnJob) {
    useFake();
    fake.answerAfter = -1;
    RawClient worker(port());
    worker.send(cat(cardFrames(1), deviceInfo()));
    ASSERT_TRUE(eventually([&] { return fake.services >= 3; }));
    G_timeTicks += TcpServer::kIdleTicks;  // its pass-through gives up
    ASSERT_EQ(worker.receive().size(), kMinFrame + 33) << "the frame behind its job, served once the job ended";
    std::vector<std::unique_ptr<RawClient>> others;
    for (size_t k = 0; k + 1 < TcpServer::kMaxClients; ++k) {
        others.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(k)));
        ASSERT_TRUE(answersDeviceInfo(*others.back()));
    }
    RawClient late(port(), 60, 0, machine(20));
    EXPECT_TRUE(late.endedByServer()) << "no connection idle for 30 s: the newcomer is refused";
    EXPECT_TRUE(answersDeviceInfo(worker));
}

// Clients pipelining pass-throughs behind one the cards leave unanswered: each is read ahead
// to its 512 KiB and all of them to 2 MiB, and no further while another client is served.
TEST_F(TcpClientsTest, PipelinersAreReadAheadOnlyToTheirBoundEachAndInAll) {
    useFake();
    fake.answerAfter = -1;
    RawClient other(port());
    const std::vector<uint8_t> burst = cardFrames(60000);  // 1.1 MB each
    struct Case {
        size_t clients;
        size_t bound;
    };
    for (const Case k : {Case{1, TcpServer::kReadAheadBytes}, Case{5, TcpServer::kReadAheadAll}}) {
        SCOPED_TRACE(k.clients);
        std::vector<std::unique_ptr<RawClient>> hogs;
        std::vector<size_t> sent(k.clients, 0);
        for (size_t h = 0; h < k.clients; ++h) hogs.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(h)));
        // what the sockets take now: the server reads only as far as its bounds let it
        const auto push = [&] {
            for (size_t h = 0; h < k.clients; ++h) {
                while (sent[h] < burst.size()) {
                    const ssize_t n = ::send(hogs[h]->fd(), burst.data() + sent[h], burst.size() - sent[h],
                                             MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (n <= 0) break;
                    sent[h] += size_t(n);
                }
            }
        };
        const auto ahead = [] { return networkManage::p_networkManage->readAheadBytes(); };
        ASSERT_TRUE(eventually([&] {
            push();
            return ahead() >= k.bound;
        }));
        // each answer takes passes in which the pipeliners' sockets hold more for the server
        for (int round = 0; round < 3; ++round) {
            push();
            ASSERT_TRUE(answersDeviceInfo(other));
        }
        EXPECT_LE(ahead(), k.bound + TcpServer::kReadChunk);
    }
}

TEST_F(TcpClientsTest, TheHeapGoesBackOnceClientsThatPipelinedWithoutReadingAreDropped) {
    const uint32_t before = HeldBacklog::trims();
    {
        const std::vector<uint8_t> burst = blockReadBurst();
        std::vector<std::unique_ptr<RawClient>> hogs;
        for (size_t k = 0; k < 4; ++k) {
            hogs.push_back(std::make_unique<RawClient>(port(), 5, 4096, machine(k)));
            hogs.back()->send(burst);
        }
        ASSERT_TRUE(eventually([&] { return networkManage::p_networkManage->heldBytes() > 2 * HeldBacklog::kTrimAfter; }));
        EXPECT_EQ(HeldBacklog::trims(), before) << "given back while the clients still hold it";
    }
    EXPECT_TRUE(eventually([&] {
        G_timeTicks += TcpServer::kStallTicks + 1;  // their replies do not move: dropped
        return clients() == 0;
    }));
    EXPECT_TRUE(eventually([&] { return HeldBacklog::trims() > before; }));
}

// Sixteen connections of one machine, each pipelining pass-throughs and device information
// and reading nothing: they take every place, and PCs of other addresses are answered beside
// them, each in the place of one of them.
TEST_F(TcpClientsTest, OneMachinesSixteenPipelinersLeaveOtherMachinesTheirAnswer) {
    useFake();
    fake.answerAfter = 2;
    std::vector<uint8_t> burst;
    const std::vector<uint8_t> round = cat(cardFrames(1), deviceInfo());
    for (int k = 0; k < 2000; ++k) burst.insert(burst.end(), round.begin(), round.end());
    std::vector<std::unique_ptr<RawClient>> attack;
    for (size_t k = 0; k < TcpServer::kMaxClients; ++k) {
        attack.push_back(std::make_unique<RawClient>(port(), 60, 4096, 100));
        (void)::send(attack.back()->fd(), burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    ASSERT_TRUE(eventually([&] { return passes() >= 8 && clients() == TcpServer::kMaxClients; }));
    for (uint8_t other : {2, 3}) {
        RawClient pc(port(), 60, 0, other);
        EXPECT_TRUE(answersDeviceInfo(pc)) << "127.0.0." << int(other) << " answered beside the 16";
        EXPECT_EQ(clients(), TcpServer::kMaxClients);
    }
    fake.answerAfter = 1;
}

// One PC's connections on an idle controller, eight of them, each asked twice in turn: all
// stay open, and the last two then leave its first ones theirs with every place taken.
TEST_F(TcpClientsTest, AFreePlaceGoesToAnyConnectionOfAnyMachine) {
    std::vector<std::unique_ptr<RawClient>> pcs;
    for (int k = 0; k < 8; ++k) {
        pcs.push_back(std::make_unique<RawClient>(port()));
        ASSERT_TRUE(answersDeviceInfo(*pcs.back())) << k;
    }
    for (size_t k = 0; k < pcs.size(); ++k) EXPECT_TRUE(answersDeviceInfo(*pcs[k])) << "connection " << k << " kept its place";
    EXPECT_EQ(clients(), 8u);
}

// Four machines hold every place, four each: a fifth takes a place from them, first a
// connection with nothing running, then one running a long command (which runs on for no
// one); a machine at its share with work on each gets none.
TEST_F(TcpClientsTest, AMachineUnderItsShareTakesAPlaceFromOneOverIt) {
    useFake();
    fake.eraseHeld = true;
    const std::vector<uint8_t> erase = line(frame(kGroupFlashErase, {0, 0, 0, 0, 0x00, 0x02, 2}));
    std::vector<std::unique_ptr<RawClient>> held;
    for (size_t k = 0; k < TcpServer::kMaxClients; ++k) {
        held.push_back(std::make_unique<RawClient>(port(), 20, 0, machine(k / 4)));
        if (k == 5) {
            ASSERT_TRUE(answersDeviceInfo(*held.back()));  // machine 1's second connection: idle
            continue;
        }
        held.back()->send(erase);
        ASSERT_TRUE(eventually([&] { return fake.erasesRunning == int(k + (k > 5 ? 0 : 1)); }));
    }
    {
        RawClient more(port(), 60, 0, machine(0));
        EXPECT_TRUE(more.endedByServer()) << "its machine holds its share of 16 / 4 = 4, a job running on each";
    }
    RawClient fifth(port(), 60, 0, machine(4));
    EXPECT_TRUE(answersDeviceInfo(fifth));
    EXPECT_TRUE(held[5]->endedByServer()) << "the idle connection gave its place";
    RawClient second(port(), 60, 0, machine(4));  // its share is 16 / 5 = 3
    EXPECT_TRUE(answersDeviceInfo(second)) << "a connection with a job running gave its place";
    EXPECT_EQ(clients(), TcpServer::kMaxClients);
    EXPECT_EQ(fake.erasesRunning, int(TcpServer::kMaxClients - 1)) << "the erase of the one that gave way runs on";
    fake.eraseHeld = false;
    ASSERT_TRUE(eventually([&] { return fake.erasesRunning == 0; }));
    EXPECT_TRUE(answersDeviceInfo(fifth));
}

// Every place taken, four machines with four each; of 127.0.0.10's, one has a file transfer
// open and is idle longest between its blocks. The machine's next connection takes the place
// of another, idle one, and the upload ends.
TEST_F(TcpClientsTest, AConnectionWithAFileTransferOpenKeepsItsPlaceBetweenBlocks) {
    RawClient uploader(port(), 60, 0, machine(0));
    ASSERT_EQ(ask(uploader, kGroupWriteDefinedFileStart, cat(text("KVFRscan"), le32(8))), kStatusOk);
    std::vector<std::unique_ptr<RawClient>> others;
    for (size_t k = 1; k < TcpServer::kMaxClients; ++k) {
        others.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(k / 4)));
        ASSERT_TRUE(answersDeviceInfo(*others.back()));
    }
    RawClient fifth(port(), 60, 0, machine(0));
    EXPECT_TRUE(answersDeviceInfo(fifth));
    EXPECT_TRUE(others[0]->endedByServer()) << "its machine's idle connection gave its place";
    uploadEnds(uploader);
}

// Sixteen machines, one place each, all idle 30 s; the one idle longest has a file transfer
// open. A seventeenth machine takes the place of another.
TEST_F(TcpClientsTest, AConnectionWithAFileTransferOpenKeepsItsPlacePastThirtySecondsIdle) {
    RawClient uploader(port(), 60, 0, machine(0));
    ASSERT_EQ(ask(uploader, kGroupWriteDefinedFileStart, cat(text("KVFRscan"), le32(8))), kStatusOk);
    G_timeTicks += 1;
    std::vector<std::unique_ptr<RawClient>> others;
    for (size_t k = 1; k < TcpServer::kMaxClients; ++k) {
        others.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(k)));
        ASSERT_TRUE(answersDeviceInfo(*others.back()));
    }
    G_timeTicks += TcpServer::kIdleTicks;
    RawClient late(port(), 60, 0, machine(TcpServer::kMaxClients));
    EXPECT_TRUE(answersDeviceInfo(late));
    EXPECT_TRUE(others[0]->endedByServer()) << "the connection idle longest of those without a transfer gave its place";
    uploadEnds(uploader);
}

// Fifteen machines with an erase running and a PC with one idle connection, every machine at
// its share of one place: the PC's new connection (its tool reconnects) takes its own old one's.
TEST_F(TcpClientsTest, AMachinesNewConnectionTakesItsOwnIdleOnesPlace) {
    useFake();
    std::vector<std::unique_ptr<RawClient>> held;
    for (size_t k = 0; k + 1 < TcpServer::kMaxClients; ++k) ASSERT_NO_FATAL_FAILURE(eraseRunningOn(machine(k), &held));
    RawClient old(port(), 60, 0, 2);
    ASSERT_TRUE(answersDeviceInfo(old));
    RawClient renewed(port(), 60, 0, 2);
    EXPECT_TRUE(answersDeviceInfo(renewed));
    EXPECT_TRUE(old.endedByServer());
    EXPECT_EQ(fake.erasesRunning, int(held.size())) << "no other machine gave its place";
    erasesEnd();
}

// Every place taken: a PC that polls seldom, idle between its polls, and five machines with
// three erases running each. Past 30 s, a sixth connection of one of them (3 places over its
// share of 16 / 6 = 2) takes no place of the poller's, which is within its share; a new
// machine takes one of an address over its share, not the poller's either.
TEST_F(TcpClientsTest, AConnectionIdleThirtySecondsGivesNoPlaceToAMachineThatWouldBeOverItsShare) {
    useFake();
    RawClient poller(port(), 60, 0, machine(20));
    ASSERT_TRUE(answersDeviceInfo(poller));
    std::vector<std::unique_ptr<RawClient>> held;
    for (size_t k = 0; k + 1 < TcpServer::kMaxClients; ++k) ASSERT_NO_FATAL_FAILURE(eraseRunningOn(machine(k / 3), &held));
    G_timeTicks += TcpServer::kIdleTicks + 1;
    {
        RawClient more(port(), 60, 0, machine(0));
        EXPECT_TRUE(more.endedByServer()) << "its machine holds more than its share";
    }
    RawClient fresh(port(), 60, 0, machine(21));
    EXPECT_TRUE(answersDeviceInfo(fresh));
    EXPECT_TRUE(answersDeviceInfo(poller)) << "the poller kept its place";
    erasesEnd();
}

// Every place taken by one machine's idle connections: three other machines, one after the
// other within a second, each take one. The log has one line of places given up at once, and
// the count of the two others once a second has passed.
TEST_F(TcpClientsTest, PlacesGivenUpAreLoggedALineASecondWithTheirWholeCount) {
    std::vector<std::unique_ptr<RawClient>> idle;
    for (size_t k = 0; k < TcpServer::kMaxClients; ++k) {
        idle.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(0)));
        ASSERT_TRUE(answersDeviceInfo(*idle.back()));
    }
    std::vector<std::unique_ptr<RawClient>> fresh;
    for (size_t k = 1; k <= 3; ++k) {
        fresh.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(k)));
        ASSERT_TRUE(answersDeviceInfo(*fresh.back()));
    }
    EXPECT_EQ(logLines("places given up"), 1u) << "a line a second at most";
    EXPECT_TRUE(eventually([&] {
        G_timeTicks += 10;
        return logLines("2 places given up since the last such line") == 1;
    })) << testkit::readFile("/data/kavelkv/log/zufEnglneLog");
    EXPECT_EQ(logLines("places given up"), 2u);
}

// A refused connection that sends without end is read no further than its bound and closed,
// though the board time stands still (it is not waited out for 5 s).
TEST_F(TcpClientsTest, ARefusedConnectionThatSendsOnIsClosedPastItsBound) {
    std::vector<std::unique_ptr<RawClient>> idle;
    for (size_t k = 0; k < TcpServer::kMaxClients; ++k) {
        idle.push_back(std::make_unique<RawClient>(port(), 60, 0, machine(k)));
        ASSERT_TRUE(answersDeviceInfo(*idle.back()));
    }
    RawClient refused(port(), 60, 0, machine(TcpServer::kMaxClients));
    timeval limit{60, 0};  // a server that neither reads nor closes fails the test, not hangs it
    ::setsockopt(refused.fd(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const std::vector<uint8_t> bytes(65536, 0x00);
    size_t sent = 0;
    constexpr size_t kLots = size_t(256) << 20;
    while (sent < kLots) {
        const ssize_t n = ::send(refused.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) break;  // closed by the server
        sent += size_t(n);
    }
    EXPECT_LT(sent, kLots) << "the refused connection was read on";
    EXPECT_TRUE(answersDeviceInfo(*idle.front()));
}
