// The five input and layout screens in all five languages: every text shows whole (only alias
// names are elided), and under Xvfb or offscreen the screens grab at panel size. With
// VLX_SCREENSHOT_DIR set the pictures are saved there (scripts/screenshots.sh).
#include <QColor>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QPixmap>

#include <cstdlib>

#include "input_fixture.h"
#include "support/press_look.h"
#include "support/text_fit.h"
#include "ui/output/imagequality.h"
#include "support/ram_copies.h"

using inputtest::InputScreenTest;

namespace {

class InputFitTest : public InputScreenTest {
protected:
    void SetUp() override {
        InputScreenTest::SetUp();
        panel_style::installPanelFont(shelltest::app());
        shelltest::setTiming(ram(), 2, 3840, 2160, 60);
        shelltest::setTiming(ram(), 3, 1920, 1080, 60);
        putCrop(0, 2, 1, 1920, 1080);
        putCrop(1, 2, 2, 960, 540);
        setBoth(vlxram::windowField(0, vlxram::kWinSource), 0x8001);  // window 0 shows HDMI1 crop 2
        for (int w = 1; w < 4; ++w) setBoth(vlxram::windowField(w, vlxram::kWinState), 1);
        setBoth(vlxram::windowField(1, vlxram::kWinSource), 3);
        VlxRamPara* p = ram();
        testkit::saveLiveMode(p, 1, {{vlxram::kOsdEnable, 1}, {vlxram::windowField(4, vlxram::kWinSound), 0}});
        testkit::writeFile("/data/modes/MO02.json",
                           R"({"name":"m","osdcount":1,"oactcount":1,"menu":[{"type":0,"status":"on",)"
                           R"("pos":{"x":0,"y":0,"w":1920,"h":120},"act":{"effect":3,"speed":4,"staytime":0},)"
                           R"("backpara":{"enable":"on","color":"0x202060"},)"
                           R"("fontpara":{"startx":10,"starty":10,"fontw":64,"fonth":64,"wordspace":2,)"
                           R"("verticalspace":4,"color":"0xFFD000"},"texts":["Welcome\nShow starts at 20:00"]}]})");
        setBoth(vlxram::kCurrentMode, 2);
    }

    QStringList collect(QWidget* w) {
        w->show();
        QCoreApplication::processEvents();
        QStringList out;
        const QStringList found = check_press_   ? testkit::buttonsWithoutPressedLook(w) +
                                                     testkit::buttonsNotInTheirColour(w)
                                  : check_slips_ ? testkit::mendedTextSlips(w)
                                                 : testkit::textOverflows(w) + testkit::drawnOverlaps(w);
        for (const QString& line : found)
            out.append(QStringLiteral("[language %1 %2] ").arg(g_language.load()).arg(w->objectName()) + line);
        return out;
    }

    void save(QWidget* w, const QString& name) {
        w->show();
        QCoreApplication::processEvents();
        const QImage image = w->grab().toImage();
        EXPECT_EQ(image.size(), QSize(800, 480)) << name.toStdString();
        if (const char* dir = std::getenv("VLX_SCREENSHOT_DIR")) {
            QDir().mkpath(QString::fromLocal8Bit(dir));
            EXPECT_TRUE(image.save(QString::fromLocal8Bit(dir) + QStringLiteral("/%1.png").arg(name)));
        }
    }

