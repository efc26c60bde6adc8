// Grabs every page of the advanced-settings and smart-mapping screens at panel size, one
// with a job's progress ring up. With VLX_SCREENSHOT_DIR set the pictures are saved there
// (scripts/screenshots.sh).
#include <QDir>
#include <QImage>
#include <QPixmap>

#include <cstdlib>

#include "system_fixture.h"

using namespace systemtest;

namespace {

void checkAndSave(QWidget* screen, const char* name) {
    screen->show();
    QCoreApplication::processEvents();
    const QImage image = screen->grab().toImage();
    EXPECT_EQ(image.size(), QSize(800, 480)) << name;
    const QRgb background = image.pixel(799, 479);
    int other = 0;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) other += image.pixel(x, y) != background;
    EXPECT_GT(other, 500) << name << " shows nothing but its background";
    if (const char* dir = std::getenv("VLX_SCREENSHOT_DIR")) {
        QDir().mkpath(QString::fromLocal8Bit(dir));
        EXPECT_TRUE(image.save(QString::fromLocal8Bit(dir) + QStringLiteral("/%1.png").arg(name)));
    }
}

}  // namespace

TEST_F(SystemTest, AdvancedAndSmartMappingPagesGrabAtPanelSize) {
    panel_style::installPanelFont(shelltest::app());
    g_language = 1;
    ram()->ram_para[vlxram::kLanguage] = 1;
    enableWindows({0, 1, 3});
    systemLinks().c331FontBits = [] { return 0x3u; };
    testkit::writeFile("/data/rcvrecovery/KVFX", "card image");
    testkit::writeFile("/data/smartmapping/hall_p3_128x64.kvfile", "x");
    testkit::writeFile("/mnt/usb1/stage_p2_5.kvfile", "x");
    factoryage_log.clear();
    for (int i = 0; i < 12; ++i)
        factoryage_log.append(QStringLiteral("12-07 %1:00 %2 %3 0 %2 31 0").arg(8 + i, 2, 10, QLatin1Char('0')).arg(3 * i).arg(i % 3 ? 31 : 27));
    factoryage_log_diff3 = 11;
    factoryage_log2_diff3 = 11;

    AdvancedOption adv;
    g_advancedoption = &adv;
    checkAndSave(&adv, "advanced_lcd");
    adv.on_Button_rcv_recovery_clicked();
    adv.on_Button_check_clicked();
    AdvancedOption::reportRcvUpdate({QStringLiteral("01/03/02/04")});
    QCoreApplication::sendPostedEvents();
    adv.rcv_self_recovery_file_list();
    emit adv.sig_qround_bar_update(64);
    QCoreApplication::sendPostedEvents();
    checkAndSave(&adv, "advanced_update_ring");
    finishJob(&adv);
    adv.on_Button_other_clicked();
    checkAndSave(&adv, "advanced_other");
    adv.on_Button_factory_clicked();
    checkAndSave(&adv, "advanced_factory");
    adv.on_Button_reset_clicked();
    checkAndSave(&adv, "advanced_reset");
    QTimer::singleShot(0, [] {
        for (int d : {5, 7, 1, 6}) g_numberkeyboard->pressDigit(d);
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
    adv.on_Button_factory_age_clicked();
    checkAndSave(&adv, "advanced_ageing");
    g_advancedoption = nullptr;
    factoryage_log.clear();

    SmartMapping smart;
    g_smartmapping = &smart;
    checkAndSave(&smart, "smart_cabinet");
    smart.on_Button_next_clicked();
    checkAndSave(&smart, "smart_port");
    smart.on_Button_next_2_clicked();
    checkAndSave(&smart, "smart_screen");
    smart.on_Button_route_clicked();
    checkAndSave(&smart, "smart_routes");
    smart.on_Button_cancel_clicked();
    smart.on_Button_loadscan_clicked();
    smart.on_Button_next_5_clicked();
    checkAndSave(&smart, "smart_scan_files");
    smart.on_Button_paraweld_clicked();
    checkAndSave(&smart, "smart_save");
    smart.on_Button_mapping_clicked();
    checkAndSave(&smart, "smart_mapping_switch");
    g_smartmapping = nullptr;
}
