// ThreadSanitizer builds only (VLX_TSAN). QMutex is implemented in Qt's own library, which
// is not instrumented: without this the race detector sees no lock around anything the
// process-wide QMutexes guard. These definitions sit in the program itself, so every call
// of ours reaches them before Qt's; each forwards to Qt's and tells the detector what the
// mutex did. Qt's calls inside its own library stay unannotated: the detector sees what Qt
// does there only through the allocator, memcpy and the pthread calls. Below, the hand-overs
// made under those locks: Qt's event queue and a QThread's end.
#include <dlfcn.h>
#include <link.h>
#include <sanitizer/tsan_interface.h>
#include <unwind.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QEvent>
#include <QMetaMethod>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QThread>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// Qt's own function, looked up on the first call and kept in `slot`. Not a function-local
// static with an initialiser: its guard would order every later caller after the first one
// (an acquire the detector sees), hiding a race in what the first caller did before. Two
// threads may both look it up; they find the same address.
template <typename Fn>
Fn qtOwn(std::atomic<void*>& slot, const char* symbol) {
    void* p = slot.load(std::memory_order_relaxed);
    if (!p) {
        p = dlsym(RTLD_NEXT, symbol);
        if (!p) {
            std::fprintf(stderr, "qmutex annotations: %s not found in Qt\n", symbol);
            std::abort();
        }
        slot.store(p, std::memory_order_relaxed);
    }
    return reinterpret_cast<Fn>(p);
}

}  // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<void (*)(QMutex*)>(ownSlot, "_ZN6QMutex4lockEv");
    __tsan_mutex_pre_lock(this, 0);
    own(this);
    __tsan_mutex_post_lock(this, 0, 0);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<bool (*)(QMutex*, int)>(ownSlot, "_ZN6QMutex7tryLockEi");
    __tsan_mutex_pre_lock(this, __tsan_mutex_try_lock);
    const bool taken = own(this, timeout);
    __tsan_mutex_post_lock(this, taken ? __tsan_mutex_try_lock : __tsan_mutex_try_lock | __tsan_mutex_try_lock_failed,
                           0);
    return taken;
}

void QMutex::unlock() noexcept {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<void (*)(QMutex*)>(ownSlot, "_ZN6QMutex6unlockEv");
    __tsan_mutex_pre_unlock(this, 0);
    own(this);
    __tsan_mutex_post_unlock(this, 0);
}

