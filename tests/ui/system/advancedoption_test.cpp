// Advanced settings: LCD times, the other-settings page, factory settings and the ageing log.
#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QMutexLocker>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSlider>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

#include "core/config_engine.h"
#include "core/utils.h"
#include "platform/sim/sim_shell.h"
#include "support/panel_touch.h"
#include "support/saved_ram_file.h"
#include "system_fixture.h"
#include "support/ram_copies.h"

using namespace systemtest;
using namespace vlxram;

namespace {

// Records every command and whether the C331 manager's mutex was free while it ran.
QString plain(const QString& rich) {
    QTextDocument d;
    d.setHtml(rich);
    return d.toPlainText();
}

}  // namespace

TEST_F(SystemTest, ReturnHomeSliderLabelsAndStoresOnlyOnRelease) {
    AdvancedOption screen;
    auto* slider = child<QSlider>(&screen, "horizontalSlider");
    auto* label = child<QLabel>(&screen, "label_time");
    const std::pair<int, const char*> cases[] = {{3000, "30s"}, {5999, "59s"}, {6000, "1m"},
                                                  {9000, "1.5m"}, {12000, "2m"}, {18000, "3m"}};
    for (const auto& c : cases) {
        slider->setValue(c.first);
        EXPECT_EQ(label->text(), QString::fromLatin1(c.second)) << c.first;
    }
    slider->setValue(9000);
    EXPECT_EQ(g_back_to_mainwindow_time.load(), 18000u) << "moving without release stores nothing";
    screen.on_horizontalSlider_sliderReleased();
    EXPECT_EQ(g_back_to_mainwindow_time.load(), 9000u);
    // a finger tapping the groove left of the handle: a page down, stored once it is up
    screen.show();
    const QPoint at(3, slider->height() / 2);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, at, slider->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(slider, &e);
    }
    EXPECT_LT(slider->value(), 9000);
    EXPECT_EQ(g_back_to_mainwindow_time.load(), uint32_t(slider->value())) << label->text().toStdString();
    // a finger on the groove three quarters along: the handle goes there, not a page step on
    const QPoint along = testkit::panelPointOf(slider, QPoint(slider->width() * 3 / 4, slider->height() / 2));
    lcd_touch::clickAt(along.x(), along.y());
    EXPECT_NEAR(slider->value(), 3000 + 15000 * 3 / 4, 1000);
    EXPECT_EQ(g_back_to_mainwindow_time.load(), uint32_t(slider->value()));
}

TEST_F(SystemTest, AutoLockMarksShowTheTimeInForceAtEveryOpening) {
    {
        AdvancedOption screen;
        screen.on_Button_10min_clicked();
        EXPECT_EQ(g_auto_lock_time.load(), 60000u);
    }
    AdvancedOption again;
    EXPECT_EQ(imageOf(&again, "Button_10min"), QStringLiteral(":/png/checked.png"));
    EXPECT_EQ(imageOf(&again, "Button_5min"), QStringLiteral(":/png/unchecked.png"));
    again.on_Button_never_clicked();
    EXPECT_EQ(g_auto_lock_time.load(), 120000u);
    EXPECT_EQ(imageOf(&again, "Button_never"), QStringLiteral(":/png/checked.png"));
    EXPECT_EQ(imageOf(&again, "Button_10min"), QStringLiteral(":/png/unchecked.png"));
}

TEST_F(SystemTest, SoundOfTheChosenWindowAndTheAudioWindow) {
    g_language = 1;
    enableWindows({0, 2, 5});
    AdvancedOption screen;
    auto* list = child<QComboBox>(&screen, "ImageVolume");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(0), QStringLiteral("image1"));
    EXPECT_EQ(list->itemText(2), QStringLiteral("image6"));
    list->setCurrentIndex(2);
    screen.on_Button_volume_state_clicked();
    EXPECT_EQ(ram()->ramU16(kAudioWindow), 5);
    EXPECT_EQ(ram()->ramU16(windowField(5, kWinSound)), 0x80FF);
    EXPECT_EQ(c331_manage::update_flag.load(), 1);
    EXPECT_EQ(imageOf(&screen, "Button_volume_state"), QStringLiteral(":/png/button_on.png"));
    screen.on_Button_volume_state_clicked();
    EXPECT_EQ(ram()->ramU16(windowField(5, kWinSound)), 0);
    EXPECT_EQ(imageOf(&screen, "Button_volume_state"), QStringLiteral(":/png/button_off.png"));
}

