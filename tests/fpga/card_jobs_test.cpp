// Receiving-card jobs run by the engine thread against the simulated card chains: parameter
// saving, the mapping switch and the smart set-up's card origins.
#include <set>

#include "card_fixture.h"

using namespace fpgatest;
using namespace job_block;

namespace {

uint16_t origin(const plat::sim::SimCard& c, uint32_t at) {
    auto byte = [&](uint32_t a) -> int {
        auto it = c.memory.find(a);
        return it == c.memory.end() ? -1 : it->second;
    };
    if (byte(at) < 0 || byte(at + 1) < 0) return 0xFFFF;
    return uint16_t(byte(at) | byte(at + 1) << 8);
}

void setGrid(uint16_t w, uint16_t h, uint8_t rows, uint8_t cols, uint8_t pattern, uint8_t port = 0,
             uint16_t dx = 0, uint16_t dy = 0) {
    line_type[line_field::kCabinetWidth] = uint8_t(w);
    line_type[line_field::kCabinetWidth + 1] = uint8_t(w >> 8);
    line_type[line_field::kCabinetHeight] = uint8_t(h);
    line_type[line_field::kCabinetHeight + 1] = uint8_t(h >> 8);
    line_type[line_field::kOffsetX] = uint8_t(dx);
    line_type[line_field::kOffsetX + 1] = uint8_t(dx >> 8);
    line_type[line_field::kOffsetY] = uint8_t(dy);
    line_type[line_field::kOffsetY + 1] = uint8_t(dy >> 8);
    line_type[line_field::kPort] = port;
    line_type[line_field::kRows] = rows;
    line_type[line_field::kColumns] = cols;
    line_type[line_field::kPattern] = pattern;
}

class CardJobsTest : public CardEngineTest {
protected:
    void SetUp() override {
        CardEngineTest::SetUp();
        std::memset(line_type, 0, sizeof line_type);
    }
    // Frames sent on global port `port` with opcode `op`.
    std::vector<Bytes> sentOp(int port, uint8_t op) {
        std::vector<Bytes> out;
        for (const Bytes& f : sent(port / 16, port % 16))
            if (f.size() > 9 && f[9] == op) out.push_back(f);
        return out;
    }
    bool endsWith100(const std::vector<int>& p) { return !p.empty() && p.back() == 100; }
};

}  // namespace

TEST_F(CardJobsTest, ParameterSavingReachesEveryPortWithCardsAndNamesTheSilentOne) {
    plug(0, 3);
    plug(5, 2);
    plug(18, 4);  // FPGA 1, port 2
    searchCards();
    for (auto& c : cardsOn(18)) c.policy = plat::sim::CardAnswerPolicy::Silent;
    cardsOn(5)[0].policy = plat::sim::CardAnswerPolicy::BadChecksum;  // a corrupted answer is none
    fpga(0).clearCardLog();
    fpga(1).clearCardLog();
    startJob(kSaveParams);
    const int ticks = runJob();
    ASSERT_GT(ticks, 0) << "the job never ended";
    for (int port : {0, 5, 18})
        for (auto& c : cardsOn(port)) EXPECT_EQ(c.saves, 1u) << "port " << port;
    for (int port : {1, 2, 3, 4, 6, 16, 17, 31}) EXPECT_TRUE(sent(port / 16, port % 16).empty()) << port;
    const auto f = sentOp(18, 0x81);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].size(), 13u);
    EXPECT_EQ(u16(f[0], 0), 0x0FFF);
    EXPECT_EQ(f[0][7], 3) << "the port within FPGA 1, + 1";
    // the silent port waits its whole time-out (1200 + 100 per card), then the job ends at 100
    EXPECT_GT(ticks, 1600);
    EXPECT_EQ(unanswered, (std::vector<std::string>{"LED06", "LED19"}));
    ASSERT_TRUE(endsWith100(progress));
    EXPECT_EQ(progress[progress.size() - 2], 95);
    EXPECT_EQ(progress.front(), 0) << "port 0's send";
    EXPECT_EQ(guestErrors(), 0u);
}

