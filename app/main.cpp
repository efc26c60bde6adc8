// Entry point: singletons in their fixed order, then the front panel and the tick.
#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "app/engine_links.h"
#include "app/syncupdate.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/ram_file_writer.h"
#include "core/startup.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "platform/platform.h"
#include "platform/sim/board_control.h"
#include "platform/sim/byte_log.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/standard_board.h"
#include "protocol/h71_wifi_config.h"
#include "protocol/networkmanage.h"
#include "protocol/uart_inout.h"
#include "protocol/uart_inout_4G.h"
#include "protocol/udpnetmanage.h"
#include "protocol/c331_engines.h"
#include "protocol/usbserver.h"
#include "scaler/c331_manage.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/output/output_links.h"
#include "ui/system/system_links.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_globals.h"
#include "video_io/kavelsource.h"

namespace {

// Ctrl-C, a kill or a hang-up: the handler only notes the signal and wakes the event loop.
int g_stopPipe[2] = {-1, -1};   // made before the handlers are set, read-only after
volatile std::sig_atomic_t g_stopSignal = 0;
std::atomic<bool> g_loopLeft{false};  // the GUI thread has left its event loop and ends the program

extern "C" void onStopSignal(int sig) {
    g_stopSignal = sig;
    const char c = 1;
    (void)!::write(g_stopPipe[1], &c, 1);
}

// The end of the program once its workers run. Their threads serve until the process ends, so
// the program ends without destroying the objects they use under them; board control is
// joined first, so that no board command is cut halfway. Every file the controller rewrites is
// replaced atomically. After a stop signal it ends as that signal's default would, so that a
// calling shell sees it.
[[noreturn]] void endProgram(int status, int sig = 0) {
    // The GUI thread and the stop watcher may both get here: the first one ends the program.
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

// A library that ends the program with exit() (Qt's X11 plugin does, with status 1, when its
// display goes) would run the static destructors under the workers.
extern "C" void endAtExit() { endProgram(1); }

// How long the GUI thread has after a stop signal to leave its event loop and save.
constexpr int kStopGraceMs = 3000;

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

// The stop watcher: on a stop signal it asks the event loop to quit ahead of every event
// waiting there. A GUI thread that has not left the loop by the grace's end (a refresh that
// does not return, a queue a flood built) does not keep the program: the watcher saves what
// the parameter file's writer was handed and ends it.
void watchStopSignals(QApplication* app) {
    try {
        auto* quit = new QuitRequest(app);
        std::thread([quit] {
            plat::nameThisThread("stop");
            pollfd in{g_stopPipe[0], POLLIN, 0};
            while (::poll(&in, 1, -1) < 0 && errno == EINTR) {
            }
            QCoreApplication::postEvent(quit, new QEvent(QEvent::User), Qt::HighEventPriority);
            std::this_thread::sleep_for(std::chrono::milliseconds(kStopGraceMs));
            if (g_loopLeft) return;
            writeLogMsg(LOG_WARNING, "the panel did not end within " + std::to_string(kStopGraceMs) +
                                         " ms of the stop signal: ended without it");
            RamFileWriter::flush();
            endProgram(1, g_stopSignal);
        }).detach();
    } catch (const std::system_error& e) {
        // without the watcher the event loop still sees the pipe
        writeLogMsg(LOG_ERROR, std::string("stop watcher not started: ") + e.what());
        auto* notifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, app);
        QObject::connect(notifier, &QSocketNotifier::activated, app, &QCoreApplication::quit);
    }
}

void quitOnStopSignals(QApplication* app) {
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("vlxH71N: no pipe for the stop signals");
        return;
    }
    watchStopSignals(app);
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    // A hang-up ignored by whoever started the program (nohup) stays ignored.
    struct sigaction hup {};
    if (::sigaction(SIGHUP, nullptr, &hup) == 0 && hup.sa_handler != SIG_IGN) ::sigaction(SIGHUP, &sa, nullptr);
}

