// The output screen's Apply as far as the simulated C331: the panel is programmed from the new
// split, and the LED hand-shake neither blocks the panel nor further writes of the screens.
#include <QComboBox>

#include <atomic>
#include <memory>
#include <thread>

#include "output_fixture.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "scaler/c331_wiring.h"
#include "ui/output/imagequality.h"
#include "ui/output/outputset.h"

using namespace vlxram;

namespace {

class OutputScalerTest : public outputtest::ScalerScreenTest {
protected:
    void SetUp() override {
        ScalerScreenTest::SetUp();
        ram()->setRamU16(kLedWidth, 1920);
        ram()->setRamU16(kLedHeight, 1080);
        ram()->setRamU16(kSpliceMode, 4);
        startScaler();
    }
    void applyVertical(OutputSet& s) {
        s.findChild<QComboBox*>(QStringLiteral("comboBox"))->setCurrentIndex(1);
        s.findChild<QPushButton*>(QStringLiteral("Button_apply1"))->click();
    }
};

}  // namespace

TEST_F(OutputScalerTest, VerticalApplyProgramsThePanelFromTheNewSplit) {
    OutputSet s;
    applyVertical(s);
    const unsigned before = m->panel_inits;
    m->step();
    EXPECT_EQ(m->panel_inits, before + 1);
    EXPECT_EQ(m->panel.splice, 2);
    EXPECT_EQ(m->panel.out1h, 542);
    EXPECT_EQ(m->panel.ledH, 1080);
    EXPECT_EQ(ram()->ramU16(kPanelResults + 4), uint16_t(m->panel.ochW));
    EXPECT_EQ(c331_manage::update_flag, 0);
}

// With both FPGAs running the panel waits for the engine's half of the hand-shake; the
// engine is played here by the test. Meanwhile the screens keep writing without a hang.
TEST_F(OutputScalerTest, WritesDuringTheHandshakeFinishAndThePanelFollowsTheEngine) {
    bothFpgasRunning(true);
    OutputSet s;
    ImageQuality q;
    applyVertical(s);
    ASSERT_EQ(g_set_led_para.load(), 1);
    std::atomic<bool> stop{false};
    std::thread manager([&] {
        while (!stop) m->step();
    });
    // a second Apply and a picture step while the engine has not answered: both return (a
    // manager that waited for the engine under the manage mutex would hold them for ever)
    s.findChild<QPushButton*>(QStringLiteral("Button_apply1"))->click();
    q.findChild<QPushButton*>(QStringLiteral("Button_contrast_add"))->click();
    EXPECT_EQ(g_set_led_para.load(), 1) << "still before the engine's answer";
    EXPECT_EQ(ram()->ramU16(kContrast), 51);
    g_set_led_para = 0;  // the engine blanked the output
    testkit::waitUntil([] { return g_set_led_para.load() == 2; });
    stop = true;
    manager.join();
    EXPECT_EQ(g_set_led_para.load(), 2) << "the panel is programmed once the engine answered";
    EXPECT_EQ(m->panel.splice, 2);
    EXPECT_EQ(m->panel.out1h, 542);
}
