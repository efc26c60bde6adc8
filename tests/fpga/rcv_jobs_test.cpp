// Check, self-recovery and scan-file jobs against the simulated card chains, over files the
// generator writes from the byte layouts: what each card received is held against the
// generator's map of the file.
#include <QJsonArray>

#include <algorithm>

#include "card_fixture.h"
#include "protocol/transport_fixture.h"
#include "support/rcv_files.h"

using namespace fpgatest;
using namespace job_block;

namespace {

const std::string kKvfx = "/data/rcvrecovery/KVFX";

QJsonObject at(const QJsonValue& v, int i) { return v.toArray().at(i).toObject(); }

class RcvJobsTest : public CardEngineTest {
protected:
    void SetUp() override {
        CardEngineTest::SetUp();
        std::memset(line_type, 0, sizeof line_type);
        g_kvfile_name.clear();
    }
    void plugWithId(int port, size_t n, uint32_t id) {
        plug(port, n);
        for (auto& c : cardsOn(port)) c.configId = id;
    }
    // n cards of screen `id` on `port`, card `lost` without its configuration, found by a check.
    void checkFindsLostCard(int port, size_t n, uint32_t id, size_t lost) {
        plugWithId(port, n, id);
        searchCards();
        cardsOn(port)[lost].lost = true;
        startJob(kCheck);
        ASSERT_GT(runJob(), 0);
        ASSERT_TRUE(e->found_card.valid);
    }
    // Host frames on a global port (search frames of the periodic search excluded).
    std::vector<Bytes> jobFrames(int port) {
        std::vector<Bytes> out;
        for (const Bytes& f : sent(port / 16, port % 16))
            if (!(f.size() == 30 && f[5] == 0xAA && f[16] == 0)) out.push_back(f);
        return out;
    }
    size_t allJobFrames() {
        size_t n = 0;
        for (int p = 0; p < 32; ++p) n += jobFrames(p).size();
        return n;
    }
    void clearLogs() {
        fpga(0).clearCardLog();
        fpga(1).clearCardLog();
        for (int p = 0; p < 32; ++p)
            if (CardChain* c = fpga(p / 16).chain(p % 16))
                for (auto& card : c->cards) card.received.clear();
    }
    // Frames a card took, the searches left out.
    static std::vector<Bytes> commands(const plat::sim::SimCard& c) {
        std::vector<Bytes> out;
        for (const Bytes& f : c.received)
            if (f[9] != 0x10) out.push_back(f);
        return out;
    }
    // A job ending in error: its ring closes at once, the block 100 ticks later with code 1.
    void expectErrorEnd(const std::string& what) {
        EXPECT_EQ(operation(), kNoJob) << what;
        EXPECT_EQ(progress.empty() ? -1 : progress.back(), 100) << what;
        EXPECT_GE(count(1), 1) << what;
        EXPECT_EQ(allJobFrames(), 0u) << what << ": nothing may be sent";
    }
};

// Two screens of three nets each; every card carries its screen's id.
const char* kSixNets = R"({"kind": "packed", "screens": [
  {"config_id": 4369, "nets": [{"net_ledx": 0, "cards": [[], []]}, {"net_ledx": 1, "cards": [[], []]},
                               {"net_ledx": 2, "cards": [[], []]}]},
  {"config_id": 8738, "nets": [{"net_ledx": 16, "cards": [[], []]}, {"net_ledx": 17, "cards": [[], []]},
                               {"net_ledx": 18, "cards": [[], []]}]}]})";

}  // namespace

