// Picture-quality screen: steps, pointer gestures on the sliders, the type by touch and the reset against RAM
// 0x880..0x88F and the update flag; brightness and contrast as far as the scaler.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "output_fixture.h"
#include "platform/shell.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_wiring.h"
#include "scaler/engine_requests.h"
#include "support/panel_touch.h"
#include "support/saved_ram_file.h"
#include "ui/output/imagequality.h"
#include "ui/shell/panel_style.h"

using namespace vlxram;
using outputtest::OutputTest;

namespace {

class ImageQualityTest : public OutputTest {
protected:
    QPushButton* button(ImageQuality& q, const char* name) { return q.findChild<QPushButton*>(QLatin1String(name)); }
    QSlider* slider(ImageQuality& q, const char* key) {
        return q.findChild<QSlider*>(QStringLiteral("horizontalSlider_%1").arg(QLatin1String(key)));
    }
    QString label(ImageQuality& q, const char* name) { return q.findChild<QLabel*>(QLatin1String(name))->text(); }
    QComboBox* combo(ImageQuality& q) { return q.findChild<QComboBox*>(QStringLiteral("comboBox")); }
};

}  // namespace

TEST_F(ImageQualityTest, StepsStopAtTheLimitsAndStoreEveryPress) {
    ram()->setRamU16(kBrightness, 100);
    ram()->setRamU16(kSharpness, 0);
    ram()->setRamU16(kColorTempB, 128);
    shadowFollows();
    ImageQuality q;
    button(q, "Button_bright_add")->click();
    EXPECT_EQ(ram()->ramU16(kBrightness), 100);
    EXPECT_EQ(label(q, "label_bright"), QStringLiteral("100"));
    EXPECT_EQ(c331_manage::update_flag, 1) << "a press at the limit stores again";
    c331_manage::update_flag = 0;
    button(q, "Button_sharpness_reduce")->click();
    EXPECT_EQ(ram()->ramU16(kSharpness), 0);
    EXPECT_EQ(c331_manage::update_flag, 1);
    button(q, "Button_blue_add")->click();
    EXPECT_EQ(ram()->ramU16(kColorTempB), 128);
    button(q, "Button_bright_reduce")->click();
    button(q, "Button_bright_reduce")->click();
    EXPECT_EQ(ram()->ramU16(kBrightness), 98);
    EXPECT_EQ(slider(q, "bright")->value(), 98);
    EXPECT_TRUE(button(q, "Button_bright_add")->autoRepeat());
}

TEST_F(ImageQualityTest, StepWritesBothBytesAndStepsFromWhatTheSliderHolds) {
    // a PC left a high byte: the screen shows the slider's limit and stores what it shows
    ram()->setRamU16(kBrightness, 0x0132);
    ram()->setRamU16(kContrast, 0x7FFF);
    shadowFollows();
    ImageQuality q;
    EXPECT_EQ(label(q, "label_bright"), QStringLiteral("100"));
    EXPECT_EQ(label(q, "label_contrast"), QStringLiteral("100"));
    button(q, "Button_bright_reduce")->click();
    EXPECT_EQ(ram()->ramU16(kBrightness), 99);
    EXPECT_EQ(label(q, "label_bright"), QStringLiteral("99"));
    button(q, "Button_contrast_add")->click();
    EXPECT_EQ(ram()->ramU16(kContrast), 100) << "32767 + 1 must not wrap to 0";
    EXPECT_EQ(label(q, "label_contrast"), QStringLiteral("100"));
}

namespace {
// The finger on a slider: x of the place where the handle's centre stands for `value`.
int xOfValue(QSlider* s, int value) {
    QStyleOptionSlider opt;
    opt.initFrom(s);
    opt.orientation = s->orientation();
    opt.minimum = s->minimum();
    opt.maximum = s->maximum();
    opt.sliderPosition = opt.sliderValue = s->value();
    opt.subControls = QStyle::SC_All;
    const QRect groove = s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, s);
    const QRect handle = s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, s);
    const int span = groove.width() - handle.width();
    return groove.x() + handle.width() / 2 +
           QStyle::sliderPositionFromValue(s->minimum(), s->maximum(), value, span);
}
void pointer(QSlider* s, QEvent::Type type, int x, Qt::MouseButtons buttons) {
    const QPoint at(x, s->height() / 2);
    QMouseEvent e(type, at, s->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(s, &e);
}
void waitFor(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}
}  // namespace

