#include "ui/output/output_links.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "core/vlxrampara.h"
#include "fpga/engine_events.h"
#include "fpga/fpga_manage.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_globals.h"

OutputLinks& outputLinks() {
    static OutputLinks links;   // filled by start-up, then used by the screens: GUI thread only
    return links;
}

void linkUsbUpgrade() {
    outputLinks().usbUpgradeStatus = [] {
        fpga_manage* e = fpga_manage::p_fpga_manage;
        return e ? e->usb_upgrade_text() : QString();
    };
    // Called on the engine's thread, which sets g_update_flag itself: the home window is looked
    // up on the GUI thread, which alone may read g_mainwindow.
    EngineEvents& events = engineEvents();
    events.firmwareUpdateStart = [] {
        QMetaObject::invokeMethod(qApp, [] {
            if (g_mainwindow) g_mainwindow->update_start();
        }, Qt::QueuedConnection);
    };
    events.firmwareUpdateOver = [] {
        QMetaObject::invokeMethod(qApp, [] {
            if (g_mainwindow) g_mainwindow->update_over();
        }, Qt::QueuedConnection);
    };
}

namespace output_ports {

PortGeometry portGeometry(int port) {
    PortGeometry g;
    if (port < 0 || port >= kPorts || !fpga_manage::p_fpga_manage) return g;
    uint16_t x = 0, y = 0, w = 0, h = 0;
    fpga_manage::get_eth_param_addr(port % kPortsPerFpga, &x, &y, &w, &h);
    plat::Locker<plat::Mutex> lock(fpga_manage::image_mutex);
    const unsigned char* image = fpga_manage::MCU_RAM_PARA_func[port / kPortsPerFpga];
    if (!image) return g;
    // byte by byte: some ports lie at odd offsets
    g.x = VlxRamPara::getU16(image, x);
    g.y = VlxRamPara::getU16(image, y);
    g.w = VlxRamPara::getU16(image, w);
    g.h = VlxRamPara::getU16(image, h);
    return g;
}

}  // namespace output_ports