TEST_F(RcvJobsTest, ACheckWhereNoCardReportsShows37ForEveryNetAndEndsAt100LeavingTheListAlone) {
    testkit::generateRcvFile(kKvfx, kSixNets);
    for (int p : {0, 1, 2}) plugWithId(p, 2, 4369);
    for (int p : {16, 17, 18}) plugWithId(p, 2, 8738);
    searchCards();
    startJob(kCheck);
    const int passes = runJob();
    ASSERT_GT(passes, 0);
    EXPECT_LE(passes, 241 + 1) << "past the settling wait, every net's answer is taken in the pass that waits for it";
    // after the settling wait (16..47, then 0 as the file is read): one 37 per net searched
    const auto settled = std::find(progress.rbegin(), progress.rend(), 0).base();
    EXPECT_EQ(std::count(settled, progress.end(), 37), 6);
    EXPECT_EQ(std::vector<int>(settled, settled + 5), (std::vector<int>{33, 22, 25, 37, 50}));
    EXPECT_EQ(std::vector<int>(settled + 8, progress.end()), (std::vector<int>{66, 22, 25, 37, 50, 37, 75, 37, 100}));
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(count(1) + count(99), 0);
    EXPECT_FALSE(e->found_card.valid);
    for (int p : {0, 1, 2, 16, 17, 18}) {
        const auto f = jobFrames(p);
        ASSERT_EQ(f.size(), 1u) << p;
        EXPECT_EQ(f[0][16], 1) << "check enabled";
        EXPECT_EQ(uint32_t(f[0][17] | f[0][18] << 8), p < 16 ? 4369u : 8738u);
    }
    EXPECT_TRUE(unanswered.empty());
}

TEST_F(RcvJobsTest, ACheckListsTheFirstCardThatLostItsConfigurationAsScreenPortCardAndCount) {
    // a screen without a smart-debugging list: its file needs no part 12
    testkit::generateRcvFile(kKvfx, R"({"kind": "packed", "omit_parts": [12], "screens": [{"config_id": 77, "nets": [
        {"net_ledx": 2, "cards": [[], [], [], [], [], [], [], [], [], [], [], []]}]}]})");
    plugWithId(2, 12, 77);
    cardsOn(2)[4].lost = true;
    searchCards();
    startJob(kCheck);
    ASSERT_GT(runJob(), 0);
    EXPECT_EQ(report, std::vector<std::string>{"01/03/05/12"});
    EXPECT_TRUE(reportValid);
    EXPECT_EQ(count(1), 1);
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(e->found_card.valid);
    EXPECT_EQ(e->found_card.port, 2);
    EXPECT_EQ(e->found_card.card, 4);
}

TEST_F(RcvJobsTest, AnAnswerOfAnotherNetArrivingLateIsNotTheCheckedNetsResult) {
    testkit::generateRcvFile(kKvfx, R"({"kind": "packed", "screens": [{"config_id": 5, "nets": [
        {"net_ledx": 2, "cards": [[], []]}, {"net_ledx": 3, "cards": [[], []]}]}]})");
    plugWithId(2, 2, 5);
    plugWithId(3, 2, 5);
    searchCards();
    // port 2's answer names a lost card but comes after its net's 500 ticks, while port 3,
    // whose cards are sound, is still waiting for its own
    cardsOn(2)[1].lost = true;
    cardsOn(2)[0].delayTicks = 600;
    cardsOn(3)[0].delayTicks = 300;
    startJob(kCheck);
    ASSERT_GT(runJob(), 0);
    EXPECT_EQ(reports, 0) << "no card found";
    EXPECT_EQ(unanswered, std::vector<std::string>{"LED03"});
    EXPECT_FALSE(e->found_card.valid);
}

TEST_F(RcvJobsTest, ACheckTakesNoResultFromTheCardsOfAnotherScreen) {
    testkit::generateRcvFile(kKvfx, R"({"kind": "packed", "screens": [{"config_id": 5, "nets": [
        {"net_ledx": 2, "cards": [[], []]}]}]})");
    plugWithId(2, 2, 6);  // the chain on the port belongs to the screen of id 6
    cardsOn(2)[1].lost = true;
    searchCards();
    startJob(kCheck);
    ASSERT_GT(runJob(), 0);
    EXPECT_EQ(reports, 0) << "its answer carries id 6";
    EXPECT_FALSE(e->found_card.valid);
}

