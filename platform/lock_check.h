#pragma once
// The lock table as code, and its check while the tests run (docs/architecture.md, "Locks").
// Every mutex of the controller is constructed with one of the names below; what each guards,
// the waits it may be held across and the locks it may be taken under are one list,
// platform/lock_table.cpp, from which the document's table is made too. In the test and sanitizer
// builds (VLX_LOCK_CHECK) each thread keeps the list of the locks it holds: taking a lock
// while holding one the table does not let it nest under, or waiting (a sleep, a shell
// command, an fsync, a flash's busy wait, a blocking hand-over to another thread, an event
// loop) while
// holding a lock the table does not allow there, stops the program with both names and the
// stack, and so does the unlock of a lock by a thread that does not hold it. The device's own
// build compiles none of the check.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace plat {

// One row each in platform/lock_table.cpp, in this order.
enum class Lock : uint8_t {
    PassTurn,
    EnginesInUse,
    AppInstall,
    NetSettings,
    PartitionStore,
    Manage,
    C331Flash,
    VlxRam,
    ModeSlots,
    RegFile,
    SourcePass,
    SourceHdmiInfo,
    SourceInit,
    VideoI2c,
    FpgaObject,
    FpgaPort,
    FpgaImage,
    FpgaReg,
    Schedule,
    MailboxRam,
    FpgaUpdate,
    ClockRecord,
    Spi,
    C331Bank,
    BriSet,
    LedParaInit,
    CheckNoSig,
    ChangeMailbox,
    TestSignal,
    SettingsWriters,
    Settings,
    FileDeal,
    FileWriters,
    RamFileWriter,
    System,
    ShellRunner,
    FlashUid,
    RcvRecoveryList,
    UsbText,
    WifiConfig,
    ReplySlot,
    PassTurnCounters,
    KavelInstance,
    PrintSink,
    Log,
    Backend,
    Pacer,
    WakeSlot,
    Any,   // in the table only: any lock
    Count
};

// EventLoop: a Qt event loop run on this thread (a modal screen's, the application's): every
// other thread that needs this one waits while it runs, so the table allows it under no lock.
enum class Wait : uint8_t { Sleep, Shell, Fsync, FlashWait, HandOver, EventLoop, Count };

// The lock's name in the check's reports (its row's name without the document's marks).
const char* lockName(Lock l);
const char* waitName(Wait w);

namespace lockcheck {

// A row of the table: how the document names the lock (Markdown), where it lives, what it
// guards.
struct LockRow {
    Lock lock;
    const char* name;
    const char* where;   // "" when the name says it
    const char* guards;
};
// `inner` may be taken while `outer` is held (either may be Lock::Any); `why` is "" or the
// case that takes it.
struct Nesting {
    Lock outer, inner;
    const char* why;
};
// A wait the table allows while `lock` is held, and its bound.
struct WaitUnder {
    Lock lock;
    Wait wait;
    const char* bound;
};
const std::vector<LockRow>& lockRows();
const std::vector<Nesting>& nestings();
const std::vector<WaitUnder>& waitsUnder();
// The table as docs/architecture.md shows it, one Markdown line per row after the header.
std::string markdownTable();
// The order the table sets, its nestings followed through: true when `inner` may be taken
// while `outer` is held, directly or with locks between them.
bool mayNest(Lock outer, Lock inner);
bool mayWait(Lock held, Wait w);

// A failure goes to the hook instead of stopping the program (the checker's own test).
using FailureHook = void (*)(const std::string& report);
FailureHook setFailureHook(FailureHook hook);

#ifdef VLX_LOCK_CHECK
constexpr bool kOn = true;
// Before a blocking lock: the order check. After any lock that succeeded. Before a release:
// false when this thread does not hold the lock (a hold dropped and not taken back, another
// thread's lock), which the check refuses: the caller lets nothing go.
void acquiring(Lock l, const void* mutex);
void acquired(Lock l, const void* mutex);
bool released(Lock l, const void* mutex);
// At a wait: nothing held beyond what the table allows there. `lettingGo`, a mutex this
// thread holds, is let go for the wait (a condition variable's).
void waitPoint(Wait w, const void* lettingGo = nullptr);
// The locks this thread holds, outermost first.
std::vector<Lock> heldHere();
#else
constexpr bool kOn = false;
inline void acquiring(Lock, const void*) {}
inline void acquired(Lock, const void*) {}
inline bool released(Lock, const void*) { return true; }
inline void waitPoint(Wait, const void* = nullptr) {}
inline std::vector<Lock> heldHere() { return {}; }
#endif

}  // namespace lockcheck
}  // namespace plat
