#pragma once
// FPGA engine world: the simulated board with both FPGAs and their flashes, the
// parameter store, and an engine whose passes the test runs one per stepped tick.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "fpga/fpga_manage.h"
#include "platform/board_wiring.h"
#include "platform/platform.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/spi_nor_flash.h"
#include "platform/sim/standard_board.h"
#include "platform/sim/sim_shell.h"
#include "platform/sys.h"
#include "scaler/c331_manage.h"
#include "scaler/engine_requests.h"
#include "support/testkit.h"

namespace fpgatest {

using plat::sim::SimFpga;
using plat::sim::SpiNorFlash;
using Bytes = std::vector<uint8_t>;
using plat::sim::kNsPerMs;

struct FpgaChips {
    std::shared_ptr<SimFpga> fpga[2];
    std::shared_ptr<SpiNorFlash> flash[2];
};

// The standard board on a fresh simulated board (a power cycle when one existed), with
// the two FPGAs and their flashes found by name. The flashes report busy for two status
// reads after each erase or program, so driver calls made between ticks finish.
inline FpgaChips powerUpBoard() {
    plat::resetSys();
    plat::sim::SimBoard& b = plat::sim::board();
    plat::sim::buildStandardBoard(b);
    FpgaChips c;
    c.fpga[0] = b.find<SimFpga>("fpga0");
    c.fpga[1] = b.find<SimFpga>("fpga1");
    c.flash[0] = b.find<SpiNorFlash>("flash0");
    c.flash[1] = b.find<SpiNorFlash>("flash1");
    for (auto& f : c.flash) f->setBusyPolls(2);
    return c;
}

class FpgaTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        g_set_led_para = 0;
        g_set_led_setup = 0;
        g_fpga_c331_start = 0;
        g_usb_grade = 0;
        g_force_bkcolor = 1;
        ScreenState = 1;
        c331_manage::update_flag = 0;
        engine_requests::clearAll();
        g_change = FpgaChange{};
        std::memset(fpga_manage::MCU_RAM_CMD, 0, sizeof fpga_manage::MCU_RAM_CMD);
        std::memset(fpga_manage::MCU_RAM_EXTEND, 0, sizeof fpga_manage::MCU_RAM_EXTEND);
        fpga_manage::clock_stage_ready = nullptr;
        fpga_manage::clock_changed = nullptr;
        chipSet = powerUpBoard();
        chips = &chipSet;
        ConfigEngine::pInstance();
        ram = VlxRamPara::pInstance();
    }
    void TearDown() override {
        // a test's listener captures its locals: no later test of the program may call it
        fpga_manage::clock_changed = nullptr;
        fpga_manage::resetInstanceForTest();
        delete engine_;
        engine_ = nullptr;
        VlxRamPara::resetInstanceForTest();
        ConfigEngine::resetInstanceForTest();
        testkit::SimBoardTest::TearDown();
    }

    // The engine with its devices open and its lines mapped; its thread stopped so that
    // the test runs the passes.
    fpga_manage* open() {
        engine_ = new fpga_manage;
        EXPECT_EQ(engine_->initialize(), 0);
        engine_->stopThread();
        return engine_;
    }
    // The engine as start-up makes it, thread running.
    fpga_manage* start() {
        fpga_manage* e = fpga_manage::pInstance();
        EXPECT_TRUE(e->threadRunning());
        return e;
    }

    // One tick: 10 ms of board time, then one engine pass.
    void tick(int n = 1) {
        for (int k = 0; k < n; ++k) {
            G_timeTicks.fetch_add(1);
            board().step(10 * kNsPerMs);
            engine_->fpga_manage_deal();
        }
    }
    // Ticks until both FPGAs run; false after `limit` ticks.
    bool bringUp(int limit = 2000) {
        g_fpga_c331_start = 1;
        for (int k = 0; k < limit; ++k) {
            tick();
            if (engine_->get_fpga_status()) return true;
        }
        return false;
    }

    plat::sim::SimBoard& board() { return plat::sim::board(); }
    std::vector<plat::sim::SpiFrame> frames(const std::string& node) {
        std::vector<plat::sim::SpiFrame> out;
        for (auto& f : board().spiFrames())
            if (f.node == node) out.push_back(f);
        return out;
    }
    plat::sim::SimShell& simShell() {
        plat::shell();
        return *plat::sim::simShell();
    }
    // Driver mistakes the four chips reported.
    unsigned guestErrors() {
        unsigned n = 0;
        for (auto& f : chips->fpga) n += f->misuseCount();
        for (auto& f : chips->flash) n += f->misuseCount();
        return n;
    }

    FpgaChips chipSet;
    FpgaChips* chips = nullptr;
    VlxRamPara* ram = nullptr;

private:
    fpga_manage* engine_ = nullptr;
};

// The engine open, its thread stopped, the SPI frame log on and empty.
class OpenEngineTest : public FpgaTest {
protected:
    void SetUp() override {
        FpgaTest::SetUp();
        e = open();
        board().setSpiFrameLog(true);
        board().clearSpiFrames();
    }
    fpga_manage* e = nullptr;
};

}  // namespace fpgatest