// Qt's event queue: a queued call or queued signal is posted under the receiving thread's
// event-list lock and taken from that list under the same lock, both inside Qt. The detector
// is told of the hand-over, keyed by the receiving object: a post to an object (postEvent,
// invokeMethod) releases that object's sync object, and every event Qt delivers to an object
// acquires it just before the receiver runs. A signal names no receiver where it is emitted,
// so an emitted signal releases the sync object of every object that was connected to that
// signal of its sender and may be posted to (not a direct connection's, nor a receiver of the
// sender's other signals); one emitted through the signal-offset entry, which does not say
// which class declares it, releases those of every signal of its sender. A post to one object
// therefore orders nothing on another, as with Qt's own lock.
// Qt allocates the queued event and its arguments and files it in the receiving thread's list
// inside that post, after the release above, under its own lock. The detector sees those
// steps only through the allocator and memmove. A post that runs none of our code on the
// posting thread (a posted event, a queued call, a signal whose every connection is queued)
// keeps them out of its sight (an argument's copy made there as well), as the list's other
// users take that lock too. A signal with a direct connection as well runs our slots inside
// the emit, which must stay checked: there, an allocation Qt makes itself (none of our code
// between the emit and the allocator) releases the receivers that may be posted to again, so
// the delivery is ordered after the event's allocation; one made by a direct slot (or inside
// Qt on its behalf) releases nothing, as nothing posts what the slot does.
// The hand-back: a queued functor is shared by the caller and the event through Qt's atomic
// reference count, and whichever drops the last reference destroys it, after the receiver ran
// it. A delivered call releases the receiver's second sync object once it returns; the caller
// keeps a reference of its own and, when that is the last, acquires it before destroying the
// functor.
namespace {

// The receiver's two sync objects: two addresses inside the object.
void* handOver(const QObject* receiver) { return const_cast<QObject*>(receiver); }
void* handBack(const QObject* receiver) { return reinterpret_cast<char*>(const_cast<QObject*>(receiver)) + 1; }
// A QThread's end: released by the thread as it emits finished(), acquired by a wait that saw
// it finished.
void* threadEnd(const QThread* thread) { return reinterpret_cast<char*>(const_cast<QThread*>(thread)) + 2; }

// Who was connected to each sender. The table's own lock and accesses are hidden from the
// detector: its mutex would otherwise order every thread that emits after every thread that
// connects, which is the over-ordering this keying removes.
extern "C" {
void AnnotateIgnoreSyncBegin(const char* file, int line);
void AnnotateIgnoreSyncEnd(const char* file, int line);
void AnnotateIgnoreReadsBegin(const char* file, int line);
void AnnotateIgnoreReadsEnd(const char* file, int line);
void AnnotateIgnoreWritesBegin(const char* file, int line);
void AnnotateIgnoreWritesEnd(const char* file, int line);
}

class Hidden {
public:
    Hidden() {
        AnnotateIgnoreSyncBegin(__FILE__, __LINE__);
        AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
        AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
    }
    ~Hidden() {
        AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
        AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
        AnnotateIgnoreSyncEnd(__FILE__, __LINE__);
    }
};

// Per sender, per signal (its method index; kAnySignal where the connection's signal could
// not be told), the receivers connected to it.
constexpr int kAnySignal = -1;
struct Connection {
    const QObject* receiver;  // kept after the receiver is gone: only compared, never followed
    int type;                 // Qt::ConnectionType, with Qt::UniqueConnection left out
    const QThread* home;      // the receiver's thread, as connected or last moved
    const void* slot;         // a functor's or member pointer's slot object, or nullptr
};
using SignalReceivers = std::unordered_map<int, std::vector<Connection>>;
std::mutex g_tableMutex;
std::unordered_map<const QObject*, SignalReceivers>* g_receivers;

// A signal's method index as activate() names it: a clone (a signal with a default argument
// left out) is the signal it was cloned from.
int original(const QMetaObject* meta, int index) {
    if (!meta || index < 0) return kAnySignal;
    while (index > 0 && (meta->method(index).attributes() & QMetaMethod::Cloned)) --index;
    return index;
}

// The method index of a signal given as a pointer to member, found as Qt's connect finds it.
int signalIndex(void** signal, const QMetaObject* meta) {
    for (; signal && meta; meta = meta->superClass()) {
        int local = -1;
        void* args[] = {&local, signal};
        meta->static_metacall(QMetaObject::IndexOfMethod, 0, args);
        if (local >= 0) return meta->methodOffset() + local;
    }
    return kAnySignal;
}

// The same for a SIGNAL() string ("2name(args)").
int signalIndex(const QObject* sender, const char* signal) {
    if (!sender || !signal || !*signal) return kAnySignal;
    const QMetaObject* meta = sender->metaObject();
    return original(meta, meta->indexOfSignal(QMetaObject::normalizedSignature(signal + 1).constData()));
}

void connected(const QObject* sender, int signal, const QObject* receiver, Qt::ConnectionType type,
               const void* slot = nullptr) {
    if (!sender || !receiver) return;
    const Connection added{receiver, type & ~Qt::UniqueConnection, receiver->thread(), slot};
    Hidden hidden;
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (!g_receivers) g_receivers = new std::unordered_map<const QObject*, SignalReceivers>;
    auto& list = (*g_receivers)[sender][signal];
    // a new object at a gone one's address takes its entry (in the list's order, as Qt calls them)
    auto it = std::find_if(list.begin(), list.end(), [&](const Connection& c) {
        return c.receiver == receiver && c.type == added.type && c.slot == slot;
    });
    if (it == list.end())
        list.push_back(added);
    else
        it->home = added.home;
}

// Objects moved to another thread, with their children.
void moved(const QObject* object, const QThread* home) {
    std::vector<const QObject*> tree{object};
    for (const QObject* child : object->findChildren<QObject*>()) tree.push_back(child);
    Hidden hidden;
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (!g_receivers) return;
    for (auto& entry : *g_receivers)
        for (auto& perSignal : entry.second)
            for (Connection& c : perSignal.second)
                if (std::find(tree.begin(), tree.end(), c.receiver) != tree.end()) c.home = home;
}

// The Qt thread whose event loop runs on this thread (none until it delivered an event), and
// whether the GUI thread's has.
thread_local const QThread* t_loopThread = nullptr;
std::atomic<bool> g_guiLoopRuns{false};

// Whether a call of that type to a receiver living in `home` is queued rather than run on this
// thread. An automatic connection is queued when the receiver lives in another thread; unsure,
// it counts as run here.
bool queued(const QThread* home, int type) {
    if (type == Qt::QueuedConnection || type == Qt::BlockingQueuedConnection) return true;
    if (type != Qt::AutoConnection || !home) return false;
    if (t_loopThread) return home != t_loopThread;
    // this thread runs no event loop, so it is not the GUI thread once that one runs its own
    const QCoreApplication* app = QCoreApplication::instance();
    return app && home == app->thread() && g_guiLoopRuns.load(std::memory_order_relaxed);
}

// Whether such a call may be queued: every one not known to run on this thread.
bool mayBeQueued(const QThread* home, int type) {
    if (type == Qt::DirectConnection) return false;
    if (type == Qt::AutoConnection && home && t_loopThread) return home != t_loopThread;
    return true;
}

// `signal` kAnySignal: every receiver of the sender. Returns their connections.
std::vector<Connection> emitted(const QObject* sender, int signal) {
    std::vector<Connection> connections;
    {
        Hidden hidden;
        std::lock_guard<std::mutex> lock(g_tableMutex);
        if (g_receivers)
            if (auto it = g_receivers->find(sender); it != g_receivers->end())
                for (const auto& [index, list] : it->second)
                    if (signal == kAnySignal || index == signal || index == kAnySignal)
                        connections.insert(connections.end(), list.begin(), list.end());
    }
    return connections;
}

// Every connection known, and every one queued: the emit runs none of our code here.
bool queuedOnly(const std::vector<Connection>& connections) {
    return !connections.empty() && std::all_of(connections.begin(), connections.end(), [](const Connection& c) {
               return queued(c.home, c.type);
           });
}

// The accesses a post makes inside Qt, out of the detector's sight when `hide` (the locks and
// releases stay visible).
class QtAccesses {
public:
    explicit QtAccesses(bool hide) : hide_(hide) {
        if (!hide_) return;
        AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
        AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
    }
    ~QtAccesses() {
        if (!hide_) return;
        AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
        AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
    }
    QtAccesses(const QtAccesses&) = delete;
    QtAccesses& operator=(const QtAccesses&) = delete;

private:
    bool hide_;
};

// Where code lies: the sanitizer's runtime, Qt's libraries or this program (everything of ours
// is linked into it). Found before main, when the runtime and the Qt libraries the program links
// are loaded; those a plugin loads later count as other code.
enum class Code : unsigned char { Other, Runtime, Qt, Ours };
struct CodeRange {
    uintptr_t begin, end;
    Code code;
};
CodeRange g_code[32];
int g_codeRanges = 0;

int noteCode(dl_phdr_info* info, size_t, void* first) {
    Code code = Code::Other;
    if (*static_cast<bool*>(first))
        code = Code::Ours;  // the program comes first
    else if (std::strstr(info->dlpi_name, "/libtsan."))
        code = Code::Runtime;
    else if (std::strstr(info->dlpi_name, "/libQt5"))
        code = Code::Qt;
    *static_cast<bool*>(first) = false;
    for (int i = 0; code != Code::Other && i < info->dlpi_phnum && g_codeRanges < 32; ++i) {
        const auto& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X)) continue;
        const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
        g_code[g_codeRanges++] = {begin, begin + segment.p_memsz, code};
    }
    return 0;
}