TEST_F(CardJobsTest, MappingSwitchSendsTheEnableValueAndEndsWithoutWaitingOnAnsweringPorts) {
    plug(3, 2);
    plug(30, 5);
    searchCards();
    job_block::setU32(kArgument, 9);
    startJob(kMappingSwitch);
    const int ticks = runJob();
    ASSERT_GT(ticks, 0);
    for (int port : {3, 30})
        for (auto& c : cardsOn(port)) EXPECT_EQ(c.mappingDisplay, 9) << port;
    EXPECT_LT(ticks, 230) << "answered ports cost no time-out: only the 200-tick close";
    EXPECT_TRUE(unanswered.empty());
    job_block::setU32(kArgument, 0);
    startJob(kMappingSwitch);
    ASSERT_GT(runJob(), 0);
    for (int port : {3, 30})
        for (auto& c : cardsOn(port)) EXPECT_EQ(c.mappingDisplay, 0) << port;
}

TEST_F(CardJobsTest, AnAnswerFromAnotherPortOrALateOneIsNoAnswerToTheFrameSent) {
    plug(0, 3);
    plug(1, 2);
    searchCards();
    // every card of port 0 answers the broadcast, one of them only after its port's time-out;
    // port 1 stays silent: none of port 0's answers may end port 1's wait
    fpga(0).chain(0)->broadcastAllAnswer = true;
    cardsOn(0)[2].delayTicks = 1300;
    for (auto& c : cardsOn(1)) c.policy = plat::sim::CardAnswerPolicy::Silent;
    startJob(kMappingSwitch);
    const int ticks = runJob();
    ASSERT_GT(ticks, 0);
    EXPECT_EQ(unanswered, std::vector<std::string>{"LED02"});
    EXPECT_GT(ticks, 1200 + 200) << "port 1 waited its whole time-out";
}

// The hold pauses the step's wait: it goes on after the window, neither restarted nor counted on.
TEST_F(CardJobsTest, APcFrameHoldsTheJobUntilEightyTicksAfterItAndItsWaitGoesOnAfter) {
    plug(0, 1);
    searchCards();
    for (auto& c : cardsOn(0)) c.policy = plat::sim::CardAnswerPolicy::Silent;
    startJob(kSaveParams);
    tick(3);
    ASSERT_EQ(u8(kStep), 3);
    const uint32_t sentAt = u32(kStepTime);
    tick(200);
    pc_window::note();
    const uint32_t heldAt = G_timeTicks.load();
    tick(50);
    EXPECT_EQ(u8(kStep), 3);
    tick(40);
    EXPECT_FALSE(pc_window::open());
    const uint32_t released = G_timeTicks.load();
    while (u8(kStep) == 3 && G_timeTicks.load() < sentAt + 3000) tick();
    EXPECT_NE(u8(kStep), 3);
    // 1200 + 100 per card; the window held it 82 of the 90 ticks
    const uint32_t waited = G_timeTicks.load() - sentAt - (released - heldAt);
    EXPECT_GE(waited, 1290u);
    EXPECT_LE(waited, 1305u);
}

TEST_F(CardJobsTest, AnUndefinedStepOrOperationEndsTheJobInsteadOfStallingTheIdleWork) {
    startJob(kSaveParams);
    setU8(kStep, 7);
    tick();
    EXPECT_EQ(operation(), kNoJob);
    EXPECT_TRUE(endsWith100(progress));
    progress.clear();
    startJob(kSmartSetup);
    setU8(kStep, kStepIdle);
    tick();
    EXPECT_EQ(operation(), kNoJob);
    EXPECT_TRUE(endsWith100(progress));
    progress.clear();
    startJob(42);
    tick();
    EXPECT_EQ(operation(), kNoJob);
    EXPECT_TRUE(endsWith100(progress));
    // the idle work runs again: a newly plugged chain is found
    plug(4, 2);
    searchCards();
    EXPECT_EQ(e->get_port_card_num(4), 2);
}

TEST_F(CardJobsTest, NoPortWithCardsGoesStraightTo95ThenTo100AfterTwoHundredTicks) {
    startJob(kSaveParams);
    const int ticks = runJob();
    EXPECT_GE(ticks, 201);
    EXPECT_LE(ticks, 203);
    EXPECT_EQ(progress, (std::vector<int>{95, 100}));
    EXPECT_TRUE(fpga(0).cardLog().empty() && fpga(1).cardLog().empty());
}

// ---------------------------------------------------------------- origins

