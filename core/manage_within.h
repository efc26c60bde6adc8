#pragma once
// The manage mutex for one scope, waited for at most a bound: the program's stop does not
// wait on a holder that may keep it for ever (a GUI thread held inside its own change).
#include <chrono>
#include <optional>

#include "platform/platform.h"
#include "core/manage_lock.h"

class SCOPED_CAPABILITY ManageMutexWithin {
public:
    // waitMs < 0: as long as it takes (ManageMutexLocker). Held at once when this thread holds
    // it already. To the analysis the scope holds it; held() says whether it does.
    explicit ManageMutexWithin(int waitMs) ACQUIRE(ManageLock::manage_mutex) NO_THREAD_SAFETY_ANALYSIS {
        if (ManageLock::manage_held_here > 0) {
            held_ = true;
        } else if (waitMs < 0) {
            lock_.emplace();
            held_ = true;
        } else {
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
            while (!(taken_ = ManageLock::manage_mutex.try_lock()) && std::chrono::steady_clock::now() < end)
                plat::workerPace(1000);
            if (taken_) ++ManageLock::manage_held_here;
            held_ = taken_;
        }
    }
    ~ManageMutexWithin() RELEASE() NO_THREAD_SAFETY_ANALYSIS {
        if (!taken_) return;
        --ManageLock::manage_held_here;
        ManageLock::manage_mutex.unlock();
    }
    ManageMutexWithin(const ManageMutexWithin&) = delete;
    ManageMutexWithin& operator=(const ManageMutexWithin&) = delete;
    // False when the bound ran out: nothing the mutex guards may be touched in the scope.
    bool held() const { return held_; }

private:
    std::optional<ManageMutexLocker> lock_;
    bool taken_ = false;   // by try_lock, let go here
    bool held_ = false;
};