[[gnu::constructor(101)]] void findCode() {
    bool first = true;
    dl_iterate_phdr(noteCode, &first);
}

// Run at every free: not instrumented (the detector is told nothing from here).
#define VLX_UNCHECKED [[gnu::no_sanitize_thread]]

VLX_UNCHECKED Code codeAt(uintptr_t address) {
    for (int i = 0; i < g_codeRanges; ++i)
        if (address >= g_code[i].begin && address < g_code[i].end) return g_code[i].code;
    return Code::Other;
}

// The stack of an allocator hook, walked from the hook: this file's frames, the runtime's,
// then the code that called the allocator and its callers.
struct Walk {
    uintptr_t until = 0;  // an address in an emit's frame: the callers up to it are looked at too
    int stage = 0;        // 0: this file's frames, 1: the runtime's, 2: past them
    Code caller = Code::Other;
    bool last = false;  // the frame before was ours
    bool ours = false;  // code of ours between the emit and the allocator
    // each frame up to the caller: its return address and the CFA the unwinder gives with it
    int frames = 0;
    uintptr_t ip[16], cfa[16];
};

// The unwinder gives each frame with the CFA of the frame it called, the lowest address of its
// own: the emit's frame is the last one at or below `until`, and only the frames before it count.
_Unwind_Reason_Code step(_Unwind_Context* context, void* arg) {
    Walk& walk = *static_cast<Walk*>(arg);
    const uintptr_t ip = _Unwind_GetIP(context);
    if (!ip) return _URC_END_OF_STACK;
    const Code code = codeAt(ip - 1);  // the call, not what follows it
    if (walk.stage < 2 && walk.frames < 16) {
        walk.ip[walk.frames] = ip;
        walk.cfa[walk.frames++] = _Unwind_GetCFA(context);
    }
    if (walk.stage == 0) {
        if (code == Code::Runtime) walk.stage = 1;
        return _URC_NO_REASON;
    }
    if (code == Code::Runtime) return _URC_NO_REASON;
    if (walk.stage == 1) {
        walk.stage = 2;
        walk.caller = code;
        if (!walk.until) return _URC_END_OF_STACK;
    }
    if (_Unwind_GetCFA(context) > walk.until) return _URC_END_OF_STACK;
    walk.ours = walk.last;
    walk.last = code == Code::Ours;
    return walk.ours ? _URC_END_OF_STACK : _URC_NO_REASON;
}