TEST_F(RcvJobsTest, ACheckedFileSentOverTcpFindsTheLostCardAndRecoveryReplaysExactlyItsLists) {
    // the file transfer runs on the TCP thread, the GUI's tick on another
    ASSERT_TRUE(board().startSerialBridges());
    int port = 0;
    for (int attempt = 0; attempt < 20 && port <= 0; ++attempt) {
        plat::net::setPortOffset(26000 + int((unsigned(getpid()) * 7 + unsigned(attempt) * 211) % 1500) * 20);
        networkManage::pInstance();
        port = networkManage::p_networkManage->port();
        if (port <= 0) networkManage::resetInstanceForTest();
    }
    ASSERT_GT(port, 0);
    const std::string desc = R"({"kind": "packed", "screens": [{"config_id": 161,
      "para_ops": [{"type": 1, "target": 2, "data": "0102"}, {"type": 2, "timeticks": 100}],
      "nets": [
        {"net_ledx": 1, "cards": [[{"type": 1, "target": 1, "addr": 8192, "fill": 1500, "seed": 1}],
                                  [{"type": 1, "target": 1, "addr": 8192, "fill": 1500, "seed": 2}],
                                  [{"type": 1, "target": 1, "addr": 8192, "fill": 1500, "seed": 3}]]},
        {"net_ledx": 17, "cards": [[{"type": 1, "target": 1, "addr": 4096, "fill": 1500, "seed": 4}],
                                   [{"type": 1, "target": 1, "addr": 4096, "fill": 1500, "seed": 5},
                                    {"type": 3, "data": "b4b5"}]]}]}]})";
    const QJsonObject map = testkit::generateRcvFile("/gen/KVFX.bin", desc);
    const prototest::ClientResult put = prototest::runClient(
        "--tcp 127.0.0.1:" + std::to_string(port), "put-file KVFX/KVFX " + plat::path("/gen/KVFX.bin"));
    networkManage::resetInstanceForTest();
    ASSERT_EQ(put.status, 0);
    ASSERT_EQ(testkit::readFile(kKvfx), testkit::readFile("/gen/KVFX.bin"));

    plugWithId(1, 3, 161);
    plugWithId(17, 2, 161);
    cardsOn(17)[1].lost = true;
    searchCards();
    startJob(kCheck);
    ASSERT_GT(runJob(), 0);
    ASSERT_EQ(report, std::vector<std::string>{"01/18/02/02"});

    clearLogs();
    cardsOn(17)[1].lost = false;
    setU8(kSubStep, kRecoveryMode);  // as the screen hands a recovery over
    startJob(kSelfRecovery);
    ASSERT_GT(runJob(), 0);
    EXPECT_EQ(count(99), 1) << "the card is restored: the list empties";
    EXPECT_EQ(reports, 2);
    EXPECT_TRUE(report.empty());
    EXPECT_TRUE(unanswered.empty());

    // card 1 of port 17 took the screen's list, then its own; no other card took anything
    const QJsonObject screen = at(map.value("screens"), 0);
    const QJsonArray para = screen.value("para_ops").toArray();
    const QJsonArray own = at(at(screen.value("nets"), 1).value("cards"), 1).value("ops").toArray();
    const auto got = commands(cardsOn(17)[1]);
    ASSERT_EQ(got.size(), 5u) << "register write, save, two RAM packets, activation";
    EXPECT_EQ(got[0][9], 0xA0);
    EXPECT_EQ(Bytes(got[0].begin() + 10, got[0].end() - 1), testkit::mapBytes(para.at(0).toObject()));
    EXPECT_EQ(got[1][9], 0x81);
    const Bytes ram = testkit::mapBytes(own.at(0).toObject());
    Bytes written;
    for (int k : {2, 3}) {
        EXPECT_EQ(got[size_t(k)][9], 0x60);
        EXPECT_EQ(got[size_t(k)][10] | got[size_t(k)][11] << 8, 4096 + 1000 * (k - 2));
        written.insert(written.end(), got[size_t(k)].begin() + 18, got[size_t(k)].end() - 1);
    }
    EXPECT_EQ(written, ram);
    EXPECT_EQ(got[4][9], 0xB4);
    EXPECT_EQ(Bytes(got[4].begin() + 10, got[4].end() - 1), testkit::mapBytes(own.at(1).toObject()));
    for (const Bytes& f : got) EXPECT_EQ(u16(f, 0), 0x1001) << "card 1 with port 17's bits";
    EXPECT_TRUE(commands(cardsOn(17)[0]).empty());
    for (auto& c : cardsOn(1)) EXPECT_TRUE(commands(c).empty());
    EXPECT_FALSE(e->found_card.valid);
}

