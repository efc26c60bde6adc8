// The cards' bus shared by a PC on the TCP link and the FPGA engine's own card work, with the
// real engines on the standard simulated board (the test runs their passes tick by tick): a
// pass-through that comes while the FPGAs restart with a new LED layout, and the panel's card
// jobs beside a PC that polls the controller or the FPGAs, and the first seconds after a start.
#include <algorithm>
#include <future>

#include "core/vlxrampara.h"
#include "engines_fixture.h"
#include "fpga/job_block.h"

using namespace prototest;
using namespace ctl;

namespace {

// Read 4 bytes at 0x100 of card `card` on [7] = 1 (FPGA 0, port 0), with its checksum.
std::vector<uint8_t> readCard(uint16_t card) {
    std::vector<uint8_t> f = {uint8_t(card), uint8_t(card >> 8), 0x10, 0xF0, 0x10, 'g', 1, 1, 0, 0x61, 0, 1, 0, 0, 4, 0, 0, 0};
    uint8_t x = 0;
    for (uint8_t b : f) x ^= b;
    f.push_back(x);
    return f;
}

class CardBusShareTest : public EnginesWorld {
protected:
    void SetUp() override {
        EnginesWorld::SetUp();
        if (HasFatalFailure()) return;
        plat::sim::board().underLock([&] {
            fpga[0]->attachCards(0, 4);
            fpga[0]->chain(0)->cards[2].memory[0x100] = 0x3C;
        });
        pc = std::make_unique<RawClient>(networkManage::p_networkManage->port());
        ASSERT_TRUE(pc->connected());
    }
    // A request and its reply's status, answered without an engine pass.
    uint8_t ask(const std::vector<uint8_t>& f) {
        pc->send(line(f));
        const std::vector<uint8_t> r = pc->receive();
        return r.size() > kPayload ? r[kPayload] : 0xEE;
    }
    // A card frame sent, the engines' passes run from its arrival until its answer is in
    // (empty: none came).
    std::vector<uint8_t> passWhileTicking(const std::vector<uint8_t>& f, int limit = 2000) {
        pc_window::clear();
        pc->send(line(f));
        EXPECT_TRUE(eventually([] { return pc_window::open(); })) << "the frame arrived";
        auto answer = std::async(std::launch::async, [this] { return pc->receive(); });
        for (int k = 0; k < limit && answer.wait_for(std::chrono::seconds(0)) != std::future_status::ready; ++k) tick();
        return answer.get();
    }
    // Frames the host sent on FPGA 0 port 0 with opcode `op`.
    size_t sentOnPort0(uint8_t op) {
        size_t n = 0;
        plat::sim::board().underLock([&] {
            for (const auto& r : fpga[0]->cardLog()) n += !r.answer && r.port == 0 && r.bytes.size() > 9 && r.bytes[9] == op;
        });
        return n;
    }
    void startJob(uint8_t op) {
        job_block::setU8(job_block::kStep, 0);
        job_block::setU8(job_block::kOperation, op);
    }
    // Ticks until the job has ended, `poll` asked every `period` ticks; the ticks it took
    // (-1: not within the limit).
    int runJobBeside(const std::vector<uint8_t>& poll, int period, int limit) {
        for (int k = 0; k < limit; ++k) {
            if (job_block::operation() == job_block::kNoJob) return k;
            if (period && k % period == 0 && ask(poll) != kStatusOk) return -1;
            tick();
        }
        return -1;
    }
    // A power cut: the FPGAs come back in their power-on state and the engine is made again
    // as start-up makes it; the flashes keep what they hold.
    void powerCut() {
        fpga_manage::resetInstanceForTest();
        plat::sim::board().underLock([&] {
            for (auto& f : fpga) {
                f->holdInReset(true);
                f->holdInReset(false);
            }
        });
        engine = fpga_manage::pInstance();
        engine->stopThread();
    }
    std::vector<uint8_t> geometry(uint8_t fpgaPort) {
        pc->send(line(frame(kGroupOutputGeometry, {}, kAddrSendingCard, fpgaPort)));
        return pc->receive();
    }
    std::unique_ptr<RawClient> pc;
};

}  // namespace

