// Picture-quality screen: steps, releases, groove taps, the type and the reset against RAM
// 0x880..0x88F and the update flag; brightness and contrast as far as the scaler.
#include <QComboBox>
#include <QLabel>
#include <QSlider>

#include <memory>

#include "output_fixture.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "scaler/c331_regs.h"
#include "scaler/c331_wiring.h"
#include "scaler/engine_requests.h"
#include "ui/output/imagequality.h"

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

TEST_F(ImageQualityTest, DragStoresOnReleaseAndAGrooveTapStoresAtOnce) {
    ram()->setRamU16(kSaturation, 50);
    shadowFollows();
    ImageQuality q;
    QSlider* s = slider(q, "saturation");
    s->setSliderDown(true);
    s->setValue(70);
    EXPECT_EQ(label(q, "label_saturation"), QStringLiteral("70"));
    EXPECT_EQ(ram()->ramU16(kSaturation), 50) << "nothing stored while the handle moves";
    EXPECT_EQ(c331_manage::update_flag, 0);
    s->setSliderDown(false);
    EXPECT_EQ(ram()->ramU16(kSaturation), 70);
    EXPECT_EQ(c331_manage::update_flag, 1);
    c331_manage::update_flag = 0;
    // a tap on the groove pages the handle without a press on it
    s->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(ram()->ramU16(kSaturation), 60);
    EXPECT_EQ(c331_manage::update_flag, 1);
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
