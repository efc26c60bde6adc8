#pragma once
// Pace of a worker loop that has to poll: hardware without an interrupt line, request
// flags set by other threads. On the device such a loop sleeps 1 us per pass; a dozen of
// them doing that while nothing happens keep a PC core busy and warm the board for
// nothing. The pacer keeps the short pause while passes find work and lets it grow while
// they do not, up to the loop's idle limit (ten ticks unless it says otherwise), so an
// idle loop wakes a few times a second. A time-out counted in ticks is then seen at most
// that late; a request from another thread is seen at once when its writer wakes the
// loop (wake(), or a WakeSlot below).
// Loops that wait for one thing (a socket, a device, a queue) block on it instead.
#include <condition_variable>
#include "platform/annotated_mutex.h"
#include <cstdint>
#include <mutex>

namespace plat {

// The 10 ms tick: the unit of every time-out of the workers.
constexpr uint64_t kTickUs = 10000;
// The longest pause of an idle polling loop, in ticks.
constexpr uint32_t kIdlePaceTicks = 10;
// No pause is shorter: a loop never spins a core, even when tests shorten sleeps.
constexpr uint64_t kMinPaceUs = 50;

class WorkerPacer {
public:
    // `busyUs`: the pause after a pass that found work (the device's 1 us is 50 us here).
    // `growth`: what each idle pass multiplies the pause by. A loop whose every wait counts
    // whole ticks has nothing due sooner after a pass that found nothing, and may go
    // straight to the idle limit.
    explicit WorkerPacer(uint64_t busyUs = 1, uint32_t idleTicks = kIdlePaceTicks, uint32_t growth = 2);
    WorkerPacer(const WorkerPacer&) = delete;
    WorkerPacer& operator=(const WorkerPacer&) = delete;

    // Ends a pass. After one that found work the pause is the short one; every idle pass
    // multiplies the last pause by the growth (doubles it by default), up to the idle
    // limit. Pauses scale with plat::setSleepScale; wake() ends one.
    void pass(bool didWork);
    // Another thread gave the loop work: the pause in progress ends and the next is short.
    void wake();
    // For a loop with nothing to poll for until another thread hands it work: sleeps
    // until wake() (at once when one came since the last pass); the next pause is short.
    void waitForWake();
    // The pause the next idle pass() will take, unscaled.
    uint64_t nextIdlePauseUs() const;
    // A thread is inside pass()'s pause or waitForWake() (tests wake it only then).
    bool pausing() const;

private:
    uint64_t grown() const;  // the pause of an idle pass after the last one
    const uint64_t busyUs_;
    const uint64_t idleUs_;
    const uint32_t growth_;
    mutable plat::Mutex mutex_{Lock::Pacer};
    std::condition_variable_any cv_;
    uint64_t pauseUs_;  // the last pause
    bool woken_ = false;
    int pausing_ = 0;  // threads in a pause, under mutex_
};

// Where another thread finds a loop to wake: the loop's owner fills it when its thread
// starts and empties it before the thread (and its pacer) go, so a late wake never
// reaches a pacer that is gone.
class WakeSlot {
public:
    void set(WorkerPacer* pacer);
    void wake();

private:
    plat::Mutex mutex_{Lock::WakeSlot};
    WorkerPacer* pacer_ = nullptr;
};

}  // namespace plat