TEST_F(SystemTest, AudioWindowFarOutOfRangeIsNeverUsedAsAnIndex) {
    enableWindows({0, 1});
    AdvancedOption screen;
    g_page_focus = 12;
    g_advancedoption = &screen;
    // a PC wrote the word: the refresh compares first, the RAM holds only six records here
    ram()->setRamU16(kAudioWindow, 0x7FFF);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(ram()->ramU16(kAudioWindow), 0) << "normalised to window 0";
    ram()->setRamU16(kAudioWindow, 0xFFFF);  // -1
    screen.syncUpdate(1);
    EXPECT_EQ(ram()->ramU16(kAudioWindow), 0);
    ram()->setRamU16(kAudioWindow, 4);  // a window that is off
    AdvancedOption reopened;
    EXPECT_EQ(ram()->ramU16(kAudioWindow), 0);
}

TEST_F(SystemTest, FadeAndSeamlessWriteAllSixteenSlotsAndAreSavedOnlyOnceApplied) {
    g_page_focus = 12;
    AdvancedOption screen;
    g_advancedoption = &screen;
    testkit::writeFile("/data/ram_device_info", std::string(kRamFileSize, '\0'));
    screen.on_Button_fade_clicked();
    EXPECT_EQ(ram()->ramByte(kSwitchEffect), 1);
    for (int k = 0; k < kWindowSlots; ++k) {
        EXPECT_EQ(ram()->ramByte(windowField(k, kWinOutput)) & 0x04, 0x04) << k;
        EXPECT_EQ(ram()->ramByte(kFadeTable + 4 * k), 60) << k;
        EXPECT_EQ(ram()->ramByte(kFadeTable + 4 * k + 2), 60) << k;
    }
    // the save came before the manager took the flag: the shadow keeps the old state, so
    // the manager still finds the change
    EXPECT_EQ(testkit::shadowByte(ram(), kSwitchEffect), 0);
    EXPECT_EQ(c331_manage::update_flag.load(), 1);
    managerPass();
    EXPECT_EQ(testkit::shadowByte(ram(), kSwitchEffect), 1);
    EXPECT_EQ(testkit::savedRamFile()[2 + (kSwitchEffect - kSavedStart)], 1);

    screen.on_Button_seamless_clicked();
    for (int k = 0; k < kWindowSlots; ++k) {
        EXPECT_EQ(ram()->ramByte(windowField(k, kWinOutput)) & 0x04, 0) << k;
        EXPECT_EQ(ram()->ramByte(kFadeTable + 4 * k), 60) << "fade times stay";
    }
    EXPECT_EQ(imageOf(&screen, "Button_seamless"), QStringLiteral(":/png/checked.png"));
    EXPECT_EQ(imageOf(&screen, "Button_fade"), QStringLiteral(":/png/unchecked.png"));
}

TEST_F(SystemTest, DotByDotWritesTheWholeHighByteOfEverySlot) {
    for (int k = 0; k < kWindowSlots; ++k) ram()->setRamByte(windowField(k, kWinOutput) + 1, 0xFE);
    ram()->shadowTakesRam();
    testkit::writeFile("/data/ram_device_info", std::string(kRamFileSize, '\0'));
    g_page_focus = 12;
    AdvancedOption screen;
    g_advancedoption = &screen;
    screen.on_Button_DBD_open_clicked();
    EXPECT_EQ(ram()->ramByte(kDotByDot), 1);
    for (int k = 0; k < kWindowSlots; ++k) EXPECT_EQ(ram()->ramByte(windowField(k, kWinOutput) + 1), 1) << k;
    EXPECT_EQ(testkit::shadowByte(ram(), kDotByDot), 0) << "saved only once the manager took it";
    managerPass();
    EXPECT_EQ(testkit::savedRamFile()[2 + (kDotByDot - kSavedStart)], 1);
    EXPECT_EQ(testkit::savedRamFile()[2 + (windowField(15, kWinOutput) + 1 - kSavedStart)], 1);
    screen.on_Button_DBD_close_clicked();
    for (int k = 0; k < kWindowSlots; ++k) EXPECT_EQ(ram()->ramByte(windowField(k, kWinOutput) + 1), 0) << k;
    EXPECT_EQ(c331_manage::update_flag.load(), 1);
}

