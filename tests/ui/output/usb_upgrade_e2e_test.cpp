// The USB upgrade from end to end on the simulated board: a generated package on a stick
// plugged in through board control, the link screen's list and Load, the engine's thread
// installing it, the firmware-update display, code 104 with the engine's text, the reboot;
// the stick pulled out arms Load again.
#include <QLabel>
#include <QRegularExpression>

#include <chrono>
#include <functional>
#include <thread>

#include "core/app_swap.h"
#include "core/config_engine.h"
#include "fpga/engine_events.h"
#include "fpga/fpga_manage.h"
#include "output_fixture.h"
#include "platform/sim/board_control.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_shell.h"
#include "platform/sim/spi_nor_flash.h"
#include "platform/sim/standard_board.h"
#include "protocol/usbserver.h"
#include "support/upgrade_package.h"
#include "ui/output/linkoption.h"

using outputtest::OutputTest;
using testkit::payload;

namespace {

class UsbUpgradeEndToEndTest : public OutputTest {
protected:
    void SetUp() override {
        OutputTest::SetUp();
        plat::resetShell();  // the board's own shell: it carries out the move and records the reboot
        plat::shell();
        sim = plat::sim::simShell();
        ASSERT_NE(sim, nullptr);
        sim->setRebootHook([] {});
        ConfigEngine::pInstance();
        g_usb_grade_path = QStringLiteral("VLX-H71");
        g_app_reset_flag = 0;
        g_update_flag = 0;
        plat::sim::buildStandardBoard(plat::sim::board());
        flash0 = plat::sim::board().find<plat::sim::SpiNorFlash>("flash0");
        flash0->setBusyPolls(2);
        linkUsbUpgrade();
        fpga_manage::pInstance();
        g_fpga_c331_start = 1;  // the engine thread takes the upgrade from now on
        UsbServer* usb = UsbServer::pInstance();
        ASSERT_TRUE(usb->running());
        QObject::connect(usb, &UsbServer::sig_usb_update, SyncUpdate::pInstance(), &SyncUpdate::para_sync);
        QObject::connect(VlxRamPara::p_vlxrampara_config, &VlxRamPara::sig_update_para, SyncUpdate::pInstance(),
                         &SyncUpdate::para_sync);
        testkit::writeFile(kAppImage, "the application running now");
    }
    void TearDown() override {
        fpga_manage::resetInstanceForTest();
        UsbServer::resetInstanceForTest();
        g_fpga_c331_start = 0;
        engineEvents() = EngineEvents{};
        OutputTest::TearDown();
        ConfigEngine::resetInstanceForTest();
    }
    // The GUI thread's events (the engine's queued calls among them) until `done`.
    static bool until(const std::function<bool()>& done) {
        for (int i = 0; i < 4000 && !done(); ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        QCoreApplication::processEvents();
        return done();
    }
    static bool popUp(int type) {
        return until([type] { return g_tip->currentType() == type; });
    }
    bool ran(const std::string& command) {
        for (const std::string& c : sim->commands())
            if (c == command) return true;
        return false;
    }

    plat::sim::SimShell* sim = nullptr;
    std::shared_ptr<plat::sim::SpiNorFlash> flash0;
};

}  // namespace

TEST_F(UsbUpgradeEndToEndTest, StickWithAGeneratedPackageIsListedLoadedInstalledAndReported) {
    testkit::writeFile("/work/app", payload(200000, 31));
    testkit::writeFile("/work/fpga0", payload(9000, 32));
    ASSERT_TRUE(testkit::generatePackage("/sim/usb-stick/VLX-H71/H71N_app.VLX",
                                         {"--app", "/work/app", "--fpga0", "/work/fpga0"}));
    QPointer<LinkOption> l = new LinkOption;
    g_linkoption = l;
    g_page_focus = 10;
    l->on_Button_usb_clicked();
    ASSERT_TRUE(l->files().isEmpty()) << "no stick yet";

    ASSERT_EQ(plat::sim::runBoardCommand("usb insert"), "OK");
    ASSERT_TRUE(popUp(TIP::kUsbConnected));
    G_timeTicks += UsbWatch::kSettleTicks;  // the mount settles
    // listed: the reading message goes with the listing
    ASSERT_TRUE(until([&] { return !l->files().isEmpty(); }));
    ASSERT_EQ(l->files(), QStringList{QStringLiteral("/mnt/usb1/VLX-H71/H71N_app.VLX")});
    EXPECT_EQ(g_tip->currentType(), 0);
    EXPECT_FALSE(g_tip->isVisible());

    bool displayShown = false;
    l->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    ASSERT_EQ(g_usb_grade.load(), 1);
    ASSERT_TRUE(until([&] {
        displayShown = displayShown || g_update_flag.load() == 1;
        return g_usb_grade.load() == 0;
    })) << "the engine's thread ran the upgrade";
    EXPECT_TRUE(displayShown);
    QLabel* log = l->findChild<QLabel*>(QStringLiteral("label_log"));
    ASSERT_TRUE(until([&] { return log->text().contains(QStringLiteral("downing over")); }));
    const QString status = fpga_manage::p_fpga_manage->usb_upgrade_text();
    EXPECT_TRUE(status.contains(QRegularExpression(QStringLiteral("^\\d+:\\d+:\\d+    \\d+:\\d+:\\d+$"))))
        << status.toStdString();
    EXPECT_TRUE(log->text().contains(QString(status).replace(QLatin1Char(' '), QStringLiteral("&nbsp;"))))
        << log->text().toStdString();
    EXPECT_EQ(g_update_flag.load(), 0) << "the display closed";
    EXPECT_NE(g_tip->currentType(), int(TIP::kDone)) << "no pop-up after 104";

    // installed: the application through the shell, the bitstream into FPGA 0's flash
    EXPECT_TRUE(ran("chmod 777 -R /data/app"));
    EXPECT_TRUE(ran("mv /data/app/vlxH71N2  /data/app/vlxH71N"));
    EXPECT_EQ(testkit::readFile(kAppImage), payload(200000, 31));
    const std::string bits = payload(9000, 32);
    EXPECT_EQ(flash0->read(0, 9000), std::vector<uint8_t>(bits.begin(), bits.end()));
    tick(home(), 300);
    EXPECT_EQ(sim->reboots(), 1) << "the tick restarts into the new application";

    ASSERT_EQ(plat::sim::runBoardCommand("usb remove"), "OK");
    ASSERT_TRUE(popUp(TIP::kUsbUnplugged));
    EXPECT_TRUE(l->files().isEmpty());
    EXPECT_FALSE(l->loadStarted());
    l->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    EXPECT_EQ(g_usb_grade.load(), 1) << "Load is armed again";
    EXPECT_TRUE(until([] { return g_usb_grade.load() == 0; })) << "an upgrade with nothing to install ends too";
}
