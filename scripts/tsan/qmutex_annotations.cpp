// ThreadSanitizer builds only (VLX_TSAN). QMutex is implemented in Qt's own library, which
// is not instrumented: without this the race detector sees no lock around anything the
// process-wide QMutexes guard. These definitions sit in the program itself, so every call
// of ours reaches them before Qt's; each forwards to Qt's and tells the detector what the
// mutex did. Qt's calls inside its own library stay unannotated (the suppressions file).
#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

#include <QMutex>
#include <cstdio>
#include <cstdlib>

namespace {

template <typename Fn>
Fn qtOwn(const char* symbol) {
    void* p = dlsym(RTLD_NEXT, symbol);
    if (!p) {
        std::fprintf(stderr, "qmutex annotations: %s not found in Qt\n", symbol);
        std::abort();
    }
    return reinterpret_cast<Fn>(p);
}

}  // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT {
    static const auto own = qtOwn<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    __tsan_mutex_pre_lock(this, 0);
    own(this);
    __tsan_mutex_post_lock(this, 0, 0);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT {
    static const auto own = qtOwn<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    __tsan_mutex_pre_lock(this, __tsan_mutex_try_lock);
    const bool taken = own(this, timeout);
    __tsan_mutex_post_lock(this, taken ? __tsan_mutex_try_lock : __tsan_mutex_try_lock | __tsan_mutex_try_lock_failed,
                           0);
    return taken;
}

void QMutex::unlock() noexcept {
    static const auto own = qtOwn<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    __tsan_mutex_pre_unlock(this, 0);
    own(this);
    __tsan_mutex_post_unlock(this, 0);
}
