#pragma once
// The parameter RAM's writer lock and the hand-over to the C331 manager, declared here so that
// the RAM in core can name its guard and hand its changes over without reaching above core.
// The scaler manager stands behind it: c331_manage inherits ManageLock (manage_mutex,
// update_flag and wakeManager are its names there) and defines these members.
#include <atomic>
#include <cstdint>
#include <optional>

#include "platform/annotated_mutex.h"

struct ManageLock {
    // RAM writers, the manager's pass and its base (docs/architecture.md, "Locks").
    static plat::Mutex manage_mutex;
    // Holds of manage_mutex by this thread through ManageMutexLocker (the pass's own included).
    static thread_local int manage_held_here;   // each thread's own
    // The hand-over: a writer sets it under manage_mutex (1 apply, 2 apply and keep the
    // user-mode files); the manager's pass takes it under the same mutex.
    static std::atomic<uint8_t> update_flag;
    // A writer handed the manager work: its pause ends now (any thread, any lock held).
    static void wakeManager();
    // The manager's base takes the RAM as it is now: what start-up loaded is no change to apply.
    static void baseTakesRam() REQUIRES(manage_mutex);

    // Tells the analysis the lock is held where it cannot see the hold: only in code that runs
    // before any other thread touches the RAM (start-up, a test's single-threaded setup).
    static void assumeHeldAlone() ASSERT_CAPABILITY(manage_mutex) {}
};

// Holds ManageLock::manage_mutex for one scope; a hand-over left in update_flag wakes the
// manager once the mutex is let go.
class SCOPED_CAPABILITY ManageMutexLocker {
public:
    ManageMutexLocker() ACQUIRE(ManageLock::manage_mutex) {
        ManageLock::manage_mutex.lock();
        ++ManageLock::manage_held_here;
    }
    ~ManageMutexLocker() RELEASE() {
        --ManageLock::manage_held_here;
        const bool handedOver = ManageLock::update_flag != 0;
        ManageLock::manage_mutex.unlock();
        if (handedOver) ManageLock::wakeManager();
    }
    ManageMutexLocker(const ManageMutexLocker&) = delete;
    ManageMutexLocker& operator=(const ManageMutexLocker&) = delete;
};

// Holds ManageLock::manage_mutex for one scope unless this thread holds it already (code
// reached from inside a writer's or the pass's own hold, such as a change announced there).
// To the analysis the scope holds the lock either way; the body it cannot follow.
class SCOPED_CAPABILITY ManageMutexUnlessHeld {
public:
    ManageMutexUnlessHeld() ACQUIRE(ManageLock::manage_mutex) NO_THREAD_SAFETY_ANALYSIS {
        if (ManageLock::manage_held_here == 0) lock_.emplace();
    }
    ~ManageMutexUnlessHeld() RELEASE() NO_THREAD_SAFETY_ANALYSIS {}
    ManageMutexUnlessHeld(const ManageMutexUnlessHeld&) = delete;
    ManageMutexUnlessHeld& operator=(const ManageMutexUnlessHeld&) = delete;

private:
    std::optional<ManageMutexLocker> lock_;
};
