// The system screens against the sending-card engine and the simulated FPGAs of the standard
// board: what the screens themselves do to the FPGAs and the receiving-card jobs they hand over.
#include <chrono>
#include <thread>

#include "fpga/fpga_manage.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/standard_board.h"
#include "system_fixture.h"
#include "ui/shell/engine_links.h"

using namespace systemtest;

namespace {

class EngineScreensTest : public SystemTest {
protected:
    void SetUp() override {
        SystemTest::SetUp();
        shellLinks() = ShellLinks{};
        systemLinks() = SystemLinks{};
        plat::sim::buildStandardBoard(plat::sim::board());
        plat::sim::board().followRealTime(true);
        fpga_manage::pInstance();
        linkFpgaEngine();
    }
    void TearDown() override {
        fpga_manage::resetInstanceForTest();
        g_fpga_c331_start = 0;
        SystemTest::TearDown();
    }
    bool runUntilUp() {
        g_fpga_c331_start = 1;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < end) {
            if (fpga_manage::p_fpga_manage->get_fpga_status()) return true;
            tick(home(), 1);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return false;
    }
    // Ticks of the panel while the engine's thread runs the job, until its ring is gone.
    bool runUntilRingCloses(int seconds = 30) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            if (g_qround_bar.isNull()) return true;
            tick(home(), 1);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
        return false;
    }
    std::shared_ptr<plat::sim::SimFpga> fpga(int n) {
        return plat::sim::board().find<plat::sim::SimFpga>(n == 0 ? "fpga0" : "fpga1");
    }
};

}  // namespace

TEST_F(EngineScreensTest, MappingSwitchSetsAndClearsBitSevenInBothFpgas) {
    ASSERT_TRUE(runUntilUp());
    systemLinks().cardJobRunner = [] { return true; };  // the job itself is the card-jobs engine's
    g_language = 1;
    SmartMapping screen;
    g_smartmapping = &screen;
    screen.on_Button_mapping_clicked();
    EXPECT_EQ(imageOf(&screen, "Button_mapping_state"), QStringLiteral(":/png/button_off.png"));
    screen.on_Button_mapping_state_clicked();
    EXPECT_EQ(fpga(0)->reg(0) & 0x80, 0x80);
    EXPECT_EQ(fpga(1)->reg(0) & 0x80, 0x80);
    EXPECT_EQ(card_job::operation(), card_job::kMappingSwitch);
    finishJob(&screen);
    screen.on_Button_mapping_clicked();
    EXPECT_EQ(imageOf(&screen, "Button_mapping_state"), QStringLiteral(":/png/button_on.png"));
    screen.on_Button_mapping_state_clicked();
    EXPECT_EQ(fpga(0)->reg(0) & 0x80, 0);
    EXPECT_EQ(fpga(1)->reg(0) & 0x80, 0);
    finishJob(&screen);
    g_smartmapping = nullptr;
}

TEST_F(EngineScreensTest, ResetChangingTheLedSizeAsksForTheHandshakeOnceBothFpgasRun) {
    ram()->setRamU16(vlxram::kLedWidth, 64);
    std::memcpy(ram()->ram_para_shadow, ram()->ram_para, vlxram::kRamSize);
    AdvancedOption screen;
    g_set_led_para = 0;
    screen.on_Button_reset1_clicked();
    EXPECT_EQ(g_set_led_para.load(), 0) << "the FPGAs are not up yet";
    ASSERT_TRUE(runUntilUp());
    ram()->setRamU16(vlxram::kLedWidth, 64);
    std::memcpy(ram()->ram_para_shadow, ram()->ram_para, vlxram::kRamSize);
    screen.on_Button_reset1_clicked();
    EXPECT_EQ(g_set_led_para.load(), 1);
}

TEST_F(EngineScreensTest, JobStartsAreRefusedUntilTheEngineThreadTakesJobsAndTheRingThenCloses) {
    SmartMapping screen;
    g_smartmapping = &screen;
    screen.on_Button_paraweld_clicked();
    screen.on_Button_confirm_clicked();  // the scaler has not started the engine's passes yet
    EXPECT_EQ(card_job::operation(), 0);
    EXPECT_TRUE(g_qround_bar.isNull()) << "no ring that nobody would close";
    ASSERT_TRUE(runUntilUp());
    screen.on_Button_confirm_clicked();
    EXPECT_EQ(card_job::operation(), card_job::kSaveParams);
    EXPECT_FALSE(g_qround_bar.isNull());
    EXPECT_TRUE(runUntilRingCloses()) << "no port has cards: 95, then 100 after 200 ticks";
    EXPECT_EQ(card_job::operation(), 0);
    fpga_manage::p_fpga_manage->stopThread();
    screen.on_Button_confirm_clicked();
    EXPECT_EQ(card_job::operation(), 0) << "no thread takes it";
    EXPECT_TRUE(g_qround_bar.isNull());
    screen.on_Button_back_clicked();
    EXPECT_TRUE(g_smartmapping.isNull());
}
