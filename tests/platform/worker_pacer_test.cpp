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
    plat::setSleepScale(1.0);
    std::atomic<bool> done{false};
    const Clock::time_point start = Clock::now();
    std::thread loop([&] {
        pacer.pass(false);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(done.load());
    pacer.wake();
    loop.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
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
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
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
    int passes = 0;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(300);
    while (Clock::now() < until) {
        pacer.pass(false);
        ++passes;
    }
    // the ramp from 100 us to 100 ms takes eleven passes (~100 ms), then one pass per
    // 100 ms; at a fixed 50 us pause it would be thousands
    EXPECT_LT(passes, 20);
    EXPECT_GT(passes, 5);
}

}  // namespace