// The runtime keeps no frame pointers, and unwinding it at every free costs more than the free
// itself. What the unwinder found is kept instead: for each return address into the runtime,
// the size of the frame it lies in, from the slot that holds it to the slot of the next return
// address up (x86-64: a return address lies just below the CFA of the frame it returns from).
// Relaxed atomics only: the detector must see no ordering here.
struct RuntimeFrame {
    std::atomic<uintptr_t> ret{0};
    std::atomic<uintptr_t> size{0};
};
RuntimeFrame g_runtimeFrames[32];
std::atomic<bool> g_slotsAsExpected{true};  // false once a frame was not laid out as above

VLX_UNCHECKED uintptr_t runtimeFrameSize(uintptr_t ret) {
    for (const RuntimeFrame& f : g_runtimeFrames) {
        const uintptr_t known = f.ret.load(std::memory_order_relaxed);
        if (known == ret) return f.size.load(std::memory_order_relaxed);
        if (!known) break;
    }
    return 0;
}

void learnRuntimeFrames(const Walk& walk, const uintptr_t* hookSlot) {
    bool first = true;
    for (int k = 0; k + 1 < walk.frames; ++k) {
        if (codeAt(walk.ip[k] - 1) != Code::Runtime) continue;
        const auto* slot = reinterpret_cast<const uintptr_t*>(walk.cfa[k]) - 1;
        if (*slot != walk.ip[k] || (first && hookSlot && slot != hookSlot) || walk.cfa[k + 1] <= walk.cfa[k]) {
            g_slotsAsExpected.store(false, std::memory_order_relaxed);
            return;
        }
        first = false;
        if (runtimeFrameSize(walk.ip[k])) continue;
        // a free entry taken, then its size (read as unknown until then)
        for (RuntimeFrame& f : g_runtimeFrames) {
            uintptr_t known = 0;
            if (f.ret.compare_exchange_strong(known, walk.ip[k], std::memory_order_relaxed)) {
                f.size.store(walk.cfa[k + 1] - walk.cfa[k], std::memory_order_relaxed);
                break;
            }
            if (known == walk.ip[k]) break;
        }
    }
}

// Called from an allocator hook: who called the allocator, and whether code of ours runs
// between the emit whose frame holds `until` and that call. `hookSlot`: where the hook's own
// return address lies, to check what is learnt of the runtime's frames against.
Walk walked(const void* until, const uintptr_t* hookSlot = nullptr) {
    Walk walk;
    walk.until = reinterpret_cast<uintptr_t>(until);
    _Unwind_Backtrace(step, &walk);
    if (walk.stage == 2 && g_slotsAsExpected.load(std::memory_order_relaxed)) learnRuntimeFrames(walk, hookSlot);
    return walk;
}

// The code that called the allocator, from the hook's frame: up the return addresses through the
// runtime's frames by their known sizes, or by the unwinder where one is not known yet.
VLX_UNCHECKED Code allocatorCaller(const void* hookFrame) {
    const auto* hookSlot = static_cast<const uintptr_t*>(hookFrame) + 1;
    if (g_slotsAsExpected.load(std::memory_order_relaxed)) {
        const uintptr_t* slot = hookSlot;
        for (int depth = 0; depth < 16; ++depth) {
            const Code code = codeAt(*slot - 1);
            if (code != Code::Runtime) {
                if (depth > 0) return code;
                break;
            }
            const uintptr_t size = runtimeFrameSize(*slot);
            if (!size) break;
            slot = reinterpret_cast<const uintptr_t*>(reinterpret_cast<uintptr_t>(slot) + size);
        }
    }
    return walked(nullptr, hookSlot).caller;
}

