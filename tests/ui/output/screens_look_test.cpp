// Every page of the output, test-pattern, picture and link screens: whole texts in all five
// languages, a pressed look on every button, and the pictures of docs/screenshots.
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QStackedWidget>

#include <cstdlib>
#include <functional>

#include "fpga/fpga_manage.h"
#include "output_fixture.h"
#include "support/press_look.h"
#include "support/text_fit.h"
#include "ui/output/imagequality.h"
#include "ui/output/linkoption.h"
#include "ui/output/outputset.h"
#include "ui/output/test_chart.h"
#include "ui/shell/panel_style.h"

using outputtest::OutputTest;

namespace {

class ScreensLookTest : public OutputTest {
protected:
    void SetUp() override {
        OutputTest::SetUp();
        panel_style::installPanelFont(shelltest::app());
        // the widest values the screens show
        ram()->setRamU16(vlxram::kLedWidth, 16376);
        ram()->setRamU16(vlxram::kLedHeight, 8192);
        ram()->setRamU16(vlxram::kSpliceMode, 3);
        ram()->setRamU16(vlxram::kOut1Width, 8192);
        ram()->setRamU16(vlxram::kOut1Height, 8188);
        ram()->setRamU16(vlxram::kOut2Width, 8184);
        ram()->setRamU16(vlxram::kOut2Height, 8188);
        shadowFollows();
        // the widest port geometry the images can hold
        fpga_manage::p_fpga_manage = new fpga_manage;
        for (uint8_t* image : fpga_manage::MCU_RAM_PARA_func) std::memset(image, 0xFF, 1024);
        g_str_ip = QStringLiteral("192.168.100.199");
        g_srt_mask = QStringLiteral("255.255.255.0");
        g_str_gateway = QStringLiteral("192.168.100.1");
        g_usb_grade_path = QStringLiteral("VLX-H71");
        for (const char* name : {"VLX-H71/H71N_app_v2.3.17_20261130.VLX", "VLX-H71/H71N_fpga_v1.9.VLX",
                                 "VLX-H71/H71N_font_cn.VLXZK", "VLX-H71/H71N_app_v2.3.16.VLX",
                                 "VLX-H71/H71N_logo.VLXZK", "VLX-H71/H71N_osd.VLX"})
            testkit::writeFile(std::string("/mnt/usb1/") + name, "package");
    }

    void TearDown() override {
        fpga_manage::resetInstanceForTest();
        OutputTest::TearDown();
    }

    // What `check` finds on every page in each of the five languages, each line marked with both.
    QStringList onEveryPageInEveryLanguage(QStringList (*check)(const QWidget*)) {
        QStringList all;
        for (int lang : {0, 1, 2, 3, 4}) {
            g_language = uint8_t(lang);
            everyPage([&](QWidget* w, const QString& name) {
                for (const QString& line : check(w))
                    all << QStringLiteral("[language %1, %2] %3").arg(lang).arg(name, line);
            });
        }
        return all;
    }

    // Calls `visit(screen, name)` on every page of the four screens, shown as on the panel.
    void everyPage(const std::function<void(QWidget*, const QString&)>& visit) {
        auto show = [&](QWidget* w, const QString& name) {
            w->show();
            QCoreApplication::processEvents();
            visit(w, name);
        };
        {
            OutputSet s;
            auto* combo = s.findChild<QComboBox*>(QStringLiteral("comboBox"));
            const char* names[] = {"output_horizontal", "output_vertical", "output_copy"};
            for (int i : {0, 1, 2}) {
                combo->setCurrentIndex(i);
                show(&s, QLatin1String(names[i]));
            }
            s.findChild<QPushButton*>(QStringLiteral("Button_lanset"))->click();
            s.findChild<QPushButton*>(QStringLiteral("Button_wlan4"))->click();
            show(&s, QStringLiteral("output_ports"));
        }
        {
            test_chart t;
            t.findChild<QWidget*>(QStringLiteral("frame"))->findChild<QPushButton*>(QStringLiteral("5"))->click();
            show(&t, QStringLiteral("test_pattern"));
        }
        {
            ImageQuality q;
            show(&q, QStringLiteral("picture_quality"));
            q.on_Button_temperature_clicked();
            show(&q, QStringLiteral("picture_temperature"));
        }
        {
            LinkOption l;
            show(&l, QStringLiteral("link_serial"));
            l.on_Button_wlan_clicked();
            show(&l, QStringLiteral("link_network"));
            l.on_Button_usb_clicked();
            outputLinks().usbUpgradeStatus = [] { return QStringLiteral("2026-12-07 10:02:03    2026-12-07 10:02:49"); };
            l.syncUpdate(104);
            show(&l, QStringLiteral("link_usb"));
            // the empty stick too
            g_usb_grade_path = QStringLiteral("none");
            l.on_Button_usb_clicked();
            show(&l, QStringLiteral("link_usb_empty"));
            g_usb_grade_path = QStringLiteral("VLX-H71");
        }
    }
};

}  // namespace

TEST_F(ScreensLookTest, EveryPageShowsItsWholeTextInEveryLanguage) {
    const QStringList all = onEveryPageInEveryLanguage(
        [](const QWidget* w) { return testkit::textOverflows(w) + testkit::drawnOverlaps(w); });
    EXPECT_TRUE(all.isEmpty()) << all.join(QLatin1Char('\n')).toStdString();
}

TEST_F(ScreensLookTest, NoPageShowsAMendedSlipInAnyLanguage) {
    const QStringList all = onEveryPageInEveryLanguage(testkit::mendedTextSlips);
    EXPECT_TRUE(all.isEmpty()) << all.join(QLatin1Char('\n')).toStdString();
}

TEST_F(ScreensLookTest, EveryButtonShowsThePressAndItsFlatColour) {
    QStringList all;
    everyPage([&](QWidget* w, const QString& name) {
        for (const QString& line : testkit::buttonsWithoutPressedLook(w) + testkit::buttonsNotInTheirColour(w))
            all << name + QStringLiteral(": ") + line;
    });
    EXPECT_TRUE(all.isEmpty()) << all.join(QLatin1Char('\n')).toStdString();
}

TEST_F(ScreensLookTest, EveryPageGrabsAtPanelSize) {
    g_language = 1;
    const char* dir = std::getenv("VLX_SCREENSHOT_DIR");
    int pages = 0;
    everyPage([&](QWidget* w, const QString& name) {
        const QImage image = w->grab().toImage();
        EXPECT_EQ(image.size(), QSize(800, 480)) << name.toStdString();
        // page frames end at x 779, as on every screen of the panel: none on the right margin
        int frameOnMargin = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 780; x < image.width(); ++x) frameOnMargin += image.pixel(x, y) == qRgb(133, 129, 153);
        EXPECT_EQ(frameOnMargin, 0) << name.toStdString();
        ++pages;
        if (dir) {
            QDir().mkpath(QString::fromLocal8Bit(dir));
            EXPECT_TRUE(image.save(QString::fromLocal8Bit(dir) + QStringLiteral("/%1.png").arg(name)));
        }
    });
    EXPECT_EQ(pages, 11);
}
