// The system screens against the sending-card engine and the simulated FPGAs of the standard
// board: what the screens themselves do to the FPGAs and the receiving-card jobs they hand over.
#include <algorithm>
#include <chrono>
#include <thread>

#include <QLineEdit>

#include "fpga/fpga_manage.h"
#include "platform/sim/board_control.h"
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

namespace {

// Cards plugged through board control, and the engine's search has counted them.
class CardScreensTest : public EngineScreensTest {
protected:
    void SetUp() override {
        EngineScreensTest::SetUp();
        plat::sim::registerChipCommands();
        g_language = 1;
    }
    void plug(int globalPort, int cards) {
        const std::string line = "chip fpga" + std::to_string(globalPort / 16) + " cards " +
                                 std::to_string(globalPort % 16) + " " + std::to_string(cards);
        ASSERT_EQ(plat::sim::runBoardCommand(line), "OK") << line;
    }
    std::vector<plat::sim::SimCard>& cards(int globalPort) {
        return fpga(globalPort / 16)->chain(globalPort % 16)->cards;
    }
    // Ticks until the engine's card table holds `n` cards on each of `ports`.
    bool counted(std::initializer_list<int> ports, int n) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < end) {
            bool all = true;
            for (int p : ports) all = all && fpga_manage::get_port_card_num(p) == n;
            if (all) return true;
            tick(home(), 1);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return false;
    }
    static uint16_t word(const plat::sim::SimCard& c, uint32_t at) {
        auto a = c.memory.find(at), b = c.memory.find(at + 1);
        return a == c.memory.end() || b == c.memory.end() ? 0xFFFF : uint16_t(a->second | b->second << 8);
    }
};

}  // namespace

TEST_F(CardScreensTest, WizardOfTwoByThreeCabinetsPatternFourWritesEachCardsOrigin) {
    ASSERT_TRUE(runUntilUp());
    plug(21, 6);  // LED22: FPGA 1 port 5
    ASSERT_TRUE(counted({21}, 6));
    SmartMapping screen;
    g_smartmapping = &screen;
    g_page_focus = 24;
    child<QLineEdit>(&screen, "lineEdit_X")->setText(QStringLiteral("128"));
    child<QLineEdit>(&screen, "lineEdit_Y")->setText(QStringLiteral("64"));
    screen.on_Button_next_clicked();
    screen.on_Button_wlan3_clicked();  // LED17~24
    screen.findChild<QFrame*>(QStringLiteral("frame_port"))->findChild<QPushButton*>(QStringLiteral("5"))->click();
    ASSERT_EQ(line_type[line_field::kPort], 21);
    screen.on_Button_next_2_clicked();
    screen.on_Button_route_clicked();
    screen.on_Button_route4_clicked();
    child<QLineEdit>(&screen, "lineEdit_line")->setText(QStringLiteral("2"));
    child<QLineEdit>(&screen, "lineEdit_column")->setText(QStringLiteral("3"));
    child<QLineEdit>(&screen, "lineEdit_horzion")->setText(QStringLiteral("0"));
    child<QLineEdit>(&screen, "lineEdit_vert")->setText(QStringLiteral("0"));
    screen.on_Button_send_clicked();
    ASSERT_EQ(card_job::operation(), card_job::kSmartSetup);
    ASSERT_TRUE(runUntilRingCloses());
    const int want[6][2] = {{0, 0}, {128, 0}, {256, 0}, {256, 64}, {128, 64}, {0, 64}};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(word(cards(21)[size_t(c)], 0x180), want[c][0]) << "card " << c;
        EXPECT_EQ(word(cards(21)[size_t(c)], 0x182), want[c][1]) << "card " << c;
    }
    EXPECT_TRUE(card_job::unanswered().isEmpty());
    g_smartmapping = nullptr;
}

TEST_F(CardScreensTest, ParameterSavingAndTheMappingSwitchReachEveryPortWithCards) {
    ASSERT_TRUE(runUntilUp());
    for (int p : {0, 9, 16, 31}) plug(p, 3);
    ASSERT_TRUE(counted({0, 9, 16, 31}, 3));
    SmartMapping screen;
    g_smartmapping = &screen;
    g_page_focus = 24;
    screen.on_Button_paraweld_clicked();
    screen.on_Button_confirm_clicked();
    ASSERT_EQ(card_job::operation(), card_job::kSaveParams);
    ASSERT_TRUE(runUntilRingCloses());
    for (int p : {0, 9, 16, 31})
        for (auto& c : cards(p)) {
            EXPECT_EQ(c.saves, 1u) << "LED" << p + 1;
            EXPECT_TRUE(std::any_of(c.received.begin(), c.received.end(),
                                    [](const std::vector<uint8_t>& f) { return f.size() == 13 && f[9] == 0x81; }));
        }
    screen.on_Button_mapping_clicked();
    screen.on_Button_mapping_state_clicked();
    EXPECT_EQ(fpga(0)->reg(0) & 0x80, 0x80);
    EXPECT_EQ(fpga(1)->reg(0) & 0x80, 0x80);
    ASSERT_TRUE(runUntilRingCloses());
    for (int p : {0, 9, 16, 31})
        for (auto& c : cards(p)) EXPECT_EQ(c.mappingDisplay, 9) << "LED" << p + 1;
    screen.on_Button_mapping_state_clicked();
    EXPECT_EQ(fpga(0)->reg(0) & 0x80, 0);
    EXPECT_EQ(fpga(1)->reg(0) & 0x80, 0);
    ASSERT_TRUE(runUntilRingCloses());
    for (int p : {0, 9, 16, 31})
        for (auto& c : cards(p)) EXPECT_EQ(c.mappingDisplay, 0) << "LED" << p + 1;
    EXPECT_TRUE(card_job::unanswered().isEmpty());
    g_smartmapping = nullptr;
}