// Called from a function of ours that Qt calls during an emit (a type's copy for a queued
// call): whether other code of ours lies between the emit whose frame holds `until` and that
// call (a direct slot, which asked Qt for the copy itself).
struct Between {
    uintptr_t until;
    bool inQt = false;  // past the caller's own frames
    bool last = false;  // the frame before was ours
    bool ours = false;
};
_Unwind_Reason_Code stepBetween(_Unwind_Context* context, void* arg) {
    Between& b = *static_cast<Between*>(arg);
    const uintptr_t ip = _Unwind_GetIP(context);
    if (!ip) return _URC_END_OF_STACK;
    const Code code = codeAt(ip - 1);
    if (!b.inQt) {
        if (code == Code::Ours) return _URC_NO_REASON;
        b.inQt = true;
    }
    // as in step(): the emit's frame is the last one at or below `until`
    if (_Unwind_GetCFA(context) > b.until) return _URC_END_OF_STACK;
    b.ours = b.last;
    b.last = code == Code::Ours;
    return b.ours ? _URC_END_OF_STACK : _URC_NO_REASON;
}
bool oursBetween(const void* until) {
    Between b{reinterpret_cast<uintptr_t>(until)};
    _Unwind_Backtrace(stepBetween, &b);
    return b.ours;
}

// The post or emit this thread is making (an emit from a direct slot nests), with the
// receivers it may post to in the order Qt serves its connections. They are released when it
// starts, and again after each allocation Qt makes itself during it and after each copy of an
// argument of ours made for it; a receiver whose call Qt filed already is released no more.
// Qt serves an emit's connections in turn, so once a direct slot runs, every connection before
// it is served: only a direct slot Qt calls through a slot object (a functor's or a member
// pointer's connection) is seen to run; one connected by its SLOT() string is not, and the
// receivers before it stay released until the emit ends.
class Posting {
public:
    struct Entry {
        const QObject* receiver;  // nullptr: not posted to (a direct connection)
        const void* slot;         // the connection's slot object, or nullptr
    };
    // A post to one object. qtOnly: none of our code runs inside the post.
    Posting(const QObject* receiver, bool qtOnly) : Posting(std::vector<Entry>{{receiver, nullptr}}, qtOnly) {}
    // An emit's connections, in the order Qt serves them. qtOnly: every one queued.
    Posting(const std::vector<Connection>& connections, bool qtOnly) : Posting(entries(connections), qtOnly) {}
    ~Posting() { current_ = outer_; }
    Posting(const Posting&) = delete;
    Posting& operator=(const Posting&) = delete;

    // after each allocation, once it is recorded as this thread's write
    static void allocated() {
        const Posting* p = current_;
        if (!p || p->served_ == p->entries_.size()) return;
        // this object lies in the emit's frame, above everything the emit calls
        if (p->qtOnly_ || !walked(p).ours) p->release();
    }

    // A slot object about to be called on this thread: when it is a direct connection of the
    // emit in progress, Qt served every connection before it.
    static void slotRuns(const void* slot) {
        Posting* p = current_;
        if (!p) return;
        for (size_t i = p->served_; i < p->entries_.size(); ++i)
            if (p->entries_[i].slot == slot) {
                p->served_ = i + 1;
                return;
            }
    }

    // A value of a type of ours copied by its own constructor `own`. Inside a post, for the
    // post (none of our code between): what the copy reads and writes is ours and seen, even
    // where Qt's own steps are kept out of sight, and the delivery is ordered after it.
    static void* copied(QMetaType::Constructor own, void* where, const void* from) {
        Posting* p = current_;
        if (!p || !from || oursBetween(p)) return own(where, from);
        if (p->qtOnly_) {
            AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
            AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
        }
        void* made = own(where, from);
        if (p->qtOnly_) {
            AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
            AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
        }
        p->release();
        return made;
    }

private:
    Posting(std::vector<Entry> entries, bool qtOnly) : entries_(std::move(entries)), qtOnly_(qtOnly), outer_(current_) {
        release();
        current_ = this;
    }
    static std::vector<Entry> entries(const std::vector<Connection>& connections) {
        std::vector<Entry> out;
        for (const Connection& c : connections)
            out.push_back({mayBeQueued(c.home, c.type) ? c.receiver : nullptr, c.slot});
        return out;
    }
    void release() const {
        for (size_t i = served_; i < entries_.size(); ++i)
            if (entries_[i].receiver) __tsan_release(handOver(entries_[i].receiver));
    }

    std::vector<Entry> entries_;
    size_t served_ = 0;  // the entries before it were served
    bool qtOnly_;
    Posting* outer_;
    static thread_local Posting* current_;
};
thread_local Posting* Posting::current_ = nullptr;

