// Every page of both system screens shows its whole text in each of the five languages,
// with the widest values they show, and every touch target shows its press.
#include "support/press_look.h"
#include "support/text_fit.h"
#include "system_fixture.h"

using namespace systemtest;

namespace {

class SystemFitTest : public SystemTest {
protected:
    void SetUp() override {
        SystemTest::SetUp();
        panel_style::installPanelFont(shelltest::app());
        enableWindows({0, 1, 2, 3, 4, 5});
        testkit::writeFile("/data/rcvrecovery/KVFX", "card image");
        for (int i = 0; i < 7; ++i)
            testkit::writeFile("/data/smartmapping/cabinet_" + std::to_string(100 + i) + "_scan.kvfile", "x");
        factoryage_log.clear();
        for (int i = 0; i < 20; ++i) factoryage_log.append(QStringLiteral("12-31 23:59 255 31 255 255 0 255"));
        factoryage_log_diff3 = factoryage_log2_diff3 = 9999;
        factoryage_log_diffmore = factoryage_log2_diffmore = 9999;
    }
    void TearDown() override {
        factoryage_log.clear();
        SystemTest::TearDown();
    }
    void collect(QWidget* w, const QString& where, QStringList* out) {
        w->show();
        QCoreApplication::processEvents();
        for (const QString& line : testkit::textOverflows(w) + testkit::drawnOverlaps(w))
            out->append(where + QStringLiteral(": ") + line);
        // nor a slip mended in the wording
        for (const QString& line : testkit::mendedTextSlips(w))
            out->append(where + QStringLiteral(": mended slip back: ") + line);
    }
    void pressLooks(QWidget* w, const QString& where, QStringList* out) {
        for (const QString& line : testkit::buttonsWithoutPressedLook(w) + testkit::buttonsNotInTheirColour(w))
            out->append(where + QStringLiteral(": ") + line);
    }
};

std::string join(const QStringList& lines) { return lines.join(QLatin1Char('\n')).toStdString(); }

}  // namespace

TEST_F(SystemFitTest, AdvancedSettingsShowTheirWholeTextInEveryLanguage) {
    QStringList out;
    for (int lang : {0, 1, 2, 3, 4}) {
        g_language = uint8_t(lang);
        ram()->setRamByte(vlxram::kLanguage, uint8_t(lang));
        ram()->shadowTakesRam();
        const QString l = QStringLiteral("[language %1] ").arg(lang);
        AdvancedOption screen;
        g_advancedoption = &screen;
        collect(&screen, l + QStringLiteral("page 0"), &out);
        screen.on_Button_rcv_recovery_clicked();
        collect(&screen, l + QStringLiteral("page 1, no card"), &out);
        screen.reportRcvUpdate({QStringLiteral("99/32/255/04")});
        QCoreApplication::sendPostedEvents();
        screen.rcv_self_recovery_file_list();
        collect(&screen, l + QStringLiteral("page 1, a card"), &out);
        screen.on_Button_check_clicked();  // the ring beside the list the check fills
        EXPECT_FALSE(g_qround_bar.isNull());
        collect(&screen, l + QStringLiteral("page 1, a check running, no card yet"), &out);
        screen.reportRcvUpdate({QStringLiteral("255/255/255/255"), QStringLiteral("1/2/3/4")});
        QCoreApplication::sendPostedEvents();
        screen.rcv_self_recovery_file_list();
        collect(&screen, l + QStringLiteral("page 1, a check running"), &out);
        finishJob(&screen);
        screen.on_Button_other_clicked();
        collect(&screen, l + QStringLiteral("page 3"), &out);
        screen.on_Button_factory_clicked();
        collect(&screen, l + QStringLiteral("page 4 language"), &out);
        screen.on_Button_reset_clicked();
        collect(&screen, l + QStringLiteral("page 4 reset"), &out);
        screen.confirmString(QStringLiteral("5716"));  // not asked: stays
        QTimer::singleShot(0, [] {
            for (int d : {5, 7, 1, 6}) g_numberkeyboard->pressDigit(d);
            g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
        });
        screen.on_Button_factory_age_clicked();
        ASSERT_EQ(pageOf(&screen), 5);
        collect(&screen, l + QStringLiteral("page 5"), &out);
        if (lang == 1) pressLooks(&screen, l, &out);
        g_advancedoption = nullptr;
    }
    EXPECT_TRUE(out.isEmpty()) << join(out);
}

TEST_F(SystemFitTest, SmartMappingShowsItsWholeTextInEveryLanguage) {
    testkit::writeFile("/mnt/usb1/a_very_long_scan_file_name_from_the_stick_for_the_big_screen.kvfile", "x");
    QStringList out;
    for (int lang : {0, 1, 2, 3, 4}) {
        g_language = uint8_t(lang);
        ram()->setRamByte(vlxram::kLanguage, uint8_t(lang));
        const QString l = QStringLiteral("[language %1] ").arg(lang);
        SmartMapping screen;
        g_smartmapping = &screen;
        collect(&screen, l + QStringLiteral("page 0"), &out);
        screen.on_Button_next_clicked();
        screen.on_Button_wlan4_clicked();
        collect(&screen, l + QStringLiteral("page 1"), &out);
        screen.on_Button_next_2_clicked();
        screen.line_select(16);
        collect(&screen, l + QStringLiteral("page 2"), &out);
        screen.on_Button_route_clicked();
        collect(&screen, l + QStringLiteral("page 3"), &out);
        screen.on_Button_cancel_clicked();
        screen.on_Button_loadscan_clicked();
        collect(&screen, l + QStringLiteral("page 4"), &out);
        screen.on_Button_next_5_clicked();
        collect(&screen, l + QStringLiteral("page 5"), &out);
        screen.on_Button_paraweld_clicked();
        collect(&screen, l + QStringLiteral("page 6"), &out);
        screen.on_Button_mapping_clicked();
        collect(&screen, l + QStringLiteral("page 7"), &out);
        if (lang == 1) pressLooks(&screen, l, &out);
        g_smartmapping = nullptr;
    }
    EXPECT_TRUE(out.isEmpty()) << join(out);
}
