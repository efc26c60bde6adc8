#include "app/stop_signals.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "app/stop_save.h"
#include "core/logMsg.h"
#include "platform/platform.h"
#include "platform/sim/board_control.h"
#include "protocol/link_gate.h"

namespace stop_signals {
namespace {

int g_stopPipe[2] = {-1, -1};   // made before the handlers are set, read-only after
// The handler writes it, the GUI thread and the watcher read it: an atomic, since the readers
// are other threads than the one the signal interrupted.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "written from a signal handler");

// The last save and the end, by the first caller: the watcher at the signal, or the GUI thread
// out of its loop without one. A second caller waits for that end.
[[noreturn]] void saveAndEnd(int status) {
    static std::atomic<bool> begun{false};
    if (begun.exchange(true))
        for (;;) ::pause();
    stop_save::run();
    const int sig = g_stopSignal.load();
    if (sig) writeLogMsg(LOG_INFO, "stopped by signal " + std::to_string(sig));
    endProgram(status, sig);
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
            // The GUI thread stops taking events; the save does not wait for it to leave its
            // loop, which a long refresh or the notification's own mode files may hold.
            QCoreApplication::postEvent(quit, new QEvent(QEvent::User), Qt::HighEventPriority);
            saveAndEnd(1);
        }).detach();
    } catch (const std::system_error& e) {
        // without the watcher the event loop still sees the pipe
        writeLogMsg(LOG_ERROR, std::string("stop watcher not started: ") + e.what());
        auto* notifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, app);
        QObject::connect(notifier, &QSocketNotifier::activated, app, &QCoreApplication::quit);
    }
}

}  // namespace

void installHandlers() {
    static bool done = false;
    if (done) return;
    done = true;
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("vlxH71N: no pipe for the stop signals");
        return;
    }
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    // (a shell starts a background job with SIGINT ignored: Ctrl-C's kill still stops it)
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    struct sigaction hup {};
    if (::sigaction(SIGHUP, nullptr, &hup) == 0 && hup.sa_handler != SIG_IGN) ::sigaction(SIGHUP, &sa, nullptr);
}

void install(QCoreApplication* app) {
    installHandlers();
    // a signal that came during the start is in the pipe already: the watcher acts on it at once
    if (g_stopPipe[0] >= 0) watch(app);
}

void endAfterLoop(int status) {
    link_gate::close();  // (the signal's handler has closed it already)
    // The links answer no more: the RAM and the slots now hold every change they answered "done".
    saveAndEnd(status);
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