// Whatever the gesture, once the finger is up the label shows what RAM holds: a press held on
// the groove, a dragged handle, a tap on the groove.
TEST_F(ImageQualityTest, WhatTheLabelShowsIsWhatRamHoldsOnceTheFingerIsUp) {
    ram()->setRamU16(kContrast, 50);
    shadowFollows();
    ImageQuality q;
    q.show();
    QSlider* s = slider(q, "contrast");
    auto shownAndHeld = [&] {
        return std::make_pair(label(q, "label_contrast"), QString::number(ram()->ramU16(kContrast)));
    };

    const int under = xOfValue(s, 98);
    pointer(s, QEvent::MouseButtonPress, under, Qt::LeftButton);
    waitFor([&] { return s->value() >= 95; });  // held until the handle is under the finger
    pointer(s, QEvent::MouseButtonRelease, under, Qt::NoButton);
    const int held = s->value();
    EXPECT_GE(held, 95);
    EXPECT_EQ(shownAndHeld().first, QString::number(held));
    EXPECT_EQ(shownAndHeld().first, shownAndHeld().second) << "held press on the groove";
    EXPECT_EQ(c331_manage::update_flag, 1);

    c331_manage::update_flag = 0;
    const int from = xOfValue(s, held);
    pointer(s, QEvent::MouseButtonPress, from, Qt::LeftButton);
    ASSERT_TRUE(s->isSliderDown()) << "the press took the handle";
    pointer(s, QEvent::MouseMove, xOfValue(s, 30), Qt::LeftButton);
    EXPECT_EQ(ram()->ramU16(kContrast), held) << "nothing stored while the handle moves";
    EXPECT_EQ(c331_manage::update_flag, 0);
    pointer(s, QEvent::MouseButtonRelease, xOfValue(s, 30), Qt::NoButton);
    EXPECT_LT(s->value(), held - 40) << "the handle followed the finger";
    EXPECT_EQ(shownAndHeld().first, shownAndHeld().second) << "dragged handle";
    EXPECT_EQ(c331_manage::update_flag, 1);

    const int before = s->value();
    pointer(s, QEvent::MouseButtonPress, s->width() - 2, Qt::LeftButton);
    pointer(s, QEvent::MouseButtonRelease, s->width() - 2, Qt::NoButton);
    EXPECT_GT(s->value(), before);
    EXPECT_EQ(shownAndHeld().first, shownAndHeld().second) << "tap on the groove";
}

// A finger on any of the seven grooves, a quarter of the way along: the handle goes there
// (not one page step from where it was) and RAM holds what the label shows.
TEST_F(ImageQualityTest, ATapOnAnyGroovePutsTheHandleUnderTheFinger) {
    const std::pair<const char*, unsigned> rows[] = {{"bright", kBrightness},    {"sharpness", kSharpness},
                                                     {"contrast", kContrast},    {"saturation", kSaturation},
                                                     {"red", kColorTempR},       {"green", kColorTempG},
                                                     {"blue", kColorTempB}};
    ram()->setRamU16(kBrightness, 100);
    ram()->setRamU16(kSharpness, 10);
    ram()->setRamU16(kContrast, 100);
    ram()->setRamU16(kSaturation, 100);
    for (unsigned a : {kColorTempR, kColorTempG, kColorTempB}) ram()->setRamU16(a, 128);
    shadowFollows();
    ImageQuality q;
    q.show();
    for (const auto& row : rows) {
        QSlider* s = slider(q, row.first);
        if (row.second == kColorTempR) testkit::touchWidget(button(q, "Button_temperature"));
        ASSERT_TRUE(s->isVisible()) << row.first;
        const int target = s->maximum() / 4;
        const QPoint at = testkit::panelPointOf(s, QPoint(xOfValue(s, target), s->height() / 2));
        lcd_touch::clickAt(at.x(), at.y());
        EXPECT_NEAR(s->value(), target, 1) << row.first;
        EXPECT_EQ(ram()->ramU16(row.second), s->value()) << row.first;
    }
}