TEST_F(RcvJobsTest, RecoveryIsRefusedWithoutACardFoundAndAfterACheckThatFoundNothing) {
    testkit::generateRcvFile(kKvfx, R"({"kind": "packed", "screens": [{"config_id": 9, "nets": [
        {"net_ledx": 4, "cards": [[{"type": 1, "target": 2, "data": "0a"}], [{"type": 1, "target": 2, "data": "0b"}]]}]}]})");
    plugWithId(4, 2, 9);
    searchCards();
    clearLogs();
    startJob(kSelfRecovery);
    ASSERT_GT(runJob(), 0);
    expectErrorEnd("recovery before any check");

    cardsOn(4)[1].lost = true;
    startJob(kCheck);
    ASSERT_GT(runJob(), 0);
    ASSERT_TRUE(e->found_card.valid);
    cardsOn(4)[1].lost = false;  // repaired by hand meanwhile
    startJob(kCheck);
    ASSERT_GT(runJob(), 0);
    EXPECT_FALSE(e->found_card.valid) << "a check that finds nothing forgets the last one's card";
    clearLogs();
    codes.clear();
    progress.clear();
    startJob(kSelfRecovery);
    ASSERT_GT(runJob(), 0);
    expectErrorEnd("recovery after a check that found nothing");
}

TEST_F(RcvJobsTest, AScanFileActivatesCardsFourDownToZeroGivingUpASilentOneAfterThreeTimeOuts) {
    testkit::generateRcvFile("/data/smartmapping/act.kvfile",
                             R"({"kind": "standalone", "ops": [{"type": 3, "data": "a55a", "timeticks": 300}]})");
    g_kvfile_name = QStringLiteral("/data/smartmapping/act.kvfile");
    line_type[line_field::kPort] = 20;  // FPGA 1 port 4
    plug(20, 5);
    searchCards();
    cardsOn(20)[2].policy = plat::sim::CardAnswerPolicy::Silent;
    clearLogs();
    startJob(kLoadScan);
    ASSERT_GT(runJob(), 0);
    std::vector<int> order;
    for (const Bytes& f : jobFrames(20)) {
        ASSERT_EQ(f[9], 0xB4);
        order.push_back(u16(f, 0) & 0xFFF);
    }
    EXPECT_EQ(order, (std::vector<int>{4, 3, 2, 2, 2, 1, 0}));
    for (int c : {0, 1, 3, 4}) EXPECT_EQ(cardsOn(20)[size_t(c)].activations, 1u) << c;
    EXPECT_EQ(unanswered, std::vector<std::string>{"LED21 card 2"});
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(count(1) + count(99), 0) << "a scan file sets no change code";
}

