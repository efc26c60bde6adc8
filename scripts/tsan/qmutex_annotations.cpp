// ThreadSanitizer builds only (VLX_TSAN). QMutex is implemented in Qt's own library, which
// is not instrumented: without this the race detector sees no lock around anything the
// process-wide QMutexes guard. These definitions sit in the program itself, so every call
// of ours reaches them before Qt's; each forwards to Qt's and tells the detector what the
// mutex did. Qt's calls inside its own library stay unannotated (the suppressions file).
// Below, the same for the hand-over of Qt's event queue.
#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

#include <QCoreApplication>
#include <QEvent>
#include <QMutex>
#include <QObject>
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

// Qt's event queue: a queued call or queued signal is posted under the receiving thread's
// event-list lock and taken from that list under the same lock, both inside Qt. The detector
// is told of the hand-over: every post our code makes (a signal emitted, invokeMethod,
// postEvent) releases one sync object, and every queued call or posted event of ours that Qt
// delivers acquires it just before the receiver runs. One object for every thread orders a
// little more than Qt does (its lock is per receiving thread): a post to one thread is taken
// to precede a delivery on another.
// The hand-back: a queued functor is shared by the caller and the event through Qt's atomic
// reference count, and whichever drops the last reference destroys it, after the receiver ran
// it. A delivered call releases a second object once it returns; the caller keeps a reference
// of its own and, when that is the last, acquires it before destroying the functor.
namespace {

char g_queueHandOver;
char g_queueHandBack;

void posted() { __tsan_release(&g_queueHandOver); }

bool delivering(void** data) {
    const auto* event = static_cast<const QEvent*>(data[1]);
    if (event && (event->type() == QEvent::MetaCall || event->type() >= QEvent::User))
        __tsan_acquire(&g_queueHandOver);
    return false;  // delivered as usual
}

// QtPrivate::QSlotObjectBase as Qt 5 lays it out: its count, then its implementation.
struct SlotObjectLayout {
    QAtomicInt ref;
    void (*impl)(int which, QtPrivate::QSlotObjectBase* self, QObject* receiver, void** args, bool* ret);
};
static_assert(sizeof(SlotObjectLayout) == sizeof(QtPrivate::QSlotObjectBase), "Qt's slot object changed");
constexpr int kSlotDestroy = 0;

template <typename Own>
bool delivered(Own own, QObject* receiver, QEvent* event) {
    const bool call = event && event->type() == QEvent::MetaCall;
    const bool taken = own(receiver, event);
    if (call) __tsan_release(&g_queueHandBack);
    return taken;
}

[[maybe_unused]] const bool g_deliveryHooked = QInternal::registerCallback(QInternal::EventNotifyCallback, delivering);

}  // namespace

void QMetaObject::activate(QObject* sender, const QMetaObject* meta, int local, void** argv) {
    static const auto own =
        qtOwn<void (*)(QObject*, const QMetaObject*, int, void**)>("_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    posted();
    own(sender, meta, local, argv);
}

void QMetaObject::activate(QObject* sender, int offset, int local, void** argv) {
    static const auto own = qtOwn<void (*)(QObject*, int, int, void**)>("_ZN11QMetaObject8activateEP7QObjectiiPPv");
    posted();
    own(sender, offset, local, argv);
}

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                   void* ret) {
    static const auto own = qtOwn<bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    posted();
    slot->ref();  // the last reference stays here unless the event outlives this call
    const bool taken = own(object, slot, type, ret);
    auto* mine = reinterpret_cast<SlotObjectLayout*>(slot);
    if (!mine->ref.deref()) {
        __tsan_acquire(&g_queueHandBack);
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
    static const auto own = qtOwn<Own>(
        "_ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_"
        "S7_S7_S7_S7_S7_S7_S7_S7_");
    posted();
    return own(obj, member, type, ret, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9);
}

void QCoreApplication::postEvent(QObject* receiver, QEvent* event, int priority) {
    static const auto own = qtOwn<void (*)(QObject*, QEvent*, int)>("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    posted();
    own(receiver, event, priority);
}

bool QObject::event(QEvent* event) {
    static const auto own = qtOwn<bool (*)(QObject*, QEvent*)>("_ZN7QObject5eventEP6QEvent");
    return delivered(own, this, event);
}

bool QCoreApplication::event(QEvent* event) {
    static const auto own = qtOwn<bool (*)(QObject*, QEvent*)>("_ZN16QCoreApplication5eventEP6QEvent");
    return delivered(own, this, event);
}