// The colour-temperature type picked by touching its row in the open list.
TEST_F(ImageQualityTest, TemperatureTypePickedByATouchOnItsRow) {
    ram()->setRamU16(kColorTempMode, 0);
    shadowFollows();
    delete g_option;  // opened from home, as the panel does
    home()->show();
    g_page_focus = 1;
    bool opened = false;
    bool keypad = true;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            testkit::touchWidget(button(*g_imagequality, "Button_temperature"));
            opened = testkit::touchListItem(combo(*g_imagequality), 3, &keypad);
            lcd_touch::clickAt(36, 36);
            if (g_imagequality) g_imagequality->on_Button_back_clicked();
        });
        testkit::touchWidget(g_option->findChild<QPushButton*>(QStringLiteral("image_quality")));
        lcd_touch::clickAt(36, 36);
        if (g_option) g_option->on_Button_back_clicked();
    });
    testkit::touchWidget(home()->findChild<QPushButton*>(QStringLiteral("option")));
    shelltest::flushDeletes();
    EXPECT_TRUE(opened);
    EXPECT_FALSE(keypad);
    EXPECT_EQ(ram()->ramU16(kColorTempMode), 3);
    EXPECT_TRUE(g_option.isNull());
}

TEST_F(ImageQualityTest, TheStoredTypeStoresNothingAnotherKeepsTheGains) {
    ram()->setRamU16(kColorTempMode, 2);
    ram()->setRamU16(kColorTempR, 10);
    shadowFollows();
    ImageQuality q;
    EXPECT_EQ(combo(q)->currentIndex(), 2);
    EXPECT_EQ(c331_manage::update_flag, 0) << "opening stores nothing";
    combo(q)->setCurrentIndex(1);
    combo(q)->setCurrentIndex(1);
    EXPECT_EQ(ram()->ramU16(kColorTempMode), 1);
    EXPECT_EQ(c331_manage::update_flag, 1);
    shadowFollows();
    c331_manage::update_flag = 0;
    q.on_comboBox_currentIndexChanged(1);
    q.on_comboBox_currentIndexChanged(-1);
    EXPECT_EQ(c331_manage::update_flag, 0);
    EXPECT_EQ(ram()->ramU16(kColorTempR), 10);
}

TEST_F(ImageQualityTest, LanguageChangeKeepsTheTypeAndStoresNothing) {
    ram()->setRamU16(kColorTempMode, 3);
    shadowFollows();
    QPointer<ImageQuality> q = new ImageQuality;
    g_imagequality = q;
    g_page_focus = 11;
    ram()->setRamU16(kLanguage, 2);  // written over the control protocol
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(combo(*q)->currentIndex(), 3);
    EXPECT_EQ(combo(*q)->itemText(3), QStringLiteral("Холодный"));
    EXPECT_EQ(q->findChild<QLabel*>(QStringLiteral("label_name_bright"))->text(), QStringLiteral("Яркость"));
    EXPECT_EQ(ram()->ramU16(kColorTempMode), 3);
    EXPECT_EQ(c331_manage::update_flag, 0);
}

TEST_F(ImageQualityTest, ResetStoresFactoryValuesAndTheRefreshShowsThem) {
    ram()->setRamU16(kBrightness, 3);
    ram()->setRamU16(kColorTempMode, 0);
    shadowFollows();
    QPointer<ImageQuality> q = new ImageQuality;
    g_imagequality = q;
    g_page_focus = 11;
    button(*q, "Button_reset")->click();
    EXPECT_EQ(c331_manage::update_flag, 1);
    const uint16_t factory[] = {100, 50, 10, 50, 2, 64, 64, 64};
    for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(ram()->ramU16(kBrightness + 2 * i), factory[i]) << i;
    EXPECT_EQ(label(*q, "label_bright"), QStringLiteral("3")) << "widgets wait for the applied change";
    c331_manage::update_flag = 0;  // the manager took the change and announces it
    g_tip->tip_create(TIP::kClear);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(label(*q, "label_bright"), QStringLiteral("100"));
    EXPECT_EQ(g_tip->currentType(), 0) << "no pop-up after the picture screen's refresh";
    EXPECT_EQ(combo(*q)->currentIndex(), 2);
    // a change elsewhere in the RAM does not reload the widgets
    q->findChild<QLabel*>(QStringLiteral("label_bright"))->setText(QStringLiteral("x"));
    ram()->setRamU16(kSwitchEffect, 1);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(label(*q, "label_bright"), QStringLiteral("x"));
}