TEST_F(CardJobsTest, EveryPatternMapsTheChainOneToOneOntoTheGridBothWays) {
    for (auto rk : {std::pair<int, int>{2, 3}, {3, 2}, {4, 5}, {1, 4}, {4, 1}, {3, 3}}) {
        for (int pattern = 1; pattern <= 16; ++pattern) {
            setGrid(100, 10, uint8_t(rk.first), uint8_t(rk.second), uint8_t(pattern));
            std::set<std::pair<int, int>> seen;
            for (int p = 0; p < rk.first * rk.second; ++p) {
                uint16_t x = 0xAAAA, y = 0xAAAA;
                ASSERT_EQ(e->get_rcvcard_x_y(p, &x, &y), 1);
                ASSERT_EQ(x % 100, 0);
                ASSERT_EQ(y % 10, 0);
                ASSERT_LT(x / 100, rk.second) << "pattern " << pattern;
                ASSERT_LT(y / 10, rk.first) << "pattern " << pattern;
                seen.insert({x, y});
            }
            EXPECT_EQ(int(seen.size()), rk.first * rk.second) << "pattern " << pattern << " " << rk.first << "x"
                                                                << rk.second;
        }
    }
}

TEST_F(CardJobsTest, PatternsRunTheirRoutes) {
    auto route = [&](int pattern, int rows, int cols) {
        setGrid(128, 64, uint8_t(rows), uint8_t(cols), uint8_t(pattern));
        std::vector<std::pair<int, int>> r;
        for (int p = 0; p < rows * cols; ++p) {
            uint16_t x, y;
            e->get_rcvcard_x_y(p, &x, &y);
            r.push_back({x, y});
        }
        return r;
    };
    using V = std::vector<std::pair<int, int>>;
    EXPECT_EQ(route(4, 2, 3), (V{{0, 0}, {128, 0}, {256, 0}, {256, 64}, {128, 64}, {0, 64}}));
    EXPECT_EQ(route(1, 2, 3)[0], (std::pair<int, int>{256, 64}));
    EXPECT_EQ(route(1, 2, 3)[3], (std::pair<int, int>{0, 0}));
    EXPECT_EQ(route(14, 2, 3), (V{{0, 0}, {0, 64}, {128, 0}, {128, 64}, {256, 0}, {256, 64}}));
    // 12: columns from the left, each bottom to top
    EXPECT_EQ(route(12, 2, 3), (V{{0, 64}, {0, 0}, {128, 64}, {128, 0}, {256, 64}, {256, 0}}));
    EXPECT_EQ(route(12, 3, 2), route(15, 3, 2));
    // snake routes step from a cabinet to its neighbour
    for (int pattern = 1; pattern <= 8; ++pattern) {
        const V r = route(pattern, 3, 4);
        for (size_t k = 1; k < r.size(); ++k)
            EXPECT_EQ(std::abs(r[k].first - r[k - 1].first) / 128 + std::abs(r[k].second - r[k - 1].second) / 64, 1)
                << "pattern " << pattern << " step " << k;
    }
}

TEST_F(CardJobsTest, NoOriginForAnUndefinedPatternAnEmptyGridOrAPlaceOffTheGrid) {
    uint16_t x = 7, y = 7;
    for (auto g : {std::array<int, 3>{0, 2, 3}, {17, 2, 3}, {4, 0, 3}, {4, 2, 0}}) {
        setGrid(128, 64, uint8_t(g[1]), uint8_t(g[2]), uint8_t(g[0]));
        EXPECT_EQ(e->get_rcvcard_x_y(0, &x, &y), 0);
    }
    setGrid(128, 64, 2, 3, 1);
    EXPECT_EQ(e->get_rcvcard_x_y(6, &x, &y), 0) << "row R-1-a would wrap";
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 7);
}