// Every event delivered to an object, before the receiver sees it (so before its type is
// read: a posted event is the poster's until this acquire).
bool delivering(void** data) {
    if (const auto* receiver = static_cast<const QObject*>(data[0])) {
        __tsan_acquire(handOver(receiver));
        if (!t_loopThread) {
            t_loopThread = receiver->thread();
            const QCoreApplication* app = QCoreApplication::instance();
            if (app && t_loopThread == app->thread()) g_guiLoopRuns.store(true, std::memory_order_relaxed);
        }
    }
    return false;  // delivered as usual
}

// QtPrivate::QSlotObjectBase as Qt 5 lays it out: its count, then its implementation.
struct SlotObjectLayout {
    QAtomicInt ref;
    void (*impl)(int which, QtPrivate::QSlotObjectBase* self, QObject* receiver, void** args, bool* ret);
};
static_assert(sizeof(SlotObjectLayout) == sizeof(QtPrivate::QSlotObjectBase), "Qt's slot object changed");
constexpr int kSlotDestroy = 0;
constexpr int kSlotCall = 1;
using SlotImpl = decltype(SlotObjectLayout::impl);

// A connection's slot object, watched: its implementation is replaced by slotWatched(), which
// tells the emit in progress that the slot runs and hands every call on to the implementation
// kept here (the table's lock and accesses hidden, as the receivers' table's).
std::mutex g_slotMutex;
std::unordered_map<const void*, SlotImpl>* g_slotImpls;

void slotWatched(int which, QtPrivate::QSlotObjectBase* self, QObject* receiver, void** args, bool* ret) {
    SlotImpl own;
    {
        Hidden hidden;
        std::lock_guard<std::mutex> lock(g_slotMutex);
        const auto it = g_slotImpls->find(self);
        own = it->second;
        if (which == kSlotDestroy) g_slotImpls->erase(it);
    }
    if (which == kSlotCall) Posting::slotRuns(self);
    own(which, self, receiver, args, ret);
}

void watchSlot(QtPrivate::QSlotObjectBase* slot) {
    if (!slot) return;
    Hidden hidden;
    auto* mine = reinterpret_cast<SlotObjectLayout*>(slot);
    std::lock_guard<std::mutex> lock(g_slotMutex);
    if (!g_slotImpls) g_slotImpls = new std::unordered_map<const void*, SlotImpl>;
    (*g_slotImpls)[slot] = mine->impl;
    mine->impl = slotWatched;
}

// The copy constructors of the types our code registers, each called through one of these
// (a constructor gets no word of which type it makes, so each type has a function of its own).
constexpr int kWatchedTypes = 64;
std::atomic<QMetaType::Constructor> g_typeCopies[kWatchedTypes];
std::mutex g_typeMutex;

template <int K>
void* copyWatched(void* where, const void* from) {
    return Posting::copied(g_typeCopies[K].load(std::memory_order_relaxed), where, from);
}
template <int... K>
std::array<QMetaType::Constructor, sizeof...(K)> copiesWatched(std::integer_sequence<int, K...>) {
    return {&copyWatched<K>...};
}

QMetaType::Constructor watchType(QMetaType::Constructor own) {
    static const auto kWatched = copiesWatched(std::make_integer_sequence<int, kWatchedTypes>());
    if (!own) return own;
    Hidden hidden;
    std::lock_guard<std::mutex> lock(g_typeMutex);
    for (int k = 0; k < kWatchedTypes; ++k) {
        const QMetaType::Constructor known = g_typeCopies[k].load(std::memory_order_relaxed);
        if (known == own) return kWatched[size_t(k)];
        if (!known) {
            g_typeCopies[k].store(own, std::memory_order_relaxed);
            return kWatched[size_t(k)];
        }
    }
    std::fprintf(stderr, "qmutex annotations: more than %d types registered; the rest are copied unwatched\n",
                 kWatchedTypes);
    return own;
}

template <typename Own>
bool delivered(Own own, QObject* receiver, QEvent* event) {
    const bool call = event && event->type() == QEvent::MetaCall;
    const bool taken = own(receiver, event);
    if (call) __tsan_release(handBack(receiver));
    return taken;
}

[[maybe_unused]] const bool g_deliveryHooked = QInternal::registerCallback(QInternal::EventNotifyCallback, delivering);

}  // namespace

// The sanitizer runtime's allocation hooks (its own definitions are empty weak ones).
extern "C" void __sanitizer_malloc_hook(const volatile void*, size_t) { Posting::allocated(); }