TEST_F(SystemTest, ProjectionButtonResetsTheSdiReceiver) {
    int pulses = 0;
    systemLinks().sdiReset = [&] { ++pulses; };
    AdvancedOption screen;
    screen.on_modeButton_clicked();
    EXPECT_EQ(pulses, 1);
    systemLinks().sdiReset = nullptr;
    screen.on_modeButton_clicked();  // no input chips: logged, nothing else
    EXPECT_EQ(pulses, 1);
}

TEST_F(SystemTest, LanguageButtonStoresTheLanguageOnceAndRelabels) {
    AdvancedOption screen;
    screen.on_Button_factory_clicked();
    EXPECT_EQ(pageOf(&screen), 4);
    EXPECT_EQ(imageOf(&screen, "Button_chinese"), QStringLiteral(":/png/checked.png"));
    screen.on_Button_vn_clicked();
    EXPECT_EQ(ram()->ramByte(kLanguage), 3);
    EXPECT_EQ(g_language.load(), 3);
    EXPECT_EQ(c331_manage::update_flag.load(), 1);
    EXPECT_EQ(child<QLabel>(&screen, "label_title")->text(), QStringLiteral("Cài đặt nâng cao"));
    EXPECT_EQ(imageOf(&screen, "Button_vn"), QStringLiteral(":/png/checked.png"));
    c331_manage::update_flag = 0;
    screen.on_Button_vn_clicked();
    EXPECT_EQ(c331_manage::update_flag.load(), 0) << "the same language again changes nothing";
}

TEST_F(SystemTest, FontIndicatorsFollowTheScalersFontBits) {
    systemLinks().c331FontBits = [] { return 0x5u; };
    AdvancedOption screen;
    screen.on_Button_factory_clicked();
    const QString yes = QStringLiteral(":/png/osd_yes.bmp"), no = QStringLiteral(":/png/osd_no.bmp");
    EXPECT_EQ(imageOf(&screen, "label_32CNS"), yes);
    EXPECT_EQ(imageOf(&screen, "label_32ENS"), no);
    EXPECT_EQ(imageOf(&screen, "label_64CNS"), yes);
    EXPECT_EQ(imageOf(&screen, "label_128CNS"), yes);
    EXPECT_EQ(imageOf(&screen, "label_64ENS"), no);
    EXPECT_EQ(imageOf(&screen, "label_128ENS"), no);
}

TEST_F(SystemTest, ResetsCopyTheFactoryImageAndResetTwoKeepsTheEdidArea) {
    g_page_focus = 12;
    g_language = 1;
    ram()->setRamByte(kLanguage, 1);
    ram()->writeRam(kSavedStart, std::vector<uint8_t>(kSavedLength, 0x5A).data(), kSavedLength);
    ram()->shadowTakesRam();
    AdvancedOption screen;
    g_advancedoption = &screen;
    EXPECT_EQ(child<QLabel>(&screen, "label_title")->text(), QStringLiteral("Advanced Settings"));

    screen.on_Button_reset2_clicked();
    const unsigned char* image = default_para_ramlist.data() + kRamFileMarkerSize;
    EXPECT_EQ(testkit::ramBytes(ram(), kSavedStart, kEdidPara - kSavedStart),
              std::vector<uint8_t>(image, image + (kEdidPara - kSavedStart)));
    for (unsigned a = kEdidPara; a < kSpliceMode; ++a) ASSERT_EQ(ram()->ramByte(a), 0x5A) << std::hex << a;
    EXPECT_EQ(testkit::ramBytes(ram(), kSpliceMode, kRamSize - kSpliceMode),
              std::vector<uint8_t>(image + (kSpliceMode - kSavedStart), image + kSavedLength));
    EXPECT_EQ(ram()->ramU16(kAudioWindow), 0) << "the LED size changed";
    managerPass();  // the refresh brings the image's language: simplified Chinese
    EXPECT_EQ(g_language.load(), 0);
    EXPECT_EQ(child<QLabel>(&screen, "label_title")->text(), QStringLiteral("高级设置"));

    screen.on_Button_reset1_clicked();
    EXPECT_EQ(testkit::ramBytes(ram(), kSavedStart, kSavedLength), std::vector<uint8_t>(image, image + kSavedLength));
    EXPECT_TRUE(child<QPushButton>(&screen, "Button_reset1")->styleSheet().contains(QStringLiteral("#4777FF")));
    EXPECT_FALSE(child<QPushButton>(&screen, "Button_reset2")->styleSheet().contains(QStringLiteral("#4777FF")));
}