    // Every screen in the current language, with its editors open; `shoot` saves each as it
    // opens, before a touch opens an editor or a menu.
    QStringList everyScreen(bool shoot) {
        QStringList out;
        {
            InputChoose screen;
            screen.window_names_update();  // the strip names crops once a refresh has run
            if (shoot) save(&screen, QStringLiteral("input_choice"));
            screen.findChild<QFrame*>(QStringLiteral("frame"))
                ->findChild<QPushButton*>(QStringLiteral("button_menu"))
                ->click();
            out += collect(&screen);
        }
        {
            InputCut screen;
            if (shoot) save(&screen, QStringLiteral("input_crop"));
            screen.findChild<QFrame*>(QStringLiteral("frame_source"))
                ->findChild<QPushButton*>(QStringLiteral("2"))
                ->click();
            out += collect(&screen);
            screen.findChild<QPushButton*>(QStringLiteral("button_cancel"))->click();
            screen.findChild<QPushButton*>(QStringLiteral("button_add"))->click();
            out += collect(&screen);
        }
        {
            ImageLayout screen;
            if (shoot) save(&screen, QStringLiteral("layout"));
            screen.findChild<QFrame*>(QStringLiteral("image_frame"))
                ->findChild<QPushButton*>(QStringLiteral("1"))
                ->click();
            out += collect(&screen);
        }
        {
            EDIDset screen;
            if (shoot) save(&screen, QStringLiteral("edid"));
            screen.findChild<QFrame*>(QStringLiteral("frame_source"))
                ->findChild<QPushButton*>(QStringLiteral("button_tile"))
                ->click();
            out += collect(&screen);
        }
        {
            g_mode_select = 1;
            CustomMode screen;
            out += collect(&screen);
            if (shoot) save(&screen, QStringLiteral("user_modes"));
        }
        return out;
    }
    bool check_press_ = false;
    bool check_slips_ = false;
};

}  // namespace

TEST_F(InputFitTest, InputAndLayoutScreensShowTheirWholeTextInEveryLanguage) {
    QStringList all;
    for (int lang : {0, 1, 2, 3, 4}) {
        g_language = uint8_t(lang);
        all += everyScreen(false);
    }
    EXPECT_TRUE(all.isEmpty()) << all.join(QLatin1Char('\n')).toStdString();
}

TEST_F(InputFitTest, NoInputOrLayoutScreenShowsAMendedSlipInAnyLanguage) {
    check_slips_ = true;
    QStringList all;
    for (int lang : {0, 1, 2, 3, 4}) {
        g_language = uint8_t(lang);
        all += everyScreen(false);
    }
    EXPECT_TRUE(all.isEmpty()) << all.join(QLatin1Char('\n')).toStdString();
}

TEST_F(InputFitTest, InputAndLayoutScreensGrabAtPanelSize) {
    testkit::writeFile("/data/configs/alias.json",
                       R"({"namelist":{"source":[{"id":"2","valid":"on","name":"Stage camera"}],)"
                       R"("crop":[{"id":"1","valid":"on","name":"Left half of the stage"}],)"
                       R"("usermode":[{"id":"1","valid":"on","name":"Evening concert"}]}})");
    g_language = 1;
    everyScreen(true);
    // the input choice's line under the window strip, a 1 px frame, draws in its grey
    InputChoose choice;
    choice.show();
    EXPECT_EQ(QColor(choice.grab().toImage().pixel(400, 167)), QColor(133, 129, 153));
}

TEST_F(InputFitTest, EveryButtonOfTheInputAndLayoutScreensShowsThePressAndItsFlatColour) {
    check_press_ = true;
    g_language = 1;
    const QStringList all = everyScreen(false);
    EXPECT_TRUE(all.isEmpty()) << all.join(QLatin1Char('\n')).toStdString();
}

// The input screens' titles in the size of the other screens' titles (the picture screen's).
TEST_F(InputFitTest, TitlesDrawInTheSizeOfTheOtherScreensTitles) {
    g_mode_select = 1;
    ImageQuality other;
    const int size = other.findChild<QLabel*>(QStringLiteral("label_title"))->font().pixelSize();
    InputChoose choice;
    InputCut crop;
    ImageLayout layout;
    EDIDset edid;
    CustomMode modes;
    for (QWidget* screen : std::initializer_list<QWidget*>{&choice, &crop, &layout, &edid, &modes})
        EXPECT_EQ(screen->findChild<QLabel*>(QStringLiteral("label_title"))->font().pixelSize(), size)
            << screen->metaObject()->className();
}
