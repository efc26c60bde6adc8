// Polling worker loops pace themselves: short pauses while there is work, a quiet idle.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/platform.h"
#include "platform/worker_pacer.h"
#include "support/testkit.h"

namespace {

using WorkerPacerTest = testkit::SimBoardTest;
using Clock = std::chrono::steady_clock;

TEST_F(WorkerPacerTest, IdlePausesGrowToTheLimitAndWorkMakesThemShortAgain) {
    plat::WorkerPacer pacer(1, 5);
    EXPECT_EQ(pacer.nextIdlePauseUs(), 2 * plat::kMinPaceUs);
    uint64_t last = 0;
    for (int i = 0; i < 20; ++i) {
        pacer.pass(false);
        EXPECT_GE(pacer.nextIdlePauseUs(), last);
        last = pacer.nextIdlePauseUs();
    }
    EXPECT_EQ(last, 5 * plat::kTickUs);
    pacer.pass(true);
    EXPECT_EQ(pacer.nextIdlePauseUs(), 2 * plat::kMinPaceUs);
    plat::WorkerPacer slow(20000, 1);  // a busy pause longer than the idle limit wins
    slow.pass(false);
    EXPECT_EQ(slow.nextIdlePauseUs(), 20000u);
    // a loop whose waits all count ticks: one idle pass after work and it is at the limit
    plat::WorkerPacer ticked(plat::kTickUs, 20, 20);
    ticked.pass(true);
    EXPECT_EQ(ticked.nextIdlePauseUs(), 20 * plat::kTickUs);
}

// A loop's pass on a thread of its own. What the thread uses is shared with it: one whose pause
// a wake failed to end is left behind, so the test fails within waitUntil's limit instead of
// waiting out a 200 s pause or a wake that never comes.
class LoopThread {
public:
    template <typename Pass>
    explicit LoopThread(Pass pass) {
        thread_ = std::thread([pass, done = done_] {
            pass();
            *done = true;
        });
    }
    ~LoopThread() {
        if (thread_.joinable()) thread_.detach();
    }
    bool done() const { return *done_; }
    bool ends() {
        if (!testkit::waitUntil([&] { return done(); })) return false;
        thread_.join();
        return true;
    }

private:
    std::shared_ptr<std::atomic<bool>> done_ = std::make_shared<std::atomic<bool>>(false);
    std::thread thread_;
};

TEST_F(WorkerPacerTest, WakeEndsALongIdlePauseAtOnce) {
    auto pacer = std::make_shared<plat::WorkerPacer>(1, 500);  // up to 5 s
    for (int i = 0; i < 30; ++i) pacer->pass(false);  // sleeps are scaled away here
    ASSERT_EQ(pacer->nextIdlePauseUs(), 500 * plat::kTickUs);
    plat::setSleepScale(40.0);  // the 5 s pause made 200 s: only the wake ends it in time
    LoopThread loop([pacer] { pacer->pass(false); });
    EXPECT_TRUE(testkit::waitUntil([&] { return pacer->pausing(); }));
    EXPECT_FALSE(loop.done());
    pacer->wake();
    ASSERT_TRUE(loop.ends()) << "the wake did not end the pause";
    EXPECT_EQ(pacer->nextIdlePauseUs(), plat::kMinPaceUs);  // the wake counts as work

    // a loop with nothing to poll for sleeps until woken, however long that takes; a
    // wake that came first is not lost
    plat::setSleepScale(0);
    for (int i = 0; i < 30; ++i) pacer->pass(false);
    LoopThread waiting([pacer] { pacer->waitForWake(); });
    EXPECT_TRUE(testkit::waitUntil([&] { return pacer->pausing(); }));
    EXPECT_FALSE(waiting.done());
    pacer->wake();
    ASSERT_TRUE(waiting.ends()) << "the wake did not end the wait";
    EXPECT_EQ(pacer->nextIdlePauseUs(), 2 * plat::kMinPaceUs);
    pacer->wake();
    pacer->waitForWake();  // returns at once
}

TEST_F(WorkerPacerTest, IdleLoopWakesRarelyInsteadOfSpinning) {
    plat::setSleepScale(1.0);
    plat::WorkerPacer pacer;  // the device's 1 us pass
    // The ramp from 100 us to 100 ms takes ten passes (102 ms), then one pass per 100 ms:
    // fourteen idle passes take at least 500 ms however loaded the machine, since no pause
    // ends early; at a fixed 50 us pause they would take under a millisecond.
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 14; ++i) pacer.pass(false);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(pacer.nextIdlePauseUs(), plat::kIdlePaceTicks * plat::kTickUs);
}

}  // namespace