TEST_F(RcvJobsTest, RamWritesGoInPacketsOfAThousandToEveryCardOfThePort) {
    const QJsonObject map = testkit::generateRcvFile("/data/smartmapping/ram.kvfile", R"({"kind": "standalone",
        "ops": [{"type": 1, "target": 1, "addr": 4096, "fill": 2500, "seed": 3},
                {"type": 1, "target": 1, "addr": 65536, "fill": 2000, "seed": 4}]})");
    g_kvfile_name = QStringLiteral("/data/smartmapping/ram.kvfile");
    line_type[line_field::kPort] = 3;
    plug(3, 2);
    searchCards();
    clearLogs();
    startJob(kLoadScan);
    ASSERT_GT(runJob(), 0);
    std::vector<std::pair<uint32_t, int>> packets;
    for (const Bytes& f : jobFrames(3)) {
        ASSERT_EQ(f[9], 0x60);
        EXPECT_EQ(u16(f, 0), 0x0FFF) << "every card";
        packets.push_back({uint32_t(f[10] | f[11] << 8 | f[12] << 16), u16(f, 14)});
    }
    using P = std::vector<std::pair<uint32_t, int>>;
    EXPECT_EQ(packets, (P{{4096, 1000}, {5096, 1000}, {6096, 500}, {65536, 1000}, {66536, 1000}, {67536, 0}}));
    const QJsonArray ops = map.value("ops").toArray();
    for (auto& card : cardsOn(3)) {
        const Bytes a = testkit::mapBytes(ops.at(0).toObject());
        for (size_t k = 0; k < a.size(); ++k) ASSERT_EQ(card.memory[uint32_t(4096 + k)], a[k]) << k;
        const Bytes b = testkit::mapBytes(ops.at(1).toObject());
        for (size_t k = 0; k < b.size(); ++k) ASSERT_EQ(card.memory[uint32_t(65536 + k)], b[k]) << k;
    }
}

TEST_F(RcvJobsTest, ASleepPausesItsTicksAndAnUpgradeOrAFlashWriteSendsNothing) {
    testkit::generateRcvFile("/data/smartmapping/s.kvfile", R"({"kind": "standalone", "ops": [
        {"type": 6, "timeticks": 1500}, {"type": 4, "fill": 8}, {"type": 1, "target": 3, "fill": 4}]})");
    g_kvfile_name = QStringLiteral("/data/smartmapping/s.kvfile");
    line_type[line_field::kPort] = 6;
    plug(6, 1);
    searchCards();
    clearLogs();
    startJob(kLoadScan);
    uint32_t sleepFrom = 0, sleepTo = 0;
    for (int k = 0; k < 2000 && operation() != kNoJob; ++k) {
        tick();
        if (u8(kSubStep) == 28 && !sleepFrom) sleepFrom = G_timeTicks;
        if (sleepFrom && !sleepTo && u8(kSubStep) != 28) sleepTo = G_timeTicks;
    }
    EXPECT_EQ(operation(), kNoJob);
    EXPECT_EQ(sleepTo - sleepFrom, 150u);
    EXPECT_EQ(allJobFrames(), 0u);
    EXPECT_EQ(progress.back(), 100);
}

TEST_F(RcvJobsTest, AnUndefinedStepIsAnErrorEndThatFreesTheBlock) {
    startJob(kCheck);
    setU8(kStep, 16);
    tick();
    EXPECT_EQ(progress.back(), 100) << "the ring closes";
    EXPECT_EQ(operation(), kCheck) << "the block is held a while";
    tick(101);
    EXPECT_EQ(operation(), kNoJob);
    EXPECT_EQ(count(1), 1);
}

TEST_F(RcvJobsTest, EmptyListsAndAScreenWithoutNetsMoveOnSendingNothingForThem) {
    testkit::generateRcvFile(kKvfx, R"({"kind": "packed", "screens": [
        {"config_id": 1, "nets": []},
        {"config_id": 2, "nets": [{"net_ledx": 5, "cards": [[], []]}]}]})");
    plugWithId(5, 2, 2);
    searchCards();
    cardsOn(5)[0].lost = true;
    startJob(kCheck);
    ASSERT_GT(runJob(), 0);
    ASSERT_EQ(report, std::vector<std::string>{"02/06/01/02"});
    EXPECT_EQ(jobFrames(5).size(), 1u) << "one search for the one net";
    // recovery of a card whose lists are empty: nothing to send, the card counts as restored
    clearLogs();
    startJob(kSelfRecovery);
    ASSERT_GT(runJob(), 0);
    EXPECT_EQ(allJobFrames(), 0u);
    EXPECT_EQ(count(99), 1);
}

