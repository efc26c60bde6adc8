// The output and picture screens with the sending-card engine and the scaler on the simulated
// standard board: the LED hand-shake from Apply to the FPGAs' restart, and the brightness.
#include <QComboBox>
#include <QLabel>

#include <chrono>
#include <functional>
#include <thread>

#include "app/engine_links.h"
#include "fpga/fpga_manage.h"
#include "fpga/fpga_regs.h"
#include "output_fixture.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/standard_board.h"
#include "ui/output/imagequality.h"
#include "ui/output/outputset.h"

using namespace vlxram;

namespace {

class OutputEngineTest : public outputtest::OutputTest {
protected:
    void SetUp() override {
        OutputTest::SetUp();
        plat::sim::buildStandardBoard(plat::sim::board());
        plat::sim::board().followRealTime(true);
        ram()->setRamU16(kLedWidth, 1920);
        ram()->setRamU16(kLedHeight, 1080);
        ram()->setRamU16(kSpliceMode, 4);
        linkFpgaEngine();
        m = c331_manage::createForTest();
        for (int i = 0; i < 6 && m->state() != c331_manage::kStateRunning; ++i) m->step();
        shadowFollows();
    }
    void TearDown() override {
        fpga_manage::resetInstanceForTest();
        c331_manage::resetInstanceForTest();
        g_fpga_c331_start = 0;
        OutputTest::TearDown();
    }
    // GUI ticks and scaler passes until `done`, the engine's thread running meanwhile.
    bool runUntil(const std::function<bool()>& done, int seconds = 30) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            if (done()) return true;
            tick(home(), 1);
            m->step();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return done();
    }
    bool bringUp() {
        if (m->state() != c331_manage::kStateRunning) return false;
        fpga_manage::pInstance();
        g_fpga_c331_start = 1;
        return runUntil([] { return fpga_manage::p_fpga_manage->get_fpga_status() != 0; });
    }
    plat::sim::SimFpga* fpga(int i) {
        return plat::sim::board().find<plat::sim::SimFpga>(i == 0 ? "fpga0" : "fpga1").get();
    }

    c331_manage* m = nullptr;
};

}  // namespace

TEST_F(OutputEngineTest, VerticalApplyReachesTheScalerPanelAndRestartsBothFpgas) {
    ASSERT_TRUE(bringUp());
    const unsigned resets0 = fpga(0)->resets();
    const unsigned resets1 = fpga(1)->resets();
    OutputSet s;
    s.findChild<QComboBox*>(QStringLiteral("comboBox"))->setCurrentIndex(1);
    s.findChild<QPushButton*>(QStringLiteral("Button_apply1"))->click();
    ASSERT_EQ(g_set_led_para.load(), 1) << "both FPGAs run: the hand-shake starts";
    bool panelSeen = false;
    ASSERT_TRUE(runUntil([&] {
        panelSeen = panelSeen || m->panel.splice == 2;
        return panelSeen && g_set_led_para.load() == 0 && fpga(0)->resets() > resets0 &&
               fpga(1)->resets() > resets1;
    }));
    EXPECT_EQ(m->panel.out1h, 542);
    EXPECT_EQ(m->panel.ledW, 1920);
    // a second Apply during the next hand-shake and a picture step return while the engine
    // runs (a lock held across the hand-shake would keep them for ever) and the step lands
    ImageQuality q;
    const uint16_t contrast = ram()->ramU16(kContrast);
    s.findChild<QPushButton*>(QStringLiteral("Button_apply1"))->click();
    q.findChild<QPushButton*>(QStringLiteral("Button_contrast_add"))->click();
    EXPECT_EQ(ram()->ramU16(kContrast), contrast + 1);
}

TEST_F(OutputEngineTest, BrightnessStepReachesBothFpgasAndTheScreenKeepsShowingIt) {
    ASSERT_TRUE(bringUp());
    ram()->setRamU16(kBrightness, 38);
    shadowFollows();
    QPointer<ImageQuality> q = new ImageQuality;
    g_imagequality = q;
    g_page_focus = 11;
    q->findChild<QPushButton*>(QStringLiteral("Button_bright_reduce"))->click();
    ASSERT_EQ(ram()->ramU16(kBrightness), 37);
    fpga_manage* e = fpga_manage::p_fpga_manage;
    ASSERT_TRUE(runUntil([e] { return e->mirror(FPGA_VREG_LEVEL, 0) == 94 && e->mirror(FPGA_VREG_LEVEL, 1) == 94; }));
    // what the engine and the scaler announce reaches the screen in front
    int passes = 0;
    runUntil([&passes] { return ++passes > 100; });
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(q->findChild<QLabel*>(QStringLiteral("label_bright"))->text(), QStringLiteral("37"));
    EXPECT_EQ(ram()->ramU16(kBrightness), 37);
}
