// The shell's seams answered by the sending-card engine on the simulated board.
#include <QLabel>
#include <chrono>
#include <thread>

#include "app/engine_links.h"
#include "fpga/fpga_manage.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/standard_board.h"
#include "ui/shell/shell_fixture.h"

using shelltest::ShellTest;

class EngineLinksTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        // the FPGAs and their flashes on a board whose clock runs with the PC's
        plat::sim::buildStandardBoard(plat::sim::board());
        plat::sim::board().followRealTime(true);
    }
    void TearDown() override {
        fpga_manage::resetInstanceForTest();
        g_fpga_c331_start = 0;
        ShellTest::TearDown();
    }
    // Ticks the GUI until both FPGAs run, the engine thread doing its passes meanwhile.
    bool runUntilUp(MainWindow* w) {
        g_fpga_c331_start = 1;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < end) {
            if (fpga_manage::p_fpga_manage->get_fpga_status()) return true;
            tick(w, 1);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return false;
    }
};

TEST_F(EngineLinksTest, MachineStateShowsSendingCardsRunningOnceTheEngineHasThemUp) {
    g_language = 1;  // English
    fpga_manage::pInstance();
    linkFpgaEngine();
    MainWindow* w = home();
    {
        MachineState state;
        EXPECT_TRUE(state.findChild<QLabel*>(QStringLiteral("label_fpga"))->text().endsWith(QStringLiteral("stopped")));
    }
    ASSERT_TRUE(runUntilUp(w));
    MachineState state;
    EXPECT_TRUE(state.findChild<QLabel*>(QStringLiteral("label_fpga"))->text().endsWith(QStringLiteral("running")));
}

TEST_F(EngineLinksTest, AgeingSampleReadsTheFpgaCountersOnceTheEngineRuns) {
    factoryage_log.clear();
    fpga_manage::pInstance();
    linkFpgaEngine();
    MainWindow* w = home();
    G_factoryage_ticks = G_timeTicks.load();
    ASSERT_TRUE(runUntilUp(w));
    plat::sim::board().find<plat::sim::SimFpga>("fpga0")->setReg(43, 77);
    plat::sim::board().find<plat::sim::SimFpga>("fpga1")->setReg(43, 88);
    tick(w, MainWindow::kAgeSampleTicks);
    ASSERT_EQ(factoryage_log.size(), 1);
    const QStringList f = factoryage_log.first().split(QLatin1Char(' '));
    ASSERT_EQ(f.size(), 8);
    EXPECT_EQ(f[3], QStringLiteral("28")) << "register 40: the link-good bits";
    EXPECT_EQ(f[4], QStringLiteral("77"));
    EXPECT_EQ(f[7], QStringLiteral("88"));
}

TEST_F(EngineLinksTest, APluggedCardChainRaisesCode11OnceAndShowsOnTheMachineState) {
    fpga_manage::pInstance();
    linkFpgaEngine();
    MainWindow* w = home();
    ASSERT_TRUE(runUntilUp(w));
    pc_window::clear();
    MachineState state;
    EXPECT_EQ(state.shownLinks(), 0u);
    int elevens = 0;
    QObject::connect(VlxRamPara::p_vlxrampara_config, &VlxRamPara::sig_update_para, &state, [&](int code) {
        if (code != 11) return;
        ++elevens;
        state.syncUpdate(code);
    });
    auto fpga1 = plat::sim::board().find<plat::sim::SimFpga>("fpga1");
    plat::sim::board().underLock([&] { fpga1->attachCards(4, 2); });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (elevens == 0 && std::chrono::steady_clock::now() < end) {
        tick(w, 1);
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (int k = 0; k < 50; ++k) {  // later passes see no further change
        tick(w, 1);
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(elevens, 1);
    EXPECT_EQ(state.shownLinks(), 1u << 20) << "FPGA 1 port 4";
}
