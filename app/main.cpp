// Entry point: singletons in their fixed order, then the front panel and the tick.
#include <QApplication>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "app/engine_links.h"
#include "app/syncupdate.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/startup.h"
#include "app/stop_signals.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "platform/platform.h"
#include "platform/waits.h"
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
    stop_signals::installHandlers();  // before board control and the links open
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
    stop_signals::install(&app);
    std::atexit(stop_signals::endAtExit);  // after the statics the workers and Qt's display plugin made
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

    stop_signals::endAfterLoop(plat::runEventLoop(app));
}