TEST_F(RcvJobsTest, MalformedFilesEndInErrorWithNoFrameSent) {
    plugWithId(2, 3, 7);
    plugWithId(3, 3, 7);
    searchCards();
    const std::string good = R"({"kind": "packed", "screens": [{"config_id": 7,
        "para_ops": [{"type": 1, "target": 2, "data": "01"}],
        "nets": [{"net_ledx": 2, "cards": [[{"type": 1, "target": 2, "data": "02"}], [], []]}]}]})";
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"part count 0", R"({"kind": "packed", "part_count": 0, "screens": [{"config_id": 7, "nets": [{"net_ledx": 2, "cards": [[]]}]}]})"},
        {"part count 7", R"({"kind": "packed", "part_count": 7, "extra_entries": 4, "screens": [{"config_id": 7, "nets": [{"net_ledx": 2, "cards": [[]]}]}]})"},
        {"XY offset outside", R"({"kind": "packed", "screens": [{"config_id": 7, "xy_offset": 999999, "nets": [{"net_ledx": 2, "cards": [[]]}]}]})"},
        {"operation data outside", R"({"kind": "packed", "screens": [{"config_id": 7, "nets": [{"net_ledx": 2, "cards": [[{"type": 1, "target": 2, "data": "01", "offset": 88888}]]}]}]})"},
        {"net_ledx 40", R"({"kind": "packed", "screens": [{"config_id": 7, "nets": [{"net_ledx": 40, "cards": [[]]}]}]})"},
    };
    auto run = [&](const std::string& what) {
        clearLogs();
        codes.clear();
        progress.clear();
        startJob(kCheck);
        tick();
        G_timeTicks += 240;  // the settling wait
        tick();
        G_timeTicks += 101;  // the error end's hold
        tick(2);
        expectErrorEnd(what);
    };
    for (const auto& [what, desc] : bad) {
        testkit::generateRcvFile(kKvfx, desc);
        run(what);
    }
    testkit::generateRcvFile(kKvfx, good);
    const std::string whole = testkit::readFile(kKvfx);
    for (size_t n = 0; n < whole.size(); ++n) {
        testkit::writeFile(kKvfx, whole.substr(0, n));
        run("truncated at " + std::to_string(n));
        if (HasFailure()) break;
    }
    // the same file whole passes: its net is searched
    testkit::writeFile(kKvfx, whole);
    clearLogs();
    startJob(kCheck);
    ASSERT_GT(runJob(), 0);
    EXPECT_EQ(jobFrames(2).size(), 1u);
    // a scan file that is malformed sends nothing either
    line_type[line_field::kPort] = 3;
    for (const std::string& desc : {std::string(R"({"kind": "standalone", "count": 3, "ops": [{"type": 1, "target": 2, "data": "01"}]})"),
                                    std::string(R"({"kind": "standalone", "ops": [{"type": 3, "fill": 1200}]})")}) {
        testkit::generateRcvFile("/data/smartmapping/bad.kvfile", desc);
        g_kvfile_name = QStringLiteral("/data/smartmapping/bad.kvfile");
        clearLogs();
        codes.clear();
        progress.clear();
        startJob(kLoadScan);
        ASSERT_GT(runJob(), 0);
        expectErrorEnd(desc);
    }
}

TEST_F(RcvJobsTest, ARecoveryWhoseFileIsGoneEndsInErrorInsteadOfReportingTheCardRestored) {
    testkit::generateRcvFile(kKvfx, R"({"kind": "packed", "screens": [{"config_id": 3, "nets": [
        {"net_ledx": 8, "cards": [[{"type": 1, "target": 2, "data": "01"}], [{"type": 1, "target": 2, "data": "02"}]]}]}]})");
    ASSERT_NO_FATAL_FAILURE(checkFindsLostCard(8, 2, 3, 0));
    std::remove(plat::path(kKvfx).c_str());
    clearLogs();
    codes.clear();
    progress.clear();
    reports = 0;
    startJob(kSelfRecovery);
    ASSERT_GT(runJob(), 0);
    expectErrorEnd("recovery without its file");
    EXPECT_EQ(count(99), 0);
    EXPECT_EQ(reports, 0) << "the list still names the card";
    EXPECT_TRUE(e->found_card.valid);
}

