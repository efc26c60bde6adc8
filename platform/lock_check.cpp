#include "platform/lock_check.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unistd.h>
#if defined(__GLIBC__)
#include <execinfo.h>
#endif

namespace plat {

namespace {
using L = Lock;
using W = Wait;
constexpr size_t kLocks = size_t(Lock::Count);

const char* const kLockNames[kLocks] = {
    "an unnamed lock",
    "pass turn (g_passTurns)",
    "ProtocolEnginesInUse",
    "g_app_install_mutex",
    "netSettingsMutex",
    "partition-store lock (flashStore)",
    "c331_manage::manage_mutex",
    "c331_manage::flash_mutex",
    "VlxRamPara::vlx_mutex",
    "VlxRamPara::mode_mutex",
    "VlxRamPara::reg_file_mutex_",
    "kavelsource::passMutex_",
    "Utils::_source_hdminfo_mutex",
    "Utils::_source_init_mutex",
    "video_i2c bus mutex",
    "fpga_manage::object_mutex",
    "fpga_manage::port_mutex",
    "fpga_manage::image_mutex",
    "fpga_manage::reg_mutex",
    "g_schedule_mutex",
    "mailboxRamMutex()",
    "fpga_drv::update_mutex",
    "clock_record_run::mutex_",
    "Utils::_spi_mutex",
    "Utils::_c331_bnk_mutex",
    "Utils::_bri_set_mutex",
    "Utils::_led_para_init_mutex",
    "Utils::_check_nosig_mutex",
    "a change mailbox's lock (ChangeMailbox::mutex_)",
    "Utils::_test_signal_mutex",
    "settings writers' lock (g_iniWriter)",
    "Utils::_settings_mutex",
    "Utils::_file_deal_mutex",
    "dataFileWriters()",
    "RamFileWriter's hand-over lock",
    "Utils::_system_mutex",
    "the shell runner's lock",
    "Utils::_usleep_mutex",
    "g_flash_uid_mutex",
    "rcvRecovery::list_mutex_",
    "fpga_manage::usb_text_mutex_",
    "H71_WIFI_CONFIG::mutex_",
    "a reply slot's lock",
    "the pass turn's counters",
    "g_instanceMutex",
    "g_sinkMutex",
    "g_logMutex",
    "g_backendMutex",
    "a worker pacer's lock",
    "a wake slot's lock",
    "any lock",
};

const char* const kWaitNames[size_t(Wait::Count)] = {"a sleep", "a shell command", "an fsync",
                                                      "a flash's busy wait", "a blocking hand-over"};

// docs/architecture.md's lock table says the same, row by row (tests/platform/lock_check_test.cpp
// compares them).
const std::vector<lockcheck::Nesting> kNestings = {
    {L::PassTurn, L::EnginesInUse},
    {L::PassTurn, L::ReplySlot},
    {L::EnginesInUse, L::Any},   // a frame's handler takes what it needs
    {L::AppInstall, L::FileDeal},
    {L::AppInstall, L::FileWriters},
    {L::AppInstall, L::ShellRunner},
    {L::AppInstall, L::UsbText},
    {L::AppInstall, L::FpgaUpdate},
    {L::AppInstall, L::C331Flash},
    {L::AppInstall, L::C331Bank},
    {L::AppInstall, L::RegFile},
    {L::AppInstall, L::PrintSink},
    {L::NetSettings, L::SettingsWriters},
    {L::NetSettings, L::Settings},
    {L::NetSettings, L::ShellRunner},
    {L::Manage, L::VlxRam},
    {L::Manage, L::RegFile},
    {L::Manage, L::LedParaInit},
    {L::Manage, L::CheckNoSig},
    {L::Manage, L::C331Bank},
    {L::Manage, L::Spi},
    {L::Manage, L::BriSet},
    {L::Manage, L::TestSignal},
    {L::TestSignal, L::ChangeMailbox},
    {L::Manage, L::PrintSink},
    {L::Manage, L::RamFileWriter},
    {L::Manage, L::Settings},
    {L::Manage, L::SourceHdmiInfo},
    {L::C331Flash, L::PrintSink},
    {L::C331Flash, L::RegFile},
    {L::C331Flash, L::C331Bank},
    {L::C331Flash, L::Spi},
    {L::SourcePass, L::Manage},
    {L::SourcePass, L::SourceHdmiInfo},
    {L::SourcePass, L::SourceInit},
    {L::SourcePass, L::VideoI2c},
    {L::SourcePass, L::Settings},
    {L::SourcePass, L::SettingsWriters},
    {L::SourceInit, L::VideoI2c},
    {L::SourceInit, L::SourceHdmiInfo},
    {L::SourceInit, L::RegFile},
    {L::SourceInit, L::Manage},
    {L::SourceInit, L::SettingsWriters},
    {L::SourceInit, L::Settings},
    {L::UsbText, L::System},
    {L::SourceHdmiInfo, L::VlxRam},
    {L::FpgaObject, L::FpgaPort},
    {L::FpgaObject, L::ReplySlot},
    {L::FpgaPort, L::FpgaImage},
    {L::FpgaPort, L::Schedule},
    {L::FpgaPort, L::FpgaReg},
    {L::FpgaPort, L::Spi},
    {L::FpgaPort, L::MailboxRam},
    {L::FpgaPort, L::ReplySlot},
    {L::FpgaImage, L::Spi},
    {L::FpgaUpdate, L::Spi},
    {L::FpgaUpdate, L::System},
    {L::ClockRecord, L::FpgaUpdate},
    {L::ClockRecord, L::System},
    {L::C331Bank, L::Spi},
    {L::SettingsWriters, L::Settings},
    {L::FileWriters, L::WifiConfig},
    {L::FileWriters, L::FileDeal},
    {L::WakeSlot, L::Pacer},
    {L::Any, L::Log},       // every thread logs, under any lock
    {L::Any, L::Backend},   // the backends are made on first use, under any lock
    {L::Any, L::WakeSlot},  // a loop is woken from under any lock (the wake never blocks)
};

const std::vector<lockcheck::WaitUnder> kWaitsUnder = {
    {L::PassTurn, W::HandOver, "the cards' answer: 3 s, 0.8 s each with others queued"},
    {L::PassTurn, W::Sleep, "an FPGA's restart: 8 s"},
    // shared by every frame's handler: only the engines' swap (start-up, tests) waits for it
    {L::EnginesInUse, W::Sleep, "the handler's own waits"},
    {L::EnginesInUse, W::Shell, "the handler's own waits"},
    {L::EnginesInUse, W::Fsync, "the handler's own waits"},
    {L::EnginesInUse, W::FlashWait, "the handler's own waits"},
    {L::EnginesInUse, W::HandOver, "the handler's own waits"},
    {L::SourcePass, W::Sleep, "an EDID EEPROM write's acknowledgement polls and a receiver's reset pulse"},
    {L::SourcePass, W::Fsync, "the EDID check's one settings store"},
    {L::SourceInit, W::Sleep, "a receiver's reset pulse at start-up"},
    {L::SourceInit, W::Fsync, "the EDID check's one settings store"},
    {L::FpgaPort, W::Sleep, "a port's transmit buffer coming free: 3 s (a stuck port; a frame's time otherwise)"},
    {L::AppInstall, W::Shell, "the swap's commands"},
    {L::AppInstall, W::Sleep, "the swap's pauses"},
    {L::AppInstall, W::Fsync, "the image's write"},
    {L::AppInstall, W::FlashWait, "the USB upgrade's bitstream and font programs after its image"},
    {L::NetSettings, W::Shell, "the eth0 set-up"},
    {L::NetSettings, W::Fsync, "the store"},
    {L::PartitionStore, W::FlashWait, "one partition's erase and program"},
    {L::PartitionStore, W::Sleep, "one partition's erase and program"},
    {L::PartitionStore, W::Fsync, "one partition's program"},
    {L::SettingsWriters, W::Fsync, "one tcpip.ini replacement"},
    {L::FileWriters, W::Fsync, "one data file's replacement (a mode file and its menu copy)"},
    {L::FpgaUpdate, W::FlashWait, "an FPGA-flash erase and program: 4 s"},
    {L::FpgaUpdate, W::Sleep, "an FPGA-flash erase and program: 4 s"},
    {L::ClockRecord, W::FlashWait, "one record's erase and program"},
    {L::ClockRecord, W::Sleep, "one record's erase and program"},
    {L::C331Flash, W::FlashWait, "one scaler flash sequence"},
    {L::C331Flash, W::Sleep, "one scaler flash sequence"},
    {L::ShellRunner, W::Shell, "one command"},
};

struct Tables {
    bool nest[kLocks][kLocks] = {};
    bool wait[kLocks][size_t(Wait::Count)] = {};
    Tables() {
        for (const auto& n : kNestings)
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
        for (size_t o = 0; o < kLocks; ++o) nest[o][size_t(L::Unnamed)] = nest[size_t(L::Unnamed)][o] = false;
        for (const auto& w : kWaitsUnder) wait[size_t(w.lock)][size_t(w.wait)] = true;
    }
};
const Tables& tables() {
    static const Tables t;
    return t;
}

// Mutexes named by address: a fixed table, read without a lock.
constexpr size_t kNamedMax = 64;
std::array<std::atomic<const void*>, kNamedMax> g_namedAt{};
std::array<std::atomic<uint8_t>, kNamedMax> g_namedAs{};
std::mutex g_naming;   // the checker's own: writers of the two arrays above

std::atomic<lockcheck::FailureHook> g_hook{nullptr};

}  // namespace

const char* lockName(Lock l) { return size_t(l) < kLocks ? kLockNames[size_t(l)] : "?"; }
const char* waitName(Wait w) { return size_t(w) < size_t(Wait::Count) ? kWaitNames[size_t(w)] : "?"; }

namespace lockcheck {

const std::vector<Nesting>& nestings() { return kNestings; }
const std::vector<WaitUnder>& waitsUnder() { return kWaitsUnder; }
bool mayNest(Lock outer, Lock inner) { return tables().nest[size_t(outer)][size_t(inner)]; }
bool mayWait(Lock held, Wait w) { return tables().wait[size_t(held)][size_t(w)]; }

FailureHook setFailureHook(FailureHook hook) { return g_hook.exchange(hook); }

void nameLock(const void* mutex, Lock l) {
    std::lock_guard<std::mutex> g(g_naming);
    size_t freeSlot = kNamedMax;
    for (size_t i = 0; i < kNamedMax; ++i) {
        const void* at = g_namedAt[i].load();
        if (at == mutex) {
            g_namedAs[i].store(uint8_t(l));
            return;
        }
        if (!at && freeSlot == kNamedMax) freeSlot = i;
    }
    if (freeSlot == kNamedMax) {
        std::fprintf(stderr, "lock check: more than %u named locks\n", unsigned(kNamedMax));
        std::abort();
    }
    g_namedAs[freeSlot].store(uint8_t(l));
    g_namedAt[freeSlot].store(mutex);
}

void forgetLock(const void* mutex) {
    std::lock_guard<std::mutex> g(g_naming);
    for (auto& at : g_namedAt)
        if (at.load() == mutex) at.store(nullptr);
}

Lock nameOf(const void* mutex) {
    for (size_t i = 0; i < kNamedMax; ++i)
        if (g_namedAt[i].load(std::memory_order_acquire) == mutex) return Lock(g_namedAs[i].load());
    return Lock::Unnamed;
}

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

Lock named(Lock l, const void* mutex) { return l != Lock::Unnamed ? l : nameOf(mutex); }

}  // namespace

void acquiring(Lock l, const void* mutex) {
    if (find(mutex)) return;   // a recursive mutex taken again
    l = named(l, mutex);
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
    t_held.at[t_held.n++] = Held{mutex, named(l, mutex), 1};
}

void released(const void* mutex) {
    for (size_t i = t_held.n; i-- > 0;) {
        if (t_held.at[i].mutex != mutex) continue;
        if (--t_held.at[i].depth > 0) return;
        for (size_t k = i + 1; k < t_held.n; ++k) t_held.at[k - 1] = t_held.at[k];
        --t_held.n;
        return;
    }
}

void waitPoint(Wait w) {
    for (size_t i = 0; i < t_held.n; ++i) {
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
