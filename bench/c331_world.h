#pragma once
// A simulated C331 and the parameter store under a private root, for the scaler benchmarks.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "bench_env.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "platform/sys.h"
#include "scaler/c331_manage.h"
#include "scaler/c331_print.h"
#include "scaler/c331_wiring.h"

struct C331World {
    std::string root;
    std::shared_ptr<plat::sim::C331Model> chip;
    VlxRamPara* ram = nullptr;
    c331_manage* m = nullptr;

    C331World() {
        root = benchenv::tempRoot("c331");
        plat::setBoard(plat::Board::Sim);
        plat::setRoot(root);
        plat::setSleepScale(0);
        plat::resetSys();
        for (const char* d : {"/data/configs", "/data/modes", "/data/kavelkv/log"}) plat::makeDirs(d);
        g_debugSwitch = 0;
        // Every panel change prints the parameter dump on the service console: the figures
        // are what a benchmark run is read for.
        setC331PrintSink([](const std::string&) {});
        chip = std::make_shared<plat::sim::C331Model>();
        plat::sim::board().attachSpi(c331::kC331SpiNode, chip);
        ConfigEngine::pInstance();
        ram = VlxRamPara::pInstance();
        ram->shadowTakesRam();
        m = c331_manage::createForTest();
    }
    ~C331World() {
        c331_manage::resetInstanceForTest();
        setC331PrintSink(nullptr);
        VlxRamPara::resetInstanceForTest();
        ConfigEngine::resetInstanceForTest();
        plat::resetSys();
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    C331World(const C331World&) = delete;
    C331World& operator=(const C331World&) = delete;

    // The manager's steps until the chip runs.
    void runUp() {
        while (m->state() != c331_manage::kStateRunning) m->step();
    }
};
