#pragma once
// The lock table as code, and its check while the tests run (docs/architecture.md, "Locks").
// Every mutex of the controller carries one of the names below. In the test and sanitizer
// builds (VLX_LOCK_CHECK) each thread keeps the list of the locks it holds: taking a lock
// while holding one the table does not let it nest under, or waiting (a sleep, a shell
// command, an fsync, a flash's busy wait, a blocking hand-over to another thread) while
// holding a lock the table does not allow there, stops the program with both names and the
// stack. The device's own build compiles none of it.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace plat {

enum class Lock : uint8_t {
    Unnamed,   // a mutex nobody named: it may nest with nothing and be held across no wait
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
    Usleep,
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

enum class Wait : uint8_t { Sleep, Shell, Fsync, FlashWait, HandOver, Count };

const char* lockName(Lock l);
const char* waitName(Wait w);

namespace lockcheck {

// The table: `inner` may be taken while `outer` is held (either may be Lock::Any).
struct Nesting {
    Lock outer, inner;
};
// A wait the table allows while `lock` is held, and its bound.
struct WaitUnder {
    Lock lock;
    Wait wait;
    const char* bound;
};
const std::vector<Nesting>& nestings();
const std::vector<WaitUnder>& waitsUnder();
// The order the table sets, its nestings followed through: true when `inner` may be taken
// while `outer` is held, directly or with locks between them.
bool mayNest(Lock outer, Lock inner);
bool mayWait(Lock held, Wait w);

// A failure goes to the hook instead of stopping the program (the checker's own test).
using FailureHook = void (*)(const std::string& report);
FailureHook setFailureHook(FailureHook hook);

// Names a mutex whose type cannot carry its name (a POSIX mutex, one declared elsewhere).
void nameLock(const void* mutex, Lock l);
void forgetLock(const void* mutex);
Lock nameOf(const void* mutex);

#ifdef VLX_LOCK_CHECK
constexpr bool kOn = true;
// Before a blocking lock: the order check. After any lock that succeeded, and on release.
void acquiring(Lock l, const void* mutex);
void acquired(Lock l, const void* mutex);
void released(const void* mutex);
// At a wait: nothing held beyond what the table allows there.
void waitPoint(Wait w);
// The locks this thread holds, outermost first.
std::vector<Lock> heldHere();
#else
constexpr bool kOn = false;
inline void acquiring(Lock, const void*) {}
inline void acquired(Lock, const void*) {}
inline void released(const void*) {}
inline void waitPoint(Wait) {}
inline std::vector<Lock> heldHere() { return {}; }
#endif

}  // namespace lockcheck
}  // namespace plat
