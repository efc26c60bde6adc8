#pragma once
// The control links against the controller's real engines on the standard simulated board:
// the FPGA engine and the C331 manager as start-up makes them (their threads stopped, the
// test runs their passes one 10 ms tick at a time), the simulated FPGAs and C331, real
// loopback sockets and pseudo-terminals, and the Python client.
#include <QApplication>

#include "fpga/fpga_manage.h"
#include "fpga/fpga_regs.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/spi_nor_flash.h"
#include "platform/sim/standard_board.h"
#include "scaler/c331_regs.h"
#include "scaler/engine_requests.h"
#include "transport_fixture.h"

namespace prototest {

class EnginesWorld : public TransportTest {
protected:
    void SetUp() override {
        TransportTest::SetUp();
        if (HasFatalFailure()) return;
        engine_requests::clearAll();
        g_fpga_c331_start = 0;
        g_set_led_para = 0;
        g_force_bkcolor = 1;
        ScreenState = 1;
        plat::sim::SimBoard& b = plat::sim::board();
        plat::sim::buildStandardBoard(b);
        fpga[0] = b.find<plat::sim::SimFpga>("fpga0");
        fpga[1] = b.find<plat::sim::SimFpga>("fpga1");
        c331 = b.find<plat::sim::C331Model>("c331");
        ASSERT_TRUE(fpga[0] && fpga[1] && c331);
        // the flashes finish an erase or program within two status reads: the engine's
        // passes run between ticks, with the board clock standing
        for (const char* f : {"flash0", "flash1"}) b.find<plat::sim::SpiNorFlash>(f)->setBusyPolls(2);
        // a receiving-card chain on port 0 of each FPGA, unless a test says otherwise
        fpga[0]->setPortLinks(1);
        fpga[1]->setPortLinks(fpga1Links());
        // nothing to apply from start-up: the shadow is the RAM as loaded
        store->shadowTakesRam();

        scaler = c331_manage::pInstance();
        scaler->stopThread();
        engine = fpga_manage::pInstance();
        engine->stopThread();
        for (int k = 0; k < 20 && scaler->state() != c331_manage::kStateRunning; ++k) tick();
        ASSERT_EQ(scaler->state(), c331_manage::kStateRunning);
        g_fpga_c331_start = 1;
        for (int k = 0; k < 3000 && !engine->get_fpga_status(); ++k) tick();
        ASSERT_TRUE(engine->get_fpga_status()) << "both FPGAs up";
        tick(30);  // the link watch has seen the ports
    }
    void TearDown() override {
        stopLinks();
        fpga_manage::resetInstanceForTest();
        c331_manage::resetInstanceForTest();
        g_fpga_c331_start = 0;
        TransportTest::TearDown();
    }
    virtual uint16_t fpga1Links() const { return 1; }
    // The screens' application, for a world with a panel.
    static void makeApplication() {
        static int argc = 1;
        static char name[] = "test_protocol";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) new QApplication(argc, argv);
    }
    // 10 ms of board time, then one pass of each engine.
    void tick(int n = 1) {
        for (int k = 0; k < n; ++k) {
            G_timeTicks.fetch_add(1);
            plat::sim::board().step(10 * plat::sim::kNsPerMs);
            scaler->step();
            engine->fpga_manage_deal();
            otherPasses();
        }
    }
    virtual void otherPasses() {}
    template <typename Done>
    bool tickUntil(Done done, int limit = 300) {
        for (int k = 0; k < limit && !done(); ++k) tick();
        return done();
    }

    std::shared_ptr<plat::sim::SimFpga> fpga[2];
    std::shared_ptr<plat::sim::C331Model> c331;
    c331_manage* scaler = nullptr;
    fpga_manage* engine = nullptr;
};

}  // namespace prototest
