// Polling worker loops pace themselves: short pauses while there is work, a quiet idle.
#include <atomic>
#include <chrono>
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

TEST_F(WorkerPacerTest, WakeEndsALongIdlePauseAtOnce) {
    plat::WorkerPacer pacer(1, 500);  // up to 5 s
    for (int i = 0; i < 30; ++i) pacer.pass(false);  // sleeps are scaled away here
    ASSERT_EQ(pacer.nextIdlePauseUs(), 500 * plat::kTickUs);
    plat::setSleepScale(40.0);  // the 5 s pause made 200 s: only the wake ends it in time
    std::atomic<bool> done{false};
    std::thread loop([&] {
        pacer.pass(false);
        done = true;
    });
    EXPECT_TRUE(testkit::waitUntil([&] { return pacer.pausing(); }));
    EXPECT_FALSE(done.load());
    pacer.wake();
    EXPECT_TRUE(testkit::waitUntil([&] { return done.load(); }));
    loop.join();
    EXPECT_EQ(pacer.nextIdlePauseUs(), plat::kMinPaceUs);  // the wake counts as work

    // a loop with nothing to poll for sleeps until woken, however long that takes; a
    // wake that came first is not lost
    plat::setSleepScale(0);
    for (int i = 0; i < 30; ++i) pacer.pass(false);
    done = false;
    std::thread waiting([&] {
        pacer.waitForWake();
        done = true;
    });
    EXPECT_TRUE(testkit::waitUntil([&] { return pacer.pausing(); }));
    EXPECT_FALSE(done.load());
    pacer.wake();
    waiting.join();
    EXPECT_EQ(pacer.nextIdlePauseUs(), 2 * plat::kMinPaceUs);
    pacer.wake();
    pacer.waitForWake();  // returns at once
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