// After a new splice mode (RAM 0x560, then register 11) both FPGAs restart. A pass-through that
// comes a second into it waits for FPGA 0 instead of going into it while it is held in reset,
// and the engine's passes go on meanwhile (they bring the FPGA up).
TEST_F(CardBusShareTest, APassThroughDuringTheRestartAfterASpliceChangeGetsItsCardsAnswer) {
    const auto before = passWhileTicking(readCard(2));
    ASSERT_GE(before.size(), 12u);
    EXPECT_EQ(before[11], 0x3C) << "answered before the change";

    const unsigned resets = fpga[0]->resets();
    ASSERT_EQ(ask(memWrite(vlxram::kSpliceMode, le16(2))), kStatusOk);
    ASSERT_EQ(ask(regWrite(kRegUpdate, 0x02, 0x02)), kStatusOk);
    ASSERT_TRUE(tickUntil([&] { return fpga[0]->resets() > resets; })) << "the new layout restarts the FPGAs";
    tick(100);
    ASSERT_TRUE(fpga[0]->inReset());
    const auto a = passWhileTicking(readCard(2));
    ASSERT_GE(a.size(), 12u) << "the card's answer";
    EXPECT_EQ(a[7], 1);
    EXPECT_EQ(a[11], 0x3C);
    uint8_t x = 0;
    for (size_t i = 0; i + 1 < a.size(); ++i) x ^= a[i];
    EXPECT_EQ(x, a.back());
    EXPECT_EQ(engine->busySends(), 0u) << "the simulated FPGAs' transmit is never busy";
    EXPECT_EQ(fpga[0]->misuseCount() + fpga[1]->misuseCount(), 0u);
}

// A PC tool that reads a RAM word every 0.3 s holds no card job: parameter saving ends beside
// it. A pass-through still holds the job for the 80 ticks after it.
TEST_F(CardBusShareTest, APollingPcLeavesTheCardJobsRunningWhileAPassThroughHoldsThemEightyTicks) {
    ASSERT_TRUE(tickUntil([&] { return fpga_manage::get_port_card_num(0) > 0; }, 500)) << "the search found port 0's cards";
    startJob(job_block::kSaveParams);
    int k = 0;
    for (; k < 3000 && job_block::operation() != job_block::kNoJob; ++k) {
        if (k % 30 == 0) {
            ASSERT_EQ(ask(memRead(0x880, 2)), kStatusOk);
        }
        tick();
    }
    EXPECT_EQ(job_block::operation(), job_block::kNoJob) << "the job ended beside the polls";
    const size_t saves = sentOnPort0(0x81);
    EXPECT_GE(saves, 1u);

    startJob(job_block::kSaveParams);
    const uint32_t passed = G_timeTicks.load();
    pc->send(line(readCard(2)));
    ASSERT_FALSE(pc->receive().empty()) << "the card answered";
    ASSERT_TRUE(tickUntil([&] { return sentOnPort0(0x81) > saves; }, 500));
    EXPECT_GT(G_timeTicks.load() - passed, pc_window::kTicks) << "the job's frame waited for the window's end";
    EXPECT_TRUE(tickUntil([] { return job_block::operation() == job_block::kNoJob; }, 3000));
}

// A PC tool that reads an FPGA register every 0.3 s, or every 2 s, puts nothing on the cards'
// bus: parameter saving beside it ends within 20 s of board time.
TEST_F(CardBusShareTest, FpgaRegisterPollsLeaveParameterSavingToEndWithinTwentySeconds) {
    ASSERT_TRUE(tickUntil([&] { return fpga_manage::get_port_card_num(0) > 0; }, 500)) << "the search found port 0's cards";
    const auto poll = frame(kGroupReadRegisters, cat(le16(22), le16(1)), kAddrSendingCard, 1);
    for (int period : {30, 200}) {
        startJob(job_block::kSaveParams);
        EXPECT_GE(runJobBeside(poll, period, 2000), 0) << "polled every " << period << " ticks";
        job_block::setU8(job_block::kOperation, job_block::kNoJob);
    }
}