// Qt's implicitly shared data (a QString's, a QByteArray's, a container's) starts with its
// reference count, and whichever thread drops the last reference frees it. A drop made in our
// code is an atomic the detector sees; the last drop, made inside Qt, is not, so the free
// would seem unordered after the other threads' drops and their reads before. A free made by
// Qt's libraries (or a realloc, which Qt makes after it saw the count) acquires what was
// released at the block's first word, as that drop would. A free made by our code follows a
// drop the detector saw, and acquires nothing.
extern "C" void __sanitizer_free_hook(const volatile void* block) {
    if (allocatorCaller(__builtin_frame_address(0)) == Code::Qt) __tsan_acquire(const_cast<void*>(block));
}

void QMetaObject::activate(QObject* sender, const QMetaObject* meta, int local, void** argv) {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own =
        qtOwn<void (*)(QObject*, const QMetaObject*, int, void**)>(ownSlot, "_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    const auto connections = emitted(sender, meta ? meta->methodOffset() + local : kAnySignal);
    const bool qtOnly = queuedOnly(connections);
    Posting posting(connections, qtOnly);
    QtAccesses qt(qtOnly);
    own(sender, meta, local, argv);
}

void QMetaObject::activate(QObject* sender, int offset, int local, void** argv) {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<void (*)(QObject*, int, int, void**)>(ownSlot, "_ZN11QMetaObject8activateEP7QObjectiiPPv");
    const auto connections = emitted(sender, kAnySignal);
    const bool qtOnly = queuedOnly(connections);
    Posting posting(connections, qtOnly);
    QtAccesses qt(qtOnly);
    own(sender, offset, local, argv);
}

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                   void* ret) {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*)>(ownSlot,
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    // the last reference stays here unless the event outlives this call; taken before the
    // post, so the delivery (and a destruction inside Qt after it) is ordered after it
    slot->ref();
    bool taken;
    {
        const bool qtOnly = object && queued(object->thread(), type);
        Posting posting(object, qtOnly);
        QtAccesses qt(qtOnly);
        taken = own(object, slot, type, ret);
    }
    auto* mine = reinterpret_cast<SlotObjectLayout*>(slot);
    bool last;
    {
        // This drop may come after the receiver ran the call and Qt, after its own drop of
        // the count (uninstrumented), destroyed the functor: the count orders the two, out
        // of the detector's sight, so this one access is not shown to it.
        Hidden hidden;
        last = !mine->ref.deref();
    }
    if (last) {
        if (object) __tsan_acquire(handBack(object));
        mine->impl(kSlotDestroy, slot, nullptr, nullptr, nullptr);
    }
    return taken;
}

bool QMetaObject::invokeMethod(QObject* obj, const char* member, Qt::ConnectionType type, QGenericReturnArgument ret,
                               QGenericArgument a0, QGenericArgument a1, QGenericArgument a2, QGenericArgument a3,
                               QGenericArgument a4, QGenericArgument a5, QGenericArgument a6, QGenericArgument a7,
                               QGenericArgument a8, QGenericArgument a9) {
    using Own = bool (*)(QObject*, const char*, Qt::ConnectionType, QGenericReturnArgument, QGenericArgument,
                         QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                         QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument);
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<Own>(ownSlot,
        "_ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_"
        "S7_S7_S7_S7_S7_S7_S7_S7_");
    const bool qtOnly = obj && queued(obj->thread(), type);
    Posting posting(obj, qtOnly);
    QtAccesses qt(qtOnly);
    return own(obj, member, type, ret, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9);
}

// A QThread's end. The thread frees and wakes its own objects after its last instructions of
// ours, and its wait reads that under Qt's lock: the thread releases when it emits finished(),
// after everything it did for its objects but the wake, and a wait that returns acquires.
// Qt's D-Bus connection thread runs none of our code; it shares Qt's own registries (meta
// types, its connections) with the GUI thread under Qt's locks, so what it does to memory is
// kept out of the detector's sight from its start.
namespace {

// The ignores end with the thread (before the detector's own end of it).
struct UntilThreadEnd {
    bool on = false;
    ~UntilThreadEnd() {
        if (!on) return;
        AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
        AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
    }
};
thread_local UntilThreadEnd t_ignoredThread;

}  // namespace

void QThread::start(Priority priority) {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<void (*)(QThread*, Priority)>(ownSlot, "_ZN7QThread5startENS_8PriorityE");
    const QThread* self = this;
    connect(this, &QThread::finished, this, [self] { __tsan_release(threadEnd(self)); }, Qt::DirectConnection);
    if (objectName().startsWith(QLatin1String("QDBus")) || qstrncmp(metaObject()->className(), "QDBus", 5) == 0)
        connect(
            this, &QThread::started, this,
            [] {
                t_ignoredThread.on = true;
                AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
                AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
            },
            Qt::DirectConnection);
    own(this, priority);
}