TEST_F(SystemTest, ResetAsksForTheLedHandshakeOnlyWhileBothFpgasRun) {
    ram()->setRamU16(kLedWidth, 1);  // differs from the image
    ram()->setRamU16(kAudioWindow, 3);
    ram()->shadowTakesRam();
    regs[0][80] = 3;
    regs[1][80] = 1;
    g_set_led_para = 0;
    AdvancedOption screen;
    screen.on_Button_reset1_clicked();
    EXPECT_EQ(g_set_led_para.load(), 0) << "FPGA 1 does not run";
    EXPECT_EQ(ram()->ramU16(kAudioWindow), 0);
    regs[1][80] = 3;
    g_set_led_setup = 7;
    screen.on_Button_reset1_clicked();
    EXPECT_EQ(g_set_led_para.load(), 1);
    EXPECT_EQ(g_set_led_setup.load(), 0);
}

TEST_F(SystemTest, ResetAllWritesAddressMaskAndGatewayWhenAnyDiffers) {
    ConfigEngine::pInstance();
    {
        QMutexLocker lock(&Utils::_settings_mutex);
        g_str_ip = QStringLiteral("192.168.1.199");
        g_srt_mask = QStringLiteral("255.255.255.0");
        g_str_gateway = QStringLiteral("10.0.0.1");
    }
    factoryage_log = QStringList{QStringLiteral("03-01 10:00 1 4 0 2 4 0")};  // kept: the reset is of settings
    AdvancedOption screen;
    panel_style::placeOnPanel(&screen);
    screen.show();
    for (const char* button : {"Button_factory", "Button_reset", "Button_reset3"})
        testkit::touchWidget(child<QWidget>(&screen, button));
    EXPECT_EQ(factoryage_log, QStringList{QStringLiteral("03-01 10:00 1 4 0 2 4 0")});
    const std::string ini = testkit::readFile("/data/configs/tcpip.ini");
    EXPECT_NE(ini.find("GateWay=192.168.1.1"), std::string::npos) << ini;
    EXPECT_NE(ini.find("IPAddress=192.168.1.199"), std::string::npos);
    EXPECT_NE(ini.find("SubNetMask=255.255.255.0"), std::string::npos);
    EXPECT_GE(shell_->count("sync"), 1u);
    EXPECT_EQ(shell_->count("ifconfig eth0 192.168.1.199 netmask 255.255.255.0"), 1u);
}

TEST_F(SystemTest, ResetThatTurnsTheAccessPointOnStartsItAsTheSwitchDoes) {
    int restarts = 0;
    systemLinks().wifiRestart = [&] { ++restarts; };
    ram()->setRamByte(kWifiApOff, 1);
    AdvancedOption screen;
    screen.on_Button_reset1_clicked();
    ASSERT_EQ(default_para_ramlist[kRamFileMarkerSize + kWifiApOff - kSavedStart], 0) << "factory: access point on";
    EXPECT_EQ(ram()->ramByte(kWifiApOff), 0);
    EXPECT_EQ(restarts, 1);
    screen.on_Button_reset1_clicked();  // already on: nothing more
    EXPECT_EQ(restarts, 1);
}

