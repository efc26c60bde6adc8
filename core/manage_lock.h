#pragma once
// The parameter RAM's writer lock, declared here so that the RAM's fields in core can name it
// as their guard. The scaler manager inherits it: c331_manage::manage_mutex is this lock, and
// ManageMutexLocker (scaler/c331_manage.h) is the way to hold it.
#include "platform/annotated_mutex.h"

struct ManageLock {
    // RAM writers, the manager's pass and its base (docs/architecture.md, "Locks").
    static plat::Mutex manage_mutex;
    // Holds of manage_mutex by this thread through ManageMutexLocker (the pass's own included).
    static thread_local int manage_held_here;   // each thread's own

    // Tells the analysis the lock is held where it cannot see the hold: only in code that runs
    // before any other thread touches the RAM (start-up, a test's single-threaded setup).
    static void assumeHeldAlone() ASSERT_CAPABILITY(manage_mutex) {}
};
