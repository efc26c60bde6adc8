// Entry point: singletons in their fixed order, then the front panel and the tick.
#include <QApplication>
#include <QTimer>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/startup.h"
#include "core/syncupdate.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "platform/platform.h"
#include "platform/sim/board_control.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/standard_board.h"
#include "protocol/h71_wifi_config.h"
#include "protocol/networkmanage.h"
#include "protocol/uart_inout.h"
#include "protocol/uart_inout_4G.h"
#include "protocol/udpnetmanage.h"
#include "protocol/usbserver.h"
#include "scaler/c331_manage.h"
#include "ui/shell/engine_links.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_globals.h"

int main(int argc, char* argv[]) {
    plat::initFromEnvironment();
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
    }
    plat::sleepMs(3000);
    ConfigEngine::pInstance();  // INI file, device id, network globals
    VlxRamPara::pInstance();    // parameter RAM and user modes; needs the settings above
    fpga_manage::pInstance();   // sending-card engine; its thread waits for the scaler
    linkFpgaEngine();
    c331_manage::pInstance();   // C331 scaler: manager thread (bring-up, then the dispatcher)
    lcd_touch::pInstance();     // touch activity for the idle timeouts
    udpnetManage::pInstance();  // control links, each with its own thread
    Kv_uart_inout::pInstance();
    networkManage::pInstance();
    Kv_uart_inout_4G::pInstance();
    H71_WIFI_CONFIG::pInstance();  // WiFi files and the access point's start-up thread

    QApplication app(argc, argv);
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

    SyncUpdate::pInstance();
    QObject::connect(VlxRamPara::p_vlxrampara_config, &VlxRamPara::sig_update_para, SyncUpdate::p_SyncUpdate,
                     &SyncUpdate::para_sync);
    UsbServer::pInstance();  // USB sticks: codes 100, 101, 102
    QObject::connect(UsbServer::p_UsbServer, &UsbServer::sig_usb_update, SyncUpdate::p_SyncUpdate,
                     &SyncUpdate::para_sync);

    return app.exec();
}
