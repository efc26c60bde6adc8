// Grabs every page of the advanced-settings and smart-mapping screens at panel size, one
// with a job's progress ring up. With VLX_SCREENSHOT_DIR set the pictures are saved there
// (scripts/screenshots.sh).
#include "system_fixture.h"

#include "support/screen_grab.h"

using namespace systemtest;

TEST_F(SystemTest, AdvancedAndSmartMappingPagesGrabAtPanelSize) {
    panel_style::installPanelFont(shelltest::app());
    g_language = 1;
    ram()->setRamByte(vlxram::kLanguage, 1);
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
    testkit::grabCheckAndSave(&adv, "advanced_lcd");
    adv.on_Button_rcv_recovery_clicked();
    adv.on_Button_check_clicked();
    AdvancedOption::reportRcvUpdate({QStringLiteral("01/03/02/04")});
    QCoreApplication::sendPostedEvents();
    adv.rcv_self_recovery_file_list();
    emit adv.sig_qround_bar_update(64);
    QCoreApplication::sendPostedEvents();
    testkit::grabCheckAndSave(&adv, "advanced_update_ring");
    finishJob(&adv);
    adv.on_Button_other_clicked();
    testkit::grabCheckAndSave(&adv, "advanced_other");
    adv.on_Button_factory_clicked();
    testkit::grabCheckAndSave(&adv, "advanced_factory");
    adv.on_Button_reset_clicked();
    testkit::grabCheckAndSave(&adv, "advanced_reset");
    QTimer::singleShot(0, [] {
        for (int d : {5, 7, 1, 6}) g_numberkeyboard->pressDigit(d);
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
    adv.on_Button_factory_age_clicked();
    testkit::grabCheckAndSave(&adv, "advanced_ageing");
    g_advancedoption = nullptr;
    factoryage_log.clear();

    SmartMapping smart;
    g_smartmapping = &smart;
    testkit::grabCheckAndSave(&smart, "smart_cabinet");
    smart.on_Button_next_clicked();
    testkit::grabCheckAndSave(&smart, "smart_port");
    smart.on_Button_next_2_clicked();
    testkit::grabCheckAndSave(&smart, "smart_screen");
    smart.on_Button_route_clicked();
    testkit::grabCheckAndSave(&smart, "smart_routes");
    smart.on_Button_cancel_clicked();
    smart.on_Button_loadscan_clicked();
    smart.on_Button_next_5_clicked();
    testkit::grabCheckAndSave(&smart, "smart_scan_files");
    smart.on_Button_paraweld_clicked();
    testkit::grabCheckAndSave(&smart, "smart_save");
    smart.on_Button_mapping_clicked();
    testkit::grabCheckAndSave(&smart, "smart_mapping_switch");
    g_smartmapping = nullptr;
}