// Contrast goes to the scaler; brightness becomes the FPGA engine's request (the scaler's own
// brightness stays at 50).
TEST_F(ImageQualityTest, ContrastReachesTheScalerAndBrightnessTheEngineRequest) {
    auto chip = std::make_shared<plat::sim::C331Model>();
    plat::sim::board().attachSpi(c331::kC331SpiNode, chip);
    engine_requests::clearAll();
    c331_manage* m = c331_manage::createForTest();
    for (int i = 0; i < 6 && m->state() != c331_manage::kStateRunning; ++i) m->step();
    ASSERT_EQ(m->state(), c331_manage::kStateRunning);
    ram()->setRamU16(kContrast, 50);
    ram()->setRamU16(kBrightness, 38);
    shadowFollows();
    ImageQuality q;
    button(q, "Button_contrast_add")->click();
    m->step();
    EXPECT_EQ(chip->regValue(c331::kRegContrast1, 0), 51u * 1023 / 100);
    shadowFollows();
    button(q, "Button_bright_reduce")->click();
    m->step();
    EXPECT_EQ(ram()->ramU16(kBrightness), 37);
    EXPECT_EQ(engine_requests::fpgaBrightness.load(), 1);
    c331_manage::resetInstanceForTest();
}

namespace {
// A data partition that takes its time: the first "sync" waits until the test lets it go
// (or 20 s pass). A sync on the GUI thread is noted and not held.
struct SlowSync {
    std::mutex mutex;
    std::condition_variable changed;
    int syncs = 0;
    bool holding = false, released = false, onGuiThread = false;
};
class SlowSyncShell : public plat::Shell {
public:
    explicit SlowSyncShell(std::shared_ptr<SlowSync> s) : s_(std::move(s)) {}
    int system(const std::string& command) override {
        if (command != "sync") return 0;
        std::unique_lock<std::mutex> lock(s_->mutex);
        if (QThread::currentThread() == qApp->thread()) s_->onGuiThread = true;
        if (s_->onGuiThread || ++s_->syncs > 1) return 0;
        s_->holding = true;
        s_->changed.notify_all();
        s_->changed.wait_for(lock, std::chrono::seconds(20), [this] { return s_->released; });
        s_->holding = false;
        return 0;
    }
    int popen(const std::string& command, std::string* output) override {
        if (output) output->clear();
        return system(command);
    }

private:
    std::shared_ptr<SlowSync> s_;
};
}  // namespace

// The parameter file is written off the GUI thread: while its write waits for the data
// partition, touches change the screen and their change handling ends; the file then holds
// the last value.
TEST_F(ImageQualityTest, TouchesChangeTheScreenWhileTheParameterFileWriteWaits) {
    auto slow = std::make_shared<SlowSync>();
    plat::installShell(std::make_unique<SlowSyncShell>(slow));
    auto letGo = [slow] {
        std::lock_guard<std::mutex> lock(slow->mutex);
        slow->released = true;
        slow->changed.notify_all();
    };
    struct AtEnd {
        std::function<void()> run;
        ~AtEnd() { run(); }
    } letGoAtEnd{letGo};  // also when an assertion ends the test
    ram()->setRamU16(kContrast, 50);
    shadowFollows();
    QPointer<ImageQuality> q = new ImageQuality;
    g_imagequality = q;
    g_page_focus = 11;
    panel_style::placeOnPanel(q);
    q->show();
    for (int n = 1; n <= 3; ++n) {
        testkit::touchWidget(button(*q, "Button_contrast_add"));
        EXPECT_EQ(label(*q, "label_contrast"), QString::number(50 + n));
        c331_manage::update_flag = 0;  // the manager took the change and announces it
        SyncUpdate::pInstance()->para_sync(1);
        std::unique_lock<std::mutex> lock(slow->mutex);
        ASSERT_FALSE(slow->onGuiThread) << "the GUI thread ran the parameter file's sync";
        ASSERT_TRUE(slow->changed.wait_for(lock, std::chrono::seconds(20), [&] { return slow->holding; }))
            << "touch " << n << ": the write is no longer held, the GUI thread waited for it";
    }
    letGo();
    const std::string file = testkit::savedRamFile();
    const unsigned at = kRamFileMarkerSize + kContrast - kSavedStart;
    ASSERT_GT(file.size(), at + 1);
    EXPECT_EQ(VlxRamPara::getU16(reinterpret_cast<const unsigned char*>(file.data()), at), 53);
}
