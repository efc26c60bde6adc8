#pragma once
// Scaler world: the simulated board with a C331 on its node, the parameter store, and a
// manager object without its thread (tests drive its passes with step()).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "scaler/applied_ram.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_wiring.h"
#include "scaler/engine_requests.h"
#include "support/testkit.h"

namespace scalertest {

class ScalerTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        c331_manage::update_flag = 0;
        g_set_led_para = 0;
        g_force_bkcolor = 1;
        g_fpga_c331_start = 0;
        g_osd_update = 0;
        engine_requests::clearAll();
        // The controller's sleeps pass as board time: a wait for the next frame takes its frame.
        plat::setSleepHook([](uint64_t us) { plat::sim::board().clock().step(us * plat::sim::kNsPerUs); });
        chip = std::make_shared<plat::sim::C331Model>();
        plat::sim::board().attachSpi(c331::kC331SpiNode, chip);
    }
    void TearDown() override {
        c331_manage::resetInstanceForTest();
        // Whatever the test drove, the drivers kept the chip's wire rules.
        if (chip) {
            EXPECT_EQ(chip->guestErrors(), 0u) << (chip->misuses().empty() ? "" : chip->misuses().front());
        }
        VlxRamPara::resetInstanceForTest();
        ConfigEngine::resetInstanceForTest();
        chip.reset();
        plat::setSleepHook(nullptr);
        testkit::SimBoardTest::TearDown();
    }
    VlxRamPara* startStore() {
        ConfigEngine::pInstance();
        return VlxRamPara::pInstance();
    }
    // Store, manager and a chip brought up to the running state.
    c331_manage* startRunning() {
        ram = startStore();
        // The shadow is the RAM as last saved: start with nothing to apply.
        ram->shadowTakesRam();
        m = c331_manage::createForTest();
        for (int i = 0; i < 6 && m->state() != c331_manage::kStateRunning; ++i) m->step();
        // The first supervision pass after bring-up measures every shown input.
        if (m->state() == c331_manage::kStateRunning) m->step();
        return m;
    }
    // A writer's hand-over: change under the manage mutex and raise the flag.
    void writeRam(unsigned address, uint16_t value, uint8_t flag = 1) {
        ManageMutexLocker lock;
        ram->setRamU16(address, value);
        c331_manage::update_flag = flag;
    }
    // The RAM as the test laid it out, written without a writer's hand-over, counts as applied
    // and saved: the manager's base and the shadow follow it. For a test's set-up only.
    void takeAsApplied() {
        ManageMutexLocker lock;
        applied_ram::takeRam();
        ram->shadowTakesRam();
    }
    // The change notification's save after a pass: the shadow follows the RAM. The manager's
    // base stays as its passes keep it.
    void shadowFollows() {
        ManageMutexLocker lock;
        ram->shadowTakesRam();
    }
    uint32_t regOf(uint32_t desc, int och = 0) const { return chip->regValue(desc, 16u * unsigned(och)); }

    // Writes to the update-control rows (bank 0, 0x22..0x28) made while bit 0 of 0x29, the
    // hold set_rtct brackets its rows with, was clear: each one a row changed in mid-frame.
    unsigned rowWritesOutsideTheHold() const {
        unsigned bad = 0;
        bool held = false;
        for (const auto& f : chip->frames()) {
            if (!(f.tx[0] & 0x80) || f.bank != 0) continue;
            const unsigned a = f.tx[0] & 0x7Fu;
            if (a == 0x29) held = f.tx[1] & 1;
            else if (a >= 0x22 && a <= 0x28 && !held) ++bad;
        }
        return bad;
    }
    std::shared_ptr<plat::sim::C331Model> chip;
    VlxRamPara* ram = nullptr;
    c331_manage* m = nullptr;
};

}  // namespace scalertest