TEST_F(RcvJobsTest, ARecoveryWhoseScreenListHasNoPartToLieInSendsNothing) {
    const std::string screen = R"({"kind": "packed", OMIT "screens": [{"config_id": 3, AT
        "para_ops": [{"type": 1, "target": 2, "data": "0102"}],
        "nets": [{"net_ledx": 8, "cards": [[{"type": 1, "target": 2, "data": "01"}], []]}]}]})";
    auto with = [&](const std::string& omit, const std::string& at) {
        std::string d = screen;
        d.replace(d.find("OMIT"), 4, omit);
        return d.replace(d.find("AT"), 2, at);
    };
    testkit::generateRcvFile(kKvfx, with("", ""));
    ASSERT_NO_FATAL_FAILURE(checkFindsLostCard(8, 2, 3, 0));
    // part 12 left out of the table, the list's offset pointing at its bytes from the file's start
    const QJsonObject map = testkit::generateRcvFile(kKvfx, with(R"("omit_parts": [12],)", ""));
    const int d = at(map.value("screens"), 0).value("d").toInt();
    ASSERT_GT(d, 0);
    testkit::generateRcvFile(kKvfx, with(R"("omit_parts": [12],)", R"("para_offset": )" + std::to_string(d) + ","));
    clearLogs();
    codes.clear();
    progress.clear();
    setU8(kSubStep, kRecoveryMode);
    startJob(kSelfRecovery);
    ASSERT_GT(runJob(), 0);
    expectErrorEnd("a screen list without part 12");
    EXPECT_TRUE(e->found_card.valid);
}

TEST_F(RcvJobsTest, AFileReplacedWhileAJobPlaysItEndsTheJobInsteadOfStalling) {
    const std::string path = "/data/smartmapping/p.kvfile";
    const std::string desc = R"({"kind": "standalone", "ops": [
        {"type": 1, "target": 1, "addr": 0, "fill": 3000, "seed": SEED, "timeticks": 500}]})";
    auto with = [&](const char* seed) { return std::string(desc).replace(desc.find("SEED"), 4, seed); };
    testkit::generateRcvFile(path, with("1"));
    g_kvfile_name = QString::fromStdString(path);
    line_type[line_field::kPort] = 1;
    plug(1, 1);
    searchCards();
    cardsOn(1)[0].policy = plat::sim::CardAnswerPolicy::Silent;
    clearLogs();
    startJob(kLoadScan);
    for (int k = 0; k < 400 && u8(kSubStep) != 31; ++k) tick();
    ASSERT_EQ(u8(kSubStep), 31) << "waiting for the first packet's answer";
    testkit::generateRcvFile(path, with("2"));  // the repeat's data is no longer there to read
    ASSERT_GT(runJob(1000), 0) << "the job must not wait for a file it can no longer read";
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(jobFrames(1).size(), 1u) << "nothing of the new file goes out";
}

TEST_F(RcvJobsTest, AnAnswerOnTheLineIsTakenBeforeItsWaitMayRunOut) {
    testkit::generateRcvFile("/data/smartmapping/t.kvfile", R"({"kind": "standalone", "ops": [
        {"type": 1, "target": 2, "data": "0102", "timeticks": 0}]})");
    g_kvfile_name = QStringLiteral("/data/smartmapping/t.kvfile");
    line_type[line_field::kPort] = 5;
    plug(5, 1);
    searchCards();
    cardsOn(5)[0].delayTicks = 1;
    clearLogs();
    startJob(kLoadScan);
    for (int k = 0; k < 400 && u8(kSubStep) != 31; ++k) tick();
    ASSERT_EQ(u8(kSubStep), 31);
    // the panel's tick moved on while the answer came in, and the pass judging the wait has
    // not read the line yet
    G_timeTicks += 5;
    board().step(20 * kNsPerMs);
    e->card_job_deal();
    EXPECT_EQ(jobFrames(5).size(), 1u) << "answered: not sent again";
    ASSERT_GT(runJob(), 0);
    EXPECT_TRUE(unanswered.empty());
}
