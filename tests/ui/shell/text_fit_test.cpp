// Every label and button of the shell's screens shows its whole text in each of the five
// languages, with the longest values the panel shows (addresses, device id, timings, names).
#include <QLabel>

#include <cstring>
#include <memory>

#include "shell_fixture.h"
#include "support/text_fit.h"
#include "ui/shell/firmwareupdate.h"
#include "ui/shell/panel_style.h"
#include "support/ram_copies.h"

using shelltest::ShellTest;

namespace {

constexpr int kLanguages[] = {0, 1, 2, 3, 4};

class TextFitTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        panel_style::installPanelFont(shelltest::app());
        g_str_ip = QStringLiteral("255.255.255.255");
        g_srt_mask = QStringLiteral("255.255.255.255");
        g_str_gateway = QStringLiteral("255.255.255.255");
        std::memcpy(g_pid, "0123456789abcdef0123456789abcdef", sizeof g_pid);
        ram()->setRamByte(vlxram::kPanelLock, 1);
        // the widest timings a receiver reports
        shelltest::setTiming(ram(), 0, 4096, 2160, 60);
        shelltest::setTiming(ram(), 1, 1920, 1080, 120);
        shelltest::setTiming(ram(), 2, 3840, 2160, 30);
        for (int slot = 0; slot < vlxram::kModeSlots; ++slot)
            testkit::markSlot(ram(), slot, vlxram::kModeSaved);
        ram()->setRamU16(vlxram::kCurrentMode, 16);
    }

    // Names as long as a user types them: the screens elide them to their labels.
    void writeLongAliases() {
        std::string json = R"({"namelist":{"source":[)";
        for (int p = 0; p < vlxram::kInputs; ++p)
            json += std::string(p ? "," : "") + R"({"id":")" + std::to_string(p) +
                    R"(","valid":"on","name":"Главная сцена, камера )" + std::to_string(p) + R"("})";
        json += R"(],"usermode":[)";
        for (int s = 0; s < vlxram::kModeSlots; ++s)
            json += std::string(s ? "," : "") + R"({"id":")" + std::to_string(s) +
                    R"(","valid":"on","name":"Концерт в большом зале филармонии, вечер )" + std::to_string(s) + R"("})";
        json += "]}}";
        testkit::writeFile("/data/configs/alias.json", json);
    }

    // Builds each shell screen and pop-up in the current language and collects what does not fit.
    QStringList overflowsOfEveryScreen() {
        QStringList out;
        const QString lang = QStringLiteral("[language %1] ").arg(g_language.load());
        // shown, so that style sheets are applied and the layout is the one on the panel
        auto collect = [&](QWidget* w) {
            w->show();
            QCoreApplication::processEvents();
            for (const QString& line : testkit::textOverflows(w) + testkit::drawnOverlaps(w)) out.append(lang + line);
        };
        {
            LockWindow status;
            collect(&status);
        }
        MainWindow* w = home();
        w->language_changed();
        collect(w);
        w->on_modepanel_clicked();
        collect(w);
        {
            // the open mode panel leaves the current-mode line readable
            const QLabel* mode = w->findChild<QLabel*>(QStringLiteral("label_mode"));
            QRect text = mode->geometry();
            text.setLeft(text.right() - mode->fontMetrics().horizontalAdvance(mode->text()));
            if (w->findChild<QWidget*>(QStringLiteral("frame_mode"))->geometry().intersects(text))
                out.append(lang + QStringLiteral("the mode panel covers ") + mode->text());
        }
        w->on_Button_mode_save_clicked();
        collect(w);
        w->on_Button_mode_close_clicked();
        for (bool running : {false, true}) {
            shellLinks().fpgaEnginePresent = [] { return true; };
            shellLinks().fpgaRunning = [running] { return running; };
            MachineState state;
            collect(&state);
        }
        {
            Option menu;
            collect(&menu);
        }
        g_numberkeyboard->label_show(QStringLiteral("key"), QStringLiteral("**********"));
        collect(g_numberkeyboard);
        for (int type : {TIP::kDone, TIP::kUsbConnected, TIP::kUsbUnplugged, TIP::kReadingData}) {
            g_tip->tip_create(type);
            collect(g_tip);
        }
        {
            FirmwareUpdate update;
            collect(&update);
        }
        return out;
    }
};

}  // namespace

TEST_F(TextFitTest, EveryScreenShowsItsWholeTextInEveryLanguage) {
    QStringList all;
    for (int lang : kLanguages) {
        g_language = uint8_t(lang);
        all += overflowsOfEveryScreen();
    }
    EXPECT_TRUE(all.isEmpty()) << all.join(QLatin1Char('\n')).toStdString();
}

TEST_F(TextFitTest, LongNamesAreElidedToTheirLabelsInEveryLanguage) {
    writeLongAliases();
    QStringList all;
    for (int lang : kLanguages) {
        g_language = uint8_t(lang);
        all += overflowsOfEveryScreen();
    }
    EXPECT_TRUE(all.isEmpty()) << all.join(QLatin1Char('\n')).toStdString();
    // the names were long enough to be shortened
    MainWindow* w = home();
    QLabel* mode = w->findChild<QLabel*>(QStringLiteral("label_mode"));
    ASSERT_NE(mode, nullptr);
    EXPECT_TRUE(mode->text().contains(QChar(0x2026))) << mode->text().toStdString();
}

// The check itself: a label that cuts its text, or elides it without meaning to, is reported.
TEST_F(TextFitTest, CheckReportsCutAndUnintendedElidedText) {
    QWidget screen;
    auto* cut = new QLabel(QStringLiteral("1920x1080@60Hz"), &screen);
    cut->setObjectName(QStringLiteral("cut"));
    cut->setFont(panel_style::panelFont(14));
    cut->setGeometry(0, 0, 60, 28);
    auto* fits = new QLabel(QStringLiteral("1920x1080@60Hz"), &screen);
    fits->setObjectName(QStringLiteral("fits"));
    fits->setFont(panel_style::panelFont(14));
    fits->setGeometry(0, 30, 200, 28);
    auto* elided = new QLabel(QStringLiteral("Stage cam…"), &screen);
    elided->setObjectName(QStringLiteral("elided"));
    elided->setGeometry(0, 60, 200, 28);
    QStringList found = testkit::textOverflows(&screen);
    ASSERT_EQ(found.size(), 2) << found.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(found.at(0).contains(QStringLiteral("cut")));
    EXPECT_TRUE(found.at(1).contains(QStringLiteral("elided")));
    panel_style::markElides(elided);
    found = testkit::textOverflows(&screen);
    EXPECT_EQ(found.size(), 1);
}