TEST_F(SystemTest, AgeingPageOpensOnTheCodeAndPagesSixteenLinesWithWrapAround) {
    factoryage_log.clear();
    AdvancedOption screen;
    screen.confirmString(QStringLiteral("5716"));  // not asked for: a result for another screen
    EXPECT_NE(pageOf(&screen), 5);
    QTimer::singleShot(0, [] {
        g_numberkeyboard->pressDigit(5);
        g_numberkeyboard->pressDigit(7);
        g_numberkeyboard->pressDigit(1);
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
    screen.on_Button_factory_age_clicked();
    EXPECT_NE(pageOf(&screen), 5) << "a digit missing";
    QTimer::singleShot(0, [] {
        for (int d : {5, 7, 1, 6}) g_numberkeyboard->pressDigit(d);
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
    screen.on_Button_factory_age_clicked();
    ASSERT_EQ(pageOf(&screen), 5);
    EXPECT_TRUE(screen.ageingPageOpen());
    EXPECT_EQ(child<QLabel>(&screen, "label_page")->text(), QStringLiteral("0/0"));
    EXPECT_EQ(child<QLabel>(&screen, "label_3")->text(),
              QStringLiteral("OUT1:0<3 0<5 0<10 0<20 0>20    OUT2:0<3 0<5 0<10 0<20 0>20"));
    EXPECT_TRUE(child<QLabel>(&screen, "label_log1")->text().endsWith(QString::fromUtf8("正在老化中...")));

    for (int i = 0; i < 17; ++i) factoryage_log.append(QStringLiteral("12-07 10:%1 5 31 7 250 0 9").arg(i, 2, 10, QLatin1Char('0')));
    factoryage_log_diff3 = 4;
    factoryage_log2_diffmore = 2;
    screen.update_agelog();  // the tick's refresh
    auto* log = child<QLabel>(&screen, "label_log1");
    EXPECT_EQ(child<QLabel>(&screen, "label_page")->text(), QStringLiteral("1/2"));
    EXPECT_EQ(child<QLabel>(&screen, "page_info")->text(), QStringLiteral("17"));
    EXPECT_FALSE(log->text().startsWith(QStringLiteral("<br>")));
    EXPECT_EQ(log->text().count(QStringLiteral("<br>")), 15);
    EXPECT_TRUE(log->text().startsWith(QStringLiteral("12-07 10:00 005 <font color = #00FF00 >DDR0</font> ")));
    EXPECT_TRUE(plain(log->text()).startsWith(QStringLiteral("12-07 10:00 005 DDR0 DDR1 DE HS VS 007 ,250 DDR0 DDR1 DE HS VS009")));
    EXPECT_TRUE(log->text().contains(QStringLiteral("<font color = #00FF00 >VS</font> 007")));
    EXPECT_TRUE(log->text().contains(QStringLiteral("<font color = #FF0000 >VS</font>009")));
    EXPECT_EQ(child<QLabel>(&screen, "label_3")->text(),
              QStringLiteral("OUT1:4<3  0<5  0<10  0<20  0>20     OUT2:0<3  0<5  0<10  0<20  2>20 "));
    screen.on_next_clicked();
    EXPECT_EQ(child<QLabel>(&screen, "label_page")->text(), QStringLiteral("2/2"));
    EXPECT_EQ(plain(log->text()), QStringLiteral("12-07 10:16 005 DDR0 DDR1 DE HS VS 007 ,250 DDR0 DDR1 DE HS VS009"));
    screen.on_next_clicked();
    EXPECT_EQ(child<QLabel>(&screen, "label_page")->text(), QStringLiteral("1/2"));
    screen.on_pre_clicked();
    EXPECT_EQ(child<QLabel>(&screen, "label_page")->text(), QStringLiteral("2/2"));
    factoryage_log.clear();
}

TEST_F(SystemTest, AgeingPageBeforeTheFirstSampleSpeaksThePanelsLanguage) {
    factoryage_log.clear();
    const QRegularExpression han(QStringLiteral("[\\x{4E00}-\\x{9FFF}]"));
    for (int lang : {1, 2, 3}) {
        g_language = uint8_t(lang);
        AdvancedOption screen;
        screen.show();
        QTimer::singleShot(0, [] {
            for (int d : {5, 7, 1, 6}) g_numberkeyboard->pressDigit(d);
            g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
        });
        testkit::touchWidget(child(&screen, "Button_factory_age"));
        ASSERT_EQ(pageOf(&screen), 5);
        const QString text = child<QLabel>(&screen, "label_log1")->text();
        EXPECT_FALSE(text.contains(han)) << lang << ": " << text.toStdString();
    }
}

// Seventeen digits touched in: the field keeps the code's four, in view.
TEST_F(SystemTest, AgeingCodeFieldTakesNoMoreDigitsThanTheCode) {
    factoryage_log.clear();
    AdvancedOption screen;
    screen.show();
    QString shown;
    QTimer::singleShot(0, [&shown] {
        auto key = [](const QString& name) { testkit::touchWidget(child(g_numberkeyboard, name.toLatin1().constData())); };
        for (QChar d : QStringLiteral("57160000000000000")) key(QStringLiteral("Button_") + d);
        shown = child<QLabel>(g_numberkeyboard, "label_value")->text();
        key(QStringLiteral("Button_ok"));
    });
    testkit::touchWidget(child(&screen, "Button_factory_age"));
    EXPECT_EQ(shown, QStringLiteral("5716"));
    EXPECT_EQ(pageOf(&screen), 5);
}

TEST_F(SystemTest, AnotherPageButtonClosesTheAgeingPageUntilTheCodeIsTypedAgain) {
    factoryage_log.clear();
    AdvancedOption screen;
    QTimer::singleShot(0, [] {
        for (int d : {5, 7, 1, 6}) g_numberkeyboard->pressDigit(d);
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
    screen.on_Button_factory_age_clicked();
    ASSERT_TRUE(screen.ageingPageOpen());
    screen.on_Button_other_clicked();
    EXPECT_EQ(pageOf(&screen), 3);
    EXPECT_FALSE(screen.ageingPageOpen());
}

namespace {

// The other-settings page open in front while a PC writes the RAM behind it; the C331
// manager then announces code 1 and the refresh compares the RAM with the shadow.
class OtherPageTest : public SystemTest {
protected:
    void SetUp() override {
        SystemTest::SetUp();
        g_language = 1;
        ram()->setRamByte(kLanguage, 1);
        enableWindows({0, 2, 5});
        testkit::writeFile("/data/ram_device_info", std::string(kRamFileSize, '\0'));
        screen = new AdvancedOption;
        g_advancedoption = screen;
        g_page_focus = 12;
        screen->on_Button_other_clicked();
        volume = child<QComboBox>(screen, "ImageVolume");
    }
    template <class Write>
    void pcWrites(Write write) {
        write();
        SyncUpdate::pInstance()->para_sync(1);
    }
    AdvancedOption* screen = nullptr;
    QComboBox* volume = nullptr;
};

}  // namespace

// The open sound list draws its entries as readable as every other list: light on its dark ground.
TEST_F(OtherPageTest, TheOpenAudioWindowListShowsItsEntriesReadably) {
    panel_style::placeOnPanel(screen);
    screen->show();
    QAbstractItemView* view = volume->view();
    testkit::touchWidget(volume);
    QElapsedTimer clock;
    clock.start();
    while (!view->isVisible() && clock.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(view->isVisible());
    const QImage image = view->viewport()->grab().toImage();
    const QRect row = view->visualRect(view->model()->index(1, 0)) & image.rect();
    ASSERT_FALSE(row.isEmpty());
    auto luminance = [](QRgb c) {
        auto channel = [](int v) {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
    };
    // the ground is the row's most frequent colour; the text its pixel furthest from it
    QHash<QRgb, int> counts;
    for (int y = row.top(); y <= row.bottom(); ++y)
        for (int x = row.left(); x <= row.right(); ++x) ++counts[image.pixel(x, y)];
    QRgb ground = counts.begin().key();
    for (auto it = counts.begin(); it != counts.end(); ++it)
        if (it.value() > counts.value(ground)) ground = it.key();
    double best = 1.0;
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        const double a = luminance(ground), b = luminance(it.key());
        best = std::max(best, (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05));
    }
    EXPECT_GE(best, 4.5) << "entry text against its ground";
    testkit::touchWidget(child<QWidget>(screen, "label_title"));  // closes the list
}

// The panel stops the access point as the WiFi set-up does: each service by the ids pidof
// reports, a kill each through the runner, never with the manage mutex held.
TEST_F(OtherPageTest, WifiOffKillsBothServicesByTheirIdsOutsideTheManagerHoldAndOnRestartsIt) {
    plat::resetShell();  // the simulated board's, which refuses what a shell would interpret
    plat::sim::SimShell* shell = plat::sim::simShell();
    ASSERT_NE(shell, nullptr);
    shell->setResult("pidof hostapd", 0, "812\n");
    shell->setResult("pidof udhcpd", 0, "813 814\n");
    std::vector<bool> mutexFree;
    shell->addHandler("kill", [&mutexFree](const std::vector<std::string>&, std::string&) {
        const bool free = c331_manage::manage_mutex.try_lock();
        if (free) c331_manage::manage_mutex.unlock();
        mutexFree.push_back(free);
        return 0;
    });
    int restarts = 0;
    systemLinks().wifiRestart = [&] { ++restarts; };
    panel_style::placeOnPanel(screen);
    screen->show();
    shell->clearCommands();
    testkit::touchWidget(child(screen, "Button_wifi_state"));
    EXPECT_EQ(ram()->ramByte(kWifiApOff), 1);
    EXPECT_EQ(c331_manage::update_flag.load(), 1);
    const std::vector<std::string> stops = {"pidof hostapd", "kill -9 812", "pidof udhcpd", "kill -9 813", "kill -9 814"};
    EXPECT_EQ(shell->commands(), stops);
    EXPECT_EQ(mutexFree, std::vector<bool>(3, true)) << "the manager never waits for the shell";
    EXPECT_EQ(imageOf(screen, "Button_wifi_state"), QStringLiteral(":/png/button_off.png"));
    testkit::touchWidget(child(screen, "Button_wifi_state"));
    EXPECT_EQ(ram()->ramByte(kWifiApOff), 0);
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(shell->commands(), stops);
    EXPECT_EQ(imageOf(screen, "Button_wifi_state"), QStringLiteral(":/png/button_on.png"));
}

TEST_F(OtherPageTest, PageReloadsOnEachSettingItShowsWhenAPcChangesIt) {
    ASSERT_EQ(imageOf(screen, "Button_DBD_close"), QStringLiteral(":/png/checked.png"));
    pcWrites([this] { ram()->setRamByte(kDotByDot, 1); });
    EXPECT_EQ(imageOf(screen, "Button_DBD_open"), QStringLiteral(":/png/checked.png")) << "dot-by-dot";
    EXPECT_EQ(imageOf(screen, "Button_DBD_close"), QStringLiteral(":/png/unchecked.png"));

    ASSERT_EQ(imageOf(screen, "Button_wifi_state"), QStringLiteral(":/png/button_on.png"));
    pcWrites([this] { ram()->setRamByte(kWifiApOff, 1); });
    EXPECT_EQ(imageOf(screen, "Button_wifi_state"), QStringLiteral(":/png/button_off.png")) << "WiFi switch";

    pcWrites([this] { ram()->setRamByte(kSwitchEffect, 1); });
    EXPECT_EQ(imageOf(screen, "Button_fade"), QStringLiteral(":/png/checked.png")) << "switch effect";
    EXPECT_EQ(imageOf(screen, "Button_seamless"), QStringLiteral(":/png/unchecked.png"));

    ASSERT_EQ(volume->currentIndex(), 0);
    pcWrites([this] { ram()->setRamU16(kAudioWindow, 5); });
    EXPECT_EQ(volume->currentIndex(), 2) << "audio window: the list shows window 6";

    ASSERT_EQ(imageOf(screen, "Button_volume_state"), QStringLiteral(":/png/button_off.png"));
    pcWrites([this] { ram()->setRamU16(windowField(5, kWinSound), 0x80FF); });
    EXPECT_EQ(imageOf(screen, "Button_volume_state"), QStringLiteral(":/png/button_on.png")) << "sound word";

    pcWrites([this] { ram()->setRamU16(windowField(3, kWinState), 1); });
    ASSERT_EQ(volume->count(), 4) << "a window switched on";
    EXPECT_EQ(volume->itemText(2), QStringLiteral("image4"));
    EXPECT_EQ(volume->currentIndex(), 3);
}

TEST_F(OtherPageTest, OtherRamChangesKeepTheUsersChoiceInTheSoundList) {
    volume->setCurrentIndex(1);  // window 3 chosen, the audio window stays 0
    pcWrites([this] {
        ram()->setRamU16(windowField(2, kWinSound), 0x80FF);  // not the audio window
        ram()->setRamU16(windowField(2, kWinWidth), 1280);
    });
    EXPECT_EQ(volume->currentIndex(), 1);
    EXPECT_EQ(testkit::shadowByte(ram(), windowField(2, kWinWidth) + 1), 1280 >> 8) << "the change was saved";
}

TEST_F(OtherPageTest, AnAudioWindowBeyondTheSixWindowsIsComparedAsWindowOne) {
    // a PC wrote window 8 (a slot exists, no window) and the sound of window 1
    ram()->setRamU16(kAudioWindow, 7);
    ram()->shadowTakesRam();
    pcWrites([this] { ram()->setRamU16(windowField(0, kWinSound), 0x80FF); });
    EXPECT_EQ(ram()->ramU16(kAudioWindow), 0) << "reloaded and normalised";
    EXPECT_EQ(imageOf(screen, "Button_volume_state"), QStringLiteral(":/png/button_on.png"));
}

TEST_F(SystemTest, TheTickRefreshesTheOpenAgeingLogAndItsHistogramLine) {
    factoryage_log.clear();
    for (uint32_t* c : {&factoryage_log_diff3, &factoryage_log_diff5, &factoryage_log_diff10, &factoryage_log_diff20,
                        &factoryage_log_diffmore, &factoryage_log2_diff3, &factoryage_log2_diff5,
                        &factoryage_log2_diff10, &factoryage_log2_diff20, &factoryage_log2_diffmore})
        *c = 0;
    shellLinks().fpgaRunning = [] { return true; };
    MainWindow* w = home();
    AdvancedOption screen;
    g_advancedoption = &screen;
    QTimer::singleShot(0, [] {
        for (int d : {5, 7, 1, 6}) g_numberkeyboard->pressDigit(d);
        g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
    });
    screen.on_Button_factory_age_clicked();
    ASSERT_EQ(pageOf(&screen), 5);
    auto* histogramLine = child<QLabel>(&screen, "label_3");
    auto* log = child<QLabel>(&screen, "label_log1");
    G_timeTicks = 100000;
    auto samplePeriod = [&] {
        G_factoryage_ticks = G_timeTicks.load() - (MainWindow::kAgeSampleTicks - 1);
        tick(w, 1);
    };
    regs[0][42] = 5;  // counters of the two outputs
    regs[1][42] = 40;
    samplePeriod();
    EXPECT_EQ(child<QLabel>(&screen, "page_info")->text(), QStringLiteral("1"));
    EXPECT_EQ(histogramLine->text(),
              QStringLiteral("OUT1:0<3  0<5  0<10  0<20  0>20     OUT2:0<3  0<5  0<10  0<20  0>20 "));
    regs[0][42] = 7;   // advanced 2
    regs[1][42] = 60;  // advanced 20
    samplePeriod();
    EXPECT_EQ(child<QLabel>(&screen, "page_info")->text(), QStringLiteral("2"));
    EXPECT_EQ(log->text().count(QStringLiteral("<br>")), 1);
    EXPECT_EQ(histogramLine->text(),
              QStringLiteral("OUT1:1<3  0<5  0<10  0<20  0>20     OUT2:0<3  0<5  0<10  0<20  1>20 "));

    // another page in front: the labels follow, the page stays
    screen.on_Button_other_clicked();
    regs[0][42] = 17;  // advanced 10
    samplePeriod();
    EXPECT_EQ(pageOf(&screen), 3);
    EXPECT_EQ(histogramLine->text(),
              QStringLiteral("OUT1:1<3  0<5  0<10  1<20  0>20     OUT2:0<3  0<5  0<10  0<20  1>20 "));
    factoryage_log.clear();
}