// Qt's runtime folder. Without XDG_RUNTIME_DIR Qt warns and falls back to a folder in /tmp
// shared with the user's other programs: the controller gets its own under its root, made
// before any thread runs (setenv beside a getenv on another thread is a race).
void privateRuntimeFolder() {
    const char* set = std::getenv("XDG_RUNTIME_DIR");
    if (set && *set) return;
    const std::string dir = plat::path("/run/xdg-runtime");
    struct stat st;
    // Qt takes only a folder of ours that no one else may enter; a link is not one.
    const bool made = plat::makeDirs("/run") && (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) &&
                      ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
                      ::chmod(dir.c_str(), 0700) == 0;
    if (made)
        ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    else
        std::fprintf(stderr, "vlxH71N: %s cannot be made a private folder: XDG_RUNTIME_DIR stays unset\n", dir.c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
    plat::initFromEnvironment();
    // A second controller on the same board would clear the first one's temporary files
    // and find its ports taken: it stops before touching anything.
    std::string rootInUse;
    if (!plat::lockRoot(&rootInUse)) {
        std::fprintf(stderr, "vlxH71N: %s\n", rootInUse.c_str());
        return 1;
    }
    privateRuntimeFolder();
    // The simulated board's logs are the tests' instruments: small here, before any is made.
    if (plat::board() == plat::Board::Sim) plat::sim::setInspectionLogShare(1.0 / 64);
    const int leftovers = prepareDataFolders();
    writeLogMsg(LOG_INFO, std::string("board: ") + plat::boardName() + ", root: " +
                              (plat::root().empty() ? "/" : plat::root()));
    if (leftovers) writeLogMsg(LOG_WARNING, std::to_string(leftovers) + " temporary files of interrupted saves removed");
    if (plat::board() == plat::Board::Sim) {
        // The standard board from the wiring table; its chips are the next log lines.
        plat::sim::SimBoard& board = plat::sim::board();
        for (const std::string& line : plat::sim::buildStandardBoard(board)) writeLogMsg(LOG_INFO, "chip " + line);
        for (const std::string& line : plat::sim::plugDemoCards(board)) writeLogMsg(LOG_INFO, line);
        board.followRealTime(true);
        plat::sim::startBoardControl();
        plat::sim::registerChipCommands();
        writeLogMsg(LOG_INFO, plat::sim::applyStartChipId());  // before the device id is derived
        // Sources plugged in before power-up: "HDMI1 1920x1080@60; HDMI3 3840x2160@60".
        if (const char* plugged = std::getenv("VLX_SIM_SIGNALS")) {
            for (const QString& one : QString(plugged).split(';', Qt::SkipEmptyParts)) {
                const std::string answer = plat::sim::runBoardCommand("signal " + one.trimmed().toStdString());
                writeLogMsg(LOG_INFO, "signal " + one.trimmed().toStdString() + ": " + answer);
            }
        }
    }
    plat::hardwareWaitMs(3000);  // the chips settle after power-up
    ConfigEngine::pInstance();  // INI file, device id, network globals
    VlxRamPara::pInstance();    // parameter RAM and user modes; needs the settings above
    kavelsource::pInstance();   // input-source manager, before the FPGA engine
    kavelsource::linkFpgaEngine();  // the engine runs an FPGA only once its pixel clock runs
    kavelsource::linkScaler();      // the scaler reads the receivers' records and refreshes them for its dump
    linkFpgaEngine();   // the engine's hooks and the screens' links, before its thread runs
    linkUsbUpgrade();   // the upgrade's display and status text
    fpga_manage::pInstance();   // sending-card engine; its thread waits for the scaler
    kavelsource::p_kavel_source->initialize();  // input chips' bus and thread, on the engine's GPIO window
    c331_manage::pInstance();   // C331 scaler: manager thread (bring-up, then the dispatcher)
    static C331ProtocolEngines c331Part;   // no state of its own: calls into the scaler's manager
    installC331Engines(&c331Part);  // the PC's flash commands, font reload and register print
    systemLinks().c331FontBits = [] { return c331_manage::p_c331_manage ? c331_manage::p_c331_manage->font_present.load() : 0u; };
    lcd_touch::pInstance();     // touch activity for the idle timeouts
    linkSystemServices();       // the system screens' SDI reset and WiFi restart
    linkFileTransferScreens();  // receiving-card files stored or deleted over the protocol, before a link reads it
    udpnetManage::pInstance();  // control links, each with its own thread
    Kv_uart_inout::pInstance();
    networkManage::pInstance();
    Kv_uart_inout_4G::pInstance();
    H71_WIFI_CONFIG::pInstance();  // WiFi files and the access point's start-up thread

    QApplication app(argc, argv);
    quitOnStopSignals(&app);
    std::atexit(endAtExit);  // after the statics the workers and Qt's display plugin made
    panel_style::installPanelFont(&app);
    app.installEventFilter(lcd_touch::p_lcd_touch);

    g_mainwindow = new MainWindow;  // also builds the shared keypad
    g_lockwindow = new LockWindow;
    g_mainwindow->show();
    g_page_focus = 0;
    panel_style::placeOnPanel(g_lockwindow);  // the home window's place is known once shown
    g_lockwindow->show();

    if (g_numberkeyboard) g_numberkeyboard->setGeometry(keypadRectFor(panel_style::panelOrigin()));

    g_timer = new QTimer;
    QObject::connect(g_timer, &QTimer::timeout, g_mainwindow.data(), &MainWindow::slot_update_timer_ticks);
    g_timer->start(10);

    SyncUpdate::pInstance()->follow(VlxRamPara::p_vlxrampara_config, &VlxRamPara::sig_update_para);
    UsbServer::pInstance();  // USB sticks: codes 100, 101, 102
    SyncUpdate::p_SyncUpdate->follow(UsbServer::p_UsbServer, &UsbServer::sig_usb_update);

    const int status = app.exec();
    g_loopLeft = true;
    RamFileWriter::flush();  // the last change's save is in the file before the program ends
    const int sig = g_stopSignal;
    if (sig) writeLogMsg(LOG_INFO, "stopped by signal " + std::to_string(sig));
    endProgram(status, sig);
}
