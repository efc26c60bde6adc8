#pragma once
// The mutexes of the controller, as clang's thread-safety analysis sees them. Neither Qt's
// QMutex nor libstdc++'s std::mutex carries the analysis' attributes, so a field marked
// GUARDED_BY one of them could not be checked. The types below are those mutexes with the
// attributes added and nothing else: same layout, same calls, so code that still takes them
// the old way (QMutexLocker, std::lock_guard, pthread_mutex_lock) compiles unchanged; only
// the annotated lockers below are seen by the analysis.
// The attributes exist on clang only (the fuzz build, the thread-safety check); g++ builds
// see empty macros.
#include <QMutex>
#include <mutex>
#include <pthread.h>

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

// std::mutex with the attributes. Still a std::mutex: std::unique_lock and the condition
// variables take it as before (those waits are not followed by the analysis).
class CAPABILITY("mutex") Mutex : public std::mutex {
public:
    void lock() ACQUIRE() { std::mutex::lock(); }
    void unlock() RELEASE() { std::mutex::unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return std::mutex::try_lock(); }
};

// std::recursive_mutex with the attributes (a hold inside a hold of the same thread is
// still one capability to the analysis).
class CAPABILITY("mutex") RecursiveMutex : public std::recursive_mutex {
public:
    void lock() ACQUIRE() { std::recursive_mutex::lock(); }
    void unlock() RELEASE() { std::recursive_mutex::unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return std::recursive_mutex::try_lock(); }
};

// QMutex with the attributes. The calls go to QMutex's own lock and unlock, so the
// ThreadSanitizer build's QMutex interposer (scripts/tsan) still sees every one.
class CAPABILITY("mutex") QtMutex : public QMutex {
public:
    using QMutex::QMutex;
    void lock() ACQUIRE() { QMutex::lock(); }
    void unlock() RELEASE() { QMutex::unlock(); }
    bool tryLock(int timeoutMs = 0) TRY_ACQUIRE(true) { return QMutex::tryLock(timeoutMs); }
};

// A POSIX mutex with the attributes: the same type as pthread_mutex_t, so the pthread calls
// and PTHREAD_MUTEX_INITIALIZER work on it as before.
typedef pthread_mutex_t CAPABILITY("mutex") PthreadMutex;

inline void lock(PthreadMutex& m) ACQUIRE(m) NO_THREAD_SAFETY_ANALYSIS { pthread_mutex_lock(&m); }
inline void unlock(PthreadMutex& m) RELEASE(m) NO_THREAD_SAFETY_ANALYSIS { pthread_mutex_unlock(&m); }
inline bool tryLock(PthreadMutex& m) TRY_ACQUIRE(true, m) NO_THREAD_SAFETY_ANALYSIS {
    return pthread_mutex_trylock(&m) == 0;
}

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

template <>
class SCOPED_CAPABILITY Locker<PthreadMutex> {
public:
    explicit Locker(PthreadMutex& m) ACQUIRE(m) : m_(m) { plat::lock(m_); }
    ~Locker() RELEASE() { plat::unlock(m_); }
    Locker(const Locker&) = delete;
    Locker& operator=(const Locker&) = delete;

private:
    PthreadMutex& m_;
};

}  // namespace plat
