#include "platform/lock_check.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#if defined(__GLIBC__)
#include <execinfo.h>
#endif

namespace plat {

namespace {
using L = Lock;
constexpr size_t kLocks = size_t(Lock::Count);

const char* const kWaitNames[size_t(Wait::Count)] = {"a sleep", "a shell command", "an fsync",
                                                      "a flash's busy wait", "a blocking hand-over",
                                                      "an event loop"};

struct Tables {
    bool nest[kLocks][kLocks] = {};
    bool wait[kLocks][size_t(Wait::Count)] = {};
    Tables() {
        for (const auto& n : lockcheck::nestings())
            for (size_t o = 0; o < kLocks; ++o)
                for (size_t i = 0; i < kLocks; ++i)
                    if ((n.outer == L::Any || size_t(n.outer) == o) && (n.inner == L::Any || size_t(n.inner) == i))
                        nest[o][i] = true;
        // the order is the table's nestings followed through
        for (size_t k = 0; k < kLocks; ++k)
            for (size_t o = 0; o < kLocks; ++o)
                if (nest[o][k])
                    for (size_t i = 0; i < kLocks; ++i)
                        if (nest[k][i]) nest[o][i] = true;
        for (const auto& w : lockcheck::waitsUnder()) wait[size_t(w.lock)][size_t(w.wait)] = true;
    }
};
const Tables& tables() {
    static const Tables t;
    return t;
}

std::atomic<lockcheck::FailureHook> g_hook{nullptr};

}  // namespace

const char* waitName(Wait w) { return size_t(w) < size_t(Wait::Count) ? kWaitNames[size_t(w)] : "?"; }

namespace lockcheck {

bool mayNest(Lock outer, Lock inner) { return tables().nest[size_t(outer)][size_t(inner)]; }
bool mayWait(Lock held, Wait w) { return tables().wait[size_t(held)][size_t(w)]; }

FailureHook setFailureHook(FailureHook hook) { return g_hook.exchange(hook); }

#ifdef VLX_LOCK_CHECK
namespace {

struct Held {
    const void* mutex;
    Lock lock;
    unsigned depth;   // a recursive mutex's holds
};
constexpr size_t kHeldMax = 24;
struct HeldList {
    Held at[kHeldMax];
    size_t n = 0;
};
thread_local HeldList t_held;

void fail(const std::string& report) {
    if (FailureHook hook = g_hook.load()) {
        hook(report);
        return;
    }
    std::string text = "lock check: " + report + "\nheld by this thread, outermost first:";
    for (size_t i = 0; i < t_held.n; ++i) text += std::string("\n  ") + lockName(t_held.at[i].lock);
    text += "\n";
    (void)!::write(2, text.data(), text.size());
#if defined(__GLIBC__)
    void* frames[64];
    backtrace_symbols_fd(frames, backtrace(frames, 64), 2);
#endif
    std::abort();
}

Held* find(const void* mutex) {
    for (size_t i = t_held.n; i-- > 0;)
        if (t_held.at[i].mutex == mutex) return &t_held.at[i];
    return nullptr;
}

}  // namespace

void acquiring(Lock l, const void* mutex) {
    if (find(mutex)) return;   // a recursive mutex taken again
    for (size_t i = 0; i < t_held.n; ++i) {
        const Held& h = t_held.at[i];
        if (mayNest(h.lock, l)) continue;
        const bool against = mayNest(l, h.lock);
        fail(std::string(lockName(l)) + " taken while holding " + lockName(h.lock) +
             (against ? ": against the lock table's order" : ": a nesting the lock table does not list"));
        return;
    }
}

void acquired(Lock l, const void* mutex) {
    if (Held* h = find(mutex)) {
        ++h->depth;
        return;
    }
    if (t_held.n == kHeldMax) {
        fail("more than 24 locks held by one thread");
        return;
    }
    t_held.at[t_held.n++] = Held{mutex, l, 1};
}

bool released(Lock l, const void* mutex) {
    for (size_t i = t_held.n; i-- > 0;) {
        if (t_held.at[i].mutex != mutex) continue;
        if (--t_held.at[i].depth > 0) return true;
        for (size_t k = i + 1; k < t_held.n; ++k) t_held.at[k - 1] = t_held.at[k];
        --t_held.n;
        return true;
    }
    fail(std::string(lockName(l)) + " let go by a thread that does not hold it");
    return false;
}

void waitPoint(Wait w, const void* lettingGo) {
    for (size_t i = 0; i < t_held.n; ++i) {
        if (lettingGo && t_held.at[i].mutex == lettingGo) continue;
        const Lock l = t_held.at[i].lock;
        if (mayWait(l, w)) continue;
        fail(std::string(waitName(w)) + " while holding " + lockName(l) + ", which the lock table does not allow");
        return;
    }
}

std::vector<Lock> heldHere() {
    std::vector<Lock> out;
    for (size_t i = 0; i < t_held.n; ++i) out.push_back(t_held.at[i].lock);
    return out;
}
#endif

}  // namespace lockcheck
}  // namespace plat