void QObject::moveToThread(QThread* thread) {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<void (*)(QObject*, QThread*)>(ownSlot, "_ZN7QObject12moveToThreadEP7QThread");
    own(this, thread);
    moved(this, this->thread());
}

bool QThread::wait(QDeadlineTimer deadline) {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<bool (*)(QThread*, QDeadlineTimer)>(ownSlot, "_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = own(this, deadline);
    if (ended) __tsan_acquire(threadEnd(this));
    return ended;
}

bool QThread::wait(unsigned long time) {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<bool (*)(QThread*, unsigned long)>(ownSlot, "_ZN7QThread4waitEm");
    const bool ended = own(this, time);
    if (ended) __tsan_acquire(threadEnd(this));
    return ended;
}

void QCoreApplication::postEvent(QObject* receiver, QEvent* event, int priority) {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<void (*)(QObject*, QEvent*, int)>(ownSlot, "_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    Posting posting(receiver, true);
    QtAccesses qt(true);
    own(receiver, event, priority);
}

bool QObject::event(QEvent* event) {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<bool (*)(QObject*, QEvent*)>(ownSlot, "_ZN7QObject5eventEP6QEvent");
    return delivered(own, this, event);
}

bool QCoreApplication::event(QEvent* event) {
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<bool (*)(QObject*, QEvent*)>(ownSlot, "_ZN16QCoreApplication5eventEP6QEvent");
    return delivered(own, this, event);
}

// A type of ours registered for queued calls: its copies for them are watched (watchType).
int QMetaType::registerNormalizedType(const ::QByteArray& name, Destructor destructor, Constructor constructor, int size,
                                      QMetaType::TypeFlags flags, const QMetaObject* metaObject) {
    using Own = int (*)(const ::QByteArray&, Destructor, Constructor, int, QMetaType::TypeFlags, const QMetaObject*);
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<Own>(ownSlot,
        "_ZN9QMetaType22registerNormalizedTypeERK10QByteArrayPFvPvEPFS3_S3_PKvEi6QFlagsINS_8TypeFlagEEPK11QMetaObject");
    return own(name, destructor, watchType(constructor), size, flags, metaObject);
}

// The connections, for the receivers a sender's queued signals reach.
QMetaObject::Connection QObject::connect(const QObject* sender, const char* signal, const QObject* receiver,
                                         const char* member, Qt::ConnectionType type) {
    using Own = QMetaObject::Connection (*)(const QObject*, const char*, const QObject*, const char*, Qt::ConnectionType);
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<Own>(ownSlot, "_ZN7QObject7connectEPKS_PKcS1_S3_N2Qt14ConnectionTypeE");
    connected(sender, signalIndex(sender, signal), receiver, type);
    return own(sender, signal, receiver, member, type);
}

QMetaObject::Connection QObject::connect(const QObject* sender, const QMetaMethod& signal, const QObject* receiver,
                                         const QMetaMethod& method, Qt::ConnectionType type) {
    using Own = QMetaObject::Connection (*)(const QObject*, const QMetaMethod&, const QObject*, const QMetaMethod&,
                                           Qt::ConnectionType);
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<Own>(ownSlot, "_ZN7QObject7connectEPKS_RK11QMetaMethodS1_S4_N2Qt14ConnectionTypeE");
    connected(sender, original(signal.enclosingMetaObject(), signal.methodIndex()), receiver, type);
    return own(sender, signal, receiver, method, type);
}

QMetaObject::Connection QObject::connectImpl(const QObject* sender, void** signal, const QObject* receiver,
                                             void** slotPtr, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                             const int* types, const QMetaObject* senderMetaObject) {
    using Own = QMetaObject::Connection (*)(const QObject*, void**, const QObject*, void**, QtPrivate::QSlotObjectBase*,
                                           Qt::ConnectionType, const int*, const QMetaObject*);
    static std::atomic<void*> ownSlot{nullptr};
    const auto own = qtOwn<Own>(ownSlot,
        "_ZN7QObject11connectImplEPKS_PPvS1_S3_PN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPKiPK11QMetaObject");
    watchSlot(slot);
    connected(sender, signalIndex(signal, senderMetaObject), receiver, type, slot);
    return own(sender, signal, receiver, slotPtr, slot, type, types, senderMetaObject);
}
