#pragma once
// The mutexes of the controller, as clang's thread-safety analysis sees them. Neither Qt's
// QMutex nor libstdc++'s std::mutex carries the analysis' attributes, so a field marked
// GUARDED_BY one of them could not be checked. The types below are those mutexes with the
// attributes added, each constructed with its name in the lock table (platform/lock_check.h).
// Take them through their own lock() and unlock() (the lockers below, std::lock_guard or
// std::unique_lock of the annotated type): a QMutexLocker or a std::lock_guard<std::mutex>
// reaches the base class and is seen by neither the analysis nor the check. Outside the
// platform layer no other mutex, sleep, fsync or blocking wait is written
// (tests/platform/build_hygiene_test.cpp refuses them); platform/waits.h has the checked waits.
// The attributes exist on clang only (the fuzz build, the thread-safety check); g++ builds
// see empty macros.
#include <QMutex>
#include <mutex>
#include <shared_mutex>

#include "platform/lock_check.h"

#if defined(__clang__)
#define VLX_THREAD_ATTR(x) __attribute__((x))
#else
#define VLX_THREAD_ATTR(x)
#endif

// A type that is a lock.
#define CAPABILITY(name) VLX_THREAD_ATTR(capability(name))
// A locker object that holds a lock for its scope.
#define SCOPED_CAPABILITY VLX_THREAD_ATTR(scoped_lockable)
// A field read or written only with this lock held.
#define GUARDED_BY(lock) VLX_THREAD_ATTR(guarded_by(lock))
// A pointer whose pointee is read or written only with this lock held.
#define PT_GUARDED_BY(lock) VLX_THREAD_ATTR(pt_guarded_by(lock))
// A function called with these locks held (it neither takes nor releases them).
#define REQUIRES(...) VLX_THREAD_ATTR(requires_capability(__VA_ARGS__))
// A function that takes these locks itself: calling it with one held deadlocks.
#define EXCLUDES(...) VLX_THREAD_ATTR(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) VLX_THREAD_ATTR(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VLX_THREAD_ATTR(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VLX_THREAD_ATTR(try_acquire_capability(__VA_ARGS__))
// Lock order: this lock is taken before / after those, never the other way round.
#define ACQUIRED_BEFORE(...) VLX_THREAD_ATTR(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) VLX_THREAD_ATTR(acquired_after(__VA_ARGS__))
// A function after whose call the analysis takes these locks as held (no lock is taken).
#define ASSERT_CAPABILITY(...) VLX_THREAD_ATTR(assert_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(lock) VLX_THREAD_ATTR(lock_returned(lock))
// The body is outside the analysis (a wrapper's own lock call, a hand-over it cannot follow).
#define NO_THREAD_SAFETY_ANALYSIS VLX_THREAD_ATTR(no_thread_safety_analysis)

namespace plat {

// Each mutex below carries its name in the lock table (platform/lock_check.h): in the test and
// sanitizer builds every lock and unlock through these types is checked against the table.

// std::mutex with the attributes. Still a std::mutex to the lockers; a condition variable
// that waits on it is a plat::CondVar (platform/waits.h), so that the check sees the wait's
// release and its retaking.
class CAPABILITY("mutex") Mutex : public std::mutex {
public:
    // constant-initialised: a static one is ready before any constructor runs
    explicit constexpr Mutex(Lock name) : name_(name) {}
    void lock() ACQUIRE() {
        lockcheck::acquiring(name_, this);
        std::mutex::lock();
        lockcheck::acquired(name_, this);
    }
    void unlock() RELEASE() {
        if (lockcheck::released(name_, this)) std::mutex::unlock();
    }
    bool try_lock() TRY_ACQUIRE(true) {
        if (!std::mutex::try_lock()) return false;
        lockcheck::acquired(name_, this);
        return true;
    }

private:
    const Lock name_;
};

// std::recursive_mutex with the attributes (a hold inside a hold of the same thread is
// still one capability to the analysis, and one entry to the check).
class CAPABILITY("mutex") RecursiveMutex : public std::recursive_mutex {
public:
    explicit RecursiveMutex(Lock name) : name_(name) {}
    void lock() ACQUIRE() {
        lockcheck::acquiring(name_, this);
        std::recursive_mutex::lock();
        lockcheck::acquired(name_, this);
    }
    void unlock() RELEASE() {
        if (lockcheck::released(name_, this)) std::recursive_mutex::unlock();
    }
    bool try_lock() TRY_ACQUIRE(true) {
        if (!std::recursive_mutex::try_lock()) return false;
        lockcheck::acquired(name_, this);
        return true;
    }

private:
    const Lock name_;
};

// std::shared_mutex with the attributes; the shared holds count as holds to the check.
class CAPABILITY("mutex") SharedMutex : public std::shared_mutex {
public:
    explicit SharedMutex(Lock name) : name_(name) {}
    void lock() ACQUIRE() {
        lockcheck::acquiring(name_, this);
        std::shared_mutex::lock();
        lockcheck::acquired(name_, this);
    }
    void unlock() RELEASE() {
        if (lockcheck::released(name_, this)) std::shared_mutex::unlock();
    }
    void lock_shared() VLX_THREAD_ATTR(acquire_shared_capability()) {
        lockcheck::acquiring(name_, this);
        std::shared_mutex::lock_shared();
        lockcheck::acquired(name_, this);
    }
    void unlock_shared() VLX_THREAD_ATTR(release_shared_capability()) {
        if (lockcheck::released(name_, this)) std::shared_mutex::unlock_shared();
    }

private:
    const Lock name_;
};

// QMutex with the attributes. The calls go to QMutex's own lock and unlock, so the
// ThreadSanitizer build's QMutex interposer (scripts/tsan) still sees every one.
class CAPABILITY("mutex") QtMutex : public QMutex {
public:
    explicit QtMutex(Lock name, QMutex::RecursionMode mode = QMutex::NonRecursive) : QMutex(mode), name_(name) {}
    void lock() ACQUIRE() {
        lockcheck::acquiring(name_, this);
        QMutex::lock();
        lockcheck::acquired(name_, this);
    }
    void unlock() RELEASE() {
        if (lockcheck::released(name_, this)) QMutex::unlock();
    }
    bool tryLock(int timeoutMs = 0) TRY_ACQUIRE(true) {
        if (!QMutex::tryLock(timeoutMs)) return false;
        lockcheck::acquired(name_, this);
        return true;
    }

private:
    const Lock name_;
};

// Holds one of the mutexes above for a scope (in place of std::lock_guard and QMutexLocker,
// which the analysis does not see).
template <typename M>
class SCOPED_CAPABILITY Locker {
public:
    explicit Locker(M& m) ACQUIRE(m) : m_(m) { m_.lock(); }
    ~Locker() RELEASE() { m_.unlock(); }
    Locker(const Locker&) = delete;
    Locker& operator=(const Locker&) = delete;

private:
    M& m_;
};

}  // namespace plat
