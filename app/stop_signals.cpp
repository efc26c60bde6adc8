#include "app/stop_signals.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "app/syncupdate.h"
#include "core/logMsg.h"
#include "core/manage_within.h"
#include "core/ram_file_writer.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "platform/sim/board_control.h"
#include "protocol/link_gate.h"

namespace stop_signals {
namespace {

int g_stopPipe[2] = {-1, -1};   // made before the handlers are set, read-only after
int g_leftPipe[2] = {-1, -1};   // written once the GUI thread has left its loop, read by the watcher
// The handler writes it, the GUI thread and the watcher read it: an atomic, since the readers
// are other threads than the one the signal interrupted.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "written from a signal handler");
std::atomic<bool> g_loopLeft{false};  // the GUI thread has left its event loop and ends the program

// The RAM under the manage mutex, waited for at most waitMs: a GUI thread stuck inside its own
// change may hold it for ever.
bool copyRamWithin(unsigned char* out, int waitMs) {
    VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    if (!p) return false;
    ManageMutexWithin lock(waitMs);
    if (!lock.held()) return false;
    p->copyRam(0, vlxram::kRamSize, out);
    return true;
}

// The last save, the links closed: the user-mode requests answered "done" and not yet carried
// out, then the RAM as it now is. The manage mutex is waited for kRamWaitMs in all.
void lastSave() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRamWaitMs);
    SyncUpdate::keepModeRequestsAtStop(kRamWaitMs);
    const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    unsigned char ram[vlxram::kRamSize];
    if (copyRamWithin(ram, int(std::max<long long>(0, rest.count())))) {
        RamFileWriter::saveAtStop(ram);
        return;
    }
    RamFileWriter::saveAtStop(nullptr);
    writeLogMsg(LOG_ERROR, "the RAM was held past " + std::to_string(kRamWaitMs) +
                               " ms at the stop: the parameter file keeps its last save");
}

extern "C" void onStopSignal(int sig) {
    link_gate::close();
    g_stopSignal.store(sig);
    const char c = 1;
    (void)!::write(g_stopPipe[1], &c, 1);
}

// Ends the event loop when an event reaches it: the stop watcher's request, posted ahead of
// every event waiting there.
class QuitRequest : public QObject {
public:
    using QObject::QObject;
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        QCoreApplication::quit();
        return true;
    }
};

void watch(QCoreApplication* app) {
    try {
        auto* quit = new QuitRequest(app);
        std::thread([quit] {
            plat::nameThisThread("stop");
            pollfd in{g_stopPipe[0], POLLIN, 0};
            while (::poll(&in, 1, -1) < 0 && errno == EINTR) {
            }
            QCoreApplication::postEvent(quit, new QEvent(QEvent::User), Qt::HighEventPriority);
            // the grace is real time, whatever scale the sleeps run at
            pollfd left{g_leftPipe[0], POLLIN, 0};
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGraceMs);
            for (;;) {
                const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
                    end - std::chrono::steady_clock::now()).count();
                if (g_loopLeft || rest <= 0) break;
                ::poll(&left, 1, static_cast<int>(rest));
            }
            if (g_loopLeft) return;
            writeLogMsg(LOG_WARNING, "the panel did not end within " + std::to_string(kGraceMs) +
                                         " ms of the stop signal: ended without it");
            lastSave();
            endProgram(1, g_stopSignal.load());
        }).detach();
    } catch (const std::system_error& e) {
        // without the watcher the event loop still sees the pipe
        writeLogMsg(LOG_ERROR, std::string("stop watcher not started: ") + e.what());
        auto* notifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, app);
        QObject::connect(notifier, &QSocketNotifier::activated, app, &QCoreApplication::quit);
    }
}

}  // namespace

void install(QCoreApplication* app) {
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0 || ::pipe2(g_leftPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("vlxH71N: no pipe for the stop signals");
        return;
    }
    watch(app);
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    struct sigaction hup {};
    if (::sigaction(SIGHUP, nullptr, &hup) == 0 && hup.sa_handler != SIG_IGN) ::sigaction(SIGHUP, &sa, nullptr);
}

void endAfterLoop(int status) {
    g_loopLeft = true;
    if (g_leftPipe[1] >= 0) {
        const char c = 1;
        (void)!::write(g_leftPipe[1], &c, 1);
    }
    link_gate::close();  // (the signal's handler has closed it already)
    // The links answer no more: the RAM and the slots now hold every change they answered "done".
    lastSave();
    const int sig = g_stopSignal.load();
    if (sig) writeLogMsg(LOG_INFO, "stopped by signal " + std::to_string(sig));
    endProgram(status, sig);
}

void endProgram(int status, int sig) {
    static std::atomic<bool> ending{false};
    if (ending.exchange(true))
        for (;;) ::pause();
    if (plat::board() == plat::Board::Sim) plat::sim::stopBoardControl();
    std::fflush(nullptr);
    if (sig) {
        ::signal(sig, SIG_DFL);
        ::raise(sig);
    }
    std::_Exit(status);
}

extern "C" void endAtExit() { endProgram(1); }

}  // namespace stop_signals
