#pragma once
// C331 scaler manager: for now only the hand-over point of the parameter RAM.
// A writer of scaler-relevant RAM takes manage_mutex, changes the RAM, sets
// update_flag (1 apply, 2 apply and keep the user-mode files) and releases it;
// the manager thread consumes the flag under the same mutex.
#include <pthread.h>

#include <atomic>
#include <cstdint>

class c331_manage {
public:
    static c331_manage* p_c331_manage;
    static pthread_mutex_t manage_mutex;
    static std::atomic<uint8_t> update_flag;
};

// Holds c331_manage::manage_mutex for one scope.
class ManageMutexLocker {
public:
    ManageMutexLocker() { pthread_mutex_lock(&c331_manage::manage_mutex); }
    ~ManageMutexLocker() { pthread_mutex_unlock(&c331_manage::manage_mutex); }
    ManageMutexLocker(const ManageMutexLocker&) = delete;
    ManageMutexLocker& operator=(const ManageMutexLocker&) = delete;
};
