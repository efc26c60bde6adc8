#pragma once
// The blocking waits on another thread, each a wait point of the lock check
// (platform/lock_check.h): a condition wait, a thread's join, a result another thread hands
// over, a Qt event loop. With the sleeps (plat::sleepUs), the fsyncs (file_system.h) and the
// shell runner (shell.h) these are the only waits outside the platform layer; a blocking queued
// call into the GUI thread is none of them and is not made (post an event and wait on a Handed
// result), nor is a QThread's or a QProcess's wait.
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <pthread.h>
#include <thread>

#include "platform/annotated_mutex.h"

namespace plat {

// A condition variable over a plat::Mutex: each wait lets that mutex go, and is a blocking
// hand-over under whatever else this thread holds. The check runs before the condition is
// first looked at, so it does not depend on whether the wait blocks.
class CondVar {
public:
    void wait(Mutex& m) REQUIRES(m) {
        lockcheck::waitPoint(Wait::HandOver, &m);
        cv_.wait(m);
    }
    template <typename Done>
    void wait(Mutex& m, Done done) REQUIRES(m) {
        lockcheck::waitPoint(Wait::HandOver, &m);
        cv_.wait(m, done);
    }
    template <typename Done>
    void wait(std::unique_lock<Mutex>& l, Done done) {
        lockcheck::waitPoint(Wait::HandOver, l.mutex());
        cv_.wait(l, done);
    }
    void notify_one() { cv_.notify_one(); }
    void notify_all() { cv_.notify_all(); }

private:
    std::condition_variable_any cv_;
};

// Waits for a thread's end (nothing when it was never started or is joined already).
inline void joinThread(std::thread& t) {
    lockcheck::waitPoint(Wait::HandOver);
    if (t.joinable()) t.join();
}
inline void joinThread(pthread_t t) {
    lockcheck::waitPoint(Wait::HandOver);
    pthread_join(t, nullptr);
}

// Runs a Qt event loop: `loop.exec()` of the application, a modal screen or a QEventLoop. Until
// it returns the thread serves only its events, so no lock may be held across it.
template <typename Loop>
int runEventLoop(Loop& loop) {
    lockcheck::waitPoint(Wait::EventLoop);
    return loop.exec();
}

// One value another thread hands over, waited for in slices so the waiter can look around
// between them (a stuck giver).
template <typename T>
class Handed {
public:
    void give(T value) { promise_.set_value(std::move(value)); }
    // True once the value is there; false after `slice` without it.
    bool waitFor(std::chrono::milliseconds slice) {
        lockcheck::waitPoint(Wait::HandOver);
        return future_.wait_for(slice) == std::future_status::ready;
    }
    T take() { return future_.get(); }

private:
    std::promise<T> promise_;
    std::future<T> future_ = promise_.get_future();
};

}  // namespace plat