// A PC that writes an FPGA RAM every 1.5 s holds the job 0.8 s each time: the job's step
// pauses and goes on, so it ends in its own time plus the time held, not never.
TEST_F(CardBusShareTest, APcHoldingTheBusAgainAndAgainPausesTheJobWithoutStartingItsStepOver) {
    ASSERT_TRUE(tickUntil([&] { return fpga_manage::get_port_card_num(0) > 0; }, 500));
    startJob(job_block::kSaveParams);
    const int alone = runJobBeside({}, 0, 3000);
    ASSERT_GT(alone, 0);
    startJob(job_block::kSaveParams);
    const int beside = runJobBeside(memWrite(0x30210000, {1, 2}), 150, 20 * alone);
    EXPECT_GE(beside, alone) << "held meanwhile";
    EXPECT_LE(beside, 3 * alone + 2 * 150) << "its own time plus 80 of every 150 ticks";
}

// A save in the first seconds after a start would store the engine's image before the start-up
// has read the saved record into it: it is refused, and the saved layout survives the next cut.
TEST_F(CardBusShareTest, ASaveBeforeTheStartUpReadTheRecordIsRefusedAndTheLayoutSurvives) {
    ASSERT_EQ(ask(frame(kGroupParamSave, {}, kAddrSendingCard)), kStatusOk);
    const auto before0 = geometry(1), before1 = geometry(2);
    ASSERT_GT(before0.size(), kPayload + 16);
    ASSERT_NE(std::count(before0.begin() + kPayload + 1, before0.end() - 1, 0), 16) << "a layout, not zeros";

    powerCut();
    EXPECT_EQ(ask(frame(kGroupParamSave, {}, kAddrSendingCard)), kStatusUnavailable);
    powerCut();
    ASSERT_TRUE(tickUntil([&] { return engine->get_fpga_status() == 1; }, 3000));
    EXPECT_EQ(geometry(1), before0);
    EXPECT_EQ(geometry(2), before1);
    EXPECT_EQ(ask(frame(kGroupParamSave, {}, kAddrSendingCard)), kStatusOk) << "saved once loaded";
}

// Right after a start the FPGAs are not set up for the cards yet: a pass-through that comes
// then waits for the start-up, as one does during a restart, and is answered by its card.
TEST_F(CardBusShareTest, APassThroughRightAfterStartWaitsForTheStartUpAndIsAnswered) {
    powerCut();
    plat::sim::board().underLock([&] { fpga[0]->clearCardLog(); });
    pc_window::clear();
    pc->send(line(readCard(2)));
    ASSERT_TRUE(eventually([] { return pc_window::open(); })) << "the frame arrived";
    auto answer = std::async(std::launch::async, [this] { return pc->receive(); });
    plat::sim::BoardNs loaded = 0;
    for (int k = 0; k < 2000 && answer.wait_for(std::chrono::seconds(0)) != std::future_status::ready; ++k) {
        tick();
        if (!loaded && engine->image_loaded[0]) loaded = plat::sim::board().now();
    }
    const auto a = answer.get();
    ASSERT_GE(a.size(), 12u) << "the card's answer";
    EXPECT_EQ(a[11], 0x3C);
    ASSERT_NE(loaded, 0u);
    plat::sim::board().underLock([&] {
        for (const auto& r : fpga[0]->cardLog()) {
            if (!r.answer && r.bytes.size() > 9 && r.bytes[9] == 0x61) {
                EXPECT_GE(r.time, loaded) << "sent after the start-up";
            }
        }
    });
}