TEST_F(CardJobsTest, SmartSetupWritesEachCardsOriginPlusOffsetsAt0x180OnAnFpga1Port) {
    plug(20, 6);  // FPGA 1 port 4
    searchCards();
    setGrid(128, 64, 2, 3, 4, 20, 10, 20);
    fpga(1).clearCardLog();
    startJob(kSmartSetup);
    ASSERT_GT(runJob(), 0);
    const int want[6][2] = {{0, 0}, {128, 0}, {256, 0}, {256, 64}, {128, 64}, {0, 64}};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(origin(cardsOn(20)[size_t(c)], 0x180), want[c][0] + 10) << c;
        EXPECT_EQ(origin(cardsOn(20)[size_t(c)], 0x182), want[c][1] + 20) << c;
    }
    const auto frames = sentOp(20, 0x60);
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[0].size(), 23u);
    EXPECT_EQ(frames[0][7], 5);
    EXPECT_EQ(u16(frames[0], 0) >> 12, 0) << "port bits of port 4 & 3";
    const auto reset = sentOp(20, 0xA0);
    ASSERT_EQ(reset.size(), 1u);
    EXPECT_EQ(Bytes(reset[0].begin() + 10, reset[0].begin() + 14), (Bytes{0x01, 0xFF, 0x01, 0xFF}));
    EXPECT_EQ(u16(reset[0], 0), 0x0FFE);
}

TEST_F(CardJobsTest, SmartSetupOfThreeCardsReportsQuartersThenNinetyAndHundred) {
    plug(0, 3);
    searchCards();
    setGrid(64, 64, 1, 3, 10);
    startJob(kSmartSetup);
    ASSERT_GT(runJob(), 0);
    EXPECT_EQ(progress, (std::vector<int>{25, 50, 75, 75, 90, 100}));
}

TEST_F(CardJobsTest, CardsPastTheGridGetNoOriginAndASilentCardIsPassedOverAndNamed) {
    plug(7, 8);
    searchCards();
    setGrid(128, 64, 2, 3, 10, 7);
    cardsOn(7)[1].policy = plat::sim::CardAnswerPolicy::Silent;
    fpga(0).clearCardLog();
    startJob(kSmartSetup);
    const int ticks = runJob();
    ASSERT_GT(ticks, 1200);
    for (int c = 6; c < 8; ++c) EXPECT_TRUE(cardsOn(7)[size_t(c)].memory.empty()) << c;
    for (const Bytes& f : sentOp(7, 0x60)) EXPECT_LT(u16(f, 0) & 0xFFF, 6) << "a frame for a card off the grid";
    EXPECT_EQ(origin(cardsOn(7)[5], 0x182), 64);
    EXPECT_EQ(unanswered, std::vector<std::string>{"LED08 card 1"});
}

TEST_F(CardJobsTest, SmartSetupRefusesAPatternOutsideTheSixteenOrAnEmptyGridSendingNothing) {
    plug(0, 2);
    searchCards();
    for (auto g : {std::array<int, 3>{0, 2, 3}, {17, 2, 3}, {4, 0, 3}, {4, 2, 0}}) {
        setGrid(128, 64, uint8_t(g[1]), uint8_t(g[2]), uint8_t(g[0]));
        fpga(0).clearCardLog();
        progress.clear();
        startJob(kSmartSetup);
        EXPECT_EQ(runJob(5), 1);
        EXPECT_TRUE(sent(0, 0).empty());
        EXPECT_EQ(progress, std::vector<int>{100});
    }
}

TEST_F(CardJobsTest, AnAnsweredFrameCostsNoMoreThanOneEnginePass) {
    plug(2, 64);
    searchCards();
    setGrid(32, 32, 8, 8, 10, 2);
    startJob(kSmartSetup);
    int passes = 0;
    while (u8(kStep) != 9 && passes < 1000) {
        tick();
        ++passes;
    }
    EXPECT_EQ(sentOp(2, 0x60).size(), 64u);
    EXPECT_LE(passes, 64) << "64 answered origin frames and the reset frame";
}

TEST_F(CardJobsTest, AnInterruptLineStuckHighOnTheOtherFpgaDoesNotHoldAJobsWaitForGood) {
    plug(3, 2);
    searchCards();
    for (auto& c : cardsOn(3)) c.policy = plat::sim::CardAnswerPolicy::Silent;
    // FPGA 1 drops out with its interrupt line left high: nothing on it can ever be taken
    fpga(1).holdInReset(true);
    board().setReg16(plat::wiring::kGpioFpga1Irq, 1);
    startJob(kSaveParams);
    const int ticks = runJob(6000);
    ASSERT_GT(ticks, 0) << "the silent port's wait never ran out";
    EXPECT_EQ(unanswered, std::vector<std::string>{"LED04"});
    EXPECT_EQ(progress.empty() ? -1 : progress.back(), 100);
}
